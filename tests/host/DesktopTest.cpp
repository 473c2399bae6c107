// The host desktop's driver side: dialogs recorded and answered, their modal
// loops pumped on the world's clock, the shell's windows and the tray.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Dialogs.h"
#include "platform/Shell.h"
#include "platform/SystemInfo.h"
#include "platform/NotifyIcon.h"
#include "platform/hostworld/World.h"
#include "tests/platform/DesktopFixture.h"
#include "tests/support/host/ThreadSwitches.h"

namespace pw::test {
namespace {

namespace wm = platform::wm;
using hostworld::BrowseAnswer;
using hostworld::ModalLoop;

using HostDesktopTest = DesktopTest;

TEST_F(HostDesktopTest, MessageBoxIsRecordedFindableWhileOpenAndAnsweredByTheDriver) {
  platform::WindowHandle seenWhileOpen = nullptr;
  world_.Desktop().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord& box, ModalLoop&) {
    seenWhileOpen = platform::FindWindow(std::nullopt, box.caption);
    return platform::dialog_result::kCancel;
  });
  int result = platform::MessageBoxEx(nullptr, "Text", "Pagewick Message", 0x1040, 0);
  EXPECT_EQ(result, platform::dialog_result::kCancel);
  EXPECT_NE(seenWhileOpen, nullptr);
  EXPECT_EQ(platform::FindWindow(std::nullopt, "Pagewick Message"), nullptr) << "closed with the box";
  auto boxes = world_.Desktop().MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Text");
  EXPECT_EQ(boxes[0].style, 0x1040u);
  EXPECT_EQ(boxes[0].result, platform::dialog_result::kCancel);
}

TEST_F(HostDesktopTest, TimerTicksContinueInsideAMessageBoxAndThreadMessagesAreLost) {
  RecordingHandler handler;
  auto window = MakeWindow(handler, "Owner");
  ASSERT_NE(platform::SetTimer(window->handle(), 1, 2000), 0u);
  world_.Desktop().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord&, ModalLoop& loop) {
    (void)platform::PostThreadMessage(platform::GetCurrentThreadId(), wm::kUser + 1, 1, 0);
    for (int i = 0; i < 3; ++i) loop.AdvanceTime(2000);
    return platform::dialog_result::kOk;
  });
  EXPECT_EQ(platform::MessageBoxEx(window->handle(), "", "", 0, 0), platform::dialog_result::kOk);
  EXPECT_EQ(handler.Count(wm::kTimer), 3u);
  EXPECT_EQ(world_.Desktop().LostThreadMessages(), 1u);
  EXPECT_FALSE(platform::PeekMessage()) << "the thread message did not survive the box";
}

TEST_F(HostDesktopTest, QuitClosesAnOpenBoxAndStaysForTheOuterLoop) {
  world_.Desktop().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord&, ModalLoop& loop) {
    platform::PostQuitMessage(4);
    EXPECT_FALSE(loop.Pump());
    return platform::dialog_result::kOk;
  });
  EXPECT_EQ(platform::MessageBoxEx(nullptr, "", "", 0, 0), platform::dialog_result::kNone);
  std::optional<platform::Message> quit = platform::PeekMessage();
  ASSERT_TRUE(quit);
  EXPECT_EQ(quit->message, wm::kQuit);
  EXPECT_EQ(quit->wParam, 4u);

  // Opened with WM_QUIT already waiting, the box closes at once.
  bool driverRan = false;
  world_.Desktop().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord&, ModalLoop&) {
    driverRan = true;
    return platform::dialog_result::kOk;
  });
  platform::PostQuitMessage(0);
  EXPECT_EQ(platform::MessageBoxEx(nullptr, "", "", 0, 0), platform::dialog_result::kNone);
  EXPECT_FALSE(driverRan);
}

int RecordInitialized(platform::WindowHandle dialog, std::uint32_t notification, std::intptr_t, std::intptr_t data) {
  if (notification == platform::kBffmInitialized) {
    platform::SendMessage(dialog, platform::kBffmSetSelectionA, 1, data);
  }
  return 0;
}

TEST_F(HostDesktopTest, FolderBrowserCallsBackFirstAndReturnsTheDriversChoice) {
  static const char kStart[] = "C:\\Start Here";
  struct Row {
    BrowseAnswer answer;
    bool listExpected;
    std::optional<std::string> path;
  };
  const Row rows[] = {
      {BrowseAnswer::Choose("C:\\Pictures"), true, "C:\\Pictures"},
      {BrowseAnswer::ChooseWithoutPath(), true, std::nullopt},  // e.g. the computer node
      {BrowseAnswer::Cancel(), false, std::nullopt},
  };
  for (const Row& row : rows) {
    world_.Desktop().SetBrowseDriver([&](const hostworld::BrowseRecord& record, ModalLoop&) {
      EXPECT_TRUE(record.initializedSent);
      EXPECT_EQ(record.selectionSent, std::string(kStart));
      return row.answer;
    });
    platform::ItemIdList root = platform::GetSpecialFolderLocation(nullptr, platform::csidl::kDrives);
    ASSERT_TRUE(root);
    EXPECT_FALSE(platform::GetPathFromIdList(root)) << "the drives folder has no path";
    platform::BrowseInfo info;
    info.root = &root;
    info.title = "Choose";
    info.callback = &RecordInitialized;
    info.data = reinterpret_cast<std::intptr_t>(kStart);
    platform::ItemIdList chosen = platform::BrowseForFolder(info);
    EXPECT_EQ(static_cast<bool>(chosen), row.listExpected);
    EXPECT_EQ(platform::GetPathFromIdList(chosen), row.path);
  }
  auto browses = world_.Desktop().Browses();
  ASSERT_EQ(browses.size(), 3u);
  EXPECT_TRUE(browses[0].rootIsDrives);
  EXPECT_EQ(browses[0].title, "Choose");
  EXPECT_EQ(world_.Desktop().LiveItemIdLists(), 0u) << "every list went back to the shell's allocator";
}

TEST_F(HostDesktopTest, ExploreOpensAnExplorerWindowTitledWithTheFolderName) {
  world_.MakeDirectories("C:\\Scans\\Photo1");
  std::intptr_t result = platform::ShellExecute(nullptr, "explore", "c:\\scans\\photo1", "", "", platform::kSwShow);
  EXPECT_GT(result, 32);
  platform::WindowHandle explorer = platform::FindWindow(std::nullopt, "Photo1");
  ASSERT_NE(explorer, nullptr);
  EXPECT_TRUE(platform::IsWindow(explorer));
  world_.Desktop().CloseForeignWindow(explorer);
  EXPECT_FALSE(platform::IsWindow(explorer));

  EXPECT_LE(platform::ShellExecute(nullptr, "explore", "C:\\Missing", "", "", platform::kSwShow), 32);
  auto calls = world_.Desktop().ShellExecutes();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].verb, "explore");
  EXPECT_EQ(calls[0].show, platform::kSwShow);
}

class SilentDevice : public hostworld::Device {
 public:
  platform::IoControlResult IoControl(std::uint32_t, std::span<const std::byte>, std::span<std::byte>) override {
    return {false, 0, platform::error::kNotReady};
  }
};

TEST_F(HostDesktopTest, PluggingADeviceBroadcastsDeviceChangeToTopLevelWindows) {
  RecordingHandler handler;
  auto window = MakeWindow(handler, "Hidden owner", platform::style::kPopup);
  world_.AddDrive('E', platform::DriveType::Removable);
  world_.AttachDevice('E', std::make_shared<SilentDevice>());
  world_.DetachDevice('E');
  Drain();
  std::vector<std::uintptr_t> events;
  for (const auto& entry : handler.received) {
    if (entry.message == wm::kDeviceChange) events.push_back(entry.wParam);
  }
  EXPECT_EQ(events, (std::vector<std::uintptr_t>{platform::kDbtDeviceArrival, platform::kDbtDeviceRemoveComplete}));
}

TEST_F(HostDesktopTest, GetMessageWakesWhenTheClockBringsATimer) {
  RecordingHandler handler;
  auto window = MakeWindow(handler, "Waiter");
  ASSERT_NE(platform::SetTimer(window->handle(), 2, 1000), 0u);
  std::thread clock([&] {
    platform::Sleep(20);
    world_.Desktop().AdvanceTime(1000);
  });
  platform::Message message;
  ASSERT_TRUE(platform::GetMessage(message));
  clock.join();
  EXPECT_EQ(message.message, wm::kTimer);
  EXPECT_EQ(message.wParam, 2u);
}

// As on Windows, a modal dialog takes the activation from its owner while it
// is open and gives it back when it closes, when the owner is visible.
TEST_F(HostDesktopTest, ClosingAModalDialogActivatesItsVisibleOwnerAgain) {
  struct Row {
    const char* what;
    bool browser;
    bool ownerVisible;
  };
  const Row rows[] = {
      {"message box over a visible window", false, true},
      {"folder browser over a visible window", true, true},
      {"message box over a hidden window", false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    RecordingHandler handler;
    auto window = MakeWindow(handler, "Owner");
    if (row.ownerVisible) platform::ShowWindow(window->handle(), platform::ShowCommand::Show);
    handler.received.clear();
    bool activeWhileOpen = true;
    auto duringDialog = [&] { activeWhileOpen = platform::GetForegroundWindow() == window->handle(); };
    world_.Desktop().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord&, ModalLoop&) {
      duringDialog();
      return platform::dialog_result::kOk;
    });
    world_.Desktop().SetBrowseDriver([&](const hostworld::BrowseRecord&, ModalLoop&) {
      duringDialog();
      return BrowseAnswer::Cancel();
    });
    if (row.browser) {
      platform::BrowseInfo info;
      info.owner = window->handle();
      (void)platform::BrowseForFolder(info);
    } else {
      (void)platform::MessageBoxEx(window->handle(), "Text", "Caption", 0, 0);
    }
    std::vector<std::uintptr_t> activations;
    for (const Received& entry : handler.received) {
      if (entry.message == wm::kActivate) activations.push_back(entry.wParam);
    }
    EXPECT_FALSE(activeWhileOpen) << "the dialog is the active window while open";
    if (row.ownerVisible) {
      EXPECT_EQ(activations, (std::vector<std::uintptr_t>{platform::kWaInactive, platform::kWaActive}));
      EXPECT_EQ(platform::GetForegroundWindow(), window->handle());
    } else {
      EXPECT_TRUE(std::find(activations.begin(), activations.end(), platform::kWaActive) == activations.end())
          << "a hidden owner is not activated";
    }
  }
}

using pw::test::ThreadSwitches;

// A thread in GetMessage with nothing to do sleeps until something is posted
// or the clock moves, instead of looking again every few milliseconds.
TEST_F(HostDesktopTest, IdleGetMessageSleepsUntilAPostArrives) {
  std::atomic<pid_t> waiter{0};
  std::atomic<platform::ThreadId> waiterId{0};
  std::atomic<std::uint32_t> received{0};
  std::thread thread([&] {
    platform::EnsureMessageQueue();
    waiterId = platform::GetCurrentThreadId();
    waiter = ::gettid();
    platform::Message message;
    (void)platform::GetMessage(message);
    received = message.message;
  });
  while (waiter.load() == 0) std::this_thread::yield();
  platform::Sleep(50);  // into its wait
  const std::uint64_t before = ThreadSwitches(waiter);
  platform::Sleep(500);
  const std::uint64_t idleWakeUps = ThreadSwitches(waiter) - before;
  EXPECT_TRUE(platform::PostThreadMessage(waiterId, wm::kUser + 5, 0, 0).ok());
  thread.join();
  EXPECT_EQ(received.load(), wm::kUser + 5) << "a post wakes it";
  EXPECT_LT(idleWakeUps, 5u) << "woke " << idleWakeUps << " times in 500 ms with nothing to do";
}

// In real time (a process of its own) a waiting GetMessage still wakes for
// its thread's timer when the timer is due.
TEST_F(HostDesktopTest, IdleGetMessageInRealTimeWakesForItsTimer) {
  RecordingHandler handler;
  auto window = MakeWindow(handler, "Real-time waiter");
  world_.Desktop().SetRealTime(true);
  ASSERT_NE(platform::SetTimer(window->handle(), 3, 40), 0u);
  // The deadline: a message that is not the timer's, posted if the tick never comes.
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  std::thread watchdog([&] {
    std::unique_lock lock(mutex);
    if (!done.wait_for(lock, std::chrono::seconds(5), [&] { return finished; })) {
      (void)platform::PostMessage(window->handle(), wm::kUser + 9, 0, 0);
    }
  });
  platform::Message message;
  ASSERT_TRUE(platform::GetMessage(message));
  {
    std::scoped_lock lock(mutex);
    finished = true;
  }
  done.notify_all();
  watchdog.join();
  EXPECT_EQ(message.message, wm::kTimer);
  EXPECT_EQ(message.wParam, 3u);
}

class TrayIconTest : public DesktopTest {
 protected:
  std::vector<std::string> events_;
  platform::IconHandle icon_{world_.Desktop().NewIcon(32, 32, 16)};

  platform::TrayIcon::Events Events() {
    platform::TrayIcon::Events events;
    events.onClick = [this] { events_.push_back("click"); };
    events.onCommand = [this](std::uint32_t id) { events_.push_back("command " + std::to_string(id)); };
    events.onPrepareMenu = [](platform::PopupMenu& menu) {
      menu.Clear();
      menu.Append(10, "Settings");
      menu.Append(11, "Exit");
    };
    return events;
  }
};

TEST_F(TrayIconTest, LivesAsLongAsItsObjectWithIdOneAndCallback0x800) {
  {
    platform::TrayIcon tray(icon_.get(), Events());
    auto icons = world_.Desktop().TrayIcons();
    ASSERT_EQ(icons.size(), 1u);
    EXPECT_EQ(icons[0].id, 1u);
    EXPECT_EQ(icons[0].callbackMessage, 0x800u);
    EXPECT_EQ(icons[0].icon, icon_.get());
    EXPECT_EQ(icons[0].window, tray.ownerWindow());
    EXPECT_FALSE(platform::IsWindowVisible(tray.ownerWindow())) << "the owner is a hidden top-level window";
  }
  EXPECT_TRUE(world_.Desktop().TrayIcons().empty());
}

TEST_F(TrayIconTest, ComesBackAfterTheTaskbarIsCreatedAgain) {
  platform::TrayIcon tray(icon_.get(), Events());
  world_.Desktop().RestartTaskbar();
  EXPECT_TRUE(world_.Desktop().TrayIcons().empty());
  Drain();
  EXPECT_EQ(world_.Desktop().TrayIcons().size(), 1u);
}

TEST_F(TrayIconTest, LeftClickRunsClickAtButtonUpAndDoubleClickRunsNoDefaultItem) {
  platform::TrayIcon tray(icon_.get(), Events());
  ASSERT_TRUE(world_.Desktop().ClickTrayIcon(1, hostworld::MouseButton::Left));
  Drain();
  EXPECT_EQ(events_, (std::vector<std::string>{"click"}));
  events_.clear();
  ASSERT_TRUE(world_.Desktop().DoubleClickTrayIcon(1));
  Drain();
  EXPECT_EQ(events_, (std::vector<std::string>{"click"})) << "no menu item is the default";
}

TEST_F(TrayIconTest, RightClickForegroundsTheOwnerOpensTheMenuAtTheCursorAndPostsNull) {
  platform::TrayIcon tray(icon_.get(), Events());
  world_.Desktop().SetCursorPos({700, 560});
  world_.Desktop().SetMenuDriver([&](const hostworld::MenuRecord& menu, ModalLoop&) {
    EXPECT_EQ(platform::GetForegroundWindow(), tray.ownerWindow());
    return menu.items.at(1).first;
  });
  ASSERT_TRUE(world_.Desktop().ClickTrayIcon(1, hostworld::MouseButton::Right));
  // Take the messages one by one to see the WM_NULL that follows the menu.
  bool nullPosted = false;
  while (std::optional<platform::Message> message = platform::PeekMessage()) {
    nullPosted |= message->message == wm::kNull && message->window == tray.ownerWindow();
    platform::DispatchMessage(*message);
  }
  EXPECT_TRUE(nullPosted);
  EXPECT_EQ(events_, (std::vector<std::string>{"command 11"}));
  auto menus = world_.Desktop().Menus();
  ASSERT_EQ(menus.size(), 1u);
  EXPECT_EQ(menus[0].at.x, 700);
  EXPECT_EQ(menus[0].at.y, 560);
  EXPECT_EQ(menus[0].items.size(), 2u);
}

}  // namespace
}  // namespace pw::test
