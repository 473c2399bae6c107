#include <algorithm>
#include <vector>

#include "platform/EventLog.h"
#include "platform/winapi/WindowsApi.h"

namespace pw::platform {

void EventSourceHandleTraits::Close(RawHandle handle) noexcept {
  const DWORD error = ::GetLastError();
  ::DeregisterEventSource(static_cast<HANDLE>(handle));
  ::SetLastError(error);
}

Result<EventSourceHandle> RegisterEventSource(const std::optional<std::string>& server, std::string_view source) {
  std::string name(source);
  HANDLE handle = ::RegisterEventSourceA(server ? server->c_str() : nullptr, name.c_str());
  if (handle == nullptr) return Failure(::GetLastError());
  return EventSourceHandle(handle);
}

Result<void> ReportEvent(const EventSourceHandle& source, std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                    std::span<const std::string> strings) {
  std::vector<LPCSTR> pointers;
  for (const std::string& text : strings) pointers.push_back(text.c_str());
  if (::ReportEventA(static_cast<HANDLE>(source.get()), type, category, eventId, nullptr,
                     static_cast<WORD>(pointers.size()), 0, pointers.empty() ? nullptr : pointers.data(), nullptr)) {
    return Success();
  }
  return Failure(::GetLastError());
}

}  // namespace pw::platform

namespace pw::platform {
namespace {

std::string SourceKey(std::string_view source) {
  return "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + std::string(source);
}

// An open registry key, closed with the object.
class RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  HKEY* Receive() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// A source name is one key below Application.
bool ValidSource(std::string_view source) { return !source.empty() && source.find('\\') == std::string_view::npos; }

}  // namespace

Result<void> RegisterEventSourceFile(std::string_view source, const EventSourceRegistration& registration) {
  if (!ValidSource(source)) return Failure(error::kInvalidParameter);
  RegistryKey key;
  LSTATUS status = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, SourceKey(source).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_SET_VALUE, nullptr, key.Receive(), nullptr);
  if (status != ERROR_SUCCESS) return Failure(static_cast<ErrorCode>(status));
  const std::string& file = registration.messageFile;
  status = ::RegSetValueExA(key.get(), "EventMessageFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                            static_cast<DWORD>(file.size() + 1));
  if (status != ERROR_SUCCESS) return Failure(static_cast<ErrorCode>(status));
  const DWORD types = registration.typesSupported;
  status = ::RegSetValueExA(key.get(), "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                            sizeof types);
  if (status != ERROR_SUCCESS) return Failure(static_cast<ErrorCode>(status));
  return Success();
}

Result<void> RemoveEventSourceFile(std::string_view source) {
  if (!ValidSource(source)) return Failure(error::kInvalidParameter);
  const LSTATUS status = ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, SourceKey(source).c_str());
  if (status != ERROR_SUCCESS) return Failure(static_cast<ErrorCode>(status));
  return Success();
}

std::optional<EventSourceRegistration> FindEventSourceFile(std::string_view source) {
  if (!ValidSource(source)) return std::nullopt;
  RegistryKey key;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, SourceKey(source).c_str(), 0, KEY_QUERY_VALUE, key.Receive()) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  EventSourceRegistration registration;
  DWORD type = 0;
  DWORD size = 0;
  if (::RegQueryValueExA(key.get(), "EventMessageFile", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    std::string file(size, '\0');
    if (::RegQueryValueExA(key.get(), "EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(file.data()),
                           &size) == ERROR_SUCCESS) {
      file.resize(std::min<std::size_t>(size, file.size()));
      while (!file.empty() && file.back() == '\0') file.pop_back();
      registration.messageFile = std::move(file);
    }
  }
  DWORD types = 0;
  size = sizeof types;
  if (::RegQueryValueExA(key.get(), "TypesSupported", nullptr, &type, reinterpret_cast<BYTE*>(&types), &size) ==
          ERROR_SUCCESS &&
      type == REG_DWORD) {
    registration.typesSupported = types;
  }
  return registration;
}

}  // namespace pw::platform
