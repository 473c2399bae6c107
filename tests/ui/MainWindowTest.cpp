// The main window on the host desktop: identity, showing and hiding, the
// save-type rules, the folder browser, the tray icon and its menu.
#include <algorithm>
#include <cctype>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/ErrorSink.h"
#include "platform/Messages.h"
#include "platform/Profile.h"
#include "platform/Windows.h"
#include "tests/ui/MainFormFixture.h"

namespace pw::ui::test {
namespace {

using hostworld::BrowseAnswer;
using hostworld::ModalLoop;
using scanner::ScannerRequestKind;

class MainWindowTest : public MainFormTest {
 protected:
  platform::WindowHandle Found() const { return platform::FindWindow("TMainForm", "Pagewick"); }
  hostworld::Desktop& Desk() { return world.Desktop(); }
  // Chooses the menu item with this caption when the tray menu opens.
  void ChooseFromTrayMenu(const std::string& caption) {
    Desk().SetMenuDriver([caption](const hostworld::MenuRecord& menu, ModalLoop&) -> std::uint32_t {
      for (const auto& [id, text] : menu.items) {
        if (text == caption) return id;
      }
      return 0;
    });
    ASSERT_TRUE(Desk().ClickTrayIcon(1, hostworld::MouseButton::Right));
    Pump();
  }
};

TEST_F(MainWindowTest, IsAHiddenTMainFormTitledPagewickWithTheDesignedFrame) {
  TMainForm& main = CreateForm();
  ASSERT_NE(main.Handle(), nullptr);
  EXPECT_EQ(Found(), main.Handle());
  EXPECT_FALSE(platform::IsWindowVisible(main.Handle()));
  EXPECT_EQ(platform::GetClientSize(main.Handle()), (platform::Size{520, 362}));
  std::optional<platform::Rect> frame = platform::GetWindowRect(main.Handle());
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->left, 268);
  EXPECT_EQ(frame->top, 226);
  EXPECT_TRUE(main.TrayIconShown());
  EXPECT_FALSE(main.Timer1.Enabled()) << "the poll timer starts with the first activation";
  ASSERT_TRUE(main.backImage.Picture());
  EXPECT_EQ(main.backImage.Picture()->width, 535);
}

// The controls sit in client coordinates, so the client area keeps the
// design's 520 x 362 and the frame around it is the system's: the design's
// outer 528 x 396 comes out only where the metrics give a 4-pixel frame and a
// 26-pixel caption.
TEST_F(MainWindowTest, ClientAreaHoldsTheDesignAndTheFrameFollowsTheSystemsMetrics) {
  struct Case {
    const char* name;
    hostworld::Desktop::FrameMetrics metrics;
    platform::Size outer;
  };
  const Case cases[] = {
      {"this desktop's own", {}, {526, 387}},
      {"Wine and classic Windows", {3, 3, 19}, {526, 387}},
      {"the design's", {4, 4, 26}, {528, 396}},
      {"a wider frame", {8, 8, 31}, {536, 409}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Desk().SetFrameMetrics(c.metrics);
    TMainForm& main = CreateForm();
    EXPECT_EQ(platform::GetClientSize(main.Handle()), (platform::Size{520, 362}));
    std::optional<platform::Rect> frame = platform::GetWindowRect(main.Handle());
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->left, 268);
    EXPECT_EQ(frame->top, 226);
    EXPECT_EQ((platform::Size{frame->Width(), frame->Height()}), c.outer);
    form.reset();
  }
}

TEST_F(MainWindowTest, ShowingActivatesScansAppliesAndStartsThePollTimer) {
  TMainForm& main = CreateForm();
  main.Show();
  EXPECT_TRUE(platform::IsWindowVisible(main.Handle()));
  EXPECT_EQ(platform::GetForegroundWindow(), main.Handle());
  EXPECT_EQ(link.scans, 1);
  EXPECT_EQ(link.polls, (std::vector<ScannerRequestKind>{ScannerRequestKind::RequestComputerMode}));
  EXPECT_TRUE(main.Timer1.Enabled());
  EXPECT_EQ(main.Timer1.Interval(), kComputerModePollMs);
  EXPECT_TRUE(main.ApplyBtn.Enabled()) << "activation enables Apply after applying";
}

// The keys as the message loops take them: the dialog manager first.
TEST_F(MainWindowTest, TabWalksThePageInScreenOrderEnterAppliesAndEscCancels) {
  TMainForm& main = CreateForm();
  main.Show();
  const auto focused = [&] { return Desk().ControlName(Desk().Focus()); };
  const auto press = [&](std::uintptr_t key, bool shift) {
    EXPECT_TRUE(Desk().PressKey(key, shift));
    while (std::optional<platform::Message> message = platform::PeekMessage()) {
      if (!platform::IsDialogMessage(*message)) platform::DispatchMessage(*message);
    }
  };
  const auto walk = [&](bool shift, std::size_t steps) {
    std::vector<std::string> names{focused()};
    for (std::size_t i = 0; i < steps; ++i) {
      press(platform::keys::kVkTab, shift);
      names.push_back(focused());
    }
    return names;
  };
  const auto withAutoRotate = [&](std::vector<std::string> order) {
    // The check box takes its place after Browse when the page shows it.
    if (main.AutoRCheckBx.Visible() && main.AutoRCheckBx.Enabled()) {
      order.insert(std::find(order.begin(), order.end(), "ApplyBtn"), "AutoRCheckBx");
    }
    return order;
  };

  EXPECT_EQ(focused(), "SaveComboBx") << "activation focuses the first control";
  const struct {
    int saveType;
    bool shift;
    std::vector<std::string> order;  // from SaveComboBx round to it again, as Tab walks
  } walks[] = {
      {1, false, {"SaveComboBx", "PathEdit", "BrowseBtn", "ApplyBtn", "CancelBtn", "SaveComboBx"}},
      {1, true, {"SaveComboBx", "PathEdit", "BrowseBtn", "ApplyBtn", "CancelBtn", "SaveComboBx"}},
      // Card mode disables the location: Tab passes it by.
      {0, false, {"SaveComboBx", "ApplyBtn", "CancelBtn", "SaveComboBx"}},
  };
  for (const auto& row : walks) {
    SCOPED_TRACE(testing::Message() << "save type " << row.saveType << (row.shift ? ", Shift+Tab" : ", Tab"));
    main.SaveComboBx.UserSelect(row.saveType);
    std::vector<std::string> expected = withAutoRotate(row.order);
    if (row.shift) std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(walk(row.shift, expected.size() - 1), expected);
  }

  // Enter is Apply while Apply is enabled, wherever the focus is but on a button.
  ASSERT_EQ(focused(), "SaveComboBx");
  ASSERT_TRUE(main.ApplyBtn.Enabled());
  const std::size_t polls = link.polls.size();
  press(platform::keys::kVkReturn, false);
  EXPECT_NE(Settings().find("Mode=0"), std::string::npos) << "Enter applied the card mode";
  EXPECT_FALSE(main.ApplyBtn.Enabled());
  EXPECT_EQ(link.polls.size(), polls + 1);
  press(platform::keys::kVkReturn, false);
  EXPECT_EQ(link.polls.size(), polls + 1) << "a disabled Apply is not pressed";
  EXPECT_TRUE(platform::IsWindowVisible(main.Handle()));

  // Esc is Cancel; so is Enter on the focused Cancel button.
  press(platform::keys::kVkEscape, false);
  EXPECT_FALSE(platform::IsWindowVisible(main.Handle())) << "Esc hid the page";
  main.Show();
  EXPECT_EQ(focused(), "SaveComboBx") << "the focus comes back where it was";
  press(platform::keys::kVkTab, true);
  ASSERT_EQ(focused(), "CancelBtn");
  press(platform::keys::kVkReturn, false);
  EXPECT_FALSE(platform::IsWindowVisible(main.Handle())) << "Enter pressed the focused Cancel";
}

// What a keyboard and a screen reader need of the page: the auto-rotate
// switch and the read-only line uncovered within the design, the switch's
// text as its own caption, a save type the user picks but cannot type, and
// an Alt+letter for every caption, a label's going to the control after it.
TEST_F(MainWindowTest, ThePageIsUncoveredNamedAndReachableByAccessKeys) {
  TMainForm& main = CreateForm();
  main.Show();
  const std::vector<const toolkit::Control*> page{
      &main.PathLbl,  &main.SaveLbl,            &main.PCImage,   &main.SDImage,  &main.DesImage,
      &main.CheckLbl, &main.CancelBtn,          &main.ApplyBtn,  &main.BrowseBtn, &main.PathEdit,
      &main.SaveComboBx, &main.PagewickFileListBx, &main.AutoRCheckBx, &main.ReadOnlyLbl};
  const auto overlap = [](const toolkit::Bounds& a, const toolkit::Bounds& b) {
    return a.left < b.left + b.width && b.left < a.left + a.width && a.top < b.top + b.height &&
           b.top < a.top + a.height;
  };
  // The read-only line shows on an agent's page that may not change anything.
  for (const toolkit::Control* kept : {static_cast<const toolkit::Control*>(&main.AutoRCheckBx),
                                       static_cast<const toolkit::Control*>(&main.ReadOnlyLbl)}) {
    SCOPED_TRACE(kept->Name());
    const toolkit::Bounds b = kept->GetBounds();
    EXPECT_TRUE(b.left >= 0 && b.top >= 0 && b.left + b.width <= 520 && b.top + b.height <= 362);
    for (const toolkit::Control* other : page) {
      if (other == kept || !(other->Visible() || other == &main.ReadOnlyLbl || other == &main.AutoRCheckBx)) continue;
      EXPECT_FALSE(overlap(b, other->GetBounds())) << "covered by " << other->Name();
    }
  }
  EXPECT_TRUE(main.AutoRCheckBx.Visible());
  EXPECT_EQ(main.AutoRCheckBx.Caption(), main.LoadText(text::kCheckLabel));
  EXPECT_FALSE(main.AutoRCheckBx.Caption().empty());

  ASSERT_EQ(main.SaveComboBx.ItemIndex(), 1);
  EXPECT_TRUE(main.SaveComboBx.ListOnly());
  EXPECT_FALSE(main.SaveComboBx.UserEditText("hello")) << "a drop-down list takes no typing";
  EXPECT_EQ(main.SaveComboBx.ItemIndex(), 1);
  EXPECT_EQ(main.SaveComboBx.Text(), main.LoadText(text::kSaveModeComputerItem));

  const std::vector<std::string> order = [&] {
    std::vector<std::string> names;
    for (platform::WindowHandle control : Desk().Controls(main.Handle())) names.push_back(Desk().ControlName(control));
    return names;
  }();
  const struct {
    std::string caption;
    const char* owner;
    const char* focused;  // the control the key moves to
  } keys[] = {
      {main.SaveLbl.Caption(), "SaveLbl", "SaveComboBx"},
      {main.PathLbl.Caption(), "PathLbl", "PathEdit"},
      {main.BrowseBtn.Caption(), "BrowseBtn", "BrowseBtn"},
      {main.AutoRCheckBx.Caption(), "AutoRCheckBx", "AutoRCheckBx"},
      {main.ApplyBtn.Caption(), "ApplyBtn", "ApplyBtn"},
      {main.CancelBtn.Caption(), "CancelBtn", "CancelBtn"},
  };
  std::string letters;
  for (const auto& key : keys) {
    SCOPED_TRACE(key.owner);
    const auto amp = key.caption.find('&');
    ASSERT_NE(amp, std::string::npos) << key.caption;
    ASSERT_LT(amp + 1, key.caption.size());
    EXPECT_EQ(key.caption.find('&', amp + 1), std::string::npos) << "one access key: " << key.caption;
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(key.caption[amp + 1])));
    EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(letter)));
    EXPECT_EQ(letters.find(letter), std::string::npos) << "the letter " << letter << " is taken already";
    letters += letter;
    if (std::string(key.owner) != key.focused) {
      const auto at = std::find(order.begin(), order.end(), key.owner);
      ASSERT_NE(at, order.end());
      ASSERT_NE(std::next(at), order.end());
      EXPECT_EQ(*std::next(at), key.focused) << "the label's key goes to the control after it";
    }
  }
}

// The notification area shows small icons: 16 pixels at 96 DPI, more at
// higher scaling, each drawn at its size in the icon file.
TEST_F(MainWindowTest, TrayIconTakesTheSmallIconSizeOfTheScreensDpi) {
  const struct {
    int dpi;
    int size;
  } rows[] = {{96, 16}, {120, 20}, {144, 24}, {192, 32}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.dpi);
    Desk().SetDpi(row.dpi);
    CreateForm();
    const std::vector<hostworld::TrayIconRecord> icons = Desk().TrayIcons();
    ASSERT_EQ(icons.size(), 1u);
    const std::optional<platform::Size> size = Desk().IconSize(icons.front().icon);
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, row.size);
    EXPECT_EQ(size->height, row.size);
    form.reset();
  }
}

TEST_F(MainWindowTest, CancelHidesAndKeepsChangesThatTheNextActivationApplies) {
  TMainForm& main = CreateForm();
  main.Show();
  main.SaveComboBx.UserSelect(0);
  main.CancelBtn.Click();
  EXPECT_FALSE(platform::IsWindowVisible(main.Handle()));
  EXPECT_EQ(main.SaveComboBx.ItemIndex(), 0) << "nothing on the page is reverted";
  EXPECT_NE(Settings().find("Mode=1"), std::string::npos) << "nor stored";

  main.CoolTrayIcon1Click();
  EXPECT_NE(Settings().find("Mode=0"), std::string::npos);
  EXPECT_EQ(link.polls.back(), ScannerRequestKind::RequestCardMode);
  EXPECT_EQ(main.Timer1.Interval(), kCardModePollMs);
}

TEST_F(MainWindowTest, SaveTypeSwitchingFollowsTheEnablingRules) {
  world.WriteFile(kSettingsPath, "[Setting]\r\nAutoRoate=1\r\n");
  TMainForm& main = CreateForm();
  main.ApplyBtnClick();
  ASSERT_FALSE(main.ApplyBtn.Enabled());
  ASSERT_TRUE(main.AutoRCheckBx.Checked());

  main.SaveComboBx.UserSelect(0);
  EXPECT_EQ(main.DesImage.Picture(), main.SDImage.Picture());
  EXPECT_TRUE(main.DesImage.Visible());
  EXPECT_FALSE(main.PathEdit.Enabled());
  EXPECT_FALSE(main.BrowseBtn.Enabled());
  EXPECT_FALSE(main.CheckLbl.Enabled());
  EXPECT_FALSE(main.AutoRCheckBx.Enabled());
  EXPECT_FALSE(main.AutoRCheckBx.Checked()) << "item 0 unticks auto-rotate";
  EXPECT_TRUE(main.ApplyBtn.Enabled());

  main.ApplyBtnClick();
  main.SaveComboBx.UserSelect(1);
  EXPECT_EQ(main.DesImage.Picture(), main.PCImage.Picture());
  EXPECT_TRUE(main.PathEdit.Enabled());
  EXPECT_TRUE(main.BrowseBtn.Enabled());
  EXPECT_TRUE(main.CheckLbl.Enabled());
  EXPECT_TRUE(main.AutoRCheckBx.Enabled());
  EXPECT_FALSE(main.AutoRCheckBx.Checked()) << "item 1 afterwards leaves it unticked";
  EXPECT_TRUE(main.ApplyBtn.Enabled());

  main.ApplyBtnClick();
  main.SaveComboBx.SetItemIndex(-1);  // nothing selected (a "Mode" of -1): the computer picture
  main.SaveComboBxChange();
  EXPECT_EQ(main.SaveComboBx.ItemIndex(), -1);
  EXPECT_EQ(main.DesImage.Picture(), main.PCImage.Picture());
  EXPECT_TRUE(main.ApplyBtn.Enabled());
}

TEST_F(MainWindowTest, CloseBoxOnlyHidesAndTheTrayIconStays) {
  TMainForm& main = CreateForm();
  main.Show();
  ASSERT_TRUE(platform::PostMessage(main.Handle(), platform::wm::kClose, 0, 0).ok());
  Pump();
  EXPECT_TRUE(platform::IsWindow(main.Handle()));
  EXPECT_FALSE(platform::IsWindowVisible(main.Handle()));
  EXPECT_TRUE(main.TrayIconShown());
  EXPECT_EQ(Desk().TrayIcons().size(), 1u);
}

TEST_F(MainWindowTest, TrayClickAndSettingsItemShowTheWindow) {
  TMainForm& main = CreateForm();
  ASSERT_TRUE(Desk().ClickTrayIcon(1, hostworld::MouseButton::Left));
  Pump();
  EXPECT_TRUE(platform::IsWindowVisible(main.Handle()));
  main.Hide();

  ChooseFromTrayMenu("Settings");
  EXPECT_TRUE(platform::IsWindowVisible(main.Handle()));
  auto menus = Desk().Menus();
  ASSERT_EQ(menus.size(), 1u);
  ASSERT_EQ(menus[0].items.size(), 2u) << "the Hide item is never shown";
  EXPECT_EQ(menus[0].items[0].second, "Settings");
  EXPECT_EQ(menus[0].items[1].second, "Exit");
}

TEST_F(MainWindowTest, ExitReturnsTheScannerToCardModeAndTheWindowGoesAfterItsHandling) {
  TMainForm& main = CreateForm();
  main.Show();
  platform::WindowHandle handle = main.Handle();
  link.polls.clear();
  ChooseFromTrayMenu("Exit");
  EXPECT_EQ(link.polls, (std::vector<ScannerRequestKind>{ScannerRequestKind::RequestCardMode}));
  EXPECT_EQ(releases, 1);
  EXPECT_EQ(form, nullptr);
  EXPECT_EQ(process.MainForm.Get(), nullptr);
  EXPECT_FALSE(platform::IsWindow(handle));
  EXPECT_TRUE(Desk().TrayIcons().empty()) << "the tray icon went with the window";
  EXPECT_EQ(Found(), nullptr);
  // No polling any more: the timer went with the window.
  Desk().AdvanceTime(10000);
  Pump();
  EXPECT_EQ(link.polls.size(), 1u);
}

TEST_F(MainWindowTest, ExitChosenWhileTheFolderBrowserIsOpenReleasesTheWindowAfterTheBrowser) {
  TMainForm& main = CreateForm();
  main.Show();
  Desk().SetMenuDriver([](const hostworld::MenuRecord& menu, ModalLoop&) -> std::uint32_t {
    for (const auto& [id, text] : menu.items) {
      if (text == "Exit") return id;
    }
    return 0;
  });
  int releasesInsideBrowser = -1;
  Desk().SetBrowseDriver([&](const hostworld::BrowseRecord&, ModalLoop& loop) {
    EXPECT_TRUE(Desk().ClickTrayIcon(1, hostworld::MouseButton::Right));
    loop.Pump();
    loop.Pump();
    releasesInsideBrowser = releases;
    EXPECT_EQ(owner.asked.size(), 1u) << "Exit asked the owner";
    EXPECT_NE(form, nullptr);
    return hostworld::BrowseAnswer::Choose("C:\\Scans");
  });
  world.MakeDirectories("C:\\Scans");
  main.BrowseBtn.Click();
  EXPECT_EQ(releasesInsideBrowser, 0) << "the browser still uses the window object";
  Pump();
  EXPECT_EQ(releases, 1);
  EXPECT_EQ(form, nullptr);
  EXPECT_EQ(platform::ReadProfileString("Setting", "C:\\Scans", "", kSettingsPath).text, "0")
      << "the chosen folder was taken before the window went";
}

TEST_F(MainWindowTest, MessagesFromOtherProgramsNeverReleaseTheWindow) {
  TMainForm& main = CreateForm();
  main.ApplyBtnClick();
  const platform::WindowHandle handle = main.Handle();
  // 3025 (WM_USER + 2001) and its neighbours, as any other program may post them.
  for (std::uint32_t message : {0x0400u + 2001u, 0x0400u + 2002u, 0x0400u + 1999u}) {
    ASSERT_TRUE(platform::PostMessage(handle, message, 0, 0).ok());
    ASSERT_TRUE(platform::PostMessage(handle, message, 1, 1).ok());
  }
  Pump();
  EXPECT_TRUE(owner.asked.empty());
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(process.MainForm.Get(), form.get());
  EXPECT_TRUE(platform::IsWindow(handle));
  EXPECT_TRUE(main.TrayIconShown());
  EXPECT_TRUE(main.Timer1.Enabled());
}

TEST_F(MainWindowTest, TrayIconComesBackWhenTheTaskbarIsCreatedAgain) {
  TMainForm& main = CreateForm();
  Desk().RestartTaskbar();
  EXPECT_TRUE(Desk().TrayIcons().empty());
  Pump();
  ASSERT_EQ(Desk().TrayIcons().size(), 1u);
  EXPECT_TRUE(main.TrayIconShown());
}

TEST_F(MainWindowTest, BrowserOpensOnTheSaveLocationAndAcceptsAShortEnoughFolder) {
  TMainForm& main = CreateForm();
  const std::string before = main.PathEdit.Text();
  main.ApplyBtnClick();
  const std::string chosen = "C:\\Scans";
  Desk().SetBrowseDriver([&](const hostworld::BrowseRecord& record, ModalLoop&) {
    EXPECT_EQ(record.selectionSent, before);
    EXPECT_TRUE(record.rootIsDrives);
    EXPECT_EQ(record.title, main.LoadText(text::kBrowseInstruction));
    EXPECT_EQ(record.owner, main.Handle());
    return BrowseAnswer::Choose(chosen);
  });
  main.BrowseBtn.Click();
  EXPECT_EQ(main.PathEdit.Text(), chosen);
  EXPECT_TRUE(main.ApplyBtn.Enabled());
  EXPECT_NE(Settings().find(chosen + "="), std::string::npos) << "the counter key is written at once";
  EXPECT_EQ(Desk().LiveItemIdLists(), 0u);
}

// When the folder browser or a message box over the visible settings page
// closes, the page is activated again, as on Windows: FormActivate walks the
// drives and applies once more.
TEST_F(MainWindowTest, FormActivateRunsAgainWhenABoxOverTheVisiblePageCloses) {
  TMainForm& main = CreateForm();
  main.Show();
  ASSERT_EQ(link.scans, 1);
  Desk().SetBrowseDriver([](const hostworld::BrowseRecord&, ModalLoop&) { return BrowseAnswer::Cancel(); });
  main.BrowseBtn.Click();
  EXPECT_EQ(link.scans, 2) << "the browser closed";
  EXPECT_EQ(platform::GetForegroundWindow(), main.Handle());
  (void)platform::MessageBoxEx(main.Handle(), "Text", "Pagewick", 0, 0);
  EXPECT_EQ(link.scans, 3) << "the box closed";
  EXPECT_EQ(link.polls.size(), 3u) << "each activation applied";
}

TEST_F(MainWindowTest, CancelledBrowserOrAChoiceWithoutPathChangesNothing) {
  TMainForm& main = CreateForm();
  main.ApplyBtnClick();
  const std::string before = main.PathEdit.Text();
  for (BrowseAnswer answer : {BrowseAnswer::Cancel(), BrowseAnswer::ChooseWithoutPath()}) {
    Desk().SetBrowseDriver([answer](const hostworld::BrowseRecord&, ModalLoop&) { return answer; });
    main.BrowseBtn.Click();
    EXPECT_EQ(main.PathEdit.Text(), before);
    EXPECT_FALSE(main.ApplyBtn.Enabled());
  }
  EXPECT_TRUE(Desk().MessageBoxes().empty());
  EXPECT_EQ(Desk().LiveItemIdLists(), 0u);
}

TEST_F(MainWindowTest, FolderPathOf128IsAcceptedAnd129BringsTheBoxAndTheBrowserAgain) {
  TMainForm& main = CreateForm();
  main.Show();  // Apply starts the poll timer
  int ticks = 0;
  main.Timer1.OnTimer = [&] { ++ticks; };
  const std::string exact = "C:\\" + std::string(125, 'a');
  const std::string tooLong = "C:\\" + std::string(126, 'b');
  ASSERT_EQ(exact.size(), 128u);
  ASSERT_EQ(tooLong.size(), 129u);
  std::vector<std::string> answers{tooLong, exact};
  std::size_t next = 0;
  Desk().SetBrowseDriver([&](const hostworld::BrowseRecord&, ModalLoop&) { return BrowseAnswer::Choose(answers.at(next++)); });
  Desk().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord&, ModalLoop& loop) {
    // The poll timer goes on ticking while the box is open.
    for (int i = 0; i < 3; ++i) loop.AdvanceTime(kComputerModePollMs);
    return platform::dialog_result::kOk;
  });
  main.BrowseBtn.Click();
  EXPECT_EQ(next, 2u) << "the browser opened again after the box";
  EXPECT_EQ(main.PathEdit.Text(), exact);
  EXPECT_EQ(ticks, 3);
  auto boxes = Desk().MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, main.LoadText(text::kPathTooLongMessage));
  EXPECT_EQ(boxes[0].caption, main.LoadText(text::kMessageCaption));
  EXPECT_EQ(boxes[0].style, 0x1040u);
  EXPECT_EQ(boxes[0].owner, main.Handle());
  auto browses = Desk().Browses();
  ASSERT_EQ(browses.size(), 2u);
  EXPECT_EQ(browses[1].owner, main.Handle());
  EXPECT_EQ(Desk().LiveItemIdLists(), 0u);
}

// A folder the browser gives that cannot be a save location (a share, a
// network drive, a CD-ROM drive) brings the box that says why, and the
// browser again, as a path too long does.
TEST_F(MainWindowTest, AChosenFolderThatCannotBeASaveLocationBringsItsBoxAndTheBrowserAgain) {
  world.AddDrive('N', platform::DriveType::Remote);
  world.AddDrive('R', platform::DriveType::CdRom);
  TMainForm& main = CreateForm();
  const std::vector<std::pair<std::string, int>> refused{
      {"\\\\host\\share\\Scans", 40005}, {"N:\\Scans", 40005}, {"R:\\", 40009},
      {"C:\\x\\NUL.txt", 40006},           {"C:\\$MFT", 40030}};
  std::vector<std::string> answers;
  for (const auto& [folder, text] : refused) answers.push_back(folder);
  answers.push_back("C:\\Scans");
  std::size_t next = 0;
  Desk().SetBrowseDriver([&](const hostworld::BrowseRecord&, ModalLoop&) { return BrowseAnswer::Choose(answers.at(next++)); });
  main.BrowseBtn.Click();
  EXPECT_EQ(next, answers.size());
  EXPECT_EQ(main.PathEdit.Text(), "C:\\Scans");
  const auto boxes = Desk().MessageBoxes();
  ASSERT_EQ(boxes.size(), refused.size());
  for (std::size_t i = 0; i < refused.size(); ++i) {
    EXPECT_EQ(boxes[i].text, main.LoadText(refused[i].second)) << refused[i].first;
  }
}

TEST_F(MainWindowTest, FailureInAHandlerReachesTheErrorSinkNotTheLoop) {
  std::vector<std::string> reported;
  platform::ErrorSink previous = platform::SetErrorSink([&](std::string_view what) { reported.emplace_back(what); });
  TMainForm& main = CreateForm();
  main.Settings.UsePath("C:\\No Such Folder\\pagewick.info");  // writes are refused
  ASSERT_TRUE(Desk().ClickTrayIcon(1, hostworld::MouseButton::Left));
  EXPECT_NO_THROW(Pump());
  platform::SetErrorSink(std::move(previous));
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], "Unable to write to C:\\No Such Folder\\pagewick.info");
  EXPECT_TRUE(platform::IsWindowVisible(main.Handle()));
}

}  // namespace
}  // namespace pw::ui::test
