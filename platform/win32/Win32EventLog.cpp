#include <vector>

#include "platform/EventLog.h"
#include "platform/win32/WinApi.h"

namespace pw::platform {

void EventSourceHandleTraits::Close(RawHandle handle) noexcept {
  const DWORD error = ::GetLastError();
  ::DeregisterEventSource(static_cast<HANDLE>(handle));
  ::SetLastError(error);
}

EventSourceResult RegisterEventSource(const std::optional<std::string>& server, std::string_view source) {
  EventSourceResult result;
  std::string name(source);
  HANDLE handle = ::RegisterEventSourceA(server ? server->c_str() : nullptr, name.c_str());
  if (handle == nullptr) {
    result.error = ::GetLastError();
  } else {
    result.handle = EventSourceHandle(handle);
  }
  return result;
}

Outcome ReportEvent(const EventSourceHandle& source, std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                    std::span<const std::string> strings) {
  std::vector<LPCSTR> pointers;
  for (const std::string& text : strings) pointers.push_back(text.c_str());
  if (::ReportEventA(static_cast<HANDLE>(source.get()), type, category, eventId, nullptr,
                     static_cast<WORD>(pointers.size()), 0, pointers.empty() ? nullptr : pointers.data(), nullptr)) {
    return Outcome::Success();
  }
  return Outcome::Failure(::GetLastError());
}

}  // namespace pw::platform
