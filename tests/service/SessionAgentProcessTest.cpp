// Windows 10 with the service and its session agents as processes of their
// own: the service starts an agent in each user's session as that user, and
// what each agent shows (tray icon, boxes, folder windows, the page) appears
// on its own session's screen and nothing on the service's session 0. The
// screen journal of the world (every process records what it shows there)
// is the test's view of each session's screen.
#include <sys/wait.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "agent/ServiceConnection.h"
#include "platform/hostworld/ScreenJournal.h"
#include "platform/hostworld/WorldSessions.h"
#include "tests/scanner/SimulatorProcess.h"
#include "tests/service/ProcessWorld.h"

namespace pw::service::test {
namespace {

namespace se = hostworld::screen_event;

// What appeared on the screens, as a test reads it.
class Screens {
 public:
  explicit Screens(const hostworld::World& world) : events_(hostworld::ScreenJournal::Read(world.ScreenJournalFile())) {}

  std::vector<hostworld::ScreenEvent> Of(std::uint32_t session, std::string_view event) const {
    std::vector<hostworld::ScreenEvent> found;
    for (const hostworld::ScreenEvent& e : events_) {
      if (e.session == session && e.event == event) found.push_back(e);
    }
    return found;
  }
  // The processes that showed a tray icon in the session and have not removed it.
  std::set<long> IconOwners(std::uint32_t session) const {
    std::set<long> owners;
    for (const hostworld::ScreenEvent& e : events_) {
      if (e.session != session) continue;
      if (e.event == se::kTrayIconAdded) owners.insert(e.processId);
      if (e.event == se::kTrayIconRemoved) owners.erase(e.processId);
    }
    return owners;
  }
  // Whether anything a user sees appeared in the session.
  bool AnythingShownIn(std::uint32_t session) const {
    for (std::string_view event :
         {se::kTrayIconAdded, se::kWindowShown, se::kMessageBox, se::kFolderBrowser, se::kShellExecute}) {
      if (!Of(session, event).empty()) return true;
    }
    return false;
  }
  // The journal as lines, for a failure's message.
  std::string Text() const {
    std::string text = "\nscreen journal:\n";
    for (const hostworld::ScreenEvent& e : events_) {
      text += std::to_string(e.session) + " " + std::to_string(e.processId) + " " + e.event + " " + e.detail + "\n";
    }
    return text;
  }

 private:
  std::vector<hostworld::ScreenEvent> events_;
};

class SessionAgentProcessTest : public ProcessWorldTest {
 protected:
  explicit SessionAgentProcessTest(std::uint32_t major = 10, std::uint32_t minor = 0, std::uint32_t build = 19045) {
    world.SetVersion(platform::kPlatformNt, major, minor, build);
    // Computer mode into C:\Scans.
    world.WriteFile(kSettingsPath, "[Setting]\r\nMode=1\r\nPath=C:\\Scans\r\nAutoRoate=0\r\n");
  }

  Screens Screen() const { return Screens(world); }

  bool WaitForScreens(const std::function<bool(const Screens&)>& done) {
    return WaitUntil([&] { return done(Screen()); }, std::chrono::seconds(20));
  }

  // A scanner in computer mode holding a picture of three chunks; it serves
  // until the test ends.
  std::unique_ptr<pw::test::SimulatorProcess> PlugInScanner(std::vector<std::string> faults = {}) {
    std::vector<std::string> arguments{"--root",       world.Root().string(), "--drive", "E", "--mode", "computer",
                                       "--image-size", "6000",                "--chunk", "fixed:2048"};
    arguments.insert(arguments.end(), faults.begin(), faults.end());
    return std::make_unique<pw::test::SimulatorProcess>(std::move(arguments));
  }

  long ServiceProcess() { return Record() ? Record()->processId : 0; }
};

bool Mentions(const std::vector<hostworld::ScreenEvent>& events, std::string_view text) {
  return std::any_of(events.begin(), events.end(),
                     [&](const hostworld::ScreenEvent& e) { return e.detail.find(text) != std::string::npos; });
}

TEST_F(SessionAgentProcessTest, EachUserSeesTheirOwnAgentAndSessionZeroShowsNothing) {
  world.MakeDirectories("C:\\Scans");
  ASSERT_TRUE(InstallAndStart());
  const long service = ServiceProcess();
  const std::uint32_t ann = world.UserSessions().LogOn("ann");
  const std::uint32_t bob = world.UserSessions().LogOn("bob");

  // An agent in each session, a process of its own with its own tray icon.
  ASSERT_TRUE(WaitForScreens([&](const Screens& s) { return s.IconOwners(ann).size() == 1 && s.IconOwners(bob).size() == 1; }));
  const long annAgent = *Screen().IconOwners(ann).begin();
  const long bobAgent = *Screen().IconOwners(bob).begin();
  EXPECT_NE(annAgent, bobAgent);
  EXPECT_NE(annAgent, service);
  EXPECT_EQ(world.UserSessions().Processes(ann), std::vector<pid_t>{static_cast<pid_t>(annAgent)});
  EXPECT_EQ(world.UserSessions().Processes(bob), std::vector<pid_t>{static_cast<pid_t>(bobAgent)});
  for (std::uint32_t session : {ann, bob}) {
    EXPECT_TRUE(Screen().Of(session, se::kWindowShown).empty()) << "an agent started at logon shows only its icon";
  }

  // A scanner is found: the page of the user at the console (Ann, the first
  // to log on) comes up, Bob's does not. Its picture's second chunk fails
  // once: Ann is told that it did not arrive whole, and she alone gets the
  // folder window.
  auto scanner = PlugInScanner({"--fail", "chunk:2:1:31"});
  ASSERT_TRUE(scanner->Started());
  EXPECT_TRUE(WaitForScreens([&](const Screens& s) {
    return Mentions(s.Of(ann, se::kWindowShown), "TMainForm\tPagewick");
  })) << Screen().Text();
  ASSERT_TRUE(WaitForScreens([&](const Screens& s) {
    return Mentions(s.Of(ann, se::kMessageBox), ".partial");
  })) << Screen().Text();

  // The picture comes again whole, and Ann gets the folder window.
  ASSERT_TRUE(WaitForScreens([&](const Screens& s) { return !s.Of(ann, se::kShellExecute).empty(); }));
  EXPECT_TRUE(Screen().Of(bob, se::kShellExecute).empty()) << "another session gets no folder window";
  EXPECT_TRUE(Screen().Of(bob, se::kMessageBox).empty()) << "another session is told nothing";
  EXPECT_TRUE(Screen().Of(bob, se::kWindowShown).empty()) << "another session's page does not come up";
  for (std::uint32_t session : {ann}) {
    const std::vector<hostworld::ScreenEvent> opened = Screen().Of(session, se::kShellExecute);
    ASSERT_EQ(opened.size(), 1u) << "one folder window per new folder";
    EXPECT_EQ(opened[0].detail.rfind("explore\tC:\\Scans\\", 0), 0u) << opened[0].detail;
    EXPECT_EQ(Screen().Of(session, se::kMessageBox).size(), 1u) << "the cut-short picture was told once";
  }

  // Bob logs off: his agent ends with his session, Ann's goes on.
  ASSERT_TRUE(world.UserSessions().LogOff(bob));
  EXPECT_TRUE(WaitUntil([&] { return !ProcessAlive(bobAgent); })) << "logoff ends the session's agent";
  EXPECT_TRUE(ProcessAlive(annAgent));

  // The service stops: Ann's agent removes its icon and ends.
  ASSERT_EQ(Tool("stop Service1"), 0);
  ASSERT_EQ(Tool("wait Service1 STOPPED 10000"), 0);
  EXPECT_TRUE(WaitUntil([&] { return !ProcessAlive(annAgent); })) << "the agent ends with the service";
  EXPECT_TRUE(Screen().IconOwners(ann).empty()) << "its icon went with it";

  const Screens screens = Screen();
  EXPECT_FALSE(screens.AnythingShownIn(0)) << "the service shows nothing in session 0";
}

// A start from a user's desktop shows the page of the session's agent. Exit
// from an agent ends every agent; a desktop start with no agent in the
// session then becomes the agent and shows the page there.
TEST_F(SessionAgentProcessTest, ADesktopStartShowsItsSessionsPageAlsoAfterExit) {
  world.MakeDirectories("C:\\Scans");
  ASSERT_TRUE(InstallAndStart());
  const std::uint32_t ann = world.UserSessions().LogOn("ann");
  const std::uint32_t bob = world.UserSessions().LogOn("bob");
  ASSERT_TRUE(WaitForScreens([&](const Screens& s) { return s.IconOwners(ann).size() == 1 && s.IconOwners(bob).size() == 1; }));
  const long annAgent = *Screen().IconOwners(ann).begin();
  const std::string session = "PAGEWICK_SESSION=" + std::to_string(ann);

  // Ann starts Pagewick from her desktop while her agent runs: her agent's
  // page comes up, and the start ends without a second icon.
  // (A start that stayed would be ended after 20 s, exiting 124.)
  EXPECT_EQ(Run(std::string("timeout 20 '") + PAGEWICK_PROGRAM + "'", session), 0);
  EXPECT_TRUE(WaitForScreens([&](const Screens& s) {
    const std::vector<hostworld::ScreenEvent> shown = s.Of(ann, se::kWindowShown);
    return shown.size() == 1 && shown[0].processId == annAgent;
  })) << Screen().Text();
  EXPECT_EQ(Screen().IconOwners(ann), std::set<long>{annAgent});
  EXPECT_TRUE(Screen().Of(bob, se::kWindowShown).empty());

  // The Exit of the user at the console (Ann), as an agent of hers sends it.
  {
    ::setenv("PAGEWICK_WORLD", world.Root().c_str(), 1);
    ::setenv("PAGEWICK_SESSION", std::to_string(ann).c_str(), 1);
    agent::ServiceConnection exitChosen(agent::ServiceConnection::Options{});
    const bool connected = WaitUntil([&] { return exitChosen.Connect().ok(); });
    ::unsetenv("PAGEWICK_SESSION");
    ::unsetenv("PAGEWICK_WORLD");
    ASSERT_TRUE(connected);
    ASSERT_TRUE(exitChosen.Send(agent::ExitMessage{}).ok());
    ASSERT_TRUE(WaitForScreens([&](const Screens& s) { return s.IconOwners(ann).empty() && s.IconOwners(bob).empty(); }))
        << "every agent removes its icon";
  }
  EXPECT_TRUE(WaitUntil([&] { return !ProcessAlive(annAgent); }));

  // Ann starts Pagewick from her desktop again: the start becomes her agent,
  // and her page shows on her screen only.
  std::thread desktopStart([&] { (void)Program("", session); });
  const bool shown = WaitForScreens([&](const Screens& s) {
    const std::set<long> owners = s.IconOwners(ann);
    if (owners.size() != 1 || *owners.begin() == annAgent) return false;
    const std::vector<hostworld::ScreenEvent> pages = s.Of(ann, se::kWindowShown);
    return std::any_of(pages.begin(), pages.end(), [&](const hostworld::ScreenEvent& e) { return e.processId == *owners.begin(); });
  });
  EXPECT_TRUE(shown) << "the page and the icon are on Ann's screen";
  EXPECT_TRUE(Screen().Of(bob, se::kWindowShown).empty());

  ASSERT_EQ(Tool("stop Service1"), 0);
  ASSERT_EQ(Tool("wait Service1 STOPPED 10000"), 0);
  desktopStart.join();  // the desktop start's agent ends with the service
  EXPECT_TRUE(Screen().IconOwners(ann).empty());
  EXPECT_FALSE(Screen().AnythingShownIn(0)) << "the service shows nothing in session 0" << Screen().Text();
}

// A start from the user's desktop that finds no running service says at
// once, in that user's session, why and what to do; an administrator's start
// starts the service and goes on as the session's agent. An install or
// uninstall without administrator rights, and a desktop start before the
// install, offer the administrator prompt; refused (the world's default), a
// second box says so and the install or uninstall ends with 1223.
TEST_F(SessionAgentProcessTest, ADesktopStartOrInstallThatCannotWorkSaysWhyInTheUsersSession) {
  world.MakeDirectories("C:\\Scans");
  const std::uint32_t ann = world.UserSessions().LogOn("ann");
  const std::string session = "PAGEWICK_SESSION=" + std::to_string(ann);
  const struct {
    const char* what;
    bool administrator;
    const char* arguments;
    int exitCode;
    const char* says;      // a part of the first box's text
    bool offersElevation;  // a second box says the prompt was refused
  } rows[] = {
      {"a desktop start before the install", false, "", 0, "service is not installed", true},
      {"an install as a standard user", false, "/install", 1223, "Choose OK to run pagewick.exe /install", true},
      {"an uninstall as a standard user", false, "/uninstall", 1223, "Choose OK to run pagewick.exe /uninstall", true},
      {"an install as administrator", true, "/install /silent", 0, nullptr, false},
      {"a standard user's desktop start with the service stopped", false, "", 0, "installed but not running", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    world.Services().SetAdministrator(row.administrator);
    const std::size_t boxes = Screen().Of(ann, se::kMessageBox).size();
    const std::size_t prompts = Screen().Of(ann, se::kElevationPrompt).size();
    // At once: a start that waited for a pipe would be ended after 8 s (124).
    // A host process's exit status keeps the code's low 8 bits.
    EXPECT_EQ(Run(std::string("timeout 8 '") + PAGEWICK_PROGRAM + "' " + row.arguments, session),
              row.exitCode & 0xFF);
    const std::vector<hostworld::ScreenEvent> shown = Screen().Of(ann, se::kMessageBox);
    if (row.says == nullptr) {
      EXPECT_EQ(shown.size(), boxes);
      continue;
    }
    ASSERT_EQ(shown.size(), boxes + (row.offersElevation ? 2 : 1)) << Screen().Text();
    EXPECT_NE(shown[boxes].detail.find(row.says), std::string::npos) << shown[boxes].detail;
    EXPECT_EQ(shown[boxes].detail.rfind("Pagewick Message\t", 0), 0u) << shown[boxes].detail;
    EXPECT_EQ(Screen().Of(ann, se::kElevationPrompt).size(), prompts + (row.offersElevation ? 1 : 0));
    if (row.offersElevation) {
      EXPECT_NE(shown.back().detail.find("consent was refused"), std::string::npos) << shown.back().detail;
    }
  }
  EXPECT_TRUE(Screen().IconOwners(ann).empty()) << "no start stayed as an agent";

  // An administrator's desktop start starts the service: an agent's icon
  // comes up in the session and no box.
  world.Services().SetAdministrator(true);
  const std::size_t boxes = Screen().Of(ann, se::kMessageBox).size();
  std::thread desktopStart([&] { (void)Program("", session); });
  EXPECT_EQ(Tool("wait Service1 RUNNING 20000"), 0);
  EXPECT_TRUE(WaitForScreens([&](const Screens& s) { return s.IconOwners(ann).size() == 1; })) << Screen().Text();
  EXPECT_EQ(Screen().Of(ann, se::kMessageBox).size(), boxes) << Screen().Text();
  // The desktop start ends with the service, whether it stayed as the agent or not.
  EXPECT_EQ(Tool("stop Service1"), 0);
  EXPECT_EQ(Tool("wait Service1 STOPPED 10000"), 0);
  desktopStart.join();
}

// Windows XP: one process; its icon and folder windows are on the one
// desktop, session 0's, and no agent is started at logon.
class SingleProcessScreenTest : public SessionAgentProcessTest {
 protected:
  SingleProcessScreenTest() : SessionAgentProcessTest(5, 1, 2600) {}
};

TEST_F(SingleProcessScreenTest, TheServiceShowsItsIconAndFolderWindowsItselfBeforeVista) {
  world.MakeDirectories("C:\\Scans");
  ASSERT_TRUE(InstallAndStart());
  const long service = ServiceProcess();
  const std::uint32_t ann = world.UserSessions().LogOn("ann");
  ASSERT_TRUE(WaitForScreens([&](const Screens& s) { return s.IconOwners(0) == std::set<long>{service}; }));
  auto scanner = PlugInScanner();
  ASSERT_TRUE(scanner->Started());
  ASSERT_TRUE(WaitForScreens([&](const Screens& s) { return !s.Of(0, se::kShellExecute).empty(); }));
  EXPECT_TRUE(world.UserSessions().Processes(ann).empty()) << "no agent";
  EXPECT_FALSE(Screen().AnythingShownIn(ann));
}

}  // namespace
}  // namespace pw::service::test
