// Process-wide hardening and the install folder's security: the calls that
// older systems lack are looked up in kernel32 at run time.
#include <array>
#include <vector>

#include "platform/Security.h"
#include "platform/win32/Win32SystemLibrary.h"
#include "platform/winapi/WindowsApi.h"
#include <aclapi.h>

namespace pw::platform {
namespace {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
using SetProcessMitigationPolicyFunction = BOOL(WINAPI*)(int, PVOID, SIZE_T);

constexpr int kProcessRedirectionTrustPolicy = 16;
constexpr DWORD kEnforceRedirectionTrust = 0x1;

// Rights over a folder that let their holder put files into it or take it
// over: add a file or a folder, write its data or attributes, delete, change
// its DACL or owner, and the generic rights that include them.
constexpr ACCESS_MASK kChangingRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_EA |
                                        FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC |
                                        WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;

// Rights that let their holder put something else in an entry's place: delete
// or rename it, change its DACL or owner, and for a folder delete or rename
// what it holds. Adding to a folder is not among them: every user may make a
// folder in a drive's root.
constexpr ACCESS_MASK kReplacingFolderRights =
    FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL | MAXIMUM_ALLOWED;
// For a file also writing its data.
constexpr ACCESS_MASK kReplacingFileRights =
    kReplacingFolderRights | FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE;

class LocalMemory {
 public:
  LocalMemory() = default;
  ~LocalMemory() {
    if (memory_ != nullptr) ::LocalFree(memory_);
  }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;
  PSECURITY_DESCRIPTOR* out() { return &memory_; }

 private:
  PSECURITY_DESCRIPTOR memory_ = nullptr;
};

// A well-known SID in a buffer of its own.
class WellKnownSid {
 public:
  explicit WellKnownSid(WELL_KNOWN_SID_TYPE type) {
    DWORD size = SECURITY_MAX_SID_SIZE;
    ok_ = ::CreateWellKnownSid(type, nullptr, bytes_.data(), &size) != FALSE;
  }
  bool Matches(PSID sid) const { return ok_ && ::EqualSid(const_cast<BYTE*>(bytes_.data()), sid) != FALSE; }
  PSID Get() { return ok_ ? bytes_.data() : nullptr; }

 private:
  std::array<BYTE, SECURITY_MAX_SID_SIZE> bytes_{};
  bool ok_ = false;
};

// NT SERVICE\TrustedInstaller, which owns the system's own folders.
bool IsTrustedInstaller(PSID sid) {
  static constexpr DWORD kSubAuthorities[] = {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464};
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID installer = nullptr;
  if (!::AllocateAndInitializeSid(&nt, 6, kSubAuthorities[0], kSubAuthorities[1], kSubAuthorities[2],
                                  kSubAuthorities[3], kSubAuthorities[4], kSubAuthorities[5], 0, 0, &installer)) {
    return false;
  }
  const bool same = ::EqualSid(installer, sid) != FALSE;
  ::FreeSid(installer);
  return same;
}

// The user of this process when the process holds the Administrators group:
// an administrator who installs owns what they created, which no standard
// user may change.
std::vector<BYTE> ElevatedCallerSid() {
  WellKnownSid administrators(WinBuiltinAdministratorsSid);
  BOOL member = FALSE;
  if (administrators.Get() == nullptr || !::CheckTokenMembership(nullptr, administrators.Get(), &member) || !member) {
    return {};
  }
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  std::vector<BYTE> user(256);
  DWORD needed = 0;
  const BOOL got = ::GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &needed);
  ::CloseHandle(token);
  if (!got) return {};
  const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  const DWORD length = ::GetLengthSid(sid);
  std::vector<BYTE> copy(length);
  if (!::CopySid(length, copy.data(), sid)) return {};
  return copy;
}

}  // namespace

bool RestrictDllSearchToSystem32() {
  const auto set = KernelFunction<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories");
  return set != nullptr && set(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

bool EnableRedirectionTrust() {
  const auto set = KernelFunction<SetProcessMitigationPolicyFunction>("SetProcessMitigationPolicy");
  if (set == nullptr) return false;
  DWORD flags = kEnforceRedirectionTrust;
  return set(kProcessRedirectionTrustPolicy, &flags, sizeof flags) != FALSE;
}

namespace {

// Whether a principal other than SYSTEM, Administrators, TrustedInstaller (or
// the administrator running this process) owns the entry or is allowed any of
// `rights` on it by its DACL.
std::optional<bool> OthersHoldRights(const std::string& path, ACCESS_MASK rights) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  LocalMemory descriptor;
  if (::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, descriptor.out()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  WellKnownSid system(WinLocalSystemSid);
  WellKnownSid administrators(WinBuiltinAdministratorsSid);
  WellKnownSid creatorOwner(WinCreatorOwnerSid);
  std::vector<BYTE> caller = ElevatedCallerSid();
  const auto trusted = [&](PSID sid) {
    if (sid == nullptr || !::IsValidSid(sid)) return false;
    if (system.Matches(sid) || administrators.Matches(sid) || IsTrustedInstaller(sid)) return true;
    return !caller.empty() && ::EqualSid(caller.data(), sid) != FALSE;
  };
  // The owner may always change the DACL.
  if (!trusted(owner)) return true;
  // No DACL: everyone has every right.
  if (dacl == nullptr) return true;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!::GetAce(dacl, i, &entry)) return std::nullopt;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    // An ACE only for what is created below does not apply to the folder.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & rights) == 0) continue;
    auto* sid = reinterpret_cast<PSID>(const_cast<DWORD*>(&allowed->SidStart));
    // CREATOR OWNER on the folder itself stands for its owner, checked above.
    if (trusted(sid) || creatorOwner.Matches(sid)) continue;
    return true;
  }
  return false;
}

}  // namespace

std::optional<bool> NonAdministratorsMayWrite(const std::string& path) {
  return OthersHoldRights(path, kChangingRights);
}

std::optional<bool> NonAdministratorsMayReplace(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return OthersHoldRights(path, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? kReplacingFolderRights
                                                                             : kReplacingFileRights);
}

}  // namespace pw::platform
