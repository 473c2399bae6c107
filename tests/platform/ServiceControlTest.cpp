// The service control manager, the event log, thread suspension and the
// system's message texts, in both builds: what the service host relies on.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/ErrorText.h"
#include "platform/EventLog.h"
#include "platform/Messages.h"
#include "platform/ServiceControl.h"
#include "platform/Threads.h"
#include "platform/Windows.h"
#include "tests/support/TestEnvironment.h"

#if PAGEWICK_HOST
#include "platform/hostworld/EventLogStore.h"
#include "platform/hostworld/World.h"
#endif

namespace pw::platform {
namespace {

// A name no other test run uses, so that runs under one Wine prefix never meet.
std::string UniqueServiceName(const char* stem) {
  static std::atomic<unsigned> counter{0};
  return std::string(stem) + std::to_string(GetCurrentThreadId()) + "x" +
         std::to_string(GetTickCount()) + "x" + std::to_string(++counter);
}

class ServiceControlTest : public ::testing::Test {
 protected:
  ServiceControlTest() {
    manager_ = OpenSCManager(std::nullopt, std::nullopt, manager_access::kAllAccess).value_or(ServiceHandle());
  }

  ~ServiceControlTest() override {
    // Whatever a test created goes again, also when it failed half way.
    for (const std::string& name : created_) {
      const Result<ServiceHandle> service = OpenService(manager_, name, service_access::kAllAccess);
      if (service) DeleteService(*service).IgnoreFailure();
    }
  }

  ServiceDefinition Definition(const std::string& name) const {
    ServiceDefinition definition;
    definition.name = name;
    definition.displayName = name + " display";
    definition.access = service_access::kAllAccess;
    definition.type = service_type::kOwnProcess | service_type::kInteractiveProcess;
    definition.startType = start_type::kDemand;
    definition.errorControl = error_control::kNormal;
    definition.binaryPath = "C:\\PagewickContract\\missing-program.exe";
    definition.loadOrderGroup = "";
    definition.dependencies = std::vector<std::string>{};
    definition.password = "";
    return definition;
  }

  Result<ServiceHandle> Create(const ServiceDefinition& definition) {
    created_.push_back(definition.name);
    return CreateService(manager_, definition);
  }

#if PAGEWICK_HOST
  hostworld::World world_;
#endif
  ServiceHandle manager_;
  std::vector<std::string> created_;
};

TEST_F(ServiceControlTest, ManagerOpensForAllAccess) { ASSERT_TRUE(manager_.valid()); }

TEST_F(ServiceControlTest, RegistrationKeepsEveryValueSent) {
  ASSERT_TRUE(manager_.valid());
  const ServiceDefinition definition = Definition(UniqueServiceName("PwReg"));
  Result<ServiceHandle> created = Create(definition);
  ASSERT_TRUE(created) << "error " << created.error();
  const Result<ServiceConfig> queried = QueryServiceConfig(*created);
  ASSERT_TRUE(queried.ok()) << "error " << queried.error();
  EXPECT_EQ(queried->type, 0x110u);
  EXPECT_EQ(queried->startType, start_type::kDemand);
  EXPECT_EQ(queried->errorControl, error_control::kNormal);
  EXPECT_EQ(queried->binaryPath, definition.binaryPath);
  EXPECT_EQ(queried->loadOrderGroup, "");
  EXPECT_EQ(queried->tagId, 0u);
  EXPECT_TRUE(queried->dependencies.empty());
  EXPECT_EQ(queried->serviceStartName, "LocalSystem") << "no account name means LocalSystem";
  EXPECT_EQ(queried->displayName, *definition.displayName);

  // A description is none at first; set, it reads back; empty removes it.
  // Without the change-config right it cannot be set.
  Result<std::string> description = QueryServiceDescription(*created);
  ASSERT_TRUE(description.ok()) << "error " << description.error();
  EXPECT_EQ(*description, "");
  ASSERT_TRUE(ChangeServiceDescription(*created, "Pulls pictures; 100% of them.").ok());
  description = QueryServiceDescription(*created);
  ASSERT_TRUE(description.ok()) << "error " << description.error();
  EXPECT_EQ(*description, "Pulls pictures; 100% of them.");
  const Result<ServiceHandle> queryOnly = OpenService(manager_, definition.name, service_access::kQueryConfig);
  ASSERT_TRUE(queryOnly.ok());
  const Result<void> refused = ChangeServiceDescription(*queryOnly, "other");
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error(), error::kAccessDenied);
  EXPECT_EQ(QueryServiceDescription(*queryOnly).value_or("?"), "Pulls pictures; 100% of them.");
  ASSERT_TRUE(ChangeServiceDescription(*created, "").ok());
  EXPECT_EQ(QueryServiceDescription(*created).value_or("?"), "");

  const ServiceStatusResult status = QueryServiceStatus(*created);
  ASSERT_TRUE(status.ok);
  EXPECT_EQ(status.status.currentState, service_state::kStopped) << "creating a service does not start it";
}

TEST_F(ServiceControlTest, SecondCreateOfTheSameNameFailsWith1073) {
  ASSERT_TRUE(manager_.valid());
  const ServiceDefinition definition = Definition(UniqueServiceName("PwTwice"));
  ASSERT_TRUE(Create(definition).ok());
  ServiceDefinition again = definition;
  again.displayName = *definition.displayName + " again";
  const Result<ServiceHandle> second = CreateService(manager_, again);
  EXPECT_FALSE(second);
  EXPECT_EQ(second.error(), error::kServiceExists);
}

TEST_F(ServiceControlTest, OpeningAMissingServiceFailsWith1060) {
  ASSERT_TRUE(manager_.valid());
  const Result<ServiceHandle> opened = OpenService(manager_, UniqueServiceName("PwMissing"), service_access::kAllAccess);
  EXPECT_FALSE(opened.ok());
  EXPECT_EQ(opened.error(), error::kServiceDoesNotExist);
}

TEST_F(ServiceControlTest, DeletedServiceIsGoneForNewOpens) {
  ASSERT_TRUE(manager_.valid());
  const ServiceDefinition definition = Definition(UniqueServiceName("PwDelete"));
  Result<ServiceHandle> created = Create(definition);
  ASSERT_TRUE(created);
  ASSERT_TRUE(DeleteService(*created).ok());
  const Result<void> again = DeleteService(*created);
  EXPECT_FALSE(again.ok());
  EXPECT_EQ(again.error(), error::kServiceMarkedForDelete);
  created->reset();
  const Result<ServiceHandle> reopened = OpenService(manager_, definition.name, service_access::kAllAccess);
  EXPECT_FALSE(reopened.ok());
  EXPECT_EQ(reopened.error(), error::kServiceDoesNotExist);
}

TEST_F(ServiceControlTest, StoppedServiceTakesNoControls) {
  ASSERT_TRUE(manager_.valid());
  Result<ServiceHandle> created = Create(Definition(UniqueServiceName("PwIdle")));
  ASSERT_TRUE(created);
  const ServiceStatusResult stopped = ControlService(*created, service_control::kStop);
  EXPECT_FALSE(stopped.ok);
  EXPECT_EQ(stopped.error, error::kServiceNotActive);
}

TEST_F(ServiceControlTest, StartingAServiceWhoseProgramIsMissingFailsWith2) {
  ASSERT_TRUE(manager_.valid());
  Result<ServiceHandle> created = Create(Definition(UniqueServiceName("PwNoProgram")));
  ASSERT_TRUE(created);
  const Result<void> started = StartService(*created, {});
  EXPECT_FALSE(started.ok());
  EXPECT_EQ(started.error(), error::kFileNotFound);
  EXPECT_EQ(QueryServiceStatus(*created).status.currentState, service_state::kStopped);
}

TEST_F(ServiceControlTest, DispatcherFailsWith1063OutsideAServiceProcess) {
  bool mainCalled = false;
  const std::vector<ServiceTableEntry> table{{"PwNotAService", [&](const std::vector<std::string>&) {
                                               mainCalled = true;
                                             }}};
  const Result<void> dispatched = StartServiceCtrlDispatcher(table);
  EXPECT_FALSE(dispatched.ok());
  EXPECT_EQ(dispatched.error(), error::kFailedServiceControllerConnect);
  EXPECT_FALSE(mainCalled);
}

TEST_F(ServiceControlTest, ControlHandlerRegistersOnlyForAServiceOfTheProcess) {
  const Result<ServiceStatusHandle> registered = RegisterServiceCtrlHandler("PwNotAService", [](std::uint32_t) {});
  EXPECT_FALSE(registered.ok());
  EXPECT_NE(registered.error(), error::kSuccess);
}

TEST(EventLogTest, ErrorEntryWithOneStringIsReported) {
#if PAGEWICK_HOST
  hostworld::World world;
#endif
  Result<EventSourceHandle> source = RegisterEventSource(std::nullopt, "PagewickContract");
  ASSERT_TRUE(source.ok() && source->valid()) << "error " << source.error();
  const std::array<std::string, 1> strings{"Service failed on start: contract test"};
  const Result<void> reported = ReportEvent(*source, event_type::kError, 0, 0, strings);
  EXPECT_TRUE(reported.ok()) << "error " << reported.error();
#if PAGEWICK_HOST
  const std::vector<hostworld::EventLogEntry> entries = hostworld::EventLogEntries(world);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].source, "PagewickContract");
  EXPECT_EQ(entries[0].type, event_type::kError);
  EXPECT_EQ(entries[0].category, 0);
  EXPECT_EQ(entries[0].eventId, 0u);
  EXPECT_EQ(entries[0].strings, std::vector<std::string>(strings.begin(), strings.end()));
#endif
}

// The English texts Windows gives; Wine's are shorter.
TEST(SystemMessageTest, ServiceErrorsHaveTheSystemsTexts) {
  struct Row {
    ErrorCode code;
    const char* windows;
  };
  const Row rows[] = {
      {5, "Access is denied.\r\n"},
      {1060, "The specified service does not exist as an installed service.\r\n"},
      {1063, "The service process could not connect to the service controller.\r\n"},
      {1073, "The specified service already exists.\r\n"},
  };
  const bool wine = test::KnownWineDifference("system message texts are shorter than Windows' texts");
  for (const Row& row : rows) {
    const std::string text = SystemErrorMessage(row.code);
    if (wine) {
      EXPECT_FALSE(text.empty()) << "code " << row.code;
    } else {
      EXPECT_EQ(text, row.windows) << "code " << row.code;
    }
  }
  EXPECT_EQ(SystemErrorMessage(0xDEADu), "") << "a code without a text";
}

TEST(ThreadSuspendTest, ThreadSuspendsItselfUntilAnotherResumesIt) {
#if PAGEWICK_HOST
  hostworld::World world;
#endif
  std::atomic<bool> suspending{false};
  std::atomic<bool> resumed{false};
  std::atomic<std::uint32_t> previousCount{99};
  ThreadHandle handle;
  std::atomic<bool> handleReady{false};
  std::thread worker([&] {
    handle = OpenCurrentThread();
    handleReady = true;
    suspending = true;
    previousCount = SuspendThread(handle);
    resumed = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!suspending && std::chrono::steady_clock::now() < deadline) Sleep(1);
  ASSERT_TRUE(handleReady);
  // Resuming before the thread is suspended does nothing; keep trying.
  std::uint32_t previous = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    Sleep(20);
    EXPECT_FALSE(resumed) << "the thread runs only once resumed";
    previous = ResumeThread(handle);
    if (previous != 0) break;
  }
  worker.join();
  EXPECT_EQ(previous, 1u);
  EXPECT_TRUE(resumed);
  EXPECT_EQ(previousCount, 0u);
  EXPECT_EQ(ResumeThread(handle), 0u) << "a running thread has nothing to resume";
}

// A cancel reaches only a device request in progress: a thread that waits
// for something else has nothing to cancel, and the cancel is not kept.
TEST(ThreadSuspendTest, ACancelFindsNothingInAThreadOutsideADeviceRequest) {
#if PAGEWICK_HOST
  hostworld::World world;
#endif
  std::atomic<bool> handleReady{false};
  std::atomic<bool> release{false};
  ThreadHandle handle;
  std::thread worker([&] {
    handle = OpenCurrentThread();
    handleReady = true;
    while (!release) Sleep(5);
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!handleReady && std::chrono::steady_clock::now() < deadline) Sleep(1);
  ASSERT_TRUE(handleReady);
  EXPECT_FALSE(CancelSynchronousIo(handle));
  release = true;
  worker.join();
}

class QuitTest : public ::testing::Test, public WindowHandler {
 protected:
#if PAGEWICK_HOST
  hostworld::World world_;
#endif
  std::optional<std::intptr_t> HandleMessage(WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) override {
    return std::nullopt;
  }
  std::unique_ptr<Window> MakeWindow() {
    EXPECT_TRUE(RegisterWindowClass("PagewickQuitProbe").ok());
    WindowParams details;
    details.className = "PagewickQuitProbe";
    details.title = "quit probe";
    details.style = style::kPopup;
    return Window::Create(details, *this).value();
  }
};

TEST_F(QuitTest, QuitPostedToAWindowEndsGetMessage) {
  std::unique_ptr<Window> window = MakeWindow();
  ASSERT_TRUE(PostMessage(window->handle(), wm::kQuit, 0, 0).ok());
  Message message;
  EXPECT_FALSE(GetMessage(message));
  EXPECT_EQ(message.message, wm::kQuit);
}

}  // namespace
}  // namespace pw::platform
