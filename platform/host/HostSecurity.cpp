// Who owns an entry and who runs a process, in the host world. A process runs
// as the user of the session named by the PAGEWICK_SESSION variable it was
// started with (StartProcessInSession sets it); without one, or with session 0, it runs as
// LocalSystem, as the services the control manager starts do. Folders that
// only the service and administrators may change are folders a session's
// user may not write (SessionTable::DenyUserWrites), owned by Administrators.
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Security.h"
#include "platform/Sessions.h"
#include "platform/host/HostFiles.h"
#include "platform/hostworld/World.h"
#include "platform/hostworld/WorldSecurity.h"
#include "platform/hostworld/WorldSessions.h"

namespace pw::platform {
namespace {

constexpr const char* kSessionVariable = "PAGEWICK_SESSION";

// The session named by a PAGEWICK_SESSION value; 0 when there is none.
std::uint32_t SessionOfValue(std::string_view value) {
  std::uint32_t session = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return kNoSession;
    session = session * 10 + static_cast<std::uint32_t>(c - '0');
    if (session >= kNoSession / 10) return kNoSession;
  }
  return session;
}

// The session another process of the host was started in, from the
// environment it was started with; nullopt when the process is gone or its
// environment cannot be read.
std::optional<std::uint32_t> SessionOfProcess(std::uint32_t processId) {
  std::ifstream in("/proc/" + std::to_string(processId) + "/environ", std::ios::binary);
  if (!in) return std::nullopt;
  const std::string environment((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A process that has ended (a zombie) or is not yet running its program
  // shows no environment: who runs it cannot be told.
  if (environment.empty()) return std::nullopt;
  const std::string prefix = std::string(kSessionVariable) + "=";
  std::size_t start = 0;
  while (start < environment.size()) {
    std::size_t end = environment.find('\0', start);
    if (end == std::string::npos) end = environment.size();
    const std::string_view entry(environment.data() + start, end - start);
    if (entry.starts_with(prefix)) return SessionOfValue(entry.substr(prefix.size()));
    start = end + 1;
  }
  return 0;
}

}  // namespace

bool ProcessRunsAsLocalSystem(std::uint32_t processId) {
  if (processId == 0) return false;
  // Who runs a process is fixed when it starts: a variable set later (a test
  // that speaks for a session's client) changes its session, not its user.
  const std::optional<std::uint32_t> session = SessionOfProcess(processId);
  return session.has_value() && *session == 0;
}

bool ProcessRunsAsThisUser(std::uint32_t processId) {
  if (processId == 0) return false;
  const std::optional<std::uint32_t> other = SessionOfProcess(processId);
  const std::optional<std::uint32_t> self = SessionOfProcess(static_cast<std::uint32_t>(::getpid()));
  if (!other || !self) return false;
  if (*other == *self) return true;
  if (*other == 0 || *self == 0) return false;
  const hostworld::SessionTable& sessions = hostworld::World::Current().UserSessions();
  const std::optional<hostworld::UserSession> a = sessions.Find(*other);
  const std::optional<hostworld::UserSession> b = sessions.Find(*self);
  return a && b && a->user == b->user;
}

bool OwnedBySystemOrAdministrators(const std::string& path) {
  const std::string owner = hostworld::EntryOwner(path);
  return owner == hostworld::kSystemOwner || owner == hostworld::kAdministratorsOwner;
}

bool OwnedByActingUser(const std::string& path) {
  const std::string owner = hostworld::EntryOwner(path);
  const std::string* user = host::ImpersonatedUser();
  return !owner.empty() && owner == (user != nullptr ? *user : std::string(hostworld::kSystemOwner));
}

Result<void> CreateServiceOnlyDirectory(const std::string& path) {
  hostworld::World& world = hostworld::World::Current();
  // Made, owned and closed to users in one step: no other thread of the
  // world sees the folder in between.
  std::scoped_lock lock(world.Mutex());
  const hostworld::ResolvedPath resolved = world.Resolve(path);
  if (resolved.error != error::kSuccess) return Failure(resolved.error);
  if (resolved.exists) {
    // A link planted in its place is never secured: that would secure what it points to.
    std::error_code ignored;
    if (std::filesystem::is_symlink(resolved.hostPath, ignored) ||
        !std::filesystem::is_directory(resolved.hostPath, ignored)) {
      return Failure(error::kDirectory);
    }
    // A folder someone else made keeps that person's entries and handles.
    if (!OwnedBySystemOrAdministrators(path)) return Failure(error::kAlreadyExists);
  } else if (Result<void> made = CreateDirectory(path); !made) {
    return made;
  }
  if (!hostworld::SetEntryOwner(path, hostworld::kAdministratorsOwner)) return Failure(error::kAccessDenied);
  if (world.UserSessions().UserMayWrite(path)) world.UserSessions().DenyUserWrites(path);
  return Success();
}

}  // namespace pw::platform
