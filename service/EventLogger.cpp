#include "service/EventLogger.h"

#include <array>

namespace pw::service {

TEventLogger::TEventLogger(std::string sourceName) : sourceName_(std::move(sourceName)) {}

void TEventLogger::LogMessage(const std::string& message) {
  LogEntry(platform::event_type::kError, event_id::kFailure, message);
}

void TEventLogger::LogEntry(std::uint16_t type, std::uint32_t eventId, const std::string& message) {
  std::scoped_lock lock(mutex_);
  if (!source_) {
    platform::Result<platform::EventSourceHandle> opened = platform::RegisterEventSource(std::nullopt, sourceName_);
    if (!opened) return;
    source_ = std::move(opened).value();
  }
  const std::array<std::string, 1> strings{message};
  platform::ReportEvent(source_, type, 0, eventId, strings).IgnoreFailure();
}

}  // namespace pw::service
