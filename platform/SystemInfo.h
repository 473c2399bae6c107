#pragma once
// Version record, Windows directory, module path and the shell's special folders.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Handle.h"

namespace pw::platform {

// OSVERSIONINFOA: the size field must be 148 before the call.
struct OsVersionInfo {
  std::uint32_t size = 0;
  std::uint32_t majorVersion = 0;
  std::uint32_t minorVersion = 0;
  std::uint32_t buildNumber = 0;
  std::uint32_t platformId = 0;
  std::array<char, 128> csdVersion{};
};

inline constexpr std::uint32_t kOsVersionInfoSize = 148;
inline constexpr std::uint32_t kPlatformWin32s = 0;
inline constexpr std::uint32_t kPlatformWindows = 1;  // the older family (95, 98, Me)
inline constexpr std::uint32_t kPlatformNt = 2;

// GetVersionExA: fails (false) unless info.size is 148.
bool GetVersionEx(OsVersionInfo& info);

// GetWindowsDirectoryA with a buffer of the given size: nullopt when the call
// fails or the directory does not fit.
std::optional<std::string> GetWindowsDirectory(std::size_t bufferSize);

// GetModuleFileNameA(NULL): the running executable's full path.
std::string GetModuleFileName();

namespace csidl {
inline constexpr int kDrives = 17;
inline constexpr int kCommonAppData = 35;  // CSIDL_COMMON_APPDATA: %ProgramData%
inline constexpr int kCommonDocuments = 46;
inline constexpr int kCommonPictures = 54;
}  // namespace csidl

// SHGetSpecialFolderPathA: nullopt when the folder is not known (or, without
// create, does not exist).
std::optional<std::string> GetSpecialFolderPath(WindowHandle owner, int csidl, bool create);

// The program's machine policy: a REG_DWORD value under
// HKEY_LOCAL_MACHINE\SOFTWARE\Pagewick, a key only administrators may
// write. nullopt when the key or the value is missing or not a DWORD.
inline constexpr const char* kMachinePolicyKey = "SOFTWARE\\Pagewick";
std::optional<std::uint32_t> ReadMachinePolicyDword(std::string_view valueName);

}  // namespace pw::platform
