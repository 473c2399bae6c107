// Sessions of the host world. A process's session is named by the host
// layer's variable PAGEWICK_SESSION, which StartProcessInSession sets; a
// process without it runs in session 0, with the services.
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Sessions.h"
#include "platform/hostworld/ExecArguments.h"
#include "platform/hostworld/ServiceManager.h"
#include "platform/hostworld/World.h"
#include "platform/hostworld/WorldSessions.h"

extern char** environ;

namespace pw::platform {
namespace {

constexpr const char* kSessionVariable = "PAGEWICK_SESSION";
constexpr const char* kWorldVariable = "PAGEWICK_WORLD";
constexpr ErrorCode kNoToken = 1008;  // ERROR_NO_TOKEN: no user is logged on to the session

}  // namespace

Result<std::vector<std::uint32_t>> EnumerateInteractiveSessions() {
  std::vector<std::uint32_t> sessions;
  for (const hostworld::UserSession& session : hostworld::World::Current().UserSessions().Sessions()) {
    sessions.push_back(session.id);
  }
  return sessions;
}

std::uint32_t ActiveConsoleSessionId() {
  return hostworld::World::Current().UserSessions().ConsoleSession().value_or(kNoSession);
}

Result<std::uint32_t> CurrentProcessSessionId() {
  const char* text = std::getenv(kSessionVariable);
  if (text == nullptr || *text == '\0') return std::uint32_t{0};
  char* end = nullptr;
  const unsigned long id = std::strtoul(text, &end, 10);
  if (*end != '\0' || id >= kNoSession) return Failure(error::kInvalidParameter);
  return static_cast<std::uint32_t>(id);
}

Result<std::uint32_t> StartProcessInSession(std::uint32_t session, std::string_view commandLine) {
  hostworld::World& world = hostworld::World::Current();
  if (!world.UserSessions().Find(session)) {
    return Failure(kNoToken);
  }
  const std::optional<hostworld::CommandLineProgram> found = hostworld::FindCommandLineProgram(world, commandLine);
  if (!found) return Failure(error::kFileNotFound);
  const std::filesystem::path& program = found->program;
  std::vector<std::string> argumentTexts{program.string()};
  argumentTexts.insert(argumentTexts.end(), found->arguments.begin(), found->arguments.end());
  std::vector<std::string> environmentTexts;
  const std::string sessionPrefix = std::string(kSessionVariable) + "=";
  const std::string worldPrefix = std::string(kWorldVariable) + "=";
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (text.starts_with(sessionPrefix) || text.starts_with(worldPrefix)) continue;
    environmentTexts.emplace_back(text);
  }
  environmentTexts.push_back(sessionPrefix + std::to_string(session));
  environmentTexts.push_back(worldPrefix + world.Root().string());
  std::vector<char*> argv = hostworld::NullTerminatedPointers(argumentTexts);
  std::vector<char*> envp = hostworld::NullTerminatedPointers(environmentTexts);

  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), envp.data());
  if (spawned != 0) {
    return Failure(spawned == ENOENT ? error::kFileNotFound : error::kAccessDenied);
  }
  world.UserSessions().AddProcess(session, child);
  return static_cast<std::uint32_t>(child);
}

}  // namespace pw::platform
