// Apply, the save-location change and bad settings files.
#include <functional>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Profile.h"
#include "platform/Security.h"
#include "platform/hostworld/WorldSecurity.h"
#include "platform/hostworld/WorldSessions.h"
#include "resources/MainFormLayout.h"
#include "tests/ui/MainFormFixture.h"

namespace pw::ui::test {
namespace {

using scanner::ScannerRequestKind;

TEST_F(MainFormTest, ApplyInComputerModeStartsTheFastPollAndWritesInOrder) {
  TMainForm& f = CreateForm();
  f.FolderCounter = 4;
  f.AutoRCheckBx.SetChecked(true);
  f.ApplyBtnClick();

  EXPECT_EQ(link.polls, (std::vector{ScannerRequestKind::RequestComputerMode}));
  EXPECT_EQ(f.SaveMode, SaveModeComputer);
  EXPECT_TRUE(f.Timer1.Enabled());
  EXPECT_EQ(f.Timer1.Interval(), 2000u);
  EXPECT_FALSE(f.ApplyBtn.Enabled());
  EXPECT_EQ(Settings(),
            "[Setting]\r\n"
            "C:\\Users\\Public\\Pictures=4\r\n"
            "Mode=1\r\n"
            "Path=C:\\Users\\Public\\Pictures\r\n"
            "FolderPhoto=0\r\n"
            "AutoRoate=1\r\n");
}

// Apply's unread "Folder" + prefix entry never lands on a key the program reads
// and never piles up: the prefix survives any number of Applies and restarts.
TEST_F(MainFormTest, ApplyKeepsTheFolderPrefixWhateverItIs) {
  struct Case {
    const char* folderLine;
    const char* prefix;      // as read at every start
    const char* unreadLine;  // the unread entry Apply leaves, or "" for none
  };
  const Case cases[] = {
      {"Folder=Scan", "Scan", "FolderScan=0\r\n"},
      // An empty or blank prefix is no plain name: the default applies.
      {"Folder=", "Photo", "FolderPhoto=0\r\n"},
      {"FOLDER=", "Photo", "FolderPhoto=0\r\n"},
      {"Folder=   ", "Photo", "FolderPhoto=0\r\n"},
      {"Folder=\"  \"", "Photo", "FolderPhoto=0\r\n"},
      // The entry would be read as "Folderx", never found again, and added anew each time.
      {"Folder=x=y", "x=y", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folderLine);
    world.WriteFile(kSettingsPath, std::string("[Setting]\r\n") + c.folderLine + "\r\n");
    for (int start = 0; start < 3; ++start) {
      TMainForm& f = CreateForm();
      EXPECT_EQ(f.FolderPrefix, c.prefix) << "start " << start;
      f.ApplyBtnClick();
      f.ApplyBtnClick();
      form.reset();
    }
    const std::string after = Settings();
    std::size_t lines = 0;
    for (std::size_t at = after.find("\r\n"); at != std::string::npos; at = after.find("\r\n", at + 2)) ++lines;
    // Section, the hand-made line, the counter, Mode, Path, AutoRoate and the unread entry if any.
    EXPECT_EQ(lines, *c.unreadLine != 0 ? 7u : 6u) << after;
    if (*c.unreadLine != 0) {
      EXPECT_NE(after.find(c.unreadLine), std::string::npos) << after;
    }
  }
}

TEST_F(MainFormTest, ApplyInCardModeStartsTheSlowPoll) {
  TMainForm& f = CreateForm();
  f.SaveComboBx.UserSelect(0);
  f.ApplyBtnClick();
  EXPECT_EQ(link.polls, (std::vector{ScannerRequestKind::RequestCardMode}));
  EXPECT_EQ(f.SaveMode, SaveModeCard);
  EXPECT_TRUE(f.Timer1.Enabled());
  EXPECT_EQ(f.Timer1.Interval(), 6000u);
  EXPECT_EQ(platform::ReadProfileString("Setting", "Mode", "", kSettingsPath).text, "0");
  EXPECT_EQ(platform::ReadProfileString("Setting", "AutoRoate", "", kSettingsPath).text, "0");
}

TEST_F(MainFormTest, ApplyWithNothingSelectedInTheComboWritesMinusOne) {
  TMainForm& f = CreateForm();
  f.SaveComboBx.SetItemIndex(-1);
  f.ApplyBtnClick();
  EXPECT_EQ(link.polls, (std::vector{ScannerRequestKind::RequestComputerMode}));
  EXPECT_EQ(f.SaveMode, SaveModeComputer);
  EXPECT_EQ(platform::ReadProfileString("Setting", "Mode", "", kSettingsPath).text, "-1");
}

TEST_F(MainFormTest, RefusedWriteInApplyRaisesAfterTheTimerChangeAndKeepsApplyEnabled) {
  TMainForm& f = CreateForm();
  f.SaveComboBx.UserSelect(0);
  auto holder = platform::CreateFile(kSettingsPath, platform::access::kGenericRead, platform::share::kRead,
                                     platform::Disposition::OpenExisting);
  ASSERT_TRUE(holder.file.valid());

  try {
    f.ApplyBtnClick();
    FAIL() << "the refused write must raise";
  } catch (const SettingsWriteError& error) {
    EXPECT_EQ(std::string(error.what()), std::string("Unable to write to ") + kSettingsPath);
  }
  EXPECT_TRUE(f.Timer1.Enabled());
  EXPECT_EQ(f.Timer1.Interval(), 6000u);
  EXPECT_EQ(f.SaveMode, SaveModeCard);
  EXPECT_TRUE(f.ApplyBtn.Enabled());
  holder.file.reset();
  EXPECT_EQ(platform::ReadProfileString("Setting", "Mode", "none", kSettingsPath).text, "none");
}

TEST_F(MainFormTest, ChangingTheSaveLocationStoresAndReadsBackTheCounter) {
  world.WriteFile(kSettingsPath, "[Setting]\r\nC:\\Old=7\r\n");
  TMainForm& f = CreateForm();
  f.FolderCounter = 3;
  f.PathEdit.SetText("C:\\Old");
  EXPECT_EQ(f.FolderCounter, 3);
  EXPECT_EQ(platform::ReadProfileString("Setting", "C:\\Old", "", kSettingsPath).text, "3");

  // Setting the same text again is no change.
  f.FolderCounter = 9;
  f.PathEdit.SetText("C:\\Old");
  EXPECT_EQ(platform::ReadProfileString("Setting", "C:\\Old", "", kSettingsPath).text, "3");
}

TEST_F(MainFormTest, SaveLocationKeysMatchIgnoringCase) {
  world.WriteFile(kSettingsPath, "[setting]\r\nPATH=C:\\Scans\r\nc:\\scans=12\r\n");
  TMainForm& f = CreateForm();
  EXPECT_EQ(f.PathEdit.Text(), "C:\\Scans");
  EXPECT_EQ(Settings(), "[setting]\r\nPATH=C:\\Scans\r\nc:\\scans=0\r\n")
      << "the existing key line is rewritten in place";
}

TEST_F(MainFormTest, RemovingTheSettingsFileStartsTheNextWindowFromDefaults) {
  world.WriteFile(kSettingsPath, "[Setting]\r\nMode=0\r\nFile=x\r\n");
  EXPECT_EQ(CreateForm().FilePrefix, "x");
  ASSERT_TRUE(platform::DeleteFile(kSettingsPath).ok());
  TMainForm& f = CreateForm();
  EXPECT_EQ(f.FilePrefix, "img");
  EXPECT_EQ(f.SaveComboBx.ItemIndex(), 1);
}

// Files no program of ours wrote: the start-up sequence gets the Windows
// reading of them or the defaults, and never crashes.
TEST_F(MainFormTest, GarbageSettingsFilesGiveDefaultsOrTheWindowsReading) {
  struct Case {
    const char* what;
    std::string content;
    std::string path;
    std::string filePrefix;
    int itemIndex;
  };
  const std::string longLine(100000, 'x');
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 37 + 11) % 256));
  const std::string pictures = "C:\\Users\\Public\\Pictures";
  const Case cases[] = {
      {"empty file", "", pictures, "img", 1},
      {"binary bytes", binary, pictures, "img", 1},
      {"no section line", "Mode=0\r\nFile=abc\r\n", pictures, "img", 1},
      // A UTF-8 byte-order mark belongs to the first line, so the section on it is not found.
      {"utf-8 bom", "\xEF\xBB\xBF[Setting]\r\nFile=abc\r\n", pictures, "img", 1},
      {"utf-8 bom, second section readable", "\xEF\xBB\xBF[Other]\r\n[Setting]\r\nFile=abc\r\n", pictures, "abc", 1},
      {"duplicate keys: first wins", "[Setting]\r\nFile=one\r\nFile=two\r\nMode=0\r\nMode=1\r\n", pictures, "one", 0},
      // A location with '=' could not be written back as a key: the default applies.
      {"value with '=' inside", "[Setting]\r\nPath=C:\\a=b\r\nFile=p=q\r\n", pictures, "p=q", 1},
      {"line of 100000 characters", "[Setting]\r\n" + longLine + "\r\nFile=abc\r\n", pictures, "abc", 1},
      {"long value is cut to 2047", "[Setting]\r\nFile=" + longLine + "\r\n", pictures, std::string(2047, 'x'), 1},
      {"quoted and padded values", "[Setting]\r\n  File =  \"q\"  \r\nMode='0'\r\n", pictures, "q", 0},
      {"cr-only lines", "[Setting]\rFile=cr\rMode=0\r", pictures, "cr", 0},
      {"non-numeric mode", "[Setting]\r\nMode=zero\r\n", pictures, "img", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    world.WriteFile(kSettingsPath, c.content);
    TMainForm& f = CreateForm();
    EXPECT_EQ(f.PathEdit.Text(), c.path);
    EXPECT_EQ(f.FilePrefix, c.filePrefix);
    EXPECT_EQ(f.SaveComboBx.ItemIndex(), c.itemIndex);
  }
}

TEST_F(MainFormTest, WritesLeaveUnrelatedLinesOfAGarbageFileAlone) {
  const std::string before = "junk line\r\n; comment\r\n[Other]\r\nMode=9\r\n[Setting]\r\nFile=abc\r\nstray\r\n";
  world.WriteFile(kSettingsPath, before);
  TMainForm& f = CreateForm();
  f.ApplyBtnClick();
  const std::string after = Settings();
  EXPECT_EQ(after.rfind(before.substr(0, before.find("stray")), 0), 0u) << after;
  EXPECT_NE(after.find("stray\r\n"), std::string::npos);
  EXPECT_EQ(platform::ReadProfileString("Other", "Mode", "", kSettingsPath).text, "9");
}

}  // namespace
}  // namespace pw::ui::test

namespace pw::ui::test {
namespace {

// The keys of the settings file's [Setting] section, as a profile reader finds them.
std::vector<std::string> SettingKeys(const std::string& file) {
  std::vector<std::string> keys;
  bool inSetting = false;
  std::size_t start = 0;
  while (start < file.size()) {
    std::size_t end = file.find_first_of("\r\n", start);
    if (end == std::string::npos) end = file.size();
    const std::string line = file.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    if (line.front() == '[') {
      inSetting = line == "[Setting]";
    } else if (inSetting) {
      keys.push_back(line.substr(0, line.find('=')));
    }
  }
  return keys;
}

// Whatever a location holds, Apply in either save type adds, changes or hides
// no entry but its own; a location that fails the rules is not stored at all
// and the box says why.
TEST_F(MainFormTest, RefusedLocationsAreNeverStoredInEitherSaveType) {
  world.AddDrive('N', platform::DriveType::Remote);
  world.AddDrive('R', platform::DriveType::CdRom);
  world.MakeDirectories("C:\\Scans");
  struct Case {
    std::string location;
    int text;
  };
  const Case cases[] = {
      {"C:\\Scans\r\nFile=..\\x", 40007},
      {"C:\\Scans\nFolder=..\\..\\Windows\\y", 40007},
      {"C:\\Scans\r\n[Other]\r\nMode=0", 40007},
      {"Mode", 40004},  // spelt like a key: would overwrite it
      {"File", 40004},
      {"C:\\Scans=x", 40075},  // Windows allows '=', the settings file's key does not
      {"\\\\host\\share\\Scans", 40005},
      {"N:\\Scans", 40005},
      {"\\\\?\\C:\\Windows", 40006},
      {"\\\\.\\C:", 40006},
      {"Scans", 40004},
      {"C:Scans", 40004},
      {"C:\\Scans\\..\\Windows", 40008},
      {"R:\\", 40009},
      {"C:\\Scans\\CON", 40006},
      {"C:\\x\\lpt\xC2\xB2.txt", 40006},
      {"C:\\$Extend", 40030},
  };
  const std::string before = "[Setting]\r\nMode=1\r\nPath=C:\\Scans\r\nFile=img\r\nFolder=Photo\r\nC:\\Scans=3\r\n";
  for (int mode : {0, 1}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.location + (mode == 0 ? " (card)" : " (computer)"));
      world.WriteFile(kSettingsPath, before);
      TMainForm& f = CreateForm();
      ASSERT_EQ(f.PathEdit.Text(), "C:\\Scans");
      const std::size_t boxes = world.Desktop().MessageBoxes().size();
      f.SaveComboBx.SetItemIndex(mode);
      f.PathEdit.SetText(c.location);
      f.ApplyBtnClick();
      for (const std::string& key : SettingKeys(Settings())) {
        EXPECT_TRUE(key == "Mode" || key == "Path" || key == "File" || key == "Folder" || key == "C:\\Scans" ||
                    key == "AutoRoate")
            << "a key was added: " << key << "\n" << Settings();
      }
      EXPECT_EQ(platform::ReadProfileString(kSettingsSection, "Path", "", kSettingsPath).text, "C:\\Scans");
      EXPECT_EQ(platform::ReadProfileString(kSettingsSection, "File", "", kSettingsPath).text, "img");
      EXPECT_EQ(platform::ReadProfileString(kSettingsSection, "Folder", "", kSettingsPath).text, "Photo");
      EXPECT_EQ(platform::ReadProfileInteger(kSettingsSection, "Mode", -1, kSettingsPath), mode);
      const auto shown = world.Desktop().MessageBoxes();
      ASSERT_EQ(shown.size(), boxes + 1);
      EXPECT_EQ(shown.back().text, f.LoadText(c.text));
      EXPECT_TRUE(f.ApplyBtn.Enabled()) << "the page still waits for a location that can be taken";
      form.reset();
    }
  }
}

// What the settings file holds is taken only when it passes the rules: a
// location, or a prefix that is not a plain name, gives way to the default.
TEST_F(MainFormTest, SettingsFileValuesThatFailTheRulesGiveTheDefaults) {
  world.AddDrive('N', platform::DriveType::Remote);
  world.AddDrive('R', platform::DriveType::CdRom);
  struct Case {
    const char* lines;
    const char* path;
    const char* file;
    const char* folder;
  };
  const char* pictures = "C:\\Users\\Public\\Pictures";
  const Case cases[] = {
      {"Path=C:\\Scans\r\nFile=scan\r\nFolder=Batch", "C:\\Scans", "scan", "Batch"},
      {"File=..\\x\r\nFolder=..\\..\\Windows\\y", pictures, "img", "Photo"},
      {"File=a\\b\r\nFolder=a/b", pictures, "img", "Photo"},
      {"File=..\r\nFolder=C:x", pictures, "img", "Photo"},
      {"File=CON\r\nFolder=nul.txt", pictures, "img", "Photo"},
      {"File=LPT1\r\nFolder=COM", pictures, "img", "Photo"},  // COM + 1 would be a device
      {"File=a*b\r\nFolder=a|b", pictures, "img", "Photo"},
      {"File=\"\"\r\nFolder=\x01x", pictures, "img", "Photo"},
      {"Path=\\\\host\\share", pictures, "img", "Photo"},
      {"Path=N:\\Scans", pictures, "img", "Photo"},
      {"Path=\\\\?\\C:\\Windows\\System32", pictures, "img", "Photo"},
      {"Path=..\\Windows", pictures, "img", "Photo"},
      {"Path=C:\\Scans\\..\\..\\Windows", pictures, "img", "Photo"},
      {"Path=R:\\Scans", pictures, "img", "Photo"},  // a CD-ROM drive
      {"Path=C:\\Scans\\CON\r\nFile=CONIN$\r\nFolder=com\xB9", pictures, "img", "Photo"},
      {"Path=Q:\\$Extend", pictures, "img", "Photo"},
      {"Path=Q:\\Gone", "Q:\\Gone", "img", "Photo"},  // a drive unplugged now keeps its place
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    world.WriteFile(kSettingsPath, std::string("[Setting]\r\n") + c.lines + "\r\n");
    TMainForm& f = CreateForm();
    EXPECT_EQ(f.PathEdit.Text(), c.path);
    EXPECT_EQ(f.FilePrefix, c.file);
    EXPECT_EQ(f.FolderPrefix, c.folder);
    EXPECT_EQ(f.PagewickFileListBx.Mask(), std::string(c.file) + "*.*");
    form.reset();
  }
}

// Before Vista the start creates the save location, as it always did; from
// Vista on the service's window (LocalSystem) and the agents create nothing.
TEST_F(MainFormTest, OnlyBeforeVistaTheStartCreatesTheSaveLocation) {
  struct Case {
    std::uint32_t major;
    std::uint32_t minor;
    bool created;
  };
  for (const Case c : {Case{5, 1, true}, Case{5, 2, true}, Case{6, 0, false}, Case{10, 0, false}}) {
    SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
    world.SetVersion(platform::kPlatformNt, c.major, c.minor, 1000);
    const std::string location = "C:\\Scans" + std::to_string(c.major) + std::to_string(c.minor);
    world.WriteFile(kSettingsPath, "[Setting]\r\nPath=" + location + "\r\n");
    world.WriteFile(kPublicSettingsPath, "[Setting]\r\nPath=" + location + "\r\n");
    CreateForm();
    EXPECT_EQ(form->PathEdit.Text(), location);
    EXPECT_EQ(Exists(location), c.created);
    form.reset();
  }
}

}  // namespace
}  // namespace pw::ui::test

namespace pw::ui::test {
namespace {

// From Vista on the settings live in a folder only the service and
// administrators may change. A folder or file a user made there first is
// taken over or replaced, never trusted.
TEST_F(MainFormTest, ASettingsFolderOrFileAUserMadeFirstIsNeverTrusted) {
  world.MakeDirectories("C:\\Scans");
  world.WriteFile(kSettingsPath, "[Setting]\r\nMode=0\r\nPath=C:\\Scans\r\nFile=evil\r\n");
  ASSERT_TRUE(hostworld::SetEntryOwner("C:\\ProgramData\\Pagewick", "mallory"));
  ASSERT_TRUE(hostworld::SetEntryOwner(kSettingsPath, "mallory"));
  TMainForm& f = CreateForm();
  EXPECT_EQ(f.Settings.Path(), kSettingsPath);
  EXPECT_EQ(f.PathEdit.Text(), "C:\\Users\\Public\\Pictures") << "the planted file is not read";
  EXPECT_EQ(f.FilePrefix, "img");
  EXPECT_EQ(f.SaveComboBx.ItemIndex(), 1);
  EXPECT_EQ(hostworld::EntryOwner("C:\\ProgramData\\Pagewick"), hostworld::kAdministratorsOwner);
  EXPECT_FALSE(world.UserSessions().UserMayWrite(kSettingsPath)) << "users may no longer write there";
  f.ApplyBtnClick();
  EXPECT_TRUE(platform::OwnedBySystemOrAdministrators(kSettingsPath)) << "the file is the service's own again";
  EXPECT_EQ(Settings().find("evil"), std::string::npos);
}

// A link (here a host symbolic link) in the folder's place is never secured,
// which would secure what it points to: it is renamed aside and a fresh
// folder made. Where nothing can be moved aside (a file below it is open),
// the settings go beside the executable.
TEST_F(MainFormTest, ASettingsFolderThatIsNotTheServicesIsSetAsideOrNotUsed) {
  world.MakeDirectories("C:\\Windows\\System32");
  std::filesystem::remove_all(world.HostPath("C:\\ProgramData\\Pagewick"));
  std::filesystem::create_directory_symlink(world.HostPath("C:\\Windows\\System32"),
                                            world.HostPath("C:\\ProgramData") / "Pagewick");
  {
    TMainForm& f = CreateForm();
    EXPECT_EQ(f.Settings.Path(), kSettingsPath);
    EXPECT_EQ(f.FallbackImagePath(), "C:\\ProgramData\\Pagewick\\tmp.jpg");
    EXPECT_TRUE(std::filesystem::is_symlink(world.HostPath("C:\\ProgramData\\Pagewick.untrusted-1")));
    EXPECT_EQ(hostworld::EntryOwner("C:\\ProgramData\\Pagewick"), hostworld::kAdministratorsOwner);
    EXPECT_TRUE(world.UserSessions().UserMayWrite("C:\\Windows\\System32\\x")) << "the link's target was left alone";
    EXPECT_EQ(hostworld::EntryOwner("C:\\Windows\\System32"), hostworld::kSystemOwner);
    form.reset();
  }
  std::filesystem::remove_all(world.HostPath("C:\\ProgramData\\Pagewick"));
  world.MakeDirectories("C:\\ProgramData\\Pagewick");
  world.WriteFile("C:\\ProgramData\\Pagewick\\held.txt", "");
  ASSERT_TRUE(hostworld::SetEntryOwner("C:\\ProgramData\\Pagewick", "mallory"));
  const platform::OpenResult held = platform::CreateFile("C:\\ProgramData\\Pagewick\\held.txt",
                                                         platform::access::kGenericRead, platform::share::kRead,
                                                         platform::Disposition::OpenExisting);
  ASSERT_TRUE(held.file.valid());
  TMainForm& f = CreateForm();
  EXPECT_EQ(f.Settings.Path(), std::string(kProgramFolder) + "\\pagewick.info");
  EXPECT_EQ(f.FallbackImagePath(), std::string(kProgramFolder) + "\\tmp.jpg");
  EXPECT_EQ(hostworld::EntryOwner("C:\\ProgramData\\Pagewick"), "mallory") << "a user's folder is never adopted";
}

// The first start from Vista on moves an existing Public Documents file that
// an administrator's program made: only what passes the rules is carried
// over, into a file written afresh, and the old file goes. Later starts never read Public Documents again.
TEST_F(MainFormTest, TheSettingsMoveOnceFromPublicDocumentsCarryingOnlyValidValues) {
  world.MakeDirectories("C:\\Scans");
  world.WriteFile(kPublicSettingsPath,
                  "[Setting]\r\nMode=0\r\nPath=C:\\Scans\r\nC:\\Scans=7\r\nFile=scan\r\nFolder=..\\x\r\n"
                  "AutoRoate=1\r\nEvil=1\r\n[Other]\r\nMode=1\r\n");
  TMainForm& f = CreateForm();
  EXPECT_EQ(f.Settings.Path(), kSettingsPath);
  EXPECT_EQ(f.PathEdit.Text(), "C:\\Scans");
  EXPECT_EQ(f.FilePrefix, "scan");
  EXPECT_EQ(f.FolderPrefix, "Photo");
  EXPECT_EQ(f.SaveComboBx.ItemIndex(), 0);
  EXPECT_FALSE(Exists(kPublicSettingsPath)) << "the old file is removed";
  const std::string moved = Settings();
  EXPECT_EQ(moved.find("Evil"), std::string::npos) << moved;
  EXPECT_EQ(moved.find("[Other]"), std::string::npos) << moved;
  EXPECT_EQ(moved.find(".."), std::string::npos) << moved;
  EXPECT_EQ(platform::ReadProfileInteger(kSettingsSection, "AutoRoate", -1, kSettingsPath), 1);
  EXPECT_TRUE(platform::OwnedBySystemOrAdministrators(kSettingsPath));
  form.reset();

  world.WriteFile(kPublicSettingsPath, "[Setting]\r\nPath=C:\\Windows\r\n");
  EXPECT_EQ(CreateForm().PathEdit.Text(), "C:\\Scans") << "moved once; Public Documents is not read again";
}

// The auto-rotate switch is on the page at its designed place with its text
// as its own caption (the separate label stays hidden), follows the save
// type, is stored under its key at Apply, and an edit of that key while the
// window lives is what the page shows when it comes up again.
TEST_F(MainFormTest, TheAutoRotateSwitchIsOnThePageAndAKeyEditedMeanwhileIsKept) {
  TMainForm& f = CreateForm();
  EXPECT_TRUE(f.AutoRCheckBx.Visible());
  EXPECT_FALSE(f.CheckLbl.Visible());
  EXPECT_EQ(f.AutoRCheckBx.GetBounds().left, resources::layout::kAutoRCheckBx.bounds.left);
  EXPECT_EQ(f.CheckLbl.GetBounds().top, resources::layout::kCheckLbl.bounds.top);

  struct Step {
    const char* what;
    std::function<void()> act;
    bool ticked;
    bool enabled;
    const char* stored;  // the key after the step; nullptr: not looked at
  };
  const Step steps[] = {
      {"a click on the label ticks it and Apply stores it",
       [&] {
         f.CheckLblClick();
         f.ApplyBtnClick();
       },
       true, true, "1"},
      {"an edit of the file while the window lives",
       [&] {
         (void)platform::WriteProfileString(kSettingsSection, "AutoRoate", "0", kSettingsPath);
         f.FormActivate();
       },
       false, true, "0"},
      {"a tick not applied yet survives the next activation",
       [&] {
         f.AutoRCheckBx.SetChecked(true);
         f.FormActivate();
       },
       true, true, "1"},
      {"save type card unticks and disables it",
       [&] {
         f.SaveComboBx.SetItemIndex(0);
         f.SaveComboBxChange();
       },
       false, false, nullptr},
      {"an edit in save type card leaves it off",
       [&] {
         (void)platform::WriteProfileString(kSettingsSection, "AutoRoate", "1", kSettingsPath);
         f.FormActivate();
       },
       false, false, "0"},
      {"save type computer enables it again",
       [&] {
         f.SaveComboBx.SetItemIndex(1);
         f.SaveComboBxChange();
       },
       false, true, nullptr},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    EXPECT_EQ(f.AutoRCheckBx.Checked(), step.ticked);
    EXPECT_EQ(f.AutoRCheckBx.Enabled(), step.enabled);
    EXPECT_EQ(f.CheckLbl.Enabled(), step.enabled);
    if (step.stored != nullptr) {
      EXPECT_EQ(platform::ReadProfileString(kSettingsSection, "AutoRoate", "", kSettingsPath).text, step.stored);
    }
  }
}

}  // namespace
}  // namespace pw::ui::test
