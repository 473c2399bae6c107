// Attacks on what the service is installed from and on the names it is told
// to write to: a save location that names a device, a program folder whose
// parent or files a standard user may change, and the package's repair.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include "service/ServiceApplication.h"
#include "tests/security/AttackFixture.h"

namespace pw::service::test {
namespace {

// A location whose last or middle name is a device: the service would open
// the console or a port instead of a folder. Mallory made the folders first
// (a "\\?\" path lets her), so she may write there. A name NTFS keeps for
// itself at the root is no folder of pictures either.
TEST_F(AttackTest, LocationNamingADeviceIsRefusedAndNothingIsMade) {
  const std::string scans = kMalloryScans;
  const std::vector<std::string> hostile = {scans + "\\CON",    scans + "\\nul.txt",       scans + "\\Com1\\Photos",
                                            scans + "\\CONIN$", scans + "\\LPT\xC2\xB9", "C:\\$Extend"};
  for (const std::string& folder : hostile) {
    world.MakeDirectories(folder);
    ASSERT_TRUE(hostworld::SetEntryOwner(folder, "mallory")) << folder;
  }
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  for (const std::string& folder : hostile) {
    EXPECT_EQ(ApplyAs(mallory, ui::SaveModeComputer, folder), kMalloryScans) << folder;
    EXPECT_EQ(ApplyAs(mallory, ui::SaveModeCard, folder), kMalloryScans) << "card mode: " << folder;
  }
  PlugScanner();
  EXPECT_TRUE(TickUntil([&] { return simulator->QueuedImages() == 0; }));
  for (const std::string& folder : hostile) {
    EXPECT_TRUE(Snapshot(world.HostPath(folder)).empty()) << "something was made in " << folder;
  }
  ExpectNothingLost(1, kMalloryScans);
  ExpectProtectedUnchanged();
  StopService();
}

// The program's own folder is the administrators', but mallory owns the
// folder above it: she may rename C:\Apps\Pagewick away and put a folder of
// her own, with her own pagewick.exe, in its place.
TEST_F(AttackTest, InstallFromAFolderWhoseParentTheUserOwnsIsRefused) {
  world.MakeDirectories("C:\\Apps\\Pagewick");
  world.UserSessions().DenyUserWrites("C:\\Apps");
  ASSERT_TRUE(hostworld::SetEntryOwner("C:\\Apps", "mallory"));
  world.SetModuleFileName("C:\\Apps\\Pagewick\\pagewick.exe");
  const std::size_t boxes = world.Desktop().MessageBoxes().size();
  EXPECT_EQ(RunProgram({"/install", "/silent"}), static_cast<int>(kProgramFolderRefused));
  EXPECT_FALSE(world.Services().Find("Service1").has_value());
  const std::vector<hostworld::MessageBoxRecord> shown = world.Desktop().MessageBoxes();
  ASSERT_EQ(shown.size(), boxes + 1);
  EXPECT_NE(shown.back().text.find("rename or replace the folder C:\\Apps, which holds the program's folder "
                                   "C:\\Apps\\Pagewick"),
            std::string::npos)
      << shown.back().text;
  ExpectProtectedUnchanged();
}

// The folder below Program Files is sound, but one of the files the service
// loads from it is mallory's: she may change its bytes and run them as
// LocalSystem. Each of the four files in turn.
TEST_F(AttackTest, InstallWhereAFileTheServiceLoadsIsTheUsersIsRefused) {
  const std::string folder = "C:\\Program Files\\Pagewick";
  const std::vector<std::string> files = {"pagewick.exe", "pwimgfil.dll", "pwimgkrn.dll", "rc.info"};
  for (const std::string& name : files) world.WriteFile(folder + "\\" + name, "the administrators' " + name);
  world.SetModuleFileName(folder + "\\pagewick.exe");
  protectedBefore = ProtectedState();
  for (const std::string& name : files) {
    const std::string file = folder + "\\" + name;
    ASSERT_TRUE(hostworld::SetEntryOwner(file, "mallory"));
    const std::size_t boxes = world.Desktop().MessageBoxes().size();
    EXPECT_EQ(RunProgram({"/install", "/silent"}), static_cast<int>(kProgramFolderRefused)) << name;
    EXPECT_FALSE(world.Services().Find("Service1").has_value()) << name;
    const std::vector<hostworld::MessageBoxRecord> shown = world.Desktop().MessageBoxes();
    ASSERT_EQ(shown.size(), boxes + 1) << name;
    EXPECT_NE(shown.back().text.find("can change or replace the file " + file), std::string::npos)
        << shown.back().text;
    ASSERT_TRUE(hostworld::SetEntryOwner(file, hostworld::kAdministratorsOwner));
    if (world.Services().Find("Service1").has_value()) (void)RunProgram({"/uninstall", "/silent"});
  }
  // With all four the administrators' again, the install goes through.
  EXPECT_EQ(RunProgram({"/install", "/silent"}), 0);
  EXPECT_TRUE(world.Services().Find("Service1").has_value());
  ExpectProtectedUnchanged();
}

// Any user may start a repair of the installed package (msiexec /fa), and the
// installer service runs it as SYSTEM: a custom action that runs a program,
// DLL or script would run, and show its windows, as SYSTEM, and a permissions
// table would set ACLs. The package is built here from its own definition
// (with stand-ins for the five files) and its tables read back with msiinfo.
TEST_F(AttackTest, RepairOfThePackageRunsNoCodeAndChangesNoAcl) {
  const char* tools = "{ command -v wixl && command -v msibuild && command -v msiinfo && command -v cmake; } "
                      ">/dev/null";
  if (std::system(tools) != 0) {
    GTEST_SKIP() << "wixl, msibuild, msiinfo or cmake is missing: the package cannot be built here";
  }
  const fs::path folder = world.Root() / "package";
  fs::create_directories(folder);
  std::string files;
  for (const char* name : {"pagewick.exe", "pwimgfil.dll", "pwimgkrn.dll", "rc.info", "README.txt"}) {
    std::ofstream(folder / name) << "stand-in for " << name;
    files += (files.empty() ? "" : "|") + (folder / name).string();
  }
  const std::string source = PAGEWICK_SOURCE_DIR;
  const fs::path msi = folder / "pagewick.msi";
  const fs::path log = folder / "check.log";
  const auto said = [&] {
    std::ifstream in(log);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  const std::string build = "cmake -D 'PAGEWICK_MSI_FILES=" + files + "' -D PAGEWICK_MSI_VERSION=0.1.0" +
                            " -D 'PAGEWICK_MSI_OUTPUT=" + msi.string() + "' -D 'PAGEWICK_SOURCE_DIR=" + source +
                            "' -P '" + source + "/cmake/BuildMsi.cmake' >'" + log.string() + "' 2>&1";
  ASSERT_EQ(std::system(build.c_str()), 0) << said();
  const std::string check = "'" + source + "/scripts/check-msi-repair.sh' '" + msi.string() + "' >'" + log.string() +
                            "' 2>&1";
  const int status = std::system(check.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << said();
  EXPECT_EQ(said().rfind("msi repair: ", 0), 0u) << said();
  std::printf("%s", said().c_str());
}

}  // namespace
}  // namespace pw::service::test
