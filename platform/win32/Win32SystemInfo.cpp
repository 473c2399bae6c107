#include <algorithm>
#include <cstring>

#include "platform/SystemInfo.h"
#include "platform/winapi/WindowsApi.h"

namespace pw::platform {

bool GetVersionEx(OsVersionInfo& info) {
  // The larger record leaves room for whatever size the caller claims.
  OSVERSIONINFOEXA record{};
  record.dwOSVersionInfoSize = info.size;
  if (info.size > sizeof(record)) return false;
  // GetVersionExA is deprecated but is the call whose answer the program wants.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  const BOOL ok = ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&record));
#pragma GCC diagnostic pop
  if (!ok) return false;
  info.majorVersion = record.dwMajorVersion;
  info.minorVersion = record.dwMinorVersion;
  info.buildNumber = record.dwBuildNumber;
  info.platformId = record.dwPlatformId;
  static_assert(sizeof(record.szCSDVersion) == std::tuple_size_v<decltype(info.csdVersion)>);
  std::memcpy(info.csdVersion.data(), record.szCSDVersion, info.csdVersion.size());
  info.csdVersion.back() = '\0';
  return true;
}

std::optional<std::string> GetWindowsDirectory(std::size_t bufferSize) {
  std::string buffer(std::max<std::size_t>(bufferSize, 1), '\0');
  const UINT length = ::GetWindowsDirectoryA(buffer.data(), static_cast<UINT>(bufferSize));
  // A result that does not fit comes back as the size needed, zero included.
  if (length == 0 || length >= bufferSize) return std::nullopt;
  buffer.resize(length);
  return buffer;
}

std::string GetModuleFileName() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);  // cut: try a larger buffer
  }
}

std::optional<std::string> GetSpecialFolderPath(WindowHandle owner, int csidl, bool create) {
  char buffer[MAX_PATH] = {};
  if (!::SHGetSpecialFolderPathA(static_cast<HWND>(owner), buffer, csidl, create ? TRUE : FALSE)) return std::nullopt;
  return std::string(buffer);
}

std::optional<std::uint32_t> ReadMachinePolicyDword(std::string_view valueName) {
  // A 32-bit process on 64-bit Windows reads the 32-bit view of the key
  // (SOFTWARE\WOW6432Node\Pagewick), where its 32-bit installer writes.
  // RegOpenKeyExA and RegQueryValueExA: RegGetValue is missing before Vista.
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMachinePolicyKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  const std::string name(valueName);
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  const LONG read = ::RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  ::RegCloseKey(key);
  if (read != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

}  // namespace pw::platform
