// Settings writes that the disk refuses part-way: Apply raises "Unable to write
// to <file>", and the file keeps the old settings whole (Apply writes all its
// keys in one new file that replaces the old only once it is on the disk).
#include <string>

#include "platform/FileSystem.h"
#include "platform/Profile.h"
#include "tests/ui/MainFormFixture.h"

namespace pw::ui::test {
namespace {

namespace error = platform::error;

TEST_F(MainFormTest, ASettingsWriteTheDiskRefusesStopsApplyAndLeavesTheFileReadable) {
  struct Row {
    const char* what;
    hostworld::WriteFault fault;
    const char* faultOn;  // the file whose writes fail
  };
  const std::string fresh = std::string(kSettingsPath) + ".new";
  const Row rows[] = {{"the new file's write fails", hostworld::WriteFault::FailWrite(1), ".new"},
                      {"the new file's write is cut short mid-way", hostworld::WriteFault::ShortWrite(1, 30), ".new"},
                      {"the disk is full", hostworld::WriteFault::DiskFullAfter(0), ".new"},
                      {"the disk fills mid-way", hostworld::WriteFault::DiskFullAfter(40, error::kHandleDiskFull), ""}};
  for (const Row& row : rows) {
    TMainForm& f = CreateForm();
    f.ApplyBtnClick();  // a complete file to start from
    const std::string before = Settings();
    ASSERT_NE(before.find("Mode=1\r\n"), std::string::npos);

    f.SaveComboBx.UserSelect(0);
    f.AutoRCheckBx.SetChecked(true);
    if (std::string(row.faultOn).empty()) {
      world.SetWriteFault('C', row.fault);
    } else {
      world.SetWriteFault(fresh, row.fault);
    }
    try {
      f.ApplyBtnClick();
      ADD_FAILURE() << row.what << ": the refused write must raise";
    } catch (const SettingsWriteError& raised) {
      EXPECT_EQ(std::string(raised.what()), std::string("Unable to write to ") + kSettingsPath) << row.what;
    }
    world.ClearWriteFaults();
    EXPECT_TRUE(f.ApplyBtn.Enabled()) << row.what;
    EXPECT_EQ(Settings(), before) << row.what << ": neither the new mode nor the new switch landed";
    EXPECT_FALSE(platform::GetFileAttributes(fresh).has_value()) << row.what;

    // With room again the next Apply writes everything.
    f.ApplyBtnClick();
    EXPECT_FALSE(f.ApplyBtn.Enabled()) << row.what;
    EXPECT_EQ(platform::ReadProfileString("Setting", "Mode", "none", kSettingsPath).text, "0") << row.what;
    EXPECT_EQ(platform::ReadProfileString("Setting", "AutoRoate", "none", kSettingsPath).text, "1") << row.what;
    form.reset();
    process.MainForm.Set(nullptr);
    ASSERT_TRUE(platform::DeleteFile(kSettingsPath).ok());
  }
}

}  // namespace
}  // namespace pw::ui::test
