#include "service/EventSources.h"

#include "platform/EventLog.h"
#include "platform/PathText.h"
#include "platform/SystemInfo.h"

namespace pw::service {
namespace {

// Error, warning and information entries.
constexpr std::uint32_t kTypesSupported =
    platform::event_type::kError | platform::event_type::kWarning | platform::event_type::kInformation;

}  // namespace

std::vector<std::string> EventSourceNames(const std::string& serviceName) {
  return {serviceName, platform::ExtractFileName(platform::GetModuleFileName())};
}

void RegisterEventSources(const std::string& serviceName) {
  const platform::EventSourceRegistration registration{platform::GetModuleFileName(), kTypesSupported};
  for (const std::string& source : EventSourceNames(serviceName)) {
    platform::RegisterEventSourceFile(source, registration).IgnoreFailure();
  }
}

void RemoveEventSources(const std::string& serviceName) {
  for (const std::string& source : EventSourceNames(serviceName)) platform::RemoveEventSourceFile(source).IgnoreFailure();
}

}  // namespace pw::service
