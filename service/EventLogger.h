#pragma once
// TEventLogger: writes error entries to the Windows event log under one source
// name. The source is opened (RegisterEventSourceA) at the first entry and
// closed (DeregisterEventSource) with the logger. Any thread.
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/EventLog.h"

namespace pw::service {

// The event ids of the entries; the message table has a message for each,
// which is the entry's one string.
namespace event_id {
inline constexpr std::uint32_t kFailure = 0;            // error: something failed
inline constexpr std::uint32_t kLocationRefused = 1;    // warning: a save location from a session was refused
inline constexpr std::uint32_t kConnectionRefused = 2;  // warning: an agent's connection or message was refused
inline constexpr std::uint32_t kUntrustedFile = 3;  // warning: a file or folder of the service's a user made was not used
}  // namespace event_id

class TEventLogger {
 public:
  explicit TEventLogger(std::string sourceName);
  TEventLogger(const TEventLogger&) = delete;
  TEventLogger& operator=(const TEventLogger&) = delete;

  const std::string& SourceName() const { return sourceName_; }

  // One entry: EVENTLOG_ERROR_TYPE, category 0, event id 0, no user, the
  // message as its one string, no raw data. A log that cannot be written has
  // nowhere further to report to: the entry is dropped.
  void LogMessage(const std::string& message);
  // One entry of the type (platform::event_type) and event id, as LogMessage.
  void LogEntry(std::uint16_t type, std::uint32_t eventId, const std::string& message);

 private:
  std::mutex mutex_;
  std::string sourceName_;
  platform::EventSourceHandle source_;
};

}  // namespace pw::service
