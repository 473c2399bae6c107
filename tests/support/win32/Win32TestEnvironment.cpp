#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/SystemInfo.h"
#include "tests/support/TestEnvironment.h"
#include "platform/winapi/WindowsApi.h"

namespace pw::test {

struct ScratchFolder::Backend {};

ScratchFolder::ScratchFolder() {
  char temp[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathA(sizeof temp, temp);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("GetTempPathA failed");
  std::string base(temp, length);
  if (!base.empty() && base.back() == '\\') base.pop_back();
  for (unsigned attempt = 0;; ++attempt) {
    path_ = base + "\\pagewick-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(::GetTickCount()) + "-" + std::to_string(attempt);
    const platform::Result<void> created = platform::CreateDirectory(path_);
    if (created) break;
    if (created.error() != ERROR_ALREADY_EXISTS || attempt > 1000) {
      throw std::runtime_error("cannot create the scratch folder " + path_);
    }
  }
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

bool IsRunningUnderWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

namespace {

std::wstring Wide(const std::string& text) {
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
  wide.pop_back();
  return wide;
}

void Put16(std::vector<std::uint8_t>& bytes, std::size_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
  bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

}  // namespace

bool CreateJunction(const std::string& link, const std::string& target) {
  char full[MAX_PATH + 1] = {};
  if (::GetFullPathNameA(target.c_str(), sizeof full, full, nullptr) == 0) return false;
  if (!::CreateDirectoryA(link.c_str(), nullptr)) return false;
  // A mount-point reparse buffer: "\??\" and the target as the substitute
  // name, an empty print name.
  const std::wstring substitute = L"\\??\\" + Wide(full);
  const std::size_t substituteBytes = substitute.size() * sizeof(wchar_t);
  std::vector<std::uint8_t> data;
  Put16(data, 0);                      // SubstituteNameOffset
  Put16(data, substituteBytes);        // SubstituteNameLength
  Put16(data, substituteBytes + 2);    // PrintNameOffset
  Put16(data, 0);                      // PrintNameLength
  const auto* raw = reinterpret_cast<const std::uint8_t*>(substitute.data());
  data.insert(data.end(), raw, raw + substituteBytes);
  Put16(data, 0);
  Put16(data, 0);
  std::vector<std::uint8_t> buffer;
  Put16(buffer, 0x0003);  // IO_REPARSE_TAG_MOUNT_POINT, low then high word
  Put16(buffer, 0xA000);
  Put16(buffer, data.size());
  Put16(buffer, 0);
  buffer.insert(buffer.end(), data.begin(), data.end());
  HANDLE folder = ::CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) {
    ::RemoveDirectoryA(link.c_str());
    return false;
  }
  DWORD returned = 0;
  const BOOL set = ::DeviceIoControl(folder, 0x000900A4 /* FSCTL_SET_REPARSE_POINT */, buffer.data(),
                                     static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
  ::CloseHandle(folder);
  if (!set) ::RemoveDirectoryA(link.c_str());
  return set != FALSE;
}

bool CreateFileSymlink(const std::string& link, const std::string& target) {
  using CreateSymbolicLinkFunction = BOOLEAN(WINAPI*)(LPCSTR, LPCSTR, DWORD);
  const auto create = reinterpret_cast<CreateSymbolicLinkFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA")));
  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE (developer mode, Windows 10).
  return create != nullptr && create(link.c_str(), target.c_str(), 0x2) != 0;
}

std::string FolderTheConsoleUserMayNotWrite() {
  char windows[MAX_PATH + 1] = {};
  const UINT length = ::GetSystemDirectoryA(windows, sizeof windows);
  return std::string(windows, length);
}

}  // namespace pw::test

namespace pw::test {

bool SetMachinePolicyDword(const std::string& name, std::optional<std::uint32_t> value) {
  // The 32-bit view, as the program (a 32-bit process) reads it.
  HKEY key = nullptr;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, platform::kMachinePolicyKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG done = ERROR_SUCCESS;
  if (value) {
    const DWORD dword = *value;
    done = ::RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), sizeof dword);
  } else {
    done = ::RegDeleteValueA(key, name.c_str());
    if (done == ERROR_FILE_NOT_FOUND) done = ERROR_SUCCESS;
  }
  ::RegCloseKey(key);
  return done == ERROR_SUCCESS;
}

}  // namespace pw::test
