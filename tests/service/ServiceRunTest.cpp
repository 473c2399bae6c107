// The service run as the control manager drives it: start-up order, control
// requests, pause, the main window's life and the show-window marker.
#include <cstdlib>
#include <string>

#include "platform/Dialogs.h"
#include "platform/NotifyIcon.h"
#include "platform/hostworld/DeviceSocket.h"
#include "platform/hostworld/SynchronousIo.h"
#include "platform/hostworld/WorldSessions.h"
#include "scanner/DrivePoll.h"
#include "tools/scanner-sim/ScannerSimulator.h"
#include "tests/service/ServiceFixture.h"

namespace pw::service::test {
namespace {

namespace state = pf::service_state;
namespace control = pf::service_control;

using ServiceRunTest = ServiceHostTest;

pf::ServiceStatus Status(std::uint32_t current, std::uint32_t accepted, std::uint32_t checkPoint) {
  return {0x110, current, accepted, 0, 0, checkPoint, 5000};
}

TEST_F(ServiceRunTest, StartReportsStartPendingTwiceThenRunningWithTheWindowHidden) {
  StartService();
  const std::vector<pf::ServiceStatus> expected = {
      Status(state::kStartPending, 0, 0),  // the service main entry
      Status(state::kStartPending, 0, 1),  // the service thread: the next checkpoint
      Status(state::kRunning, 7, 0),
  };
  EXPECT_EQ(Reports(), expected);
  ASSERT_NE(MainWindow(), nullptr);
  EXPECT_FALSE(MainWindowVisible()) << "shown and hidden again";
  EXPECT_EQ(TrayIconCount(), 1u);
  EXPECT_GE(link.scans.load(), 1) << "showing activated the window, which walked the drives";
  EXPECT_FALSE(MarkerExists()) << "the process's own marker is removed at start";
  EXPECT_FALSE(ServiceProcess().Finished());
  EXPECT_TRUE(EventLog().empty());
}

TEST_F(ServiceRunTest, StopDestroysTheWindowAndEndsTheProcess) {
  StartService();
  world.Services().ClearStatusReports("Service1");
  StopService();
  const std::vector<pf::ServiceStatus> expected = {Status(state::kStopPending, 7, 0), Status(state::kStopped, 7, 0)};
  EXPECT_EQ(Reports(), expected);
  EXPECT_EQ(MainWindow(), nullptr);
  EXPECT_EQ(TrayIconCount(), 0u);
  EXPECT_EQ(ServiceProcess().ExitCode(), 0);
  EXPECT_TRUE(EventLog().empty());
}

TEST_F(ServiceRunTest, ShutdownTakesTheStopPath) {
  StartService();
  world.Services().ClearStatusReports("Service1");
  EXPECT_EQ(world.Services().SystemShutdown(), 1);
  ASSERT_TRUE(WaitForState(state::kStopped));
  ASSERT_TRUE(ServiceProcess().WaitFinished());
  EXPECT_EQ(ReportedStates(), (std::vector<std::uint32_t>{state::kStopPending, state::kStopped}));
  EXPECT_EQ(MainWindow(), nullptr);
  EXPECT_TRUE(EventLog().empty());
}

TEST_F(ServiceRunTest, InterrogateReportsTheSameStatusAgain) {
  StartService();
  world.Services().ClearStatusReports("Service1");
  ASSERT_TRUE(Control(control::kInterrogate).ok);
  ASSERT_TRUE(WaitUntil([&] { return !Reports().empty(); }));
  EXPECT_EQ(Reports(), std::vector<pf::ServiceStatus>{Status(state::kRunning, 7, 0)})
      << "a status that is not pending keeps checkpoint 0";
}

TEST_F(ServiceRunTest, CodesOfTheServicesOwnChangeNothingAndWriteNothing) {
  StartService();
  world.Services().ClearStatusReports("Service1");
  for (std::uint32_t code : {128u, 200u, 255u}) ASSERT_TRUE(Control(code).ok) << code;
  // An interrogate after them shows that they have all been taken.
  ASSERT_TRUE(Control(control::kInterrogate).ok);
  ASSERT_TRUE(WaitUntil([&] { return !Reports().empty(); }));
  EXPECT_EQ(Reports(), std::vector<pf::ServiceStatus>{Status(state::kRunning, 7, 0)});
  EXPECT_TRUE(EventLog().empty());
  EXPECT_NE(MainWindow(), nullptr);
}

// The poll timer runs on the clock the test advances; a tick polls the scanner.
TEST_F(ServiceRunTest, PauseFreezesTheWindowAndThePollingUntilContinue) {
  StartService();
  world.Desktop().AdvanceTime(2000);
  ASSERT_TRUE(WaitUntil([&] { return link.polls.load() > 0; })) << "the running service polls";

  world.Services().ClearStatusReports("Service1");
  ASSERT_TRUE(Control(control::kPause).ok);
  ASSERT_TRUE(WaitForState(state::kPaused));
  EXPECT_EQ(ReportedStates(), (std::vector<std::uint32_t>{state::kPausePending, state::kPaused}));
  const int pollsWhenPaused = link.polls.load();
  world.Desktop().AdvanceTime(10000);
  ASSERT_TRUE(world.Desktop().ClickTrayIcon(pf::TrayIcon::kIconId, hostworld::MouseButton::Left));
  WriteMarker();
  const std::uint64_t passesWhenPaused = ServicePasses(world);
  LetTimePass();
  EXPECT_EQ(ServicePasses(world), passesWhenPaused) << "the loop makes no pass while paused";
  EXPECT_EQ(link.polls.load(), pollsWhenPaused) << "no polling while paused";
  EXPECT_FALSE(MainWindowVisible()) << "the window does not react while paused";
  EXPECT_TRUE(MarkerExists()) << "the loop does not run while paused";

  ASSERT_TRUE(Control(control::kContinue).ok);
  ASSERT_TRUE(WaitForState(state::kRunning));
  EXPECT_EQ(ReportedStates(), (std::vector<std::uint32_t>{state::kPausePending, state::kPaused,
                                                          state::kContinuePending, state::kRunning}));
  EXPECT_TRUE(PassesRan(world)) << "the loop runs again";
  EXPECT_TRUE(WaitUntil([&] { return link.polls.load() > pollsWhenPaused; })) << "polling resumes";
  EXPECT_TRUE(WaitUntil([&] { return MainWindowVisible(); })) << "the click and the marker are handled";
  EXPECT_TRUE(WaitUntil([&] { return !MarkerExists(); }));
}

// A request that only asks (interrogate, a code of the service's own) is
// answered while paused; the service stays frozen.
TEST_F(ServiceRunTest, InterrogateWhilePausedLeavesTheServiceFrozen) {
  StartService();
  ASSERT_TRUE(Control(control::kPause).ok);
  ASSERT_TRUE(WaitForState(state::kPaused));
  world.Services().ClearStatusReports("Service1");
  const int polls = link.polls.load();
  ASSERT_TRUE(Control(control::kInterrogate).ok);
  ASSERT_TRUE(Control(200).ok);
  ASSERT_TRUE(WaitUntil([&] { return !Reports().empty(); }));
  EXPECT_EQ(Reports()[0], Status(state::kPaused, 7, 0));
  world.Desktop().AdvanceTime(10000);
  const std::uint64_t passes = ServicePasses(world);
  LetTimePass();
  EXPECT_EQ(ServicePasses(world), passes) << "still frozen";
  EXPECT_EQ(link.polls.load(), polls) << "still frozen";
  EXPECT_EQ(State(), state::kPaused);
  ASSERT_TRUE(Control(control::kContinue).ok);
  EXPECT_TRUE(WaitForState(state::kRunning));
}

// A scanner that stops answering, once armed, from one kind of request on
// (Any: every request): the request is held until its time-out, as the
// served device waits for a reply (2 s and the port driver's margin for a
// pass-through request, 10 s for the storage query), unless the thread's
// request is cancelled. Everything else goes to the simulator.
class HangingScanner final : public hostworld::Device {
 public:
  explicit HangingScanner(sim::RequestKind from) : from_(from) {}

  pf::IoControlResult IoControl(std::uint32_t controlCode, std::span<const std::byte> input,
                                std::span<std::byte> output) override {
    const sim::RequestKind kind = KindOf(controlCode, input);
    if (armed && (hanging || from_ == sim::RequestKind::Any || kind == from_)) {
      hanging = true;
      const std::chrono::milliseconds timeout(hostworld::device_socket::ReplyTimeoutMs(controlCode, input));
      if (hostworld::SynchronousIo::Request* request = hostworld::SynchronousIo::Current()) {
        if (request->WaitForCancel(timeout)) ++cancelled;
      } else {
        std::this_thread::sleep_for(timeout);
      }
      return {false, 0, pf::error::kSemTimeout};
    }
    return simulator.IoControl(controlCode, input, output);
  }

  sim::ScannerSimulator simulator;
  std::atomic<bool> armed{false};
  std::atomic<bool> hanging{false};
  std::atomic<int> cancelled{0};  // held requests that were cancelled rather than waited out

 private:
  static sim::RequestKind KindOf(std::uint32_t controlCode, std::span<const std::byte> input) {
    constexpr std::size_t kCdbAt = 28;
    if (controlCode == pf::kIoctlStorageQueryProperty) return sim::RequestKind::StorageQuery;
    if (controlCode != pf::kIoctlScsiPassThrough || input.size() <= kCdbAt) return sim::RequestKind::Other;
    switch (std::to_integer<std::uint8_t>(input[kCdbAt])) {
      case 0x12: return sim::RequestKind::Inquiry;
      case 0x52: return sim::RequestKind::LengthQuery;
      case 0x53: return sim::RequestKind::ChunkRead;
      default: return sim::RequestKind::Other;
    }
  }

  const sim::RequestKind from_;
};

// A scanner that stops answering in the middle of a poll holds none of a
// stop, a pause or a shutdown beyond the wait hint, whichever request of the
// poll it stops at: the request in progress is cancelled and the poll sends
// no other.
TEST_F(ServiceRunTest, AScannerThatStopsAnsweringHoldsNoStopPauseOrShutdown) {
  struct Case {
    sim::RequestKind from;
    std::uint32_t code;
  };
  const Case cases[] = {
      {sim::RequestKind::StorageQuery, control::kStop},  {sim::RequestKind::Inquiry, control::kStop},
      {sim::RequestKind::LengthQuery, control::kStop},   {sim::RequestKind::ChunkRead, control::kStop},
      {sim::RequestKind::Any, control::kStop},           {sim::RequestKind::StorageQuery, control::kPause},
      {sim::RequestKind::ChunkRead, control::kPause},    {sim::RequestKind::StorageQuery, control::kShutdown},
  };
  scanner::DrivePoll poll;
  link.inner = &poll;
  world.AddDrive('E', pf::DriveType::Removable);
  // A picture can be pulled: someone is at the console.
  (void)world.UserSessions().LogOn("ann");
  for (const Case& c : cases) {
    const std::string row = std::string(sim::RequestKindName(c.from)) + " / control " + std::to_string(c.code);
    SCOPED_TRACE(row);
    auto scanner = std::make_shared<HangingScanner>(c.from);
    scanner->simulator.QueueGeneratedImage(200000, 7);
    scanner->simulator.SetChunkPolicy(sim::ChunkPolicy::Fixed(65536));
    world.AttachDevice('E', scanner);
    StartService();
    const int pollsBefore = link.polls.load();
    scanner->armed = true;
    world.Desktop().AdvanceTime(2000);  // the next poll
    ASSERT_TRUE(WaitUntil([&] { return scanner->hanging.load(); })) << "the poll never reached the request";
    world.Services().ClearStatusReports("Service1");

    const auto asked = std::chrono::steady_clock::now();
    if (c.code == control::kShutdown) {
      ASSERT_EQ(world.Services().SystemShutdown(), 1);
    } else {
      ASSERT_TRUE(Control(c.code).ok);
    }
    const std::uint32_t answered = c.code == control::kPause ? state::kPaused : state::kStopped;
    ASSERT_TRUE(WaitForState(answered, 20s));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
    std::printf("scanner stops answering at %s: control %u answered in %lld ms\n", sim::RequestKindName(c.from),
                c.code, static_cast<long long>(took.count()));
    EXPECT_LT(took, 5000ms);
    EXPECT_GE(scanner->cancelled.load(), 1) << "the request in progress is cancelled, not waited out";
    const std::uint32_t pending = c.code == control::kPause ? state::kPausePending : state::kStopPending;
    EXPECT_EQ(ReportedStates(), (std::vector<std::uint32_t>{pending, answered}));
    EXPECT_GE(link.polls.load(), pollsBefore + 1);

    scanner->armed = false;
    if (c.code == control::kPause) {
      ASSERT_TRUE(Control(control::kContinue).ok);
      ASSERT_TRUE(WaitForState(state::kRunning));
      StopService();
    }
    ASSERT_TRUE(ServiceProcess().WaitFinished());
    world.DetachDevice('E');
  }
}

TEST_F(ServiceRunTest, StopWhilePausedStopsNormally) {
  StartService();
  ASSERT_TRUE(Control(control::kPause).ok);
  ASSERT_TRUE(WaitForState(state::kPaused));
  world.Services().ClearStatusReports("Service1");
  StopService();
  EXPECT_EQ(ReportedStates(), (std::vector<std::uint32_t>{state::kStopPending, state::kStopped}));
  EXPECT_EQ(MainWindow(), nullptr);
  EXPECT_TRUE(EventLog().empty());
}

// A continue that arrives before the pause has been acted on must not leave
// the service suspended with the continue waiting behind it.
TEST_F(ServiceRunTest, PauseAndContinueBackToBackEndRunning) {
  StartService();
  for (int round = 0; round < 5; ++round) {
    ASSERT_TRUE(Control(control::kPause).ok);
    ASSERT_TRUE(Control(control::kContinue).ok);
    ASSERT_TRUE(WaitUntil([&] {
      const std::vector<std::uint32_t> states = ReportedStates();
      return !states.empty() && states.back() == state::kRunning && State() == state::kRunning;
    })) << "round " << round;
  }
  ASSERT_TRUE(PassesRan(world));
  EXPECT_EQ(State(), state::kRunning);
  StopService();
}

TEST_F(ServiceRunTest, MarkerShowsTheHiddenWindowAndIsRemoved) {
  StartService();
  ASSERT_FALSE(MainWindowVisible());
  WriteMarker();
  EXPECT_TRUE(WaitUntil([&] { return MainWindowVisible(); }));
  EXPECT_TRUE(WaitUntil([&] { return !MarkerExists(); }));
  EXPECT_EQ(pf::GetForegroundWindow(), MainWindow()) << "brought to the front";
  // Hidden again by the user, the next marker shows it again.
  ASSERT_TRUE(world.Desktop().ClickTrayIcon(pf::TrayIcon::kIconId, hostworld::MouseButton::Left));
  EXPECT_TRUE(MainWindowVisible());
}

// The service's window takes the keyboard in its own loop: Tab moves the
// focus, Esc hides the page.
TEST_F(ServiceRunTest, TheShownWindowTakesTabAndEscInTheServicesLoop) {
  StartService();
  WriteMarker();
  ASSERT_TRUE(WaitUntil([&] { return MainWindowVisible(); }));
  hostworld::Desktop& desktop = world.Desktop();
  const auto focused = [&] { return desktop.ControlName(desktop.Focus()); };
  ASSERT_TRUE(WaitUntil([&] { return focused() == "SaveComboBx"; }));
  ASSERT_TRUE(desktop.PressKey(pf::keys::kVkTab));
  EXPECT_TRUE(WaitUntil([&] { return focused() == "PathEdit"; })) << focused();
  ASSERT_TRUE(desktop.PressKey(pf::keys::kVkTab, true));
  EXPECT_TRUE(WaitUntil([&] { return focused() == "SaveComboBx"; })) << focused();
  ASSERT_TRUE(desktop.PressKey(pf::keys::kVkEscape));
  EXPECT_TRUE(WaitUntil([&] { return !MainWindowVisible(); }));
  EXPECT_NE(MainWindow(), nullptr) << "Cancel only hides";
}

// The tray menu's Exit: the item whose caption is the text table's "Exit".
void ChooseExitInTheTrayMenu(hostworld::World& world) {
  world.Desktop().SetMenuDriver([](const hostworld::MenuRecord& menu, hostworld::ModalLoop&) -> std::uint32_t {
    for (const auto& [id, text] : menu.items) {
      if (text == "Exit") return id;
    }
    return 0;
  });
  ASSERT_TRUE(world.Desktop().ClickTrayIcon(pf::TrayIcon::kIconId, hostworld::MouseButton::Right));
}

TEST_F(ServiceRunTest, MarkerAfterExitCreatesAWindowThatStaysHidden) {
  StartService();
  ChooseExitInTheTrayMenu(world);
  ASSERT_TRUE(WaitUntil([&] { return MainWindow() == nullptr; })) << "Exit destroys the window";
  EXPECT_EQ(TrayIconCount(), 0u);
  EXPECT_EQ(State(), state::kRunning) << "the service runs on";
  const int scans = link.scans.load();
  WriteMarker();
  ASSERT_TRUE(WaitUntil([&] { return MainWindow() != nullptr && !MarkerExists(); }));
  ASSERT_TRUE(PassesRan(world));
  EXPECT_FALSE(MainWindowVisible()) << "created, shown and hidden again";
  EXPECT_EQ(TrayIconCount(), 1u) << "the tray icon is back";
  EXPECT_GT(link.scans.load(), scans) << "the new window walked the drives";
  world.Desktop().AdvanceTime(2000);
  EXPECT_TRUE(WaitUntil([&] { return link.polls.load() > 0; })) << "polling resumes";
}

TEST_F(ServiceRunTest, StopAfterExitDestroysNothingTwice) {
  StartService();
  ChooseExitInTheTrayMenu(world);
  ASSERT_TRUE(WaitUntil([&] { return MainWindow() == nullptr; }));
  StopService();
  EXPECT_EQ(ServiceProcess().ExitCode(), 0);
  EXPECT_TRUE(EventLog().empty());
  EXPECT_EQ(ReportedStates().back(), state::kStopped);
}

TEST_F(ServiceRunTest, StaleMarkerIsRemovedAtStartWithoutShowing) {
  Install();
  WriteMarker();
  StartService();
  EXPECT_FALSE(MarkerExists());
  ASSERT_TRUE(PassesRan(world));
  EXPECT_FALSE(MainWindowVisible());
}

TEST_F(ServiceRunTest, DirectoryOfTheMarkersNameShowsNothing) {
  Install();
  ASSERT_TRUE(pf::DeleteFile(kMarker).ok());  // the install run's marker
  world.MakeDirectories(kMarker);
  StartService();
  ASSERT_TRUE(PassesRan(world));
  EXPECT_FALSE(MainWindowVisible());
  EXPECT_TRUE(pf::DirectoryExists(kMarker)) << "left alone";
  EXPECT_EQ(State(), state::kRunning);
}

// The executable started again, as a process of its own in the same world:
// it leaves the marker and ends with its event-log entry; the service shows
// its window.
TEST_F(ServiceRunTest, SecondStartOfTheProgramShowsTheSettingsWindow) {
  StartService();
  const std::string command = std::string("PAGEWICK_WORLD='") + world.Root().string() + "' '" + PAGEWICK_PROGRAM + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(WaitUntil([&] { return MainWindowVisible(); }));
  EXPECT_TRUE(WaitUntil([&] { return !MarkerExists(); }));
  const std::vector<hostworld::EventLogEntry> entries = EventLog();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].source, "pagewick") << "the host build's executable";
  EXPECT_EQ(entries[0].strings,
            std::vector<std::string>{"The service process could not connect to the service controller."});
  EXPECT_EQ(State(), state::kRunning);
}

TEST_F(ServiceRunTest, StartWhilePausedIsHandledAfterContinue) {
  StartService();
  ASSERT_TRUE(Control(control::kPause).ok);
  ASSERT_TRUE(WaitForState(state::kPaused));
  WriteMarker();
  const std::uint64_t passes = ServicePasses(world);
  LetTimePass();
  EXPECT_EQ(ServicePasses(world), passes) << "frozen";
  EXPECT_TRUE(MarkerExists());
  EXPECT_FALSE(MainWindowVisible());
  ASSERT_TRUE(Control(control::kContinue).ok);
  EXPECT_TRUE(WaitUntil([&] { return MainWindowVisible() && !MarkerExists(); }));
}

// On Windows 2000 ServiceCreate's window posts a quit message to the main
// thread: its loop ends at once, the service runs on unaffected, and the
// process ends only after the service has stopped.
TEST_F(ServiceRunTest, QuitMessageOfWindows2000EndsOnlyTheMainLoop) {
  world.SetVersion(pf::kPlatformNt, 5, 0, 2195);
  StartService();
  ASSERT_TRUE(PassesRan(world));
  EXPECT_FALSE(ServiceProcess().Finished()) << "the process waits for its service";
  WriteMarker();
  EXPECT_TRUE(WaitUntil([&] { return MainWindowVisible(); })) << "the service runs unaffected";
  StopService();
  EXPECT_TRUE(EventLog().empty()) << "the dispatcher had not failed";
}

// A stop request that arrives while a modal loop runs on the service thread
// (here the tray menu) is kept, not lost, and acted on once the loop is over,
// not inside it.
TEST_F(ServiceRunTest, StopDuringAModalLoopIsKeptForAfterIt) {
  StartService();
  std::uint32_t stateInsideTheMenu = 0;
  bool stopSent = false;
  world.Desktop().SetMenuDriver([&](const hostworld::MenuRecord&, hostworld::ModalLoop& loop) -> std::uint32_t {
    stopSent = Control(control::kStop).ok;
    loop.Pump();
    std::this_thread::sleep_for(50ms);
    loop.Pump();
    stateInsideTheMenu = State();
    return 0;  // dismissed
  });
  ASSERT_TRUE(world.Desktop().ClickTrayIcon(pf::TrayIcon::kIconId, hostworld::MouseButton::Right));
  ASSERT_TRUE(WaitForState(state::kStopped));
  ASSERT_TRUE(ServiceProcess().WaitFinished());
  EXPECT_TRUE(stopSent);
  EXPECT_EQ(stateInsideTheMenu, state::kRunning) << "not acted on inside the menu's loop";
  EXPECT_EQ(world.Desktop().LostThreadMessages(), 0u);
  EXPECT_EQ(world.Desktop().Menus().size(), 1u);
}

// A failure that escapes a window handler goes to the application's event
// log; the service goes on.
TEST_F(ServiceRunTest, WindowHandlerFailureIsWrittenToTheApplicationLog) {
  world.WriteFile(kSettingsPath, "[Setting]\r\nMode=1\r\n");
  ASSERT_TRUE(pf::SetFileAttributes(kSettingsPath, pf::attribute::kReadOnly).ok());
  StartService();  // showing the window applies the settings, which cannot be written
  const std::vector<hostworld::EventLogEntry> entries = EventLog();
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries[0].source, "pagewick.exe");
  EXPECT_EQ(entries[0].type, pf::event_type::kError);
  EXPECT_EQ(entries[0].strings, std::vector<std::string>{std::string("Unable to write to ") + kSettingsPath});
  EXPECT_EQ(State(), state::kRunning);
  EXPECT_NE(MainWindow(), nullptr);
}

// A status report the control manager refuses is written to the service's
// log with the system's message; the service goes on.
TEST_F(ServiceRunTest, RefusedStatusReportIsLoggedAndTheServiceGoesOn) {
  Install();
  world.Services().SetStatusReportFailure(pf::error::kAccessDenied);
  service1 = OpenService1();
  ASSERT_TRUE(pf::StartService(service1, {}).ok());
  ASSERT_TRUE(WaitUntil([&] { return EventLog().size() >= 3; })) << "three refused reports up to RUNNING";
  for (const hostworld::EventLogEntry& entry : EventLog()) {
    EXPECT_EQ(entry.source, "Service1");
    EXPECT_EQ(entry.strings, std::vector<std::string>{"Access is denied."});
  }
  WriteMarker();
  EXPECT_TRUE(WaitUntil([&] { return MainWindowVisible(); })) << "the service runs";
  world.Services().SetStatusReportFailure(std::nullopt);
  ASSERT_TRUE(world.Services().SendControl("Service1", control::kInterrogate).ok);
  ASSERT_TRUE(WaitForState(state::kRunning));
  StopService();
}

// Uninstalling sends no stop: the service runs on, and its registration goes
// once it has stopped.
TEST_F(ServiceRunTest, UninstallWhileRunningRemovesTheRegistrationAtStop) {
  StartService();
  EXPECT_EQ(RunProgram({"/uninstall", "/silent"}), 0);
  ASSERT_TRUE(PassesRan(world));
  EXPECT_EQ(State(), state::kRunning);
  EXPECT_TRUE(world.Services().Find("Service1").has_value());
  ASSERT_TRUE(Control(control::kStop).ok);
  ASSERT_TRUE(ServiceProcess().WaitFinished());
  EXPECT_TRUE(WaitUntil([&] { return !world.Services().Find("Service1").has_value(); }));
}

}  // namespace
}  // namespace pw::service::test
