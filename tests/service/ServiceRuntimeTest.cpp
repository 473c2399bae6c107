// The service runtime with handlers that fail or refuse: status restoration,
// the event-log texts, and the start and execute paths.
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "platform/Messages.h"
#include "platform/Windows.h"
#include "platform/Dialogs.h"
#include "service/ServiceRuntime.h"
#include "tests/service/ServiceFixture.h"
#include "tests/support/host/ThreadSwitches.h"

namespace pw::service::test {
namespace {

namespace state = pf::service_state;
namespace control = pf::service_control;

// A service "Probe" of this process: the control manager launches it by
// running a dispatcher on a thread, as the process's entry would.
class ServiceRuntimeTest : public ::testing::Test {
 protected:
  ServiceRuntimeTest() {
    dispatched.IgnoreFailure();  // a placeholder: only the dispatcher's own answer counts
    probe.Name = "Probe";
    probe.DisplayName = "Probe service";
    probe.Interactive = true;
    world.Services().SetStartTimeout(kDeadline);
    world.Services().SetLauncher([this](const hostworld::LaunchRequest& request) {
      world.Services().AdoptLaunch(request.launchId);
      dispatcher = std::thread([this] {
        dispatcherThread = ::gettid();
        dispatched = pf::StartServiceCtrlDispatcher(
            {{probe.Name, [this](const std::vector<std::string>& arguments) { probe.Main(arguments); }}});
        dispatcherDone = true;
      });
      return pid_t{0};
    });
    const pf::Result<pf::ServiceHandle> manager = pf::OpenSCManager(std::nullopt, std::nullopt, pf::manager_access::kAllAccess);
    pf::ServiceDefinition definition;
    definition.name = probe.Name;
    definition.access = pf::service_access::kAllAccess;
    definition.type = probe.NTServiceType();
    definition.startType = pf::start_type::kDemand;
    definition.errorControl = pf::error_control::kNormal;
    definition.binaryPath = "C:\\probe.exe";
    handle = pf::CreateService(manager.value(), definition).value_or(pf::ServiceHandle());
  }

  ~ServiceRuntimeTest() override {
    if (dispatcher.joinable()) {
      if (!WaitUntil([this] { return dispatcherDone.load(); })) {
        (void)world.Services().SendControl(probe.Name, control::kShutdown);
        if (!WaitUntil([this] { return dispatcherDone.load(); })) std::abort();
      }
      dispatcher.join();
    }
  }

  void Start(const std::vector<std::string>& arguments = {}) {
    ASSERT_TRUE(handle.valid());
    const pf::Result<void> started = pf::StartService(handle, arguments);
    ASSERT_TRUE(started.ok()) << "error " << started.error();
  }

  std::uint32_t State() { return pf::QueryServiceStatus(handle).status.currentState; }
  bool WaitForState(std::uint32_t wanted) {
    return WaitUntil([&] { return State() == wanted; });
  }
  std::vector<std::uint32_t> ReportedStates() {
    std::vector<std::uint32_t> states;
    for (const pf::ServiceStatus& status : world.Services().StatusReports(probe.Name)) {
      states.push_back(status.currentState);
    }
    return states;
  }
  std::vector<std::string> LogTexts() {
    std::vector<std::string> texts;
    for (const hostworld::EventLogEntry& entry : hostworld::EventLogEntries(world)) {
      EXPECT_EQ(entry.source, "Probe");
      EXPECT_EQ(entry.type, pf::event_type::kError);
      EXPECT_EQ(entry.strings.size(), 1u);
      if (!entry.strings.empty()) texts.push_back(entry.strings[0]);
    }
    return texts;
  }
  bool DispatcherReturned() {
    return WaitUntil([this] { return dispatcherDone.load(); });
  }

  hostworld::World world;
  TService probe;
  pf::ServiceHandle handle;
  std::thread dispatcher;
  std::atomic<bool> dispatcherDone{false};
  std::atomic<pid_t> dispatcherThread{0};
  pf::Result<void> dispatched = pf::Failure(pf::error::kGenFailure);  // until the dispatcher returns
};

// The failing handler's status is put back and reported; the entry names the action.
TEST_F(ServiceRuntimeTest, FailingHandlersRestoreTheStatusAndAreLogged) {
  struct Row {
    std::uint32_t code;
    const char* entry;
    std::vector<std::uint32_t> reported;
  };
  probe.OnStop = [](TService&, bool&) { throw std::runtime_error("stop went wrong"); };
  probe.OnPause = [](TService&, bool&) { throw std::runtime_error("pause went wrong"); };
  Start();
  ASSERT_TRUE(WaitForState(state::kRunning));
  const Row rows[] = {
      {control::kStop, "Service failed on stop: stop went wrong", {state::kStopPending, state::kRunning}},
      {control::kPause, "Service failed on pause: pause went wrong", {state::kPausePending, state::kRunning}},
  };
  for (const Row& row : rows) {
    world.Services().ClearStatusReports(probe.Name);
    hostworld::ClearEventLog(world);
    ASSERT_TRUE(pf::ControlService(handle, row.code).ok);
    ASSERT_TRUE(WaitUntil([&] { return ReportedStates().size() == row.reported.size(); })) << row.entry;
    ASSERT_TRUE(WaitUntil([&] { return !hostworld::EventLogEntries(world).empty(); })) << row.entry;
    EXPECT_EQ(ReportedStates(), row.reported) << row.entry;
    EXPECT_EQ(LogTexts(), std::vector<std::string>{row.entry});
    EXPECT_EQ(State(), state::kRunning);
  }
  ASSERT_TRUE(world.Services().SendControl(probe.Name, control::kShutdown).ok);
  EXPECT_TRUE(DispatcherReturned());
}

TEST_F(ServiceRuntimeTest, RefusedRequestsPutTheStatusBack) {
  probe.OnStop = [](TService&, bool& stopped) { stopped = false; };
  probe.OnPause = [](TService&, bool& paused) { paused = false; };
  Start();
  ASSERT_TRUE(WaitForState(state::kRunning));
  for (std::uint32_t code : {control::kPause, control::kStop}) {
    world.Services().ClearStatusReports(probe.Name);
    ASSERT_TRUE(pf::ControlService(handle, code).ok);
    ASSERT_TRUE(WaitUntil([&] { return ReportedStates().size() == 2; })) << code;
    EXPECT_EQ(ReportedStates().back(), state::kRunning) << code;
  }
  ASSERT_TRUE(PassesRan(world));
  EXPECT_EQ(State(), state::kRunning) << "a refused stop leaves the service running";
  EXPECT_FALSE(dispatcherDone.load());
  EXPECT_TRUE(LogTexts().empty());
  ASSERT_TRUE(world.Services().SendControl(probe.Name, control::kShutdown).ok);
  EXPECT_TRUE(DispatcherReturned());
}

// A shutdown ends the service also when its handler fails; the status is not put back.
TEST_F(ServiceRuntimeTest, FailingShutdownStillStopsTheService) {
  probe.OnShutdown = [](TService&) { throw std::runtime_error("no time left"); };
  Start();
  ASSERT_TRUE(WaitForState(state::kRunning));
  world.Services().ClearStatusReports(probe.Name);
  ASSERT_TRUE(world.Services().SendControl(probe.Name, control::kShutdown).ok);
  ASSERT_TRUE(DispatcherReturned());
  EXPECT_TRUE(dispatched.ok());
  EXPECT_EQ(ReportedStates(), (std::vector<std::uint32_t>{state::kStopPending, state::kStopped}));
  EXPECT_EQ(LogTexts(), std::vector<std::string>{"Service failed on shutdown: no time left"});
}

TEST_F(ServiceRuntimeTest, StartThatIsRefusedStopsWithoutRunning) {
  probe.OnStart = [](TService&, bool& started) { started = false; };
  bool executed = false;
  probe.OnExecute = [&](TService&) { executed = true; };
  Start();
  ASSERT_TRUE(DispatcherReturned());
  EXPECT_EQ(ReportedStates(), (std::vector<std::uint32_t>{state::kStartPending, state::kStartPending, state::kStopped}));
  EXPECT_FALSE(executed);
  EXPECT_TRUE(LogTexts().empty());
}

TEST_F(ServiceRuntimeTest, FailureInStartEndsTheServiceWithItsEntry) {
  probe.OnStart = [](TService&, bool&) { throw std::runtime_error("no window"); };
  Start();
  ASSERT_TRUE(DispatcherReturned());
  EXPECT_EQ(ReportedStates(), (std::vector<std::uint32_t>{state::kStartPending, state::kStartPending, state::kStopped}));
  EXPECT_EQ(LogTexts(), std::vector<std::string>{"Service failed on start: no window"});
}

TEST_F(ServiceRuntimeTest, FailureInExecuteEndsTheServiceWithItsEntry) {
  probe.OnExecute = [](TService&) { throw std::runtime_error("loop broke"); };
  Start();
  ASSERT_TRUE(DispatcherReturned());
  EXPECT_EQ(ReportedStates(), (std::vector<std::uint32_t>{state::kStartPending, state::kStartPending,
                                                          state::kRunning, state::kStopped}));
  EXPECT_EQ(LogTexts(), std::vector<std::string>{"Service failed on execute: loop broke"});
}

// A pause queued right behind a stop (both taken in the same pass) must not
// freeze the thread the stop has marked terminated: the stop always finishes.
// The codes go straight to the control handler, as the dispatcher passes them.
TEST_F(ServiceRuntimeTest, PauseQueuedBehindAStopCannotHoldTheServiceUp) {
  struct Row {
    const char* what;
    std::vector<std::uint32_t> codes;
  };
  const Row rows[] = {
      {"stop, pause", {control::kStop, control::kPause}},
      {"stop, pause, continue", {control::kStop, control::kPause, control::kContinue}},
      {"shutdown, pause", {control::kShutdown, control::kPause}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::atomic<bool> queued{false};
    // The execute loop waits until every code has been posted, so that one
    // pass takes them all.
    probe.OnExecute = [&](TService& sender) {
      while (!queued.load()) std::this_thread::sleep_for(1ms);
      while (!sender.ServiceThread()->Terminated()) {
        sender.ProcessRequests();
        pf::Sleep(5);
      }
    };
    dispatcherDone = false;
    Start();
    ASSERT_TRUE(WaitForState(state::kRunning));
    world.Services().ClearStatusReports(probe.Name);
    for (std::uint32_t code : row.codes) probe.Controller(code);
    queued = true;
    ASSERT_TRUE(DispatcherReturned()) << "the service never stopped";
    dispatcher.join();
    EXPECT_EQ(ReportedStates(), (std::vector<std::uint32_t>{state::kStopPending, state::kStopped}));
    EXPECT_EQ(State(), state::kStopped);
  }
}

// A box that nobody answers, opened by a window handler, must not hold a stop
// up: the stop waits for the box's loop, the handler's hook closes the box,
// and the service stops.
TEST_F(ServiceRuntimeTest, AStopInsideABoxNobodyAnswersClosesItAndStops) {
  struct Quiet final : pf::WindowHandler {
    std::optional<std::intptr_t> HandleMessage(pf::WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) override {
      return std::nullopt;
    }
  } quiet;
  std::atomic<bool> boxOpen{false};
  std::atomic<int> answer{-1};
  pf::WindowHandle owner = nullptr;
  // A user who never answers: the box's loop runs until something ends it.
  world.Desktop().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord&, hostworld::ModalLoop& loop) {
    boxOpen = true;
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (loop.Pump() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(2ms);
    return pf::dialog_result::kNone;
  });
  probe.OnStopWaitsInModalLoop = [&] { pf::CloseOwnedDialogs(owner); };
  probe.OnExecute = [&](TService& sender) {
    ASSERT_TRUE(pf::RegisterWindowClass("ProbeOwner").ok());
    const auto window =
        pf::Window::Create({"ProbeOwner", "Probe owner", pf::style::kOverlapped, 0, {0, 0, 100, 100}}, quiet).value();
    owner = window->handle();
    answer = pf::MessageBoxEx(owner, "nobody reads this", "Probe", pf::mb::kOk, 0);
    while (!sender.ServiceThread()->Terminated()) {
      sender.ProcessRequests();
      pf::Sleep(5);
    }
  };
  Start();
  ASSERT_TRUE(WaitForState(state::kRunning));
  ASSERT_TRUE(WaitUntil([&] { return boxOpen.load(); }));
  ASSERT_TRUE((world.Services().SendControl(probe.Name, control::kStop)).ok);
  ASSERT_TRUE(DispatcherReturned()) << "the box held the stop up";
  EXPECT_EQ(answer.load(), pf::dialog_result::kOk) << "closed as by its close box";
  EXPECT_EQ(State(), state::kStopped);
}

using pw::test::ThreadSwitches;

// The dispatcher sleeps until a control request or the service's end: an
// idle service does not wake it, and a stop still ends it at once.
TEST_F(ServiceRuntimeTest, IdleDispatcherSleepsUntilARequestComes) {
  Start();
  ASSERT_TRUE(WaitForState(state::kRunning));
  ASSERT_NE(dispatcherThread.load(), 0);
  const std::uint64_t before = ThreadSwitches(dispatcherThread);
  pf::Sleep(500);
  const std::uint64_t idleWakeUps = ThreadSwitches(dispatcherThread) - before;
  EXPECT_LT(idleWakeUps, 5u) << "woke " << idleWakeUps << " times in 500 ms with nothing to do";
  ASSERT_TRUE(pf::ControlService(handle, control::kStop).ok);
  EXPECT_TRUE(DispatcherReturned());
}

// Without an execute handler the thread serves requests until it is stopped.
TEST_F(ServiceRuntimeTest, StartArgumentsFollowTheNameAndTheDefaultLoopServesRequests) {
  Start({"-fast", "x"});
  ASSERT_TRUE(WaitForState(state::kRunning));
  EXPECT_EQ(probe.Params(), (std::vector<std::string>{"Probe", "-fast", "x"}));
  ASSERT_TRUE(pf::ControlService(handle, control::kStop).ok);
  ASSERT_TRUE(DispatcherReturned());
  EXPECT_EQ(State(), state::kStopped);
}

// The handler registers only for a service the control manager started in
// this process: without a start the main entry logs the refusal and returns.
TEST(ServiceMainTest, RefusedHandlerRegistrationIsLoggedAndNothingStarts) {
  hostworld::World world;
  TService probe;
  probe.Name = "Probe";
  bool started = false;
  probe.OnStart = [&](TService&, bool&) { started = true; };
  probe.Main({"Probe"});
  EXPECT_FALSE(started);
  const std::vector<hostworld::EventLogEntry> entries = hostworld::EventLogEntries(world);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].source, "Probe");
  EXPECT_EQ(entries[0].strings,
            std::vector<std::string>{"The specified service does not exist as an installed service."});
  EXPECT_EQ(probe.Status(), ServiceState::Stopped);
}

// Pause and continue, many times over: each continue finds the thread either
// suspended or still on its way there, and each time the thread runs again.
// Every request is acted on once, in order, and the loop is frozen while paused.
TEST_F(ServiceRuntimeTest, PauseAndContinueCycleManyTimes) {
  struct Row {
    const char* what;
    std::vector<std::uint32_t> cycle;
    bool waitForEachState;  // otherwise only the cycle's end (RUNNING) is awaited
    std::vector<std::uint32_t> reportedPerCycle;
  };
  const std::vector<std::uint32_t> pauseContinue{state::kPausePending, state::kPaused, state::kContinuePending,
                                                 state::kRunning};
  const Row rows[] = {
      {"pause, continue, each awaited", {control::kPause, control::kContinue}, true, pauseContinue},
      {"pause, continue, back to back", {control::kPause, control::kContinue}, false, pauseContinue},
      // The interrogate is answered (PAUSED again) and the thread freezes anew.
      {"pause, interrogate, continue",
       {control::kPause, control::kInterrogate, control::kContinue},
       true,
       {state::kPausePending, state::kPaused, state::kPaused, state::kContinuePending, state::kRunning}},
  };
  constexpr int kCycles = 100;
  std::atomic<int> passes{0};
  probe.OnExecute = [&](TService& sender) {
    while (!sender.ServiceThread()->Terminated()) {
      ++passes;
      sender.ProcessRequests();
      pf::Sleep(1);
    }
  };
  Start();
  ASSERT_TRUE(WaitForState(state::kRunning));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    world.Services().ClearStatusReports(probe.Name);
    std::vector<std::uint32_t> expected;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
      for (std::uint32_t code : row.cycle) {
        ASSERT_TRUE(pf::ControlService(handle, code).ok) << "cycle " << cycle;
        if (!row.waitForEachState) continue;
        const std::uint32_t settled = code == control::kContinue ? state::kRunning : state::kPaused;
        ASSERT_TRUE(WaitForState(settled)) << "cycle " << cycle << ", code " << code;
        if (code == control::kPause || code == control::kInterrogate) {
          // Frozen: the loop makes no pass while paused.
          const int frozenAt = passes.load();
          pf::Sleep(2);
          ASSERT_EQ(passes.load(), frozenAt) << "cycle " << cycle;
        }
      }
      if (!row.waitForEachState) {
        ASSERT_TRUE(WaitForState(state::kRunning)) << "cycle " << cycle;
      }
      expected.insert(expected.end(), row.reportedPerCycle.begin(), row.reportedPerCycle.end());
    }
    ASSERT_TRUE(WaitUntil([&] { return ReportedStates().size() >= expected.size(); }));
    EXPECT_EQ(ReportedStates(), expected);
    const int before = passes.load();
    EXPECT_TRUE(WaitUntil([&] { return passes.load() > before; })) << "the loop runs again";
  }
  ASSERT_TRUE(pf::ControlService(handle, control::kStop).ok);
  ASSERT_TRUE(DispatcherReturned());
  EXPECT_EQ(State(), state::kStopped);
}

// The service thread's side answers only to the service thread: where thread
// checks are on, a call from another thread ends the process, naming it.
TEST_F(ServiceRuntimeTest, ServiceThreadSideRefusesOtherThreads) {
  if (!pf::kThreadChecksEnabled) GTEST_SKIP() << "thread checks are off in this build";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        Start();
        if (WaitForState(state::kRunning)) probe.ProcessRequests();
      },
      "the service thread's side of TService used on a thread that does not own it");
}

}  // namespace
}  // namespace pw::service::test
