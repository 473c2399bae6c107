#pragma once
// A host world with pagewick.exe installed under C:\Program Files\Pagewick,
// whose control manager launches the service in this process: each launch
// runs the program's entry on a thread of its own, as the process the
// manager started. Tests drive the service through the manager and watch it
// through the world: status reports, the event log, the desktop's windows
// and tray icons, the marker file.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/EventLog.h"
#include "platform/FileSystem.h"
#include "platform/ServiceControl.h"
#include "platform/SystemInfo.h"
#include "platform/Windows.h"
#include "platform/hostworld/EventLogStore.h"
#include "platform/hostworld/ServiceManager.h"
#include "platform/hostworld/World.h"
#include "service/Entry.h"
#include "service/ServiceRuntime.h"
#include "ui/MainForm.h"
#include "scanner/PollHost.h"
#include "tests/support/Installation.h"
#include "tests/support/Waiting.h"

namespace pw::service::test {

using namespace std::chrono_literals;
namespace pf = platform;

using pw::test::kModulePath;
using pw::test::kProgramFolder;
// The settings file before Vista (and before its move), and from Vista on.
inline constexpr const char* kSettingsPath = pw::test::kPublicSettingsPath;
inline constexpr const char* kServiceSettingsPath = pw::test::kProgramDataSettingsPath;
inline constexpr const char* kMarker = "c:\\run.info";
inline constexpr auto kDeadline = 10s;

// Counts the window's drive walks and polls; called on the service thread.
// With `inner` set (before the service starts), each walk and poll is also
// the inner link's: the program's own (scanner::DrivePoll) talks to the drives.
class CountingScannerLink : public scanner::ScannerLink {
 public:
  void ScanDrives(scanner::PollHost& host) override {
    ++scans;
    if (inner != nullptr) inner->ScanDrives(host);
  }
  void PollScanner(scanner::PollHost& host, scanner::ScannerRequestKind kind) override {
    ++polls;
    if (inner != nullptr) inner->PollScanner(host, kind);
  }
  std::atomic<int> scans{0};
  std::atomic<int> polls{0};
  scanner::ScannerLink* inner = nullptr;
};

using pw::test::WaitUntil;

// How many passes the service thread has made over its queue (it looks at
// it once per pass of its loop and finds it empty); 0 without a service thread.
inline std::uint64_t ServicePasses(hostworld::World& world) {
  const pf::WindowHandle control = pf::FindWindow(kControlWindowClass, std::nullopt);
  if (control == nullptr) return 0;
  return world.Desktop().EmptyQueueChecks(world.Desktop().WindowThread(control));
}

// Waits until the service thread's loop has made a few more passes: a check
// that something did not happen is only worth making after that.
// A loop that waits for its queue makes a pass for each message: an empty
// thread message is posted for every pass asked of it.
inline ::testing::AssertionResult PassesRan(hostworld::World& world, std::uint64_t passes = 3) {
  const std::uint64_t from = ServicePasses(world);
  const auto nudge = [&] {
    const pf::WindowHandle control = pf::FindWindow(kControlWindowClass, std::nullopt);
    if (control != nullptr) pf::PostThreadMessage(pf::GetWindowThreadId(control), pf::wm::kNull, 0, 0).IgnoreFailure();
  };
  if (WaitUntil([&] {
        nudge();
        return ServicePasses(world) >= from + passes;
      })) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "the service thread's loop made " << ServicePasses(world) - from
                                       << " passes, not " << passes;
}

// One run of the program's entry on a thread of its own: one process.
class ProgramRun {
 public:
  ProgramRun(std::vector<std::string> commandLine, scanner::ScannerLink* link)
      : thread_([this, commandLine = std::move(commandLine), link] {
          exitCode_ = ProcessEntry(commandLine, link);
          finished_ = true;
        }) {}
  ~ProgramRun() {
    if (!WaitFinished(30s)) {
      // A process that never ends would leave its thread on a dead world.
      std::fprintf(stderr, "a program run did not end; giving up\n");
      std::abort();
    }
    thread_.join();
  }
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  bool Finished() const { return finished_.load(); }
  bool WaitFinished(std::chrono::milliseconds deadline = kDeadline) const {
    return WaitUntil([this] { return Finished(); }, deadline);
  }
  int ExitCode() const { return exitCode_.load(); }

 private:
  std::atomic<bool> finished_{false};
  std::atomic<int> exitCode_{-1};
  std::thread thread_;
};

inline std::string SourceFile(const char* relative) {
  std::ifstream in(std::filesystem::path(PAGEWICK_SOURCE_DIR) / relative, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

class ServiceHostTest : public ::testing::Test {
 protected:
  // Windows XP by default: one process does it all, as the tests here expect.
  // Windows Vista and later (session agents) are set by their own tests.
  explicit ServiceHostTest(std::uint32_t major = 5, std::uint32_t minor = 1) {
    world.SetVersion(pf::kPlatformNt, major, minor, major == 5 ? 2600 : 19045);
    world.MakeDirectories(kProgramFolder);
    world.WriteFile(std::string(kProgramFolder) + "\\rc.info", SourceFile("resources/rc.info"));
    world.SetModuleFileName(kModulePath);
    world.Services().SetStartTimeout(kDeadline);
    world.Services().SetControlTimeout(kDeadline);
    world.Services().SetLauncher([this](const hostworld::LaunchRequest& request) {
      world.Services().AdoptLaunch(request.launchId);
      launched.push_back(std::make_unique<ProgramRun>(std::vector<std::string>{kModulePath}, &link));
      return pid_t{0};
    });
  }

  ~ServiceHostTest() override {
    // A service still running is stopped so that its process ends.
    if (std::optional<hostworld::ServiceRecord> record = world.Services().Find("Service1");
        record && record->connected) {
      (void)world.Services().SendControl("Service1", pf::service_control::kStop);
    }
    launched.clear();
  }

  // A run of the program on this thread (install, uninstall, a desktop start).
  int RunProgram(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), kModulePath);
    return ProcessEntry(arguments, &link);
  }

  void Install() {
    ASSERT_EQ(RunProgram({"/install", "/silent"}), 0);
    ASSERT_TRUE(world.Services().Find("Service1").has_value()) << "the service is not installed";
  }

  pf::ServiceHandle OpenService1() {
    const pf::Result<pf::ServiceHandle> manager =
        pf::OpenSCManager(std::nullopt, std::nullopt, pf::manager_access::kAllAccess);
    EXPECT_TRUE(manager.ok()) << "error " << manager.error();
    if (!manager) return pf::ServiceHandle();
    pf::Result<pf::ServiceHandle> opened = pf::OpenService(*manager, "Service1", pf::service_access::kAllAccess);
    EXPECT_TRUE(opened.ok()) << "error " << opened.error();
    if (!opened) return pf::ServiceHandle();
    return std::move(opened).value();
  }

  // Installs and starts the service and waits until it reports RUNNING.
  void StartService() {
    if (!world.Services().Find("Service1")) Install();
    service1 = OpenService1();
    const pf::Result<void> started = pf::StartService(service1, {});
    ASSERT_TRUE(started.ok()) << "error " << started.error();
    ASSERT_TRUE(WaitForState(pf::service_state::kRunning));
  }

  std::uint32_t State() { return pf::QueryServiceStatus(service1).status.currentState; }

  bool WaitForState(std::uint32_t state, std::chrono::milliseconds deadline = kDeadline) {
    return WaitUntil([&] { return State() == state; }, deadline);
  }

  pf::ServiceStatusResult Control(std::uint32_t code) { return pf::ControlService(service1, code); }

  // Stops the service and waits until its process has ended.
  void StopService() {
    ASSERT_TRUE(Control(pf::service_control::kStop).ok);
    ASSERT_TRUE(WaitForState(pf::service_state::kStopped));
    ASSERT_TRUE(ServiceProcess().WaitFinished());
  }

  ProgramRun& ServiceProcess() { return *launched.back(); }

  std::vector<pf::ServiceStatus> Reports() { return world.Services().StatusReports("Service1"); }
  std::vector<std::uint32_t> ReportedStates() {
    std::vector<std::uint32_t> states;
    for (const pf::ServiceStatus& status : Reports()) states.push_back(status.currentState);
    return states;
  }
  std::vector<hostworld::EventLogEntry> EventLog() { return hostworld::EventLogEntries(world); }
  // The event log's texts, one line each: what a failed expectation prints.
  std::string EventLogText() {
    std::string text = "event log:";
    for (const hostworld::EventLogEntry& entry : EventLog()) {
      for (const std::string& part : entry.strings) text += "\n  " + part;
    }
    return text;
  }

  pf::WindowHandle MainWindow() { return pf::FindWindow("TMainForm", "Pagewick"); }
  bool MainWindowVisible() {
    pf::WindowHandle window = MainWindow();
    return window != nullptr && pf::IsWindowVisible(window);
  }
  std::size_t TrayIconCount() { return world.Desktop().TrayIcons().size(); }

  bool MarkerExists() { return pf::FileExists(kMarker); }
  // What a second start of the executable leaves behind.
  void WriteMarker() { world.WriteFile(kMarker, ""); }

  // A service pass is about 100 ms: this covers a few. Only for a frozen
  // (paused) service, where no pass can be waited for.
  static void LetTimePass() { std::this_thread::sleep_for(400ms); }

  hostworld::World world;
  CountingScannerLink link;
  pf::ServiceHandle service1;
  std::vector<std::unique_ptr<ProgramRun>> launched;
};

}  // namespace pw::service::test
