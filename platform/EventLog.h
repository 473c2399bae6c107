#pragma once
// The Windows event log, writing side (RegisterEventSourceA, ReportEventA,
// DeregisterEventSource). A source need not be registered: its entries go to
// the Application log.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/Errors.h"
#include "platform/Handle.h"

namespace pw::platform {

// EVENTLOG_*_TYPE.
namespace event_type {
inline constexpr std::uint16_t kSuccess = 0x0000;
inline constexpr std::uint16_t kError = 0x0001;
inline constexpr std::uint16_t kWarning = 0x0002;
inline constexpr std::uint16_t kInformation = 0x0004;
}  // namespace event_type

// DeregisterEventSource on reset.
struct EventSourceHandleTraits {
  static RawHandle Invalid() noexcept { return nullptr; }
  static void Close(RawHandle handle) noexcept;
};
using EventSourceHandle = ScopedHandle<EventSourceHandleTraits>;

struct EventSourceResult {
  EventSourceHandle handle;
  ErrorCode error = error::kSuccess;
};

// RegisterEventSourceA. nullopt server: the local machine.
EventSourceResult RegisterEventSource(const std::optional<std::string>& server, std::string_view source);

// ReportEventA with no user SID and no raw data.
Outcome ReportEvent(const EventSourceHandle& source, std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                    std::span<const std::string> strings);

}  // namespace pw::platform
