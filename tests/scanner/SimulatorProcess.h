#pragma once
// The scanner simulator's executable run as a process of its own for one
// test; it is killed and reaped when the object goes.
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace pw::test {

class SimulatorProcess {
 public:
  // Starts the simulator (PAGEWICK_SCANNER_SIM) with the given arguments.
  explicit SimulatorProcess(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {
    arguments_.insert(arguments_.begin(), PAGEWICK_SCANNER_SIM);
    // Everything the child needs is built before the fork.
    std::vector<char*> argv;
    for (std::string& argument : arguments_) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execv(PAGEWICK_SCANNER_SIM, argv.data());
      ::_exit(127);
    }
  }
  ~SimulatorProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  bool Started() const { return pid_ > 0; }

  void Signal(int signal) const {
    if (pid_ > 0) ::kill(pid_, signal);
  }

  // The wait status once the process has ended within the timeout; it is
  // then reaped and no longer killed at the end.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      int status = 0;
      if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return status;
      }
      if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

 private:
  std::vector<std::string> arguments_;
  pid_t pid_ = -1;
};

}  // namespace pw::test
