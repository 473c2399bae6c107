// The start-up sequence against the real system: the executable's folder keeps
// the security it had (the program runs as LocalSystem from there).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/FileSystem.h"
#include "platform/PathText.h"
#include "platform/Security.h"
#include "platform/SystemInfo.h"
#include "ui/MainForm.h"
#include "ui/ProcessState.h"
#include "tests/support/TestEnvironment.h"

namespace pw::ui {
namespace {

TEST(StartupSecurityWineTest, StartUpLeavesTheExecutableFoldersSecurityAlone) {
  std::string folder = platform::ExtractFilePath(platform::GetModuleFileName());
  folder.pop_back();  // the folder itself, not a name inside it
  const auto before = platform::GetFileDaclBytes(folder);
  ASSERT_TRUE(before.has_value()) << folder;

  ProcessState process;
  {
    const std::unique_ptr<TMainForm> made = TMainForm::Create(process, nullptr).value();
    TMainForm& form = *made;
    form.FormCreate();
    EXPECT_FALSE(form.Settings.Path().empty());
    (void)platform::DeleteFile(form.Settings.Path());
  }
  EXPECT_EQ(platform::GetFileDaclBytes(folder), before);
}

// What the service's start relies on: its own folder is not one that a
// standard user may change (the install refuses such a folder), DLLs loaded
// by name come from System32, and Windows 11 can refuse links made by users.
TEST(StartupSecurityWineTest, TheProgramFolderIsTheAdministratorsAndDllsComeFromSystem32) {
  std::string folder = platform::ExtractFilePath(platform::GetModuleFileName());
  folder.pop_back();
  EXPECT_EQ(platform::NonAdministratorsMayWrite(folder), std::optional<bool>(false)) << folder;
  EXPECT_TRUE(platform::RestrictDllSearchToSystem32());
  // Windows 11 22H2 and later take the policy; earlier systems refuse it.
  (void)platform::EnableRedirectionTrust();
  (void)test::KnownWineDifference("SetProcessMitigationPolicy accepts the redirection-trust policy but Wine "
                                  "follows every junction all the same");
}

}  // namespace
}  // namespace pw::ui
