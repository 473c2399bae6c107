#include "tests/faultmatrix/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/hostworld/ProcessRunning.h"

extern char** environ;

namespace pw::faultmatrix {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> Environment(const std::map<std::string, std::string>& extra) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string text(*entry);
    const std::string name = text.substr(0, text.find('='));
    if (!extra.count(name)) entries.push_back(text);
  }
  for (const auto& [name, value] : extra) entries.push_back(name + "=" + value);
  return entries;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& extraEnvironment,
                           const std::filesystem::path& outputFile) {
  std::vector<std::string> argumentTexts{program};
  argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
  std::vector<std::string> environmentTexts = Environment(extraEnvironment);
  std::vector<char*> argv;
  for (std::string& text : argumentTexts) argv.push_back(text.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& text : environmentTexts) envp.push_back(text.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t child = 0;
  if (::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) pid_ = child;
  posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (status_) return status_;
  if (pid_ <= 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
    if (reaped == pid_) {
      pid_ = -1;
      status_ = status;
      return status_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(5ms);
  }
}

void ChildProcess::Signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

std::optional<int> ChildProcess::Terminate(std::chrono::milliseconds grace) {
  Signal(SIGTERM);
  if (auto status = WaitForExit(grace)) return status;
  Signal(SIGKILL);
  return WaitForExit(5s);
}

ToolRun RunTool(const std::string& program, const std::vector<std::string>& arguments,
                const std::map<std::string, std::string>& extraEnvironment, const std::filesystem::path& scratchFile,
                std::chrono::milliseconds deadline) {
  std::error_code ec;
  std::filesystem::remove(scratchFile, ec);
  ToolRun run;
  {
    ChildProcess child(program, arguments, extraEnvironment, scratchFile);
    if (const std::optional<int> status = child.WaitForExit(deadline)) {
      run.finished = true;
      run.exitCode = WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }
  }
  std::ifstream in(scratchFile, std::ios::binary);
  run.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return run;
}

ForeignProcess::~ForeignProcess() {
  if (!Ended()) Kill();
}

bool ForeignProcess::Ended() {
  if (ended_ || pid_ <= 0) return true;
  int status = 0;
  const pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
  if (reaped == pid_) {
    status_ = status;
    ended_ = true;
  } else if (reaped < 0 && errno == ECHILD) {
    // Not ours to reap (no subreaper): it has ended once it is gone or a zombie.
    ended_ = !hostworld::ProcessRunning(pid_);
  }
  return ended_;
}

void ForeignProcess::Kill() {
  if (pid_ <= 0 || ended_) return;
  // The service runs in a session of its own: its group goes with it.
  ::kill(-pid_, SIGKILL);
  ::kill(pid_, SIGKILL);
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!Ended() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
}

bool BecomeSubreaper() { return ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0; }

}  // namespace pw::faultmatrix
