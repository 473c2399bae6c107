#pragma once
// The Windows event log, writing side (RegisterEventSourceA, ReportEventA,
// DeregisterEventSource). A source need not be registered: its entries go to
// the Application log. A registered source names the module whose message
// table holds its entries' texts, which is how a log viewer shows them.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/Result.h"
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

// RegisterEventSourceA. nullopt server: the local machine.
Result<EventSourceHandle> RegisterEventSource(const std::optional<std::string>& server, std::string_view source);

// ReportEventA with no user SID and no raw data.
Result<void> ReportEvent(const EventSourceHandle& source, std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                    std::span<const std::string> strings);

// A source's registration in the Application log, the key
// HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\<source>:
// EventMessageFile (REG_SZ, the module's full path) and TypesSupported
// (REG_DWORD, a mask of the entry types).
struct EventSourceRegistration {
  std::string messageFile;
  std::uint32_t typesSupported = 0;
};

// Creates or overwrites the source's key and both values.
Result<void> RegisterEventSourceFile(std::string_view source, const EventSourceRegistration& registration);
// Deletes the source's key; a source that is not registered is an error (2).
Result<void> RemoveEventSourceFile(std::string_view source);
// The registration as the key holds it; nullopt when there is no key.
std::optional<EventSourceRegistration> FindEventSourceFile(std::string_view source);

}  // namespace pw::platform
