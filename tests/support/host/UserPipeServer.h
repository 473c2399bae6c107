#pragma once
// A standard user's server of a pipe, in a process of its own (a
// SessionProcess running only the disabled UserPipeServerProcess test, which
// calls ServePipeAsAUser). It creates a
// server instance of the pipe, records the outcome in the world's folder and
// serves until the test ends it. Each binary that uses it defines
//   TEST(UserPipeServerProcess, DISABLED_CreatesAnInstanceAsAUser) { test::ServePipeAsAUser(); }
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/NamedPipe.h"
#include "platform/hostworld/World.h"

extern char** environ;

namespace pw::test {

// The test binary started again as a process of a session's user, running
// only the disabled tests its filter names, with the world and the session in
// its environment and `variables` beside them. Its body writes an error code
// to the result file (WriteSessionProcessResult); the process is ended with
// the object.
class SessionProcess {
 public:
  SessionProcess(const hostworld::World& world, std::uint32_t session, const std::string& filter,
                 std::filesystem::path result, const std::vector<std::string>& variables)
      : result_(std::move(result)) {
    std::vector<std::string> texts;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view text(*entry);
      if (!text.starts_with("PAGEWICK_")) texts.emplace_back(text);
    }
    texts.push_back("PAGEWICK_WORLD=" + world.Root().string());
    texts.push_back("PAGEWICK_SESSION=" + std::to_string(session));
    texts.push_back("PAGEWICK_PROCESS_RESULT=" + result_.string());
    texts.insert(texts.end(), variables.begin(), variables.end());
    std::vector<std::string> arguments{"session-process", "--gtest_filter=" + filter, "--gtest_also_run_disabled_tests"};
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& t : texts) envp.push_back(t.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (::posix_spawn(&process_, "/proc/self/exe", &actions, nullptr, argv.data(), envp.data()) != 0) process_ = 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~SessionProcess() {
    if (process_ == 0) return;
    ::kill(process_, SIGTERM);
    ::waitpid(process_, nullptr, 0);
  }
  SessionProcess(const SessionProcess&) = delete;
  SessionProcess& operator=(const SessionProcess&) = delete;

  // The error code the process wrote; nothing when it did not say within ten seconds.
  std::optional<platform::ErrorCode> Result() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      std::ifstream in(result_);
      platform::ErrorCode code = 0;
      if (in >> code) return code;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return std::nullopt;
  }

 private:
  std::filesystem::path result_;
  pid_t process_ = 0;
};

// In a SessionProcess: records its outcome whole (written beside, then renamed).
inline void WriteSessionProcessResult(platform::ErrorCode code) {
  const std::string path = std::getenv("PAGEWICK_PROCESS_RESULT");
  std::ofstream(path + ".tmp") << code << '\n';
  std::filesystem::rename(path + ".tmp", path);
}

class UserPipeServer {
 public:
  UserPipeServer(const hostworld::World& world, const std::string& pipeName, bool firstInstance,
                 std::uint32_t session = 1)
      : process_(world, session, "UserPipeServerProcess.*",
                 world.Root() / ("squat-" + pipeName + (firstInstance ? "-first" : "-added")),
                 {"PAGEWICK_SQUAT_PIPE=" + pipeName, std::string("PAGEWICK_SQUAT_FIRST=") + (firstInstance ? "1" : "0")}) {}

  // The error its CreatePipeServer gave (0: it serves the pipe now); nothing
  // when the process did not say within ten seconds.
  std::optional<platform::ErrorCode> Result() const { return process_.Result(); }

 private:
  SessionProcess process_;
};

// The body of the user's process.
inline void ServePipeAsAUser() {
  const char* pipe = std::getenv("PAGEWICK_SQUAT_PIPE");
  if (pipe == nullptr) GTEST_SKIP() << "runs only as the process of UserPipeServer";
  hostworld::World world(hostworld::World::Options{std::getenv("PAGEWICK_WORLD")});
  const bool first = std::string(std::getenv("PAGEWICK_SQUAT_FIRST")) == "1";
  platform::Result<platform::Pipe> server = platform::CreatePipeServer(pipe, first, 512);  // the agent protocol's largest message
  WriteSessionProcessResult(server.ok() ? 0u : server.error());
  // Serves until the test ends it; nothing is answered.
  for (int i = 0; server.ok() && i < 600; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

}  // namespace pw::test
