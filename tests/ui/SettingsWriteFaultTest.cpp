// Settings writes that the disk refuses part-way: Apply raises "Unable to write
// to <file>", stops where the refused write was, and the file keeps what was
// written before.
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
    host::WriteFault fault;
    const char* modeAfter;  // "Mode" as the file holds it afterwards
  };
  // Apply's first write is "Mode": a fault there leaves the file as it was.
  const Row rows[] = {{"the first write fails", host::WriteFault::FailWrite(1), "1"},
                      {"the first write is cut short", host::WriteFault::ShortWrite(1, 5), "1"},
                      {"the disk is full", host::WriteFault::DiskFullAfter(0), "1"},
                      {"the second write fails", host::WriteFault::FailWrite(2, error::kHandleDiskFull), "0"}};
  for (const Row& row : rows) {
    TMainForm& f = CreateForm();
    f.ApplyBtnClick();  // a complete file to start from
    const std::string before = Settings();
    ASSERT_NE(before.find("Mode=1\r\n"), std::string::npos);

    f.SaveComboBx.UserSelect(0);
    world.SetWriteFault(kSettingsPath, row.fault);
    try {
      f.ApplyBtnClick();
      ADD_FAILURE() << row.what << ": the refused write must raise";
    } catch (const SettingsWriteError& raised) {
      EXPECT_EQ(std::string(raised.what()), std::string("Unable to write to ") + kSettingsPath) << row.what;
    }
    world.ClearWriteFaults();
    EXPECT_TRUE(f.ApplyBtn.Enabled()) << row.what;
    EXPECT_EQ(platform::ReadProfileString("Setting", "Mode", "none", kSettingsPath).text, row.modeAfter) << row.what;
    EXPECT_EQ(platform::ReadProfileString("Setting", "Path", "none", kSettingsPath).text,
              "C:\\Users\\Public\\Pictures")
        << row.what;
    if (std::string(row.modeAfter) == "1") {
      EXPECT_EQ(Settings(), before) << row.what;
    }

    // With room again the next Apply writes everything.
    f.ApplyBtnClick();
    EXPECT_FALSE(f.ApplyBtn.Enabled()) << row.what;
    EXPECT_EQ(platform::ReadProfileString("Setting", "Mode", "none", kSettingsPath).text, "0") << row.what;
    form.reset();
    process.MainForm = nullptr;
    ASSERT_TRUE(platform::DeleteFile(kSettingsPath).ok);
  }
}

}  // namespace
}  // namespace pw::ui::test
