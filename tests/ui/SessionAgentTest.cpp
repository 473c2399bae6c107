// The session agent against a service end of the test's own: it shows the
// tray icon, fills and shows the page from the service's messages, opens
// folder windows and boxes on its desktop, and ends when told or when the
// service goes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "MainFormFixture.h"
#include "agent/AgentChannel.h"
#include "platform/Windows.h"
#include "resources/MainFormLayout.h"
#include "platform/NotifyIcon.h"
#include "platform/SystemInfo.h"
#include "platform/LocationRules.h"
#include "sessionagent/SessionAgent.h"
#include "tests/support/Waiting.h"

namespace pw::ui::test {
namespace {

using namespace std::chrono_literals;

using pw::test::WaitUntil;

class SessionAgentTest : public MainFormTest {
 protected:
  static agent::AgentChannel::Options ChannelOptions() {
    static std::atomic<unsigned> counter{0};
    agent::AgentChannel::Options made;
    made.pipeName = "PagewickAgentTest" + std::to_string(++counter);
    made.logError = [](const std::string&) {};
    return made;
  }
  ~SessionAgentTest() override {
    channel.Stop();  // an agent still running ends with its connection
    if (agentThread.joinable()) agentThread.join();
  }

  // Runs an agent on a thread of its own, as the agent process's main thread.
  void StartAgent(bool showPage) {
    agentThread = std::thread([this, showPage] {
      SessionAgent agent(agentProcess, showPage, options.pipeName);
      connected = agent.Run().value();
      ended = true;
    });
  }

  platform::WindowHandle Page() { return platform::FindWindow(resources::layout::kWindowClass, resources::layout::kWindowTitle); }

  // The agent thread's own; a test reaches its page only from that thread
  // (inside a box the agent shows).
  ProcessState agentProcess;
  agent::AgentChannel::Options options = ChannelOptions();
  agent::AgentChannel channel{options};
  std::thread agentThread;
  std::atomic<bool> connected{false};
  std::atomic<bool> ended{false};
};

TEST_F(SessionAgentTest, WithoutAServiceTheAgentEndsAtOnceAndShowsNothing) {
  StartAgent(true);
  ASSERT_TRUE(WaitUntil([&] { return ended.load(); }));
  EXPECT_FALSE(connected.load());
  EXPECT_TRUE(world.Desktop().TrayIcons().empty());
}

TEST_F(SessionAgentTest, ShowsTheIconThePageTheFolderAndTheBoxThenEndsOnExit) {
  ASSERT_TRUE(channel.Start().ok());
  StartAgent(false);
  ASSERT_TRUE(WaitUntil([&] { return channel.AgentCount() == 1 && world.Desktop().TrayIcons().size() == 1; }));
  ASSERT_NE(Page(), nullptr);
  EXPECT_FALSE(platform::IsWindowVisible(Page())) << "a started agent shows only its icon";

  channel.Broadcast(agent::StateMessage{1, "C:\\Scans", true, true, true});
  channel.Broadcast(agent::ShowPageMessage{});
  EXPECT_TRUE(WaitUntil([&] { return platform::IsWindowVisible(Page()); }));

  channel.Broadcast(agent::OpenFolderMessage{"C:\\Scans\\Photo1"});
  ASSERT_TRUE(WaitUntil([&] { return world.Desktop().ShellExecutes().size() == 1; }));
  EXPECT_EQ(world.Desktop().ShellExecutes()[0].verb, "explore");
  EXPECT_EQ(world.Desktop().ShellExecutes()[0].file, "C:\\Scans\\Photo1");

  channel.Broadcast(agent::NotifyMessage{agent::NoticeKind::DiskFull, {}});
  ASSERT_TRUE(WaitUntil([&] { return world.Desktop().MessageBoxes().size() == 1; }));
  EXPECT_EQ(world.Desktop().MessageBoxes()[0].caption, "Pagewick Message");

  channel.Broadcast(agent::ExitMessage{});
  ASSERT_TRUE(WaitUntil([&] { return ended.load(); }));
  EXPECT_TRUE(connected.load());
  EXPECT_TRUE(world.Desktop().TrayIcons().empty()) << "the agent removes its icon";
}

// Each notice opens its box with its own text; the service hears that the box
// closed only once the user has answered it.
TEST_F(SessionAgentTest, EachNoticeShowsItsBoxAndIsAnsweredOnlyWhenTheBoxCloses) {
  std::atomic<bool> release{false};
  world.Desktop().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord& box, hostworld::ModalLoop& loop) {
    while (!release.load() && loop.Pump()) std::this_thread::sleep_for(1ms);
    return hostworld::Desktop::DefaultMessageBoxResult(box.style);
  });
  ASSERT_TRUE(channel.Start().ok());
  StartAgent(false);
  ASSERT_TRUE(WaitUntil([&] { return channel.AgentCount() == 1 && Page() != nullptr; }));
  std::vector<agent::NoticeKind> answered;
  auto takeAnswers = [&] {
    for (const agent::AgentMessage& message : channel.TakeMessages()) {
      if (const auto* closed = std::get_if<agent::NoticeClosedMessage>(&message.message)) answered.push_back(closed->kind);
    }
  };

  const struct {
    agent::NotifyMessage notice;
    const char* shows;  // a part of the box's text
  } rows[] = {
      {{agent::NoticeKind::DiskFull, {}}, "not enough free space"},
      {{agent::NoticeKind::PictureIncomplete, "C:\\Scans\\0001\\img0001.partial"}, "C:\\Scans\\0001\\img0001.partial"},
      {{agent::NoticeKind::CannotSave, "D:\\Gone"}, "D:\\Gone"},
      {{agent::NoticeKind::LocationRefused, {}, 2}, "network drive or share"},
      {{agent::NoticeKind::LocationRefused, {}, 3}, "names a device"},
      {{agent::NoticeKind::LocationRefused, {}, static_cast<std::uint32_t>(platform::LocationProblem::NotWritable)},
       "Creating a folder and a file in the save location failed with your user's rights"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.notice.kind));
    const std::size_t before = world.Desktop().MessageBoxes().size();
    release = false;
    answered.clear();
    channel.Broadcast(row.notice);
    ASSERT_TRUE(WaitUntil([&] { return world.Desktop().MessageBoxes().size() == before + 1; }));
    const hostworld::MessageBoxRecord box = world.Desktop().MessageBoxes().back();
    EXPECT_EQ(box.caption, "Pagewick Message");
    EXPECT_NE(box.text.find(row.shows), std::string::npos) << box.text;
    // Time for an early answer to arrive, were one sent.
    std::this_thread::sleep_for(50ms);
    takeAnswers();
    EXPECT_TRUE(answered.empty()) << "no answer while the box is open";
    release = true;
    ASSERT_TRUE(WaitUntil([&] {
      takeAnswers();
      return !answered.empty();
    }));
    EXPECT_EQ(answered, std::vector<agent::NoticeKind>{row.notice.kind});
  }
}

// A location longer than the folder browser gives can only come from the
// settings file. The page shows it whole; Apply asks for a shorter folder, as
// the browser does, and sends the service nothing it would refuse.
TEST_F(SessionAgentTest, ALocationLongerThanTheBrowserGivesIsShownWholeAndNotAppliedBack) {
  const std::string longLocation = "C:\\" + std::string(200, 'd');
  const std::string shortLocation = "C:\\Scans";
  std::string shown;
  bool appliedShort = false;
  // Set last on the agent's thread: what the user saw is then there to read.
  std::atomic<bool> userDone{false};
  world.Desktop().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord& box, hostworld::ModalLoop&) {
    // The first box, a notice, stands for the user at the page: on the agent's
    // thread, they press Apply with the long location, then with a short one.
    if (box.text.find("D:\\Gone") != std::string::npos && agentProcess.MainForm.Get() != nullptr) {
      TMainForm& page = *agentProcess.MainForm.Get();
      shown = page.PathEdit.Text();
      page.AutoRCheckBx.SetChecked(false);
      page.ApplyBtnClick();
      EXPECT_TRUE(page.ApplyBtn.Enabled()) << "nothing applied: Apply stays available";
      page.PathEdit.SetText("\\\\host\\share\\Scans");
      page.ApplyBtnClick();
      EXPECT_TRUE(page.ApplyBtn.Enabled()) << "a share is refused by the agent itself";
      page.PathEdit.SetText(shortLocation);
      page.ApplyBtnClick();
      appliedShort = !page.ApplyBtn.Enabled();
      userDone = true;
    }
    return hostworld::Desktop::DefaultMessageBoxResult(box.style);
  });
  ASSERT_TRUE(channel.Start().ok());
  StartAgent(false);
  ASSERT_TRUE(WaitUntil([&] { return channel.AgentCount() == 1 && Page() != nullptr; }));
  channel.Broadcast(agent::StateMessage{1, longLocation, true, false, true});
  channel.Broadcast(agent::NotifyMessage{agent::NoticeKind::CannotSave, "D:\\Gone"});

  std::vector<agent::ApplyMessage> applied;
  ASSERT_TRUE(WaitUntil([&] {
    for (const agent::AgentMessage& message : channel.TakeMessages()) {
      if (const auto* apply = std::get_if<agent::ApplyMessage>(&message.message)) applied.push_back(*apply);
    }
    return !applied.empty();
  }));
  // The short location's Apply reaches the service before the user's hand
  // leaves the page.
  ASSERT_TRUE(WaitUntil([&] { return userDone.load(); }));
  EXPECT_EQ(shown, longLocation) << "the page shows the location whole";
  const std::vector<hostworld::MessageBoxRecord> boxes = world.Desktop().MessageBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_NE(boxes[1].text.find("longer than 128 characters"), std::string::npos) << boxes[1].text;
  EXPECT_NE(boxes[2].text.find("network drive or share"), std::string::npos) << boxes[2].text;
  EXPECT_TRUE(appliedShort);
  ASSERT_EQ(applied.size(), 1u) << "only the short location went to the service";
  EXPECT_EQ(applied[0], (agent::ApplyMessage{1, shortLocation, false}));
  EXPECT_EQ(channel.AgentCount(), 1u) << "the agent's connection stays";
}

// A page whose user is not at the console shows the settings with every
// control and Apply disabled and a line that says why, and sends nothing; a
// later state that lets it change them makes it a page like any other.
TEST_F(SessionAgentTest, APageThatMayNotChangeTheSettingsShowsThemReadOnly) {
  struct Seen {
    bool saveType = false, path = false, browse = false, autoRotate = false, apply = false, line = false;
    std::string lineText;
    bool operator==(const Seen&) const = default;
  };
  std::vector<Seen> seen;
  world.Desktop().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord& box, hostworld::ModalLoop&) {
    // Each notice's box stands for the user at the page, on the agent's thread.
    if (box.text.find("D:\\Gone") != std::string::npos && agentProcess.MainForm.Get() != nullptr) {
      TMainForm& page = *agentProcess.MainForm.Get();
      page.AutoRCheckBxClick();
      page.ApplyBtnClick();
      seen.push_back({page.SaveComboBx.Enabled(), page.PathEdit.Enabled(), page.BrowseBtn.Enabled(),
                      page.AutoRCheckBx.Enabled(), page.ApplyBtn.Enabled(), page.ReadOnlyLbl.Visible(),
                      page.ReadOnlyLbl.Caption()});
    }
    return hostworld::Desktop::DefaultMessageBoxResult(box.style);
  });
  ASSERT_TRUE(channel.Start().ok());
  StartAgent(false);
  ASSERT_TRUE(WaitUntil([&] { return channel.AgentCount() == 1 && Page() != nullptr; }));
  channel.Broadcast(agent::StateMessage{1, "C:\\Scans", true, false, false});
  channel.Broadcast(agent::NotifyMessage{agent::NoticeKind::CannotSave, "D:\\Gone"});
  ASSERT_TRUE(WaitUntil([&] { return world.Desktop().MessageBoxes().size() == 1; }));
  channel.Broadcast(agent::StateMessage{1, "C:\\Scans", true, false, true});
  channel.Broadcast(agent::NotifyMessage{agent::NoticeKind::CannotSave, "D:\\Gone"});
  ASSERT_TRUE(WaitUntil([&] { return world.Desktop().MessageBoxes().size() == 2; }));
  std::vector<agent::ApplyMessage> applied;
  (void)WaitUntil([&] {
    for (const agent::AgentMessage& message : channel.TakeMessages()) {
      if (const auto* apply = std::get_if<agent::ApplyMessage>(&message.message)) applied.push_back(*apply);
    }
    return !applied.empty();
  }, 1s);

  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], (Seen{false, false, false, false, false, true,
                           "Only the user at this computer's console can change these settings. They are shown here "
                           "read-only."}));
  EXPECT_EQ(seen[1], (Seen{true, true, true, true, false, false,
                           "Only the user at this computer's console can change these settings. They are shown here "
                           "read-only."}))
      << "Apply sent the settings and is disabled again";
  ASSERT_EQ(applied.size(), 1u) << "only the page that may change the settings sends them";
  EXPECT_EQ(applied[0], (agent::ApplyMessage{1, "C:\\Scans", true}));
}

TEST_F(SessionAgentTest, DesktopStartShowsThePageOnceTheSettingsAreInAndEndsWhenTheServiceGoes) {
  ASSERT_TRUE(channel.Start().ok());
  StartAgent(true);
  ASSERT_TRUE(WaitUntil([&] { return channel.AgentCount() == 1 && Page() != nullptr; }));
  EXPECT_FALSE(platform::IsWindowVisible(Page())) << "not before the service's settings";
  channel.Broadcast(agent::StateMessage{0, "C:\\Scans", false, false, true});
  EXPECT_TRUE(WaitUntil([&] { return Page() != nullptr && platform::IsWindowVisible(Page()); }));

  channel.Stop();
  ASSERT_TRUE(WaitUntil([&] { return ended.load(); }));
  EXPECT_TRUE(world.Desktop().TrayIcons().empty());
}

// The icon is named "Pagewick" (the tooltip the notification area, its
// settings and screen readers show) and keeps one identity: its GUID where the
// shell takes it, else its window and id; it asks for version 4 where the
// shell has it, and a click reaches the page in either form of the callback.
TEST_F(SessionAgentTest, TheTrayIconIsNamedAndIdentifiedAsTheShellAllows) {
  const struct {
    const char* system;
    std::uint32_t major;
    std::uint32_t minor;
    bool guidRefused;  // an executable that moved since Windows saw its GUID; Wine
    std::optional<platform::Guid> identity;
    std::uint32_t version;
  } rows[] = {
      {"Windows 11", 10, 0, false, platform::TrayIcon::kIconGuid, 4},
      {"Windows 11, GUID refused", 10, 0, true, std::nullopt, 4},
      {"Windows Vista", 6, 0, false, std::nullopt, 4},
  };
  ASSERT_TRUE(channel.Start().ok());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.system);
    world.SetVersion(platform::kPlatformNt, row.major, row.minor, 1000);
    world.Desktop().SetTrayGuidRefused(row.guidRefused);
    ended = false;
    // The last row's agent is gone from the channel before this one comes.
    ASSERT_TRUE(WaitUntil([&] { return channel.AgentCount() == 0; }));
    StartAgent(false);
    // The version is asked for just after the add, and the page names the
    // icon once its texts are loaded: the icon is complete once it has both.
    // The agent must also be connected, or the Exit below reaches nobody.
    ASSERT_TRUE(WaitUntil([&] {
      const std::vector<hostworld::TrayIconRecord> icons = world.Desktop().TrayIcons();
      return icons.size() == 1 && icons[0].version != 0 && !icons[0].tip.empty() && Page() != nullptr &&
             channel.AgentCount() == 1;
    })) << "the icon was never shown with a name";
    const hostworld::TrayIconRecord icon = world.Desktop().TrayIcons()[0];
    EXPECT_EQ(icon.tip, "Pagewick");
    EXPECT_EQ(icon.guid, row.identity);
    EXPECT_EQ(icon.version, row.version);
    ASSERT_TRUE(world.Desktop().ClickTrayIcon(platform::TrayIcon::kIconId, hostworld::MouseButton::Left));
    EXPECT_TRUE(WaitUntil([&] { return platform::IsWindowVisible(Page()); })) << "a click shows the page";
    channel.Broadcast(agent::ExitMessage{});
    ASSERT_TRUE(WaitUntil([&] { return ended.load(); }));
    agentThread.join();
    EXPECT_TRUE(world.Desktop().TrayIcons().empty()) << "the icon is removed by the identity it was added with";
  }
}

// Pictures that land within a few seconds of each other are one burst: the
// icon tells once, after the last, how many arrived and where; a click on the
// notification opens that folder. The folder window still opens as before.
TEST_F(SessionAgentTest, EachBurstOfPicturesIsToldOnceWithItsCountAndFolder) {
  for (const char* folder : {"C:\\Scans\\Photo1", "C:\\Scans\\Photo2", "C:\\Scans\\Photo3", "C:\\Scans\\Photo4"}) {
    world.MakeDirectories(folder);
  }
  ASSERT_TRUE(channel.Start().ok());
  StartAgent(false);
  ASSERT_TRUE(WaitUntil([&] { return channel.AgentCount() == 1 && world.Desktop().TrayIcons().size() == 1; }));
  // A box after the pictures: once it is up, the agent has counted them all.
  auto land = [&](const std::vector<std::string>& folders) {
    const std::size_t boxes = world.Desktop().MessageBoxes().size();
    for (const std::string& folder : folders) channel.Broadcast(agent::OpenFolderMessage{folder});
    channel.Broadcast(agent::NotifyMessage{agent::NoticeKind::CannotSave, "D:\\Gone"});
    return WaitUntil([&] { return world.Desktop().MessageBoxes().size() == boxes + 1; });
  };
  auto balloonsAfterQuiet = [&](std::size_t expected) {
    world.Desktop().AdvanceTime(kPictureBurstQuietMs - 1);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(world.Desktop().Balloons().size(), expected - 1) << "not while pictures may still come";
    world.Desktop().AdvanceTime(1);
    return WaitUntil([&] { return world.Desktop().Balloons().size() == expected; });
  };
  const struct {
    std::vector<std::string> folders;
    std::vector<std::string> told;  // the texts of the notifications the burst gives
  } bursts[] = {
      {{"C:\\Scans\\Photo1", "C:\\Scans\\Photo1", "C:\\Scans\\Photo1"},
       {"3 scanned pictures arrived in C:\\Scans\\Photo1."}},
      {{"C:\\Scans\\Photo2"}, {"A scanned picture arrived in C:\\Scans\\Photo2."}},
      // A new folder ends the burst of the one before.
      {{"C:\\Scans\\Photo3", "C:\\Scans\\Photo3", "C:\\Scans\\Photo4"},
       {"2 scanned pictures arrived in C:\\Scans\\Photo3.", "A scanned picture arrived in C:\\Scans\\Photo4."}},
  };
  std::size_t told = 0;
  for (const auto& burst : bursts) {
    SCOPED_TRACE(burst.told.back());
    ASSERT_TRUE(land(burst.folders));
    told += burst.told.size();
    ASSERT_TRUE(balloonsAfterQuiet(told));
    const std::vector<hostworld::BalloonRecord> balloons = world.Desktop().Balloons();
    for (std::size_t i = 0; i < burst.told.size(); ++i) {
      const hostworld::BalloonRecord& balloon = balloons[told - burst.told.size() + i];
      EXPECT_EQ(balloon.title, "Pagewick");
      EXPECT_EQ(balloon.text, burst.told[i]);
    }
  }
  std::this_thread::sleep_for(20ms);
  world.Desktop().AdvanceTime(2 * kPictureBurstQuietMs);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(world.Desktop().Balloons().size(), told) << "a burst is told once";

  // Each new folder got its folder window; a click on the notification opens
  // the last burst's folder again.
  std::vector<hostworld::ShellExecuteRecord> opened = world.Desktop().ShellExecutes();
  ASSERT_EQ(opened.size(), 4u);
  ASSERT_TRUE(world.Desktop().ClickLastBalloon());
  ASSERT_TRUE(WaitUntil([&] { return world.Desktop().ShellExecutes().size() == 5; }));
  opened = world.Desktop().ShellExecutes();
  EXPECT_EQ(opened.back().verb, "explore");
  EXPECT_EQ(opened.back().file, "C:\\Scans\\Photo4");
  EXPECT_EQ(opened.back().owner, Page());
}

}  // namespace
}  // namespace pw::ui::test
