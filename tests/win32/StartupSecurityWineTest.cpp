// The start-up sequence against the real system: the executable's folder keeps
// the security it had (the program runs as LocalSystem from there).
#include <gtest/gtest.h>

#include <string>

#include "platform/FileSystem.h"
#include "platform/PathText.h"
#include "platform/SystemInfo.h"
#include "ui/MainForm.h"
#include "ui/ProcessState.h"

namespace pw::ui {
namespace {

TEST(StartupSecurityWineTest, StartUpLeavesTheExecutableFoldersSecurityAlone) {
  std::string folder = platform::ExtractFilePath(platform::GetModuleFileName());
  folder.pop_back();  // the folder itself, not a name inside it
  const auto before = platform::GetFileDaclBytes(folder);
  ASSERT_TRUE(before.has_value()) << folder;

  ProcessState process;
  {
    TMainForm form(process, nullptr);
    form.FormCreate();
    EXPECT_FALSE(form.SettingsFilePath.empty());
    (void)platform::DeleteFile(form.SettingsFilePath);
  }
  EXPECT_EQ(platform::GetFileDaclBytes(folder), before);
}

}  // namespace
}  // namespace pw::ui
