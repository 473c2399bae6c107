#pragma once
// A standard user's server of a pipe, in a process of its own: the test binary
// started again in a user's session, running only its disabled
// UserPipeServerProcess test, which calls ServePipeAsAUser. It creates a
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

class UserPipeServer {
 public:
  UserPipeServer(const host::World& world, const std::string& pipeName, bool firstInstance,
                 std::uint32_t session = 1)
      : result_(world.Root() / ("squat-" + pipeName + (firstInstance ? "-first" : "-added"))) {
    std::vector<std::string> texts;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view text(*entry);
      if (!text.starts_with("PAGEWICK_")) texts.emplace_back(text);
    }
    texts.push_back("PAGEWICK_WORLD=" + world.Root().string());
    texts.push_back("PAGEWICK_SESSION=" + std::to_string(session));
    texts.push_back("PAGEWICK_SQUAT_PIPE=" + pipeName);
    texts.push_back(std::string("PAGEWICK_SQUAT_FIRST=") + (firstInstance ? "1" : "0"));
    texts.push_back("PAGEWICK_SQUAT_RESULT=" + result_.string());
    std::vector<std::string> arguments{"user-pipe-server", "--gtest_filter=UserPipeServerProcess.*",
                                       "--gtest_also_run_disabled_tests"};
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
  ~UserPipeServer() {
    if (process_ == 0) return;
    ::kill(process_, SIGTERM);
    ::waitpid(process_, nullptr, 0);
  }
  UserPipeServer(const UserPipeServer&) = delete;
  UserPipeServer& operator=(const UserPipeServer&) = delete;

  // The error its CreatePipeServer gave (0: it serves the pipe now); nothing
  // when the process did not say within ten seconds.
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

// The body of the user's process.
inline void ServePipeAsAUser() {
  const char* pipe = std::getenv("PAGEWICK_SQUAT_PIPE");
  if (pipe == nullptr) GTEST_SKIP() << "runs only as the process of UserPipeServer";
  host::World world(host::World::Options{std::getenv("PAGEWICK_WORLD")});
  const bool first = std::string(std::getenv("PAGEWICK_SQUAT_FIRST")) == "1";
  platform::Result<platform::Pipe> server = platform::CreatePipeServer(pipe, first, 512);  // the agent protocol's largest message
  {
    const std::string path = std::getenv("PAGEWICK_SQUAT_RESULT");
    std::ofstream(path + ".tmp") << (server.ok() ? 0u : server.error()) << '\n';
    std::filesystem::rename(path + ".tmp", path);
  }
  // Serves until the test ends it; nothing is answered.
  for (int i = 0; server.ok() && i < 600; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

}  // namespace pw::test
