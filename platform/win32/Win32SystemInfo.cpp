#include <algorithm>
#include <cstring>

#include "platform/SystemInfo.h"
#include "platform/win32/WinApi.h"

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

}  // namespace pw::platform
