#pragma once
// What the end-to-end tests need from the Wine world that scripts/wine-world.sh
// sets up: the scanner drive served by the driver, the simulator's port behind
// it (reached through the driver with the simulator-control I/O control), the
// packaged pagewick.exe, and a tally of what the tests checked.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pw::wineworld {

using Bytes = std::string;

struct WorldPaths {
  std::string root;     // Windows path of the world folder (Z:\...)
  char drive = 0;       // the scanner drive's letter
  std::string program;  // the packaged pagewick.exe
};

// The world named by the environment that the CTest fixture sets; nullopt
// when the tests run outside it.
std::optional<WorldPaths> FindWorld();

// The simulator's port behind the scanner drive.
class SimulatorPort {
 public:
  explicit SimulatorPort(WorldPaths world) : world_(std::move(world)) {}

  // Sends one control line; the answer, or "transport error N" when the
  // I/O control itself failed.
  std::string Control(const std::string& line) const;
  // plug/queue with device options; the numbers of the images queued, or
  // nullopt when the simulator refused the line.
  std::optional<std::vector<int>> Plug(const std::string& options) const;
  std::optional<std::vector<int>> Queue(const std::string& options) const;
  // The counters of "status" (plugged, queued, delivered, card, computer, length, chunk, ...).
  std::map<std::string, long> Status() const;
  // The bytes of queued image number n, as the simulator saved them.
  Bytes Image(int n) const;

 private:
  WorldPaths world_;
};

// Whole content of a file, or nullopt when it cannot be read.
std::optional<Bytes> ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const Bytes& bytes);

// Runs pagewick.exe with the arguments and waits up to 60 s; its exit code, or -1.
int RunProgram(const std::string& program, const std::string& arguments);

// A program started without waiting for it; ended with the object if it is
// still running then.
class StartedProgram {
 public:
  StartedProgram(const std::string& program, const std::string& arguments);
  ~StartedProgram();
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;

  bool Started() const { return process_ != nullptr; }
  std::uint32_t Id() const { return id_; }
  void* Handle() const { return process_; }
  // Whether it ended within the deadline.
  bool WaitForExit(std::chrono::milliseconds deadline) const;

 private:
  void* process_ = nullptr;
  std::uint32_t id_ = 0;
};

// A top-level window of this desktop.
struct DesktopWindow {
  std::uintptr_t handle = 0;
  std::uint32_t process = 0;
  std::string className;
  std::string title;
  bool visible = false;
};
std::vector<DesktopWindow> TopLevelWindows();

// The parent process of the process, or nullopt when it is not running.
std::optional<std::uint32_t> ParentProcess(std::uint32_t process);

// The process of the named service while it runs, 0 otherwise.
std::uint32_t ServiceProcessId(const std::string& service);

// Asks the window to close and waits up to the deadline for its process to
// end; ends the process when it does not. Whether the process is gone.
bool CloseWindowAndItsProcess(const DesktopWindow& window, std::chrono::milliseconds deadline);

// Polls the condition every 50 ms until it holds or the deadline passes.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline);

// Counts kept over the whole run and written to <world>\e2e-tally for the
// test script's summary line.
struct Tally {
  int imagesPulled = 0;
  int faultCases = 0;
  int lost = 0;
};
Tally& RunTally();
void WriteTally(const WorldPaths& world);

}  // namespace pw::wineworld
