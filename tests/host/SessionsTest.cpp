// Sessions of the host world: users logging on and off, the services told of
// it, and processes started as a session's user.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/ServiceControl.h"
#include "platform/Sessions.h"
#include "platform/hostworld/ServiceManager.h"
#include "platform/hostworld/World.h"
#include "platform/hostworld/WorldSecurity.h"
#include "platform/hostworld/WorldSessions.h"
#include "platform/Security.h"
#include "tests/support/Waiting.h"

namespace pw::hostworld {
namespace {

namespace pf = platform;
constexpr auto kDeadline = std::chrono::seconds(10);

using pw::test::WaitUntil;

TEST(WorldSessions, LogOnMakesASessionWithADesktopAndLogOffEndsIt) {
  World world;
  EXPECT_TRUE(pf::EnumerateInteractiveSessions().value().empty());
  EXPECT_EQ(pf::ActiveConsoleSessionId(), pf::kNoSession);

  const std::uint32_t ann = world.UserSessions().LogOn("ann");
  const std::uint32_t bob = world.UserSessions().LogOn("bob");
  EXPECT_EQ(ann, 1u);
  EXPECT_EQ(bob, 2u);
  EXPECT_EQ(pf::EnumerateInteractiveSessions().value(), (std::vector<std::uint32_t>{1, 2}));
  EXPECT_EQ(pf::ActiveConsoleSessionId(), ann);
  ASSERT_NE(world.UserSessions().SessionDesktop(ann), nullptr);
  EXPECT_NE(world.UserSessions().SessionDesktop(ann), world.UserSessions().SessionDesktop(bob));
  EXPECT_NE(world.UserSessions().SessionDesktop(ann), &world.Desktop());

  EXPECT_TRUE(world.UserSessions().LogOff(ann));
  EXPECT_FALSE(world.UserSessions().LogOff(ann)) << "already logged off";
  EXPECT_EQ(pf::EnumerateInteractiveSessions().value(), (std::vector<std::uint32_t>{2}));
  EXPECT_EQ(world.UserSessions().SessionDesktop(ann), nullptr);
  // A new logon never reuses a session that is still in use.
  EXPECT_EQ(world.UserSessions().LogOn("carl"), 3u);
}

// The service reads the world's session table from its own process while a
// test logs users on and off: every read must see the whole table.
TEST(WorldSessions, AnotherProcessNeverReadsAHalfWrittenTable) {
  World world;
  world.UserSessions().LogOn("ann");
  std::atomic<bool> done{false};
  std::atomic<int> reads{0};
  std::atomic<int> partial{0};
  std::thread reader([&] {
    while (!done.load()) {
      std::ifstream sessions(world.Root() / "sessions");
      std::ifstream console(world.Root() / "console-session");
      std::string table((std::istreambuf_iterator<char>(sessions)), std::istreambuf_iterator<char>());
      std::string consoleId((std::istreambuf_iterator<char>(console)), std::istreambuf_iterator<char>());
      if (table.find("1 ann\n") == std::string::npos || consoleId != "1\n") ++partial;
      ++reads;
    }
  });
  for (int i = 0; i < 100; ++i) {
    const std::uint32_t id = world.UserSessions().LogOn("user" + std::to_string(i));
    if (i % 2 == 0) world.UserSessions().LogOff(id);
  }
  done = true;
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(partial.load(), 0) << "of " << reads.load() << " reads";
}

TEST(WorldSessions, UsersMayNotWriteInDeniedFolders) {
  World world;
  world.UserSessions().DenyUserWrites("c:\\windows");
  EXPECT_FALSE(world.UserSessions().UserMayWrite("C:\\Windows"));
  EXPECT_FALSE(world.UserSessions().UserMayWrite("C:\\WINDOWS\\System32\\new"));
  EXPECT_TRUE(world.UserSessions().UserMayWrite("C:\\WindowsOld"));
  EXPECT_TRUE(world.UserSessions().UserMayWrite("C:\\Users\\Public\\Pictures"));
}

// A service of this process that accepts session changes and records its controls.
class SessionServiceTest : public ::testing::Test {
 protected:
  SessionServiceTest() {
    world_.Services().SetStartTimeout(kDeadline);
    world_.Services().SetLauncher([this](const LaunchRequest& request) {
      world_.Services().AdoptLaunch(request.launchId);
      dispatcher_ = std::thread([this] {
        (void)pf::StartServiceCtrlDispatcher({{"Watcher", [this](const std::vector<std::string>&) { Main(); }}});
      });
      return pid_t{0};
    });
    const pf::Result<pf::ServiceHandle> manager = pf::OpenSCManager(std::nullopt, std::nullopt, pf::manager_access::kAllAccess);
    pf::ServiceDefinition definition;
    definition.name = "Watcher";
    definition.access = pf::service_access::kAllAccess;
    definition.type = pf::service_type::kOwnProcess;
    definition.startType = pf::start_type::kDemand;
    definition.errorControl = pf::error_control::kNormal;
    definition.binaryPath = "C:\\watcher.exe";
    service_ = pf::CreateService(manager.value(), definition).value_or(pf::ServiceHandle());
  }
  ~SessionServiceTest() override {
    stop_ = true;
    if (dispatcher_.joinable()) dispatcher_.join();
  }

  void Main() {
    const pf::Result<pf::ServiceStatusHandle> registered =
        pf::RegisterServiceCtrlHandlerEx("Watcher", [this](const pf::ServiceControlEvent& event) {
          std::scoped_lock lock(mutex_);
          events_.push_back(event);
          // What a service does on a session change: look at the sessions again.
          if (event.control == pf::session_change::kControl) seen_.push_back(pf::EnumerateInteractiveSessions().value());
        });
    pf::ServiceStatus status;
    status.serviceType = pf::service_type::kOwnProcess;
    status.currentState = pf::service_state::kRunning;
    status.controlsAccepted = pf::session_change::kAccept;
    const pf::ServiceStatusHandle handle = registered.value_or(nullptr);
    (void)pf::SetServiceStatus(handle, status);
    WaitUntil([this] { return stop_.load(); });
    status.currentState = pf::service_state::kStopped;
    (void)pf::SetServiceStatus(handle, status);
  }

  std::vector<pf::ServiceControlEvent> Events() {
    std::scoped_lock lock(mutex_);
    return events_;
  }

  World world_;
  pf::ServiceHandle service_;
  std::thread dispatcher_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<pf::ServiceControlEvent> events_;
  std::vector<std::vector<std::uint32_t>> seen_;
};

TEST_F(SessionServiceTest, LogOnAndLogOffReachARunningServiceThatAcceptsThem) {
  ASSERT_TRUE(service_.valid());
  ASSERT_TRUE(pf::StartService(service_, {}).ok());
  ASSERT_TRUE(WaitUntil([&] {
    return pf::QueryServiceStatus(service_).status.currentState == pf::service_state::kRunning;
  }));
  const std::uint32_t session = world_.UserSessions().LogOn("ann");
  ASSERT_TRUE(world_.UserSessions().LogOff(session));
  const std::vector<pf::ServiceControlEvent> events = Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].control, pf::session_change::kControl);
  EXPECT_EQ(events[0].eventType, pf::session_change::kLogon);
  EXPECT_EQ(events[0].sessionId, session);
  EXPECT_EQ(events[1].control, pf::session_change::kControl);
  EXPECT_EQ(events[1].eventType, pf::session_change::kLogoff);
  EXPECT_EQ(events[1].sessionId, session);
  {
    std::scoped_lock lock(mutex_);
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_EQ(seen_[0], (std::vector<std::uint32_t>{session}));
    EXPECT_TRUE(seen_[1].empty());
  }
  const std::vector<SessionChangeRecord> changes = world_.UserSessions().Changes();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].eventType, pf::session_change::kLogon);
  EXPECT_EQ(changes[1].eventType, pf::session_change::kLogoff);
  EXPECT_EQ(changes[0].sessionId, session);
  EXPECT_EQ(changes[0].servicesTold, 1);
}

TEST(WorldSessions, ProcessStartsAsTheSessionsUserAndEndsAtLogoff) {
  World world;
  EXPECT_EQ(pf::StartProcessInSession(1, "Z:\\bin\\true").error(), 1008u) << "no user in session 1";
  const std::uint32_t session = world.UserSessions().LogOn("ann");
  const std::filesystem::path mark = world.Root() / "session-of-child";
  const pf::Result<std::uint32_t> reporter =
      pf::StartProcessInSession(session, "Z:\\bin\\sh -c \"echo $PAGEWICK_SESSION > '" + mark.string() + "'\"");
  ASSERT_TRUE(reporter.ok()) << reporter.error();
  ASSERT_TRUE(WaitUntil([&] {
    std::ifstream in(mark);
    std::string text;
    return std::getline(in, text) && text == std::to_string(session);
  }));

  const pf::Result<std::uint32_t> sleeper = pf::StartProcessInSession(session, "Z:\\bin\\sleep 30");
  ASSERT_TRUE(sleeper.ok()) << sleeper.error();
  EXPECT_FALSE(pf::ProcessRunsAsLocalSystem(*sleeper)) << "it runs as the session's user";
  EXPECT_FALSE(pf::ProcessRunsAsThisUser(*sleeper)) << "this test runs as LocalSystem";
  ASSERT_TRUE(world.UserSessions().LogOff(session));
  EXPECT_NE(::kill(static_cast<pid_t>(*sleeper), 0), 0) << "the session's process ended with it";
  EXPECT_EQ(pf::StartProcessInSession(session, "Z:\\bin\\true").error(), 1008u);
}

// Folders only the service and administrators may change: owned by
// Administrators and closed to the sessions' users; an entry a user made
// first is that user's, and a link is never secured in its place.
TEST(WorldSecurity, ServiceOnlyFoldersAndOwners) {
  World world;
  EXPECT_EQ(EntryOwner("C:\\Windows"), kSystemOwner) << "no owner recorded: the service's";
  EXPECT_EQ(EntryOwner("C:\\Nothing"), "");
  EXPECT_FALSE(pf::OwnedBySystemOrAdministrators("C:\\Nothing"));

  ASSERT_TRUE(pf::CreateServiceOnlyDirectory("C:\\ProgramData\\Pagewick").ok());
  EXPECT_EQ(EntryOwner("C:\\ProgramData\\Pagewick"), kAdministratorsOwner);
  EXPECT_FALSE(world.UserSessions().UserMayWrite("C:\\ProgramData\\Pagewick\\x.info"));
  EXPECT_TRUE(world.UserSessions().UserMayWrite("C:\\ProgramData\\Other"));

  world.MakeDirectories("C:\\ProgramData\\Taken");
  world.WriteFile("C:\\ProgramData\\Taken\\planted.info", "x");
  ASSERT_TRUE(SetEntryOwner("C:\\ProgramData\\Taken", "mallory"));
  ASSERT_TRUE(SetEntryOwner("C:\\ProgramData\\Taken\\planted.info", "mallory"));
  EXPECT_FALSE(pf::OwnedBySystemOrAdministrators("C:\\ProgramData\\Taken"));
  EXPECT_EQ(pf::CreateServiceOnlyDirectory("C:\\ProgramData\\Taken").error(), pf::error::kAlreadyExists)
      << "a user's folder is never adopted";
  EXPECT_EQ(EntryOwner("C:\\ProgramData\\Taken"), "mallory");
  EXPECT_TRUE(world.UserSessions().UserMayWrite("C:\\ProgramData\\Taken\\planted.info"));
  ASSERT_TRUE(pf::CreateServiceOnlyDirectory("C:\\ProgramData\\Pagewick").ok()) << "the service's own is taken again";

  // Any user may create a folder in ProgramData, and owns what they create there.
  world.UserSessions().LogOn("mallory");
  {
    pf::Result<pf::TokenHandle> token = pf::ConsoleUserToken();
    ASSERT_TRUE(token.ok());
    const pf::Impersonation acting(*token);
    ASSERT_TRUE(acting.ok());
    ASSERT_TRUE(pf::CreateDirectory("C:\\ProgramData\\Made").ok());
    world.WriteFile("C:\\ProgramData\\Plain.txt", "");
    ASSERT_TRUE(pf::CreateHardLink("C:\\ProgramData\\Made\\link.txt", "C:\\ProgramData\\Plain.txt").ok());
  }
  EXPECT_EQ(EntryOwner("C:\\ProgramData\\Made"), "mallory");
  EXPECT_EQ(EntryOwner("C:\\ProgramData\\Plain.txt"), kSystemOwner) << "made with the process's own rights";

  std::filesystem::create_directory_symlink(world.HostPath("C:\\Windows"),
                                            world.HostPath("C:\\ProgramData") / "Linked");
  EXPECT_EQ(pf::CreateServiceOnlyDirectory("C:\\ProgramData\\Linked").error(), pf::error::kDirectory);
  EXPECT_EQ(EntryOwner("C:\\Windows"), kSystemOwner) << "the link's target is left alone";
  EXPECT_TRUE(pf::ProcessRunsAsLocalSystem(static_cast<std::uint32_t>(::getpid())))
      << "a test runs as the service does, outside every user's session";
}

}  // namespace
}  // namespace pw::hostworld
