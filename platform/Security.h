#pragma once
// Whose rights an action uses and who may change what (Windows Vista and
// later): the console user's token and impersonation around file-system
// calls made on that user's behalf; folders that only the service and
// administrators may change; who runs a process; the process-wide hardening
// of DLL loading and link following. Calls that Windows 2000 or XP lack are
// looked up at run time and fail there with ERROR_CALL_NOT_IMPLEMENTED (120).
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Result.h"
#include "platform/Handle.h"

namespace pw::platform {

namespace error {
inline constexpr ErrorCode kNoToken = 1008;  // ERROR_NO_TOKEN: nobody is logged on there
inline constexpr ErrorCode kCannotImpersonate = 1368;
}  // namespace error

// ---- The console user and impersonation ---------------------------------

struct TokenHandleTraits {
  static RawHandle Invalid() noexcept;
  static void Close(RawHandle handle) noexcept;
};
// A user's primary token.
using TokenHandle = ScopedHandle<TokenHandleTraits>;

// The token of the user of the active console session: the person at the
// keyboard and the USB ports (WTSGetActiveConsoleSessionId, WTSQueryUserToken;
// needs LocalSystem). Fails with kNoToken while no user session is attached to
// the console.
Result<TokenHandle> ConsoleUserToken();

// Acts with the token's rights on this thread for the object's life
// (ImpersonateLoggedOnUser, RevertToSelf). A revert that fails ends the
// process: the thread must never go on with rights that are not its own.
// Not movable; one per scope.
class [[nodiscard]] Impersonation {
 public:
  explicit Impersonation(const TokenHandle& token);
  ~Impersonation();
  Impersonation(const Impersonation&) = delete;
  Impersonation& operator=(const Impersonation&) = delete;

  [[nodiscard]] bool ok() const { return ok_; }
  [[nodiscard]] ErrorCode error() const { return error_; }

 private:
  bool ok_ = false;
  ErrorCode error_ = error::kSuccess;
};

// ---- Who runs a process, who owns a file --------------------------------

// Whether the process runs as LocalSystem (S-1-5-18): OpenProcess,
// OpenProcessToken, GetTokenInformation(TokenUser). False when it cannot be told.
bool ProcessRunsAsLocalSystem(std::uint32_t processId);

// Whether the process runs as the same user as this process (their tokens'
// user SIDs are equal). False when it cannot be told.
bool ProcessRunsAsThisUser(std::uint32_t processId);

// Whether the entry is owned by SYSTEM or the Administrators group (a file a
// standard user created first is owned by that user). False when the owner
// cannot be read.
bool OwnedBySystemOrAdministrators(const std::string& path);

// Whether the entry is owned by the user this thread acts for: the user it
// impersonates, else the process's own user. False when either cannot be read.
bool OwnedByActingUser(const std::string& path);

// Creates a folder (one level) that only SYSTEM and Administrators may
// change: owner Administrators, a protected DACL with full control for SYSTEM
// and Administrators and read and execute for Users, inherited by what is
// created below. The security descriptor is passed to the creating call, so
// nobody else holds the new folder for a moment. An existing folder that
// SYSTEM, Administrators or the process's own user owns (the service's own
// from an earlier run) is given that owner and DACL again. Anything else in
// its place is never adopted and left as it is: a folder someone else owns
// fails with ERROR_ALREADY_EXISTS (183), a link or a file with
// ERROR_DIRECTORY (267).
Result<void> CreateServiceOnlyDirectory(const std::string& path);

// Whether principals other than SYSTEM, Administrators and TrustedInstaller
// may create files in the folder or change it (by its DACL and owner);
// nullopt when its security cannot be read.
std::optional<bool> NonAdministratorsMayWrite(const std::string& path);

// Whether principals other than SYSTEM, Administrators and TrustedInstaller
// may put something else in the entry's place (by its DACL and owner): they
// own it, may change its DACL or owner, may delete or rename it, may delete
// or rename what a folder holds, or may write a file's data. Adding new
// entries to a folder is not counted: any user may make a folder in a drive's
// root, never remove one that another made. nullopt when the entry is missing
// or its security cannot be read.
std::optional<bool> NonAdministratorsMayReplace(const std::string& path);

// ---- Process-wide hardening ---------------------------------------------

// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32): DLLs loaded by
// name come from System32 only, never from the program's folder or the
// current directory. False where the call is missing (Windows 7 without
// KB2533623 and older).
bool RestrictDllSearchToSystem32();

// Windows 11 22H2 and later: the process no longer follows junctions that
// non-administrators created (SetProcessMitigationPolicy,
// ProcessRedirectionTrustPolicy, EnforceRedirectionTrust). False where the
// system does not offer it.
bool EnableRedirectionTrust();

}  // namespace pw::platform
