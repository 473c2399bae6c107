// The start-up sequence: application state from the system and the settings file.
#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Profile.h"
#include "platform/Windows.h"
#include "platform/hostworld/DebugTraceLog.h"
#include "resources/MainFormLayout.h"
#include "tests/ui/MainFormFixture.h"

namespace pw::ui::test {
namespace {

constexpr std::uint32_t kWmQuit = 0x0012;

TEST_F(MainFormTest, FirstStartWithoutSettingsFileUsesDefaults) {
  TMainForm& f = CreateForm();

  EXPECT_EQ(f.SaveComboBx.ItemIndex(), 1);
  EXPECT_EQ(f.SaveMode, SaveModeComputer);
  EXPECT_EQ(f.DefaultSavePath, "C:\\Users\\Public\\Pictures");
  EXPECT_EQ(f.PathEdit.Text(), "C:\\Users\\Public\\Pictures");
  EXPECT_EQ(f.FilePrefix, "img");
  EXPECT_EQ(f.FolderPrefix, "Photo");
  EXPECT_EQ(f.FolderCounter, 0) << "the save-location key was stored with 0 while the path was loaded";
  EXPECT_FALSE(f.AutoRCheckBx.Checked());
  EXPECT_EQ(f.Settings.Path(), kSettingsPath);
  EXPECT_EQ(f.SystemDriveRoot, "C:\\");
  EXPECT_EQ(f.PagewickFileListBx.Mask(), "img*.*");
  EXPECT_FALSE(f.Timer1.Enabled()) << "the poll timer starts with the first Apply";
  EXPECT_EQ(f.Timer1.Interval(), 2000u);
  EXPECT_EQ(Settings(), "[Setting]\r\nC:\\Users\\Public\\Pictures=0\r\n");
  EXPECT_TRUE(link.polls.empty());
}

TEST_F(MainFormTest, CaptionsAndItemsComeFromTheTextTable) {
  world.WriteFile(kTextTablePath,
                  "[String]\r\n10000=Computer\r\n10001=Type\r\n10002=Card\r\n10003=Where\r\n10004=Pick\r\n"
                  "10005=Go\r\n10006=Stop\r\n10008=Open\r\n10009=Quit\r\n10011=Rotate\r\n");
  TMainForm& f = CreateForm();
  EXPECT_EQ(f.SaveLbl.Caption(), "Type");
  EXPECT_EQ(f.SaveComboBx.Items(), (std::vector<std::string>{"Card", "Computer"}));
  EXPECT_EQ(f.PathLbl.Caption(), "Where");
  EXPECT_EQ(f.BrowseBtn.Caption(), "Pick");
  EXPECT_EQ(f.ApplyBtn.Caption(), "Go");
  EXPECT_EQ(f.CancelBtn.Caption(), "Stop");
  EXPECT_EQ(f.SettingItem.Caption(), "Open");
  EXPECT_EQ(f.ExitItem.Caption(), "Quit");
  EXPECT_EQ(f.CheckLbl.Caption(), "Rotate");
  EXPECT_EQ(f.AutoRCheckBx.Caption(), "Rotate") << "the check box's own caption: its name and its focus";
  EXPECT_EQ(f.HideItem.Caption(), "Hide") << "the hidden item keeps its design caption";
}

TEST_F(MainFormTest, WithoutTextTableEveryCaptionIsEmpty) {
  ASSERT_TRUE(platform::DeleteFile(kTextTablePath).ok());
  TMainForm& f = CreateForm();
  EXPECT_EQ(f.SaveLbl.Caption(), "");
  EXPECT_EQ(f.SaveComboBx.Items(), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(f.ApplyBtn.Caption(), "");
  EXPECT_EQ(f.ExitItem.Caption(), "");
  EXPECT_EQ(f.FilePrefix, "img") << "the rest of the sequence runs as usual";
}

TEST_F(MainFormTest, OffNtTheSettingsFileLiesBesideTheExecutable) {
  world.SetVersion(platform::kPlatformWindows, 4, 10, 2222, " A ");
  world.AddDrive('D', platform::DriveType::Fixed);
  world.SetWindowsDirectory("D:\\WIN98");
  TMainForm& f = CreateForm();
  EXPECT_EQ(f.SystemDriveRoot, "D:\\");
  EXPECT_EQ(f.Settings.Path(), "C:\\Program Files\\Pagewick\\pagewick.INI");
  EXPECT_EQ(f.DefaultSavePath, "D:\\temp");
  EXPECT_EQ(f.PathEdit.Text(), "D:\\temp");
  EXPECT_TRUE(Exists("D:\\temp"));
  EXPECT_EQ(world.ReadFile("C:\\Program Files\\Pagewick\\pagewick.INI"), "[Setting]\r\nD:\\temp=0\r\n");
}

TEST_F(MainFormTest, OnlyTheLastExtensionOfTheExecutableNameIsReplaced) {
  world.SetModuleFileName("C:\\Program Files\\Pagewick\\page.wick.exe");
  EXPECT_EQ(CreateForm().Settings.Path(), "C:\\ProgramData\\Pagewick\\page.wick.info");
}

TEST_F(MainFormTest, FailedSpecialFolderQueriesFallBackBesideTheExecutableAndToTemp) {
  world.SetSpecialFolder(platform::csidl::kCommonDocuments, std::nullopt);
  world.SetSpecialFolder(platform::csidl::kCommonPictures, std::nullopt);
  world.SetSpecialFolder(platform::csidl::kCommonAppData, std::nullopt);
  TMainForm& f = CreateForm();
  EXPECT_EQ(f.Settings.Path(), "C:\\Program Files\\Pagewick\\pagewick.info");
  EXPECT_EQ(f.DefaultSavePath, "C:\\temp");
  EXPECT_FALSE(Exists("C:\\temp")) << "from Vista on the start creates no location";
}

TEST_F(MainFormTest, UnreadableWindowsDirectoryKeepsTheSystemDriveRootDefault) {
  world.SetWindowsDirectory(std::nullopt);
  EXPECT_EQ(CreateForm().SystemDriveRoot, "c:\\");
}

TEST_F(MainFormTest, Windows2000PostsQuitAndStillCompletesTheSequence) {
  world.SetVersion(platform::kPlatformNt, 5, 0, 2195, "Service Pack 4");
  TMainForm& f = CreateForm();
  auto queue = world.Desktop().Pending(std::this_thread::get_id());
  ASSERT_EQ(queue.size(), 1u);
  EXPECT_EQ(queue[0].message, kWmQuit);
  EXPECT_EQ(queue[0].wParam, 0u);
  EXPECT_EQ(f.FolderPrefix, "Photo");
  EXPECT_EQ(f.SaveMode, SaveModeComputer);
  EXPECT_EQ(f.PagewickFileListBx.Mask(), "img*.*");
}

TEST_F(MainFormTest, OtherNtVersionsPostNoQuit) {
  for (auto [major, minor] : {std::pair{5u, 1u}, std::pair{4u, 0u}, std::pair{6u, 2u}}) {
    world.SetVersion(platform::kPlatformNt, major, minor, 1000);
    CreateForm();
    EXPECT_TRUE(world.Desktop().Pending(std::this_thread::get_id()).empty()) << major << "." << minor;
  }
}

TEST_F(MainFormTest, StartUpResetsTheProcessWideValues) {
  process.PendingDeviceEvent = 2;
  process.ScannerAttached = 1;
  process.ScannerDevicePath.fill('\0');
  CreateForm();
  EXPECT_EQ(process.PendingDeviceEvent, 0);
  EXPECT_EQ(process.ScannerAttached, 0u);
  EXPECT_TRUE(std::all_of(process.ScannerDevicePath.begin(), process.ScannerDevicePath.end(),
                          [](char c) { return c == '0'; }));
}

TEST_F(MainFormTest, StartUpLeavesTheExecutableFoldersSecurityAlone) {
  auto before = platform::GetFileDaclBytes(kProgramFolder);
  ASSERT_TRUE(before.has_value());
  CreateForm();
  EXPECT_EQ(platform::GetFileDaclBytes(kProgramFolder), before);
}

TEST_F(MainFormTest, StoredSettingsAreReadInOrder) {
  world.MakeDirectories("C:\\Scans");
  world.WriteFile(kSettingsPath,
                  "[Setting]\r\nMode=1\r\nPath=C:\\Scans\r\nFile=scan\r\nFolder=Album\r\nC:\\Scans=7\r\nAutoRoate=1\r\n");
  TMainForm& f = CreateForm();
  EXPECT_EQ(f.PathEdit.Text(), "C:\\Scans");
  EXPECT_EQ(f.FilePrefix, "scan");
  EXPECT_EQ(f.FolderPrefix, "Album");
  // Loading the path ran PathEditChange with the creation value 0.
  EXPECT_EQ(f.FolderCounter, 0);
  EXPECT_NE(Settings().find("C:\\Scans=0\r\n"), std::string::npos);
  EXPECT_TRUE(f.AutoRCheckBx.Checked());
  EXPECT_TRUE(f.AutoRCheckBx.Enabled());
  EXPECT_EQ(f.PagewickFileListBx.Mask(), "scan*.*");
}

TEST_F(MainFormTest, CardModeAtStartUpUnticksAndDisablesAutoRotate) {
  world.WriteFile(kSettingsPath, "[Setting]\r\nMode=0\r\nAutoRoate=1\r\n");
  TMainForm& f = CreateForm();
  EXPECT_EQ(f.SaveComboBx.ItemIndex(), 0);
  EXPECT_EQ(f.SaveMode, SaveModeCard);
  EXPECT_FALSE(f.AutoRCheckBx.Checked());
  EXPECT_FALSE(f.AutoRCheckBx.Enabled());
  EXPECT_FALSE(f.PathEdit.Enabled());
  EXPECT_FALSE(f.BrowseBtn.Enabled());
  EXPECT_FALSE(f.CheckLbl.Enabled());
  EXPECT_TRUE(f.ApplyBtn.Enabled());
}

TEST_F(MainFormTest, StoredModeOutsideTheListSelectsNothingAndCountsAsComputer) {
  world.WriteFile(kSettingsPath, "[Setting]\r\nMode=5\r\n");
  TMainForm& f = CreateForm();
  EXPECT_EQ(f.SaveComboBx.ItemIndex(), -1);
  EXPECT_EQ(f.SaveMode, 5u);
  EXPECT_TRUE(f.PathEdit.Enabled()) << "no selection is treated like the computer item";

  f.ApplyBtnClick();
  EXPECT_EQ(f.SaveMode, SaveModeComputer);
  EXPECT_EQ(link.polls, (std::vector{scanner::ScannerRequestKind::RequestComputerMode}));
  EXPECT_EQ(platform::ReadProfileString("Setting", "Mode", "", kSettingsPath).text, "-1");
}

TEST_F(MainFormTest, AutoRotateValueFollowsTheIntegerRule) {
  struct Case {
    const char* stored;
    bool ticked;
  };
  for (const Case& c : {Case{"0x1", true}, Case{"0X10", true}, Case{"0x0", false}, Case{"abc", false},
                        Case{"0x", false}, Case{"1", true}, Case{"-1", true}, Case{"", false}}) {
    world.WriteFile(kSettingsPath, std::string("[Setting]\r\nAutoRoate=") + c.stored + "\r\n");
    EXPECT_EQ(CreateForm().AutoRCheckBx.Checked(), c.ticked) << "AutoRoate=" << c.stored;
  }
}

TEST_F(MainFormTest, SaveFolderIsCreatedOneLevelOnly) {
  world.WriteFile(kSettingsPath, "[Setting]\r\nPath=C:\\Missing\\Deeper\r\n");
  TMainForm& f = CreateForm();
  EXPECT_EQ(f.PathEdit.Text(), "C:\\Missing\\Deeper");
  EXPECT_FALSE(Exists("C:\\Missing"));
  EXPECT_EQ(f.SaveMode, SaveModeComputer) << "the steps before it all ran";
}

TEST_F(MainFormTest, RefusedWriteWhileLoadingThePathEndsTheSequenceSilently) {
  world.WriteFile(kSettingsPath, "[Setting]\r\nPath=C:\\Scans\r\nFile=scan\r\n");
  // Another program holds the settings file open without sharing: every read
  // gives its default and the write of the folder counter is refused.
  auto holder = platform::CreateFile(kSettingsPath, platform::access::kGenericRead, platform::share::kNone,
                                     platform::Disposition::OpenExisting);
  ASSERT_TRUE(holder.file.valid());
  TMainForm& f = CreateForm();
  EXPECT_EQ(f.PathEdit.Text(), "C:\\Users\\Public\\Pictures");
  EXPECT_EQ(f.FilePrefix, "") << "the sequence ended inside PathEditChange";
  EXPECT_EQ(f.PagewickFileListBx.Mask(), "PD*.*");
  EXPECT_EQ(f.Settings.Path(), kSettingsPath);
  holder.file.reset();
  EXPECT_EQ(Settings(), "[Setting]\r\nPath=C:\\Scans\r\nFile=scan\r\n") << "the file is left as it was";
}

// A desktop that can make no more windows (its heap used up): the main window
// is no window at all, and says why; once windows can be made it is built.
TEST_F(MainFormTest, WindowThatCannotBeMadeFailsWithTheSystemsError) {
  hostworld::ClearDebugTrace();
  world.Desktop().SetWindowCreationFailure(platform::error::kNotEnoughMemory);
  platform::Result<std::unique_ptr<TMainForm>> refused = TMainForm::Create(process, &link, &owner);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error(), platform::error::kNotEnoughMemory);
  EXPECT_EQ(platform::FindWindow(resources::layout::kWindowClass, resources::layout::kWindowTitle), nullptr);
  const std::vector<std::string> traces = hostworld::DebugTraceLines();
  EXPECT_NE(std::find(traces.begin(), traces.end(), "CreateWindowExA failed with error 8"), traces.end());

  world.Desktop().SetWindowCreationFailure(std::nullopt);
  platform::Result<std::unique_ptr<TMainForm>> made = TMainForm::Create(process, &link, &owner);
  ASSERT_TRUE(made.ok());
  EXPECT_NE((*made)->Handle(), nullptr);
}

}  // namespace
}  // namespace pw::ui::test
