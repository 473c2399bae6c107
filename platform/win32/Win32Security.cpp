// Who runs a process and who owns a file (advapi32), and folders that only
// the service and administrators may change.
#include <string>
#include <vector>

#include "platform/ScopeExit.h"
#include "platform/Security.h"
#include "platform/winapi/WindowsApi.h"
#include <aclapi.h>
#include <sddl.h>

namespace pw::platform {
namespace {

// Owner Administrators; SYSTEM and Administrators full control, Users read
// and execute, all inherited by what is created below; protected from the
// parent's entries.
constexpr const char* kServiceOnlySecurity =
    "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// PROCESS_QUERY_LIMITED_INFORMATION (Vista and later) is enough for the
// token of another user's process; PROCESS_QUERY_INFORMATION before that.
constexpr DWORD kQueryLimited = 0x1000;

class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  ~Handle() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  HANDLE* put() { return &handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// Enables a privilege on the process token where it holds it; the caller
// goes on either way (the call that needs it fails with its own error).
void EnablePrivilege(const char* name) {
  Handle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid)) return;
  (void)::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
}

}  // namespace

namespace {

// The user SID of a process's token; empty when it cannot be read.
// The user SID of a token opened with TOKEN_QUERY; empty when it cannot be read.
std::vector<unsigned char> TokenUserSid(const Handle& token) {
  DWORD size = 0;
  (void)::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return {};
  std::vector<unsigned char> buffer(size);
  if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return {};
  const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
  const unsigned char* first = static_cast<const unsigned char*>(sid);
  return {first, first + ::GetLengthSid(sid)};
}

std::vector<unsigned char> ProcessUserSid(HANDLE process) {
  Handle token;
  if (!::OpenProcessToken(process, TOKEN_QUERY, token.put())) return {};
  return TokenUserSid(token);
}

std::vector<unsigned char> ProcessUserSid(std::uint32_t processId) {
  HANDLE opened = ::OpenProcess(kQueryLimited, FALSE, processId);
  if (opened == nullptr) opened = ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
  Handle process(opened);
  if (!process.valid()) return {};
  return ProcessUserSid(process.get());
}

}  // namespace

bool ProcessRunsAsLocalSystem(std::uint32_t processId) {
  std::vector<unsigned char> user = ProcessUserSid(processId);
  return !user.empty() && ::IsWellKnownSid(user.data(), WinLocalSystemSid) != FALSE;
}

bool ProcessRunsAsThisUser(std::uint32_t processId) {
  std::vector<unsigned char> other = ProcessUserSid(processId);
  std::vector<unsigned char> self = ProcessUserSid(::GetCurrentProcess());
  return !other.empty() && !self.empty() && ::EqualSid(other.data(), self.data()) != FALSE;
}

namespace {

// The owner of a file or folder. The SID lives in the security descriptor
// the call returned, which goes with the object.
class NamedEntryOwner {
 public:
  explicit NamedEntryOwner(const std::string& path) {
    if (::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner_, nullptr, nullptr,
                                nullptr, &descriptor_) != ERROR_SUCCESS) {
      owner_ = nullptr;
      descriptor_ = nullptr;
    }
  }
  ~NamedEntryOwner() {
    if (descriptor_ != nullptr) ::LocalFree(descriptor_);
  }
  NamedEntryOwner(const NamedEntryOwner&) = delete;
  NamedEntryOwner& operator=(const NamedEntryOwner&) = delete;

  // Null when the owner could not be read.
  PSID get() const { return owner_; }

 private:
  PSID owner_ = nullptr;
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

}  // namespace

bool OwnedBySystemOrAdministrators(const std::string& path) {
  const NamedEntryOwner entry(path);
  const PSID owner = entry.get();
  return owner != nullptr &&
         (::IsWellKnownSid(owner, WinLocalSystemSid) || ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
}

namespace {

// Whether the open entry's owner is SYSTEM, Administrators or the user this
// process runs as (Wine gives every entry that user).
bool OwnedByServiceAccount(HANDLE entry) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR read = nullptr;
  if (::GetSecurityInfo(entry, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &read) !=
      ERROR_SUCCESS) {
    return false;
  }
  ScopeExit free([read] { ::LocalFree(read); });
  if (owner == nullptr) return false;
  if (::IsWellKnownSid(owner, WinLocalSystemSid) || ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) return true;
  std::vector<unsigned char> self = ProcessUserSid(::GetCurrentProcess());
  return !self.empty() && ::EqualSid(owner, self.data()) != FALSE;
}

}  // namespace


bool OwnedByActingUser(const std::string& path) {
  Handle token;
  if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) &&
      !::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
    return false;
  }
  std::vector<unsigned char> user = TokenUserSid(token);
  const NamedEntryOwner entry(path);
  return !user.empty() && entry.get() != nullptr && ::EqualSid(entry.get(), user.data()) != FALSE;
}

Result<void> CreateServiceOnlyDirectory(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kServiceOnlySecurity, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
    return Failure(::GetLastError());
  }
  ScopeExit free([descriptor] { ::LocalFree(descriptor); });
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor;
  if (::CreateDirectoryA(path.c_str(), &attributes)) return Success();
  const DWORD created = ::GetLastError();
  if (created != ERROR_ALREADY_EXISTS) return Failure(created);

  // The folder exists (a user may have made it first): it is given the owner
  // and DACL. Taking ownership of a folder whose DACL leaves SYSTEM out needs
  // these privileges, which LocalSystem holds.
  EnablePrivilege("SeTakeOwnershipPrivilege");
  EnablePrivilege("SeBackupPrivilege");
  EnablePrivilege("SeRestorePrivilege");
  // Opened as itself: a junction or link in its place is refused, never
  // followed (securing it would secure whatever it points to).
  Handle folder(::CreateFileA(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder.valid()) {
    // A folder whose DACL shuts even LocalSystem out is someone else's.
    const DWORD opened = ::GetLastError();
    return Failure(opened == ERROR_ACCESS_DENIED ? static_cast<DWORD>(ERROR_ALREADY_EXISTS) : opened);
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(folder.get(), &information)) return Failure(::GetLastError());
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return Failure(ERROR_DIRECTORY);
  }
  PSID owner = nullptr;
  BOOL ownerDefaulted = FALSE;
  PACL dacl = nullptr;
  BOOL daclPresent = FALSE;
  BOOL daclDefaulted = FALSE;
  // Only the service's own folder is taken again; what someone else made
  // (with their entries and open handles inside) is never adopted.
  if (!OwnedByServiceAccount(folder.get())) return Failure(ERROR_ALREADY_EXISTS);
  if (!::GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) ||
      !::GetSecurityDescriptorDacl(descriptor, &daclPresent, &dacl, &daclDefaulted)) {
    return Failure(::GetLastError());
  }
  const DWORD set = ::SetSecurityInfo(folder.get(), SE_FILE_OBJECT,
                                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                          PROTECTED_DACL_SECURITY_INFORMATION,
                                      owner, nullptr, dacl, nullptr);
  return set == ERROR_SUCCESS ? Success() : Failure(set);
}

}  // namespace pw::platform
