// The service on Windows Vista and later (NT 10.0): it starts a session agent
// in each user session, serves the agents' pipe, applies what their pages
// send, and tells the users through them. The test thread plays the agent
// over the real pipe; the world's executable is a script that records how it
// was started.
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <variant>

#include "ServiceFixture.h"
#include "agent/ServiceConnection.h"
#include "platform/NamedPipe.h"
#include "platform/Profile.h"
#include "platform/Sessions.h"
#include "platform/hostworld/WorldSessions.h"
#include "service/EventLogger.h"
#include "platform/LocationRules.h"

namespace pw::service::test {
namespace {

namespace ag = agent;

// Polls with requests for computer mode tell the user what a pull can tell:
// a new folder, a full disk, a picture cut short and a location that cannot
// be used. As a pull, it starts nothing while the disk-full box is open.
class NotifyingScannerLink : public scanner::ScannerLink {
 public:
  // A drive walk finds the scanner once it is plugged in, and brings up the page.
  void ScanDrives(scanner::PollHost& host) override {
    if (scannerPlugged && host.Scanner().ScannerAttached == 0) {
      host.ShowForScanner();
      host.Scanner().ScannerAttached = 1;
    }
  }
  std::atomic<bool> scannerPlugged{false};
  void PollScanner(scanner::PollHost& host, scanner::ScannerRequestKind kind) override {
    ++polls;
    pendingDeviceEvent = host.Scanner().PendingDeviceEvent;
    ScanDrives(host);
    if (!notify || kind != scanner::ScannerRequestKind::RequestComputerMode) return;
    if (host.Notifier().DiskFullBoxOpen()) {
      ++heldPolls;
      return;
    }
    const std::vector<std::string> titles{"Photo1", folder};
    host.Notifier().ShowFolder(folder, titles);
    host.Notifier().TellDiskFull();
    host.Notifier().TellPictureIncomplete("C:\\Scans\\Photo1\\img0002.partial");
    host.Notifier().TellCannotSave("C:\\Scans");
  }
  // The new folder a pull tells of; set before the service starts.
  std::string folder = "C:\\Scans\\Photo1";
  std::atomic<int> polls{0};
  std::atomic<int> heldPolls{0};
  std::atomic<int> pendingDeviceEvent{-1};
  // Off where the boxes open in the service's own process: each one's closing
  // activates the window again, which polls again.
  std::atomic<bool> notify{true};
};

class SessionAgentServiceTest : public ServiceHostTest {
 protected:
  SessionAgentServiceTest() : ServiceHostTest(10, 0) {
    world.Services().SetLauncher([this](const hostworld::LaunchRequest& request) {
      world.Services().AdoptLaunch(request.launchId);
      launched.push_back(std::make_unique<ProgramRun>(std::vector<std::string>{kModulePath}, &notifying));
      return pid_t{0};
    });
    // The executable records each start with its session and arguments.
    starts = world.Root() / "starts.log";
    world.WriteFile(kModulePath, "#!/bin/sh\necho \"$PAGEWICK_SESSION $*\" >> '" + starts.string() + "'\n");
    ::chmod(world.HostPath(kModulePath).c_str(), 0755);
    world.MakeDirectories("C:\\Scans");
  }
  ~SessionAgentServiceTest() override { ::unsetenv("PAGEWICK_SESSION"); }

  std::vector<std::string> AgentStarts() {
    std::vector<std::string> lines;
    std::ifstream in(starts);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // An agent of the given session connected to the running service.
  std::unique_ptr<ag::ServiceConnection> ConnectAgent(std::uint32_t session = 0) {
    if (session != 0) ::setenv("PAGEWICK_SESSION", std::to_string(session).c_str(), 1);
    auto connection = std::make_unique<ag::ServiceConnection>(ag::ServiceConnection::Options{});
    const bool connected = WaitUntil([&] { return connection->Connect().ok(); });
    ::unsetenv("PAGEWICK_SESSION");
    return connected ? std::move(connection) : nullptr;
  }

  // The first message of type T that the agent receives before the deadline.
  template <typename T>
  std::optional<T> Next(ag::ServiceConnection& connection) {
    std::optional<T> found;
    (void)WaitUntil([&] {
      for (const ag::Message& message : connection.TakeMessages()) {
        if (const T* body = std::get_if<T>(&message); body != nullptr && !found) found = *body;
      }
      return found.has_value();
    });
    return found;
  }

  // The last message of type T among those that arrived once one has.
  template <typename T>
  std::optional<T> Last(ag::ServiceConnection& connection) {
    std::optional<T> found;
    (void)WaitUntil([&] {
      for (const ag::Message& message : connection.TakeMessages()) {
        if (const T* body = std::get_if<T>(&message)) found = *body;
      }
      return found.has_value();
    });
    return found;
  }

  // Starts the service and connects an agent of the session (0: the test's own,
  // where no user is) that has had its first state; nullptr when either does not happen.
  std::unique_ptr<ag::ServiceConnection> StartServiceWithAgent(std::uint32_t session = 0) {
    StartService();
    auto agent = ConnectAgent(session);
    if (agent == nullptr || !Next<ag::StateMessage>(*agent).has_value()) return nullptr;
    return agent;
  }

  // The refusal of an Apply: the notice that says why and the settings in
  // effect that come with it (nullopt when either does not come in time).
  struct Refusal {
    ag::NotifyMessage notice;
    ag::StateMessage state;
  };
  std::optional<Refusal> NextRefusal(ag::ServiceConnection& connection) {
    std::optional<ag::NotifyMessage> notice;
    std::optional<ag::StateMessage> state;
    if (!WaitUntil([&] {
          for (const ag::Message& message : connection.TakeMessages()) {
            if (const auto* n = std::get_if<ag::NotifyMessage>(&message)) notice = *n;
            if (const auto* s = std::get_if<ag::StateMessage>(&message)) state = *s;
          }
          return notice && state;
        })) {
      return std::nullopt;
    }
    return Refusal{*notice, *state};
  }

  std::string SavedSetting(const char* key) {
    return pf::ReadProfileString(ui::kSettingsSection, key, "", kServiceSettingsPath).text;
  }

  bool LogMentions(const std::string& text) {
    for (const hostworld::EventLogEntry& entry : EventLog()) {
      for (const std::string& line : entry.strings) {
        if (line.find(text) != std::string::npos) return true;
      }
    }
    return false;
  }

  // The entries that mention the text: refusals are warnings with an event
  // id of their kind, so Event Viewer can filter them from the failures.
  ::testing::AssertionResult LoggedAs(const std::string& text, std::uint16_t type, std::uint32_t eventId) {
    std::size_t found = 0;
    for (const hostworld::EventLogEntry& entry : EventLog()) {
      if (entry.strings.empty() || entry.strings[0].find(text) == std::string::npos) continue;
      ++found;
      if (entry.type != type || entry.eventId != eventId) {
        return ::testing::AssertionFailure() << "type " << entry.type << ", id " << entry.eventId << ": "
                                             << entry.strings[0];
      }
    }
    if (found == 0) return ::testing::AssertionFailure() << "no entry mentions " << text << "\n" << EventLogText();
    return ::testing::AssertionSuccess();
  }

  NotifyingScannerLink notifying;
  std::filesystem::path starts;
};

TEST_F(SessionAgentServiceTest, StartsAnAgentInEachUserSessionAndAtEachLogon) {
  const std::uint32_t ann = world.UserSessions().LogOn("ann");
  StartService();
  ASSERT_TRUE(WaitUntil([&] { return AgentStarts().size() == 1; }));
  EXPECT_EQ(AgentStarts()[0], std::to_string(ann) + " /agent");

  const std::uint32_t bob = world.UserSessions().LogOn("bob");
  ASSERT_TRUE(WaitUntil([&] { return AgentStarts().size() == 2; }));
  EXPECT_EQ(AgentStarts()[1], std::to_string(bob) + " /agent");
  EXPECT_TRUE(world.UserSessions().LogOff(bob));
  EXPECT_TRUE(PassesRan(world));
  EXPECT_EQ(AgentStarts().size(), 2u) << "a logoff starts nothing";

  // The service accepts session changes and shows nothing of its own: no
  // tray icon, no window, no marker in session 0.
  EXPECT_NE(Reports().back().controlsAccepted & pf::session_change::kAccept, 0u);
  EXPECT_FALSE(MainWindowVisible());
  EXPECT_FALSE(MarkerExists());
  StopService();
}

TEST_F(SessionAgentServiceTest, AgentStartShowsItsTrayIconAndEndsWhenTheServiceStops) {
  StartService();
  const std::size_t serviceIcons = TrayIconCount();
  ProgramRun agentRun({kModulePath, "/agent"}, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return TrayIconCount() == serviceIcons + 1; }));
  EXPECT_FALSE(agentRun.Finished());
  EXPECT_FALSE(MarkerExists()) << "no marker on these systems";
  StopService();
  ASSERT_TRUE(agentRun.WaitFinished()) << "the agent ends with the service";
  EXPECT_EQ(TrayIconCount(), 0u);
}

TEST_F(SessionAgentServiceTest, AgentGetsTheSettingsAndItsApplyReachesTheSettingsFile) {
  const std::uint32_t ann = world.UserSessions().LogOn("ann");  // the console's
  StartService();
  auto agent = ConnectAgent(ann);
  ASSERT_NE(agent, nullptr);
  const std::optional<ag::StateMessage> first = Next<ag::StateMessage>(*agent);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->saveType, 1u);
  EXPECT_EQ(first->saveLocation, "C:\\Users\\Public\\Pictures");
  EXPECT_TRUE(first->mayChange) << "the console's agent may change the settings";

  ASSERT_TRUE(agent->Send(ag::ApplyMessage{1, "C:\\Scans", true}).ok());
  const std::optional<ag::StateMessage> applied = Next<ag::StateMessage>(*agent);
  ASSERT_TRUE(applied.has_value());
  EXPECT_EQ(applied->saveLocation, "C:\\Scans");
  EXPECT_TRUE(applied->autoRotate);
  EXPECT_EQ(SavedSetting("Path"), "C:\\Scans");
  EXPECT_EQ(SavedSetting("AutoRoate"), "1");
  EXPECT_EQ(SavedSetting("Mode"), "1");
  StopService();
}

// The auto-rotate key edited in the settings file while the service runs is
// what the next page shows, so the page's Apply keeps it.
TEST_F(SessionAgentServiceTest, AnAutoRotateKeyEditedWhileTheServiceRunsIsWhatThePageShows) {
  const std::uint32_t ann = world.UserSessions().LogOn("ann");
  const std::uint32_t bob = world.UserSessions().LogOn("bob");
  StartService();
  auto first = ConnectAgent(ann);
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(Next<ag::StateMessage>(*first).has_value());
  ASSERT_EQ(SavedSetting("AutoRoate"), "0");
  ASSERT_TRUE(pf::WriteProfileString(ui::kSettingsSection, "AutoRoate", "1", kServiceSettingsPath).ok());

  auto agent = ConnectAgent(bob);
  ASSERT_NE(agent, nullptr);
  const std::optional<ag::StateMessage> shown = Next<ag::StateMessage>(*agent);
  ASSERT_TRUE(shown.has_value());
  EXPECT_TRUE(shown->autoRotate);
  ASSERT_TRUE(agent->Send(ag::ApplyMessage{shown->saveType, shown->saveLocation, shown->autoRotate}).ok());
  ASSERT_TRUE(Next<ag::StateMessage>(*agent).has_value());
  EXPECT_EQ(SavedSetting("AutoRoate"), "1") << "the page's Apply keeps the edit";
  StopService();
}

TEST_F(SessionAgentServiceTest, SaveLocationTheUserMayNotWriteIsRefused) {
  world.UserSessions().DenyUserWrites("C:\\Windows");
  world.MakeDirectories("C:\\Windows\\Locked");
  const std::uint32_t ann = world.UserSessions().LogOn("ann");
  auto agent = StartServiceWithAgent(ann);
  ASSERT_NE(agent, nullptr);

  ASSERT_TRUE(agent->Send(ag::ApplyMessage{1, "C:\\Windows\\Locked", false}).ok());
  const std::optional<Refusal> refusal = NextRefusal(*agent);
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(refusal->notice, (ag::NotifyMessage{ag::NoticeKind::LocationRefused, {},
                                                static_cast<std::uint32_t>(platform::LocationProblem::NotWritable)}))
      << "the agent is told why";
  EXPECT_EQ(refusal->state.saveLocation, "C:\\Users\\Public\\Pictures") << "the page goes back to the settings in effect";
  EXPECT_NE(SavedSetting("Path"), "C:\\Windows\\Locked");
  EXPECT_TRUE(LogMentions("refused"));

  // Card mode stores the location too: it is checked the same way.
  ASSERT_TRUE(agent->Send(ag::ApplyMessage{0, "C:\\Windows\\Locked\\New", false}).ok());
  const std::optional<ag::StateMessage> refusedCard = Next<ag::StateMessage>(*agent);
  ASSERT_TRUE(refusedCard.has_value());
  EXPECT_EQ(refusedCard->saveType, 1u) << "nothing of a refused Apply is taken";
  EXPECT_NE(SavedSetting("Path"), "C:\\Windows\\Locked\\New");
  ASSERT_TRUE(agent->Send(ag::ApplyMessage{0, "C:\\Users\\Public\\Pictures", false}).ok());
  const std::optional<ag::StateMessage> card = Next<ag::StateMessage>(*agent);
  ASSERT_TRUE(card.has_value());
  EXPECT_EQ(card->saveType, 0u);
  EXPECT_EQ(SavedSetting("Mode"), "0");
  StopService();
}

// Whatever an agent sends, a location that fails the rules is refused in
// either save type before anything changes; the agent is told why and gets
// the settings in effect back.
TEST_F(SessionAgentServiceTest, ALocationThatFailsTheRulesIsRefusedWithItsReason) {
  world.AddDrive('N', pf::DriveType::Remote);
  const std::uint32_t ann = world.UserSessions().LogOn("ann");
  auto agent = StartServiceWithAgent(ann);
  ASSERT_NE(agent, nullptr);
  ASSERT_TRUE(agent->Send(ag::ApplyMessage{1, "C:\\Scans", false}).ok());
  ASSERT_TRUE(Next<ag::StateMessage>(*agent).has_value());
  const std::string before = world.ReadFile(kServiceSettingsPath);
  struct Case {
    std::string location;
    platform::LocationProblem problem;
  };
  const Case cases[] = {
      {"C:\\Scans\r\nFile=..\\x", platform::LocationProblem::BadCharacters},
      {"Mode", platform::LocationProblem::NotAbsolute},
      {"\\\\attacker\\share", platform::LocationProblem::NetworkPath},
      {"N:\\Scans", platform::LocationProblem::NetworkPath},
      {"\\\\?\\C:\\Windows", platform::LocationProblem::DevicePath},
      {"..\\..\\Windows", platform::LocationProblem::NotAbsolute},
      {"C:\\Scans\\..\\Windows", platform::LocationProblem::ParentFolder},
      {"C:\\Scans\\CON", platform::LocationProblem::DevicePath},
      {"C:\\$Extend", platform::LocationProblem::FileSystemName},
      {"C:\\Scans=2024", platform::LocationProblem::SettingsKey},
      {"C:\\Scans.\\x", platform::LocationProblem::DroppedNameEnd},  // the last reason the protocol carries
  };
  for (std::uint32_t saveType : {0u, 1u}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.location + (saveType == 0 ? " (card)" : " (computer)"));
      ASSERT_TRUE(agent->Send(ag::ApplyMessage{saveType, c.location, true}).ok());
      const std::optional<Refusal> refusal = NextRefusal(*agent);
      ASSERT_TRUE(refusal.has_value());
      EXPECT_EQ(refusal->notice,
                (ag::NotifyMessage{ag::NoticeKind::LocationRefused, {}, static_cast<std::uint32_t>(c.problem)}));
      EXPECT_EQ(refusal->state.saveLocation, "C:\\Scans");
      EXPECT_EQ(refusal->state.saveType, 1u);
      EXPECT_EQ(world.ReadFile(kServiceSettingsPath), before) << "the settings file is untouched";
    }
  }
  EXPECT_TRUE(LogMentions("a network path"));
  EXPECT_TRUE(LoggedAs("A save location from session", pf::event_type::kWarning, event_id::kLocationRefused));
  StopService();
}

TEST_F(SessionAgentServiceTest, FolderWindowAndDiskFullGoToTheAgentsNotToSessionZero) {
  const std::uint32_t ann = world.UserSessions().LogOn("ann");
  auto agent = StartServiceWithAgent(ann);
  ASSERT_NE(agent, nullptr);
  ASSERT_TRUE(agent->Send(ag::ApplyMessage{1, "C:\\Scans", false}).ok());

  const std::optional<ag::OpenFolderMessage> folder = Next<ag::OpenFolderMessage>(*agent);
  ASSERT_TRUE(folder.has_value());
  EXPECT_EQ(folder->path, "C:\\Scans\\Photo1");
  EXPECT_TRUE(world.Desktop().ShellExecutes().empty()) << "no explorer runs in the service's session";
  EXPECT_TRUE(world.Desktop().MessageBoxes().empty()) << "no box opens in the service's session";
  StopService();
}

// The folder browser gives at most 128 characters, but the settings file may
// hold a longer location, and a new folder below a location of 128 characters
// is longer still: the page shows such a location whole, and its folder
// windows open.
TEST_F(SessionAgentServiceTest, ALocationOverTheBrowsersLimitIsShownWholeAndItsFoldersOpen) {
  const std::string location = "C:\\" + std::string(200, 'L');
  world.MakeDirectories(location);
  world.WriteFile(kServiceSettingsPath, "[Setting]\r\nMode=1\r\nPath=" + location + "\r\nAutoRoate=0\r\n");
  notifying.folder = location + "\\Photo1";
  const std::uint32_t ann = world.UserSessions().LogOn("ann");
  StartService();
  auto agent = ConnectAgent(ann);
  ASSERT_NE(agent, nullptr);
  const std::optional<ag::StateMessage> state = Next<ag::StateMessage>(*agent);
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(state->saveLocation, location);

  // The poll of an Apply in computer mode tells of the long folder.
  ASSERT_TRUE(agent->Send(ag::ApplyMessage{1, "C:\\Scans", false}).ok());
  const std::optional<ag::OpenFolderMessage> folder = Next<ag::OpenFolderMessage>(*agent);
  ASSERT_TRUE(folder.has_value());
  EXPECT_EQ(folder->path, location + "\\Photo1");
  EXPECT_FALSE(LogMentions("was not opened"));
  StopService();
}

// Notices and folder windows go to the agent of the active console session
// (the user at the scanner) only, whoever applied the settings.
TEST_F(SessionAgentServiceTest, NoticesReachTheConsoleAgentOnlyAndAnUnansweredDiskFullHoldsThePulls) {
  const std::uint32_t ann = world.UserSessions().LogOn("ann");  // the console's
  const std::uint32_t bob = world.UserSessions().LogOn("bob");
  StartService();
  auto first = ConnectAgent(ann);
  auto second = ConnectAgent(bob);
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(Next<ag::StateMessage>(*first).has_value());
  ASSERT_TRUE(Next<ag::StateMessage>(*second).has_value());
  // Computer mode polls at once: the console's agent is told.
  ASSERT_TRUE(first->Send(ag::ApplyMessage{1, "C:\\Scans", false}).ok());
  std::vector<ag::NotifyMessage> notices;
  ASSERT_TRUE(WaitUntil([&] {
    for (const ag::Message& message : first->TakeMessages()) {
      if (const auto* notice = std::get_if<ag::NotifyMessage>(&message)) notices.push_back(*notice);
    }
    return notices.size() >= 3;
  }));
  EXPECT_EQ(notices, (std::vector<ag::NotifyMessage>{
                         {ag::NoticeKind::DiskFull, ""},
                         {ag::NoticeKind::PictureIncomplete, "C:\\Scans\\Photo1\\img0002.partial"},
                         {ag::NoticeKind::CannotSave, "C:\\Scans"},
                     }));
  EXPECT_TRUE(LogMentions("img0002.partial")) << "the faults of a pull are also in the event log";
  ASSERT_TRUE(Next<ag::StateMessage>(*second).has_value());
  for (const ag::Message& message : second->TakeMessages()) {
    EXPECT_FALSE(std::holds_alternative<ag::NotifyMessage>(message)) << "another session is told nothing";
    EXPECT_FALSE(std::holds_alternative<ag::OpenFolderMessage>(message)) << "another session gets no folder window";
  }

  // Each Apply in computer mode polls (as do the timer's ticks); notices of a
  // poll begun before the settings come back arrive ahead of them. While the
  // told agent has not answered, a poll starts nothing and tells nothing.
  auto pollOnce = [&](ag::ServiceConnection& agent) {
    std::vector<ag::NotifyMessage> told;
    bool settings = false;
    if (!agent.Send(ag::ApplyMessage{1, "C:\\Scans", false}).ok()) return told;
    (void)WaitUntil([&] {
      for (const ag::Message& message : agent.TakeMessages()) {
        if (const auto* notice = std::get_if<ag::NotifyMessage>(&message)) told.push_back(*notice);
        settings = settings || std::holds_alternative<ag::StateMessage>(message);
      }
      return settings;
    });
    return told;
  };
  const int held = notifying.heldPolls.load();
  EXPECT_TRUE(pollOnce(*first).empty());
  EXPECT_TRUE(WaitUntil([&] { return notifying.heldPolls.load() > held; })) << "no pull while the box is open";

  // Its answer lets the pulls, and their notices, go on.
  ASSERT_TRUE(first->Send(ag::NoticeClosedMessage{ag::NoticeKind::DiskFull}).ok());
  EXPECT_TRUE(WaitUntil([&] { return !pollOnce(*first).empty(); }));
  StopService();
}

// Whose page may change the settings follows the console: when it moves to
// another session (told or not), each agent gets its state again, and only
// the new console's Apply is taken.
TEST_F(SessionAgentServiceTest, WhoMayChangeTheSettingsFollowsTheConsole) {
  const std::uint32_t ann = world.UserSessions().LogOn("ann");  // the console's
  const std::uint32_t bob = world.UserSessions().LogOn("bob");
  StartService();
  auto anns = ConnectAgent(ann);
  auto bobs = ConnectAgent(bob);
  ASSERT_TRUE(anns && bobs);
  const struct {
    std::optional<std::uint32_t> console;
    bool annMay;
    bool bobMay;
  } steps[] = {{ann, true, false}, {bob, false, true}, {std::nullopt, false, false}, {ann, true, false}};
  std::optional<ag::StateMessage> annState;
  std::optional<ag::StateMessage> bobState;
  auto latest = [&](ag::ServiceConnection& agent, std::optional<ag::StateMessage>& state) {
    for (const ag::Message& message : agent.TakeMessages()) {
      if (const auto* body = std::get_if<ag::StateMessage>(&message)) state = *body;
    }
    return state;
  };
  int step = 0;
  for (const auto& [console, annMay, bobMay] : steps) {
    SCOPED_TRACE(++step);
    world.UserSessions().SetConsoleSession(console);
    ASSERT_TRUE(PassesRan(world));
    EXPECT_TRUE(WaitUntil([&] {
      const auto a = latest(*anns, annState);
      const auto b = latest(*bobs, bobState);
      return a && b && a->mayChange == annMay && b->mayChange == bobMay;
    }));
    ag::ServiceConnection& applier = bobMay ? *bobs : *anns;
    const std::string location = "C:\\Scans\\" + std::to_string(step);
    world.MakeDirectories(location);
    (void)applier.TakeMessages();
    ASSERT_TRUE(applier.Send(ag::ApplyMessage{1, location, false}).ok());
    const std::optional<ag::StateMessage> answer = Last<ag::StateMessage>(applier);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->saveLocation == location, annMay || bobMay) << answer->saveLocation;
  }
  StopService();
}

// The service's window is in session 0: a found scanner brings up the agents'
// pages, never the service's own window or icon.
TEST_F(SessionAgentServiceTest, AFoundScannerBringsUpTheAgentsPagesNotTheServicesWindow) {
  notifying.notify = false;
  const std::uint32_t ann = world.UserSessions().LogOn("ann");  // the console's
  StartService();
  auto agent = ConnectAgent(ann);
  ASSERT_NE(agent, nullptr);
  ASSERT_TRUE(Next<ag::StateMessage>(*agent).has_value());
  // The scanner is plugged in; the poll of an Apply in computer mode finds it.
  notifying.scannerPlugged = true;
  std::optional<ag::StateMessage> settings;
  bool pageShown = false;
  ASSERT_TRUE(agent->Send(ag::ApplyMessage{1, "C:\\Scans", false}).ok());
  ASSERT_TRUE(WaitUntil([&] {
    for (const ag::Message& message : agent->TakeMessages()) {
      if (const auto* state = std::get_if<ag::StateMessage>(&message); state && !pageShown) settings = *state;
      pageShown = pageShown || std::holds_alternative<ag::ShowPageMessage>(message);
    }
    return pageShown;
  }));
  ASSERT_TRUE(settings.has_value());
  EXPECT_TRUE(settings->scannerAttached) << "the page comes up with the scanner shown as attached";
  EXPECT_FALSE(MainWindowVisible());
  EXPECT_EQ(TrayIconCount(), 0u) << "the service's window has no icon in session 0";
  StopService();
}

// A start from the desktop that did not find its session's agent becomes a
// second agent there: the first one shows its page and the second ends.
TEST_F(SessionAgentServiceTest, ASecondAgentInASessionShowsTheFirstOnesPageAndEnds) {
  StartService();
  auto first = ConnectAgent(1);
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(Next<ag::StateMessage>(*first).has_value());
  auto second = ConnectAgent(1);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(Next<ag::ExitMessage>(*second).has_value()) << "the second agent of the session ends";
  EXPECT_TRUE(Next<ag::ShowPageMessage>(*first).has_value()) << "the first one shows its page";
  auto other = ConnectAgent(2);
  ASSERT_NE(other, nullptr);
  EXPECT_TRUE(Next<ag::StateMessage>(*other).has_value()) << "another session's agent is served";
  StopService();
}

TEST_F(SessionAgentServiceTest, ExitEndsEveryAgentAndALaterAgentBringsTheWindowBack) {
  const std::uint32_t ann = world.UserSessions().LogOn("ann");  // the console's
  const std::uint32_t bob = world.UserSessions().LogOn("bob");
  StartService();
  auto first = ConnectAgent(ann);
  auto second = ConnectAgent(bob);
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(Next<ag::StateMessage>(*first).has_value());
  ASSERT_TRUE(WaitUntil([&] { return MainWindow() != nullptr; }));

  ASSERT_TRUE(first->Send(ag::ExitMessage{}).ok());
  EXPECT_TRUE(Next<ag::ExitMessage>(*first).has_value());
  EXPECT_TRUE(Next<ag::ExitMessage>(*second).has_value()) << "every agent removes its icon";
  ASSERT_TRUE(WaitUntil([&] { return MainWindow() == nullptr; })) << "the service's window object is released";
  const int polls = notifying.polls.load();
  EXPECT_TRUE(PassesRan(world));
  EXPECT_EQ(notifying.polls.load(), polls) << "polling stopped";
  first.reset();
  second.reset();

  auto later = ConnectAgent(ann);
  ASSERT_NE(later, nullptr);
  EXPECT_TRUE(Next<ag::StateMessage>(*later).has_value());
  EXPECT_TRUE(WaitUntil([&] { return MainWindow() != nullptr; }));
  StopService();
}

TEST_F(SessionAgentServiceTest, VolumeEventsOfTheControlHandlerLeaveARescanForTheNextPoll) {
  auto agent = StartServiceWithAgent(world.UserSessions().LogOn("ann"));
  ASSERT_NE(agent, nullptr);
  const struct {
    std::uint32_t eventType;
    int pending;
  } rows[] = {{0x8000, 1}, {0x8004, 2}, {0x0007, 2} /* other events leave the last one */};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.eventType);
    ASSERT_TRUE(world.Services().SendControlEvent("Service1", {pf::device_event::kControl, row.eventType, 0}).ok);
    // The control is taken before the next passes end; an Apply in computer
    // mode then polls the scanner at once.
    ASSERT_TRUE(PassesRan(world));
    ASSERT_TRUE(agent->Send(ag::ApplyMessage{1, "C:\\Scans", false}).ok());
    ASSERT_TRUE(Next<ag::StateMessage>(*agent).has_value());
    EXPECT_EQ(notifying.pendingDeviceEvent.load(), row.pending);
  }
  EXPECT_EQ(State(), pf::service_state::kRunning);
  StopService();
}

// The idle service thread waits for its queue: a quiet stretch without
// messages, timers or agents makes no pass, and the poll timer's tick does.
TEST_F(SessionAgentServiceTest, TheIdleServiceThreadMakesNoPassUntilSomethingArrives) {
  auto agent = StartServiceWithAgent(world.UserSessions().LogOn("ann"));
  ASSERT_NE(agent, nullptr);
  // Settled: the start-up's and the agent's messages are all taken.
  std::uint64_t quiet = ServicePasses(world);
  ASSERT_TRUE(WaitUntil([&] {
    std::this_thread::sleep_for(100ms);
    const std::uint64_t before = std::exchange(quiet, ServicePasses(world));
    return before == quiet;
  }));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(ServicePasses(world), quiet) << "the loop woke with nothing to do";

  const int polls = notifying.polls.load();
  world.Desktop().AdvanceTime(ui::kCardModePollMs);  // a tick in either save type
  EXPECT_TRUE(WaitUntil([&] { return notifying.polls.load() > polls; })) << "the poll timer wakes the loop";
  EXPECT_TRUE(agent->Send(ag::ApplyMessage{1, "C:\\Scans", false}).ok());
  EXPECT_TRUE(Next<ag::StateMessage>(*agent).has_value()) << "an agent's message wakes the loop";
  StopService();
}

// Windows XP: one process with window, tray icon and marker; no agent, no pipe.
class SingleProcessTest : public SessionAgentServiceTest {
 protected:
  SingleProcessTest() {
    world.SetVersion(pf::kPlatformNt, 5, 1, 2600);
    notifying.notify = false;
  }
};

TEST_F(SingleProcessTest, NoAgentAndNoPipeBeforeVista) {
  world.UserSessions().LogOn("ann");
  StartService();
  EXPECT_TRUE(PassesRan(world));
  EXPECT_TRUE(AgentStarts().empty());
  EXPECT_EQ(pf::OpenPipeClient(ag::kPipeName).error(), pf::error::kFileNotFound);
  EXPECT_EQ(Reports().back().controlsAccepted & pf::session_change::kAccept, 0u);
  EXPECT_EQ(TrayIconCount(), 1u) << "the service's own tray icon";
  WriteMarker();
  EXPECT_TRUE(WaitUntil([&] { return MainWindowVisible(); })) << "the marker shows the service's window";
  StopService();
}

TEST_F(SessionAgentServiceTest, HostilePipeClientIsRefusedAndTheServiceGoesOn) {
  StartService();
  const struct {
    const char* what;
    std::vector<std::byte> bytes;
  } hostile[] = {
      {"short header", {std::byte{2}, std::byte{0}}},
      {"length beyond the message", {std::byte{2}, std::byte{0}, std::byte{0}, std::byte{0}, std::byte{0xFF},
                                     std::byte{0xFF}, std::byte{0}, std::byte{0}}},
      // State is the service's to send, never an agent's.
      {"a service-only type", ag::Encode(ag::StateMessage{1, "C:\\Windows", true, true})},
      {"a save type of 7", ag::Encode(ag::ApplyMessage{7, "C:\\Scans", false})},
  };
  for (const auto& row : hostile) {
    SCOPED_TRACE(row.what);
    pf::Pipe client;
    ASSERT_TRUE(WaitUntil([&] {
      client = pf::OpenPipeClient(ag::kPipeName).value_or(pf::Pipe());
      return client.valid();
    }));
    (void)client.Write(row.bytes);
    // The service closes the connection: the read ends without a message.
    std::array<std::byte, 512> buffer{};
    (void)client.Read(buffer);
  }
  EXPECT_EQ(State(), pf::service_state::kRunning);
  EXPECT_NE(SavedSetting("Path"), "C:\\Windows");
  EXPECT_NE(SavedSetting("Mode"), "7");
  auto agent = ConnectAgent();
  ASSERT_NE(agent, nullptr);
  EXPECT_TRUE(Next<ag::StateMessage>(*agent).has_value()) << "a well-behaved agent is still served\n" << EventLogText();
  EXPECT_TRUE(LoggedAs("Agent channel: connection of session", pf::event_type::kWarning, event_id::kConnectionRefused));
  StopService();
}

}  // namespace
}  // namespace pw::service::test
