// The host processes the service manager starts: a service's process and a
// process another part of the world asks for.
#include "platform/hostworld/ServiceManager.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>

#include "platform/hostworld/ExecArguments.h"
#include "platform/hostworld/ServiceManagerParts.h"
#include "platform/hostworld/World.h"

extern char** environ;

namespace pw::hostworld {

using namespace scm;

namespace {

ErrorCode ErrorFromSpawn(int code) {
  switch (code) {
    case ENOENT: return error::kFileNotFound;
    case EACCES:
    case EPERM: return error::kAccessDenied;
    case ENOMEM: return error::kNotEnoughMemory;
    default: return error::kGenFailure;
  }
}

}  // namespace

platform::Result<pid_t> ServiceManager::SpawnProcess(const LaunchRequest& request) {
  World& world = World::Current();
  const std::optional<CommandLineProgram> found = FindCommandLineProgram(world, request.binaryPath);
  if (!found) return platform::Failure(error::kFileNotFound);
  const fs::path& program = found->program;
  std::vector<std::string> argumentTexts{program.string()};
  argumentTexts.insert(argumentTexts.end(), found->arguments.begin(), found->arguments.end());
  std::vector<std::string> environmentTexts;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    // A service runs as LocalSystem, never in a user's session.
    if (text.starts_with(std::string(kWorldVariable) + "=") || text.starts_with(std::string(kLaunchVariable) + "=") ||
        text.starts_with("PAGEWICK_SESSION=")) {
      continue;
    }
    environmentTexts.emplace_back(text);
  }
  environmentTexts.push_back(std::string(kWorldVariable) + "=" + request.worldRoot.string());
  environmentTexts.push_back(std::string(kLaunchVariable) + "=" + request.launchId);
  std::vector<char*> argv = NullTerminatedPointers(argumentTexts);
  std::vector<char*> envp = NullTerminatedPointers(environmentTexts);

  // A service has no console: its output goes to a log file of the world.
  const fs::path logs = request.worldRoot / "scm" / "logs";
  std::error_code ec;
  fs::create_directories(logs, ec);
  const std::string logPath = (logs / (FileKey(request.serviceName) + ".log")).string();

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return platform::Failure(ErrorFromSpawn(spawned));
  return child;
}

void ServiceManager::ReapChildren() {
  std::scoped_lock lock(mutex_);
  std::erase_if(children_, [](pid_t child) {
    int status = 0;
    return ::waitpid(child, &status, WNOHANG) == child;
  });
}

}  // namespace pw::hostworld
