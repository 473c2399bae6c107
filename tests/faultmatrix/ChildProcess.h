#pragma once
// Processes the fault matrix starts: the program's tools and the scanner
// simulator. Each is spawned with its output in a file and is killed and
// reaped when its object goes, whatever happened in between. Safe to use
// from several threads at once (posix_spawn, waitpid on one's own pid).
#include <spawn.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pw::faultmatrix {

class ChildProcess {
 public:
  // Starts program with arguments; environment = ours plus extra; stdout and
  // stderr go to outputFile (appended). Started() tells whether it ran.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::map<std::string, std::string>& extraEnvironment, const std::filesystem::path& outputFile);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0 || status_.has_value(); }
  pid_t Pid() const { return pid_; }

  // The wait status once the process has ended within the timeout (it is then reaped).
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
  void Signal(int signal) const;
  // SIGTERM, then SIGKILL after the grace period; returns the wait status.
  std::optional<int> Terminate(std::chrono::milliseconds grace);

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

struct ToolRun {
  bool finished = false;  // ended within the deadline
  int exitCode = -1;      // exit code, or -1 for a signal
  std::string output;
};

// Runs a tool to its end (killed at the deadline) and returns what it printed.
ToolRun RunTool(const std::string& program, const std::vector<std::string>& arguments,
                const std::map<std::string, std::string>& extraEnvironment, const std::filesystem::path& scratchFile,
                std::chrono::milliseconds deadline);

// A process that is not our child (the service, launched by the control tool
// and handed to us as its subreaper). Reaps it when it has ended.
class ForeignProcess {
 public:
  explicit ForeignProcess(pid_t pid) : pid_(pid) {}
  ~ForeignProcess();  // kills the process group and reaps when still running
  ForeignProcess(const ForeignProcess&) = delete;
  ForeignProcess& operator=(const ForeignProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // True once the process has ended; its wait status when it could be reaped.
  bool Ended();
  std::optional<int> Status() const { return status_; }
  void Kill();

 private:
  pid_t pid_;
  bool ended_ = false;
  std::optional<int> status_;
};

// Makes this process the reaper of orphaned descendants (the service
// processes outlive the control tool that launched them).
bool BecomeSubreaper();

}  // namespace pw::faultmatrix
