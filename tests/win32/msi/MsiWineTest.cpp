// The MSI under Wine's Windows Installer, as an administrator uses it:
// msiexec /i ... /qn installs the five files, registers the service with the
// values /install uses and starts it; the service pulls pictures through the
// scanner driver; a package of a higher version replaces it in place (the
// settings and the pictures stay, the service runs the new executable); and
// msiexec /x ... /qn removes every file and key the package made, never a
// picture or the settings file. The last line of the run counts what is left.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/EventLog.h"
#include "platform/FileSystem.h"
#include "platform/Security.h"
#include "platform/ServiceControl.h"
#include "platform/Shell.h"
#include "tests/support/TestEnvironment.h"
#include "platform/winapi/WindowsApi.h"
#include "tests/win32/world/WineWorld.h"

namespace pw::wineworld {
namespace {

using namespace std::chrono_literals;
namespace pf = platform;

constexpr const char* kServiceName = "Service1";
constexpr const char* kProgramFolder = "C:\\Program Files\\Pagewick";
constexpr const char* kPackageFiles[] = {"pagewick.exe", "pwimgfil.dll", "pwimgkrn.dll", "rc.info", "README.txt"};
constexpr const char* kServicesKey = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr int kCommonAppData = 35;
constexpr int kCommonPictures = 54;
constexpr int kCommonPrograms = 23;
constexpr int kPrograms = 2;

std::string SpecialFolder(int csidl) {
  return pf::GetPathFromIdList(pf::GetSpecialFolderLocation(nullptr, csidl)).value_or("");
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// An open key of HKLM, closed with the object.
class Key {
 public:
  explicit Key(const std::string& path) {
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~Key() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  bool Exists() const { return key_ != nullptr; }
  std::optional<std::string> Text(const char* name) const {
    char value[1024] = {};
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    if (key_ == nullptr || ::RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
                               ERROR_SUCCESS) {
      return std::nullopt;
    }
    if (type == REG_DWORD) return std::to_string(*reinterpret_cast<const DWORD*>(value));
    return std::string(value);
  }
  std::vector<std::string> SubKeys() const {
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0; key_ != nullptr; ++i) {
      DWORD size = sizeof name;
      if (::RegEnumKeyExA(key_, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name, size);
    }
    return names;
  }

 private:
  HKEY key_ = nullptr;
};

// The uninstall entries (Apps & features) whose name is Pagewick.
std::vector<std::string> UninstallEntries() {
  std::vector<std::string> entries;
  for (const std::string& name : Key(kUninstallKey).SubKeys()) {
    const std::string path = std::string(kUninstallKey) + "\\" + name;
    if (Key(path).Text("DisplayName") == std::optional<std::string>("Pagewick")) entries.push_back(path);
  }
  return entries;
}

// msiexec with the arguments and a verbose log of the run in the world's
// folder; its exit code, or -1 when it did not end in time.
int Msiexec(const WorldPaths& world, const std::string& arguments, const char* logName) {
  const StartedProgram run("msiexec.exe", arguments + " /l*v \"" + world.root + "\\" + logName + "\"");
  if (!run.Started() || !run.WaitForExit(180s)) return -1;
  DWORD exitCode = static_cast<DWORD>(-1);
  ::GetExitCodeProcess(run.Handle(), &exitCode);
  return static_cast<int>(exitCode);
}

// The settings file is still there with the values written into it (the
// service adds its own values behind them).
bool SettingsKept(const std::string& path, const std::string& written) {
  const std::optional<Bytes> now = ReadWholeFile(path);
  return now && now->compare(0, written.size(), written) == 0;
}

class MsiInWine : public ::testing::Test {
 protected:
  void SetUp() override {
    world_ = FindWorld();
    first_ = Environment("PAGEWICK_MSI_FIRST");
    second_ = Environment("PAGEWICK_MSI_SECOND");
    secondMark_ = Environment("PAGEWICK_MSI_SECOND_MARK");
    if (!world_ || first_.empty() || second_.empty()) GTEST_SKIP() << "not in the Wine world of the MSI test";
    // The world puts the program where the package goes; the package must
    // find an empty place.
    test::RemoveTree(kProgramFolder);
    manager_ =
        pf::OpenSCManager(std::nullopt, std::nullopt, pf::manager_access::kAllAccess).value_or(pf::ServiceHandle());
    ASSERT_TRUE(manager_.valid());
    pictures_ = SpecialFolder(kCommonPictures);
    ASSERT_FALSE(pictures_.empty());
    test::RemoveTree(pictures_ + "\\Photo1");
  }

  std::uint32_t State() const {
    pf::Result<pf::ServiceHandle> opened = pf::OpenService(manager_, kServiceName, pf::service_access::kAllAccess);
    return opened.ok() ? pf::QueryServiceStatus(*opened).status.currentState : 0;
  }
  bool WaitForState(std::uint32_t state) const {
    return WaitUntil([&] { return State() == state; }, 60s);
  }

  // The settings file the service reads (as the end-to-end tests find it).
  std::string SettingsPath(const std::string& programFolder = kProgramFolder) const {
    const std::string folder = SpecialFolder(kCommonAppData) + "\\Pagewick";
    (void)pf::CreateServiceOnlyDirectory(folder);
    if (pf::OwnedBySystemOrAdministrators(folder)) return folder + "\\pagewick.info";
    (void)test::KnownWineDifference("the settings folder is not owned by Administrators: settings beside the executable");
    return programFolder + "\\pagewick.info";
  }

  void ExpectServiceAsInstallRegistersIt() const {
    pf::Result<pf::ServiceHandle> opened = pf::OpenService(manager_, kServiceName, pf::service_access::kAllAccess);
    ASSERT_TRUE(opened.ok()) << "error " << opened.error();
    const pf::Result<pf::ServiceConfig> queried = pf::QueryServiceConfig(*opened);
    ASSERT_TRUE(queried.ok()) << "error " << queried.error();
    const pf::ServiceConfig& config = *queried;
    EXPECT_EQ(config.type, 0x110u) << "own process, interactive";
    EXPECT_EQ(config.startType, pf::start_type::kAuto);
    EXPECT_EQ(config.errorControl, pf::error_control::kNormal);
    EXPECT_EQ(config.displayName, "Pagewick");
    EXPECT_EQ(config.serviceStartName, "LocalSystem");
    const std::string path = std::string(kProgramFolder) + "\\pagewick.exe";
    if (config.binaryPath == path) {
      // Windows Installer quotes the key file's path; Wine's does not.
      EXPECT_TRUE(test::KnownWineDifference("Wine's msiexec registers the service's path without quotes"));
    } else {
      EXPECT_EQ(config.binaryPath, "\"" + path + "\"") << "the quoted path";
    }
  }

  void ExpectEventSources() const {
    for (const char* source : {"Service1", "pagewick.exe"}) {
      const std::optional<pf::EventSourceRegistration> registered = pf::FindEventSourceFile(source);
      ASSERT_TRUE(registered.has_value()) << source;
      EXPECT_EQ(registered->messageFile, std::string(kProgramFolder) + "\\pagewick.exe") << source;
      EXPECT_EQ(registered->typesSupported, 7u) << source;
    }
  }

  void ExpectAppsAndFeatures(const std::string& version, const std::string& folder = kProgramFolder) const {
    const std::vector<std::string> entries = UninstallEntries();
    ASSERT_EQ(entries.size(), 1u) << "one entry in Apps & features";
    const Key entry(entries.front());
    EXPECT_EQ(entry.Text("Publisher"), std::optional<std::string>("Pagewick"));
    EXPECT_EQ(entry.Text("DisplayVersion"), std::optional<std::string>(version));
    EXPECT_EQ(entry.Text("NoModify"), std::optional<std::string>("1"));
    EXPECT_EQ(entry.Text("HelpLink"), std::optional<std::string>(folder + "\\README.txt"));
  }

  // The Start menu entry of all users; Wine's installer puts a per-machine
  // package's shortcut into the installing user's Start menu instead.
  std::string ShortcutPath() const {
    const std::string common = SpecialFolder(kCommonPrograms) + "\\Pagewick.lnk";
    const std::string own = SpecialFolder(kPrograms) + "\\Pagewick.lnk";
    if (!pf::FileExists(common) && pf::FileExists(own) &&
        test::KnownWineDifference("Wine's msiexec puts a per-machine shortcut into the user's Start menu")) {
      return own;
    }
    return common;
  }
  std::vector<std::string> ShortcutsLeft() const {
    std::vector<std::string> left;
    for (int folder : {kCommonPrograms, kPrograms}) {
      const std::string path = SpecialFolder(folder) + "\\Pagewick.lnk";
      if (pf::FileExists(path)) left.push_back(path);
    }
    return left;
  }

  std::string PicturePath(int n) const {
    char name[32];
    std::snprintf(name, sizeof name, "img%04d.jpg", n);
    return pictures_ + "\\Photo1\\" + name;
  }

  std::optional<WorldPaths> world_;
  std::string first_;
  std::string second_;
  std::string secondMark_;
  pf::ServiceHandle manager_;
  std::string pictures_;
};

TEST_F(MsiInWine, InstallsPullsUpgradesAndUninstallsLeavingOnlyPicturesAndSettings) {
  // Installed: the files, the running service, the event sources, the entry
  // in Apps & features and the Start menu's shortcut.
  ASSERT_EQ(Msiexec(*world_, "/i \"" + first_ + "\" /qn", "msi-install.log"), 0);
  for (const char* file : kPackageFiles) {
    EXPECT_TRUE(pf::FileExists(std::string(kProgramFolder) + "\\" + file)) << file;
  }
  ExpectServiceAsInstallRegistersIt();
  ASSERT_TRUE(WaitForState(pf::service_state::kRunning)) << "the install starts the service";
  ExpectEventSources();
  ExpectAppsAndFeatures(Environment("PAGEWICK_MSI_FIRST_VERSION"));
  EXPECT_TRUE(pf::FileExists(ShortcutPath())) << ShortcutPath();
  // The package never lets agents talk to a pipe server of their own user.
  EXPECT_EQ(Key("Software\\Pagewick").Text("AllowServerOfSameUser"), std::nullopt);

  // Pictures pulled by the installed service through the scanner driver.
  SimulatorPort port(*world_);
  pf::Result<pf::ServiceHandle> opened = pf::OpenService(manager_, kServiceName, pf::service_access::kAllAccess);
  ASSERT_TRUE(opened.ok());
  ASSERT_TRUE(pf::ControlService(*opened, pf::service_control::kStop).ok);
  ASSERT_TRUE(WaitForState(pf::service_state::kStopped));
  const std::string settings = SettingsPath();
  const std::string settingsText = "[Setting]\r\nMode=1\r\nAutoRoate=0\r\n";
  WriteWholeFile(settings, settingsText);
  const std::optional<std::vector<int>> queued = port.Plug("--chunk fixed:65536 --plain-picture --image-size 120000");
  ASSERT_TRUE(queued && !queued->empty());
  ASSERT_TRUE(pf::StartService(*opened, {}).ok());
  const std::size_t count = queued->size();
  ASSERT_TRUE(WaitUntil([&] { return pf::FileExists(PicturePath(static_cast<int>(count))); }, 60s))
      << port.Control("status");
  std::vector<Bytes> pulled;
  for (std::size_t i = 0; i < count; ++i) {
    const std::optional<Bytes> bytes = ReadWholeFile(PicturePath(static_cast<int>(i) + 1));
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(*bytes, port.Image((*queued)[i])) << "picture " << i + 1 << " byte for byte";
    pulled.push_back(*bytes);
  }
  (void)port.Control("plug");  // an idle scanner from here on
  // An open handle would keep a deleted service registered.
  opened->reset();
  const std::uint32_t firstProcess = ServiceProcessId(kServiceName);
  EXPECT_NE(firstProcess, 0u);

  // Upgraded in place: one entry of the new version, the service running the
  // new executable in a new process, settings and pictures as they were.
  ASSERT_EQ(Msiexec(*world_, "/i \"" + second_ + "\" /qn", "msi-upgrade.log"), 0);
  ExpectAppsAndFeatures(Environment("PAGEWICK_MSI_SECOND_VERSION"));
  ASSERT_TRUE(WaitForState(pf::service_state::kRunning)) << "the upgrade starts the service again";
  EXPECT_NE(ServiceProcessId(kServiceName), firstProcess);
  const std::optional<Bytes> program = ReadWholeFile(std::string(kProgramFolder) + "\\pagewick.exe");
  ASSERT_TRUE(program.has_value());
  EXPECT_TRUE(program->size() > secondMark_.size() &&
              program->compare(program->size() - secondMark_.size(), secondMark_.size(), secondMark_) == 0)
      << "pagewick.exe is the newer package's";
  ExpectServiceAsInstallRegistersIt();
  ExpectEventSources();
  EXPECT_TRUE(SettingsKept(settings, settingsText)) << "the settings stay";
  for (std::size_t i = 0; i < pulled.size(); ++i) {
    EXPECT_EQ(ReadWholeFile(PicturePath(static_cast<int>(i) + 1)), std::optional<Bytes>(pulled[i])) << i + 1;
  }

  // Uninstalled: the service stopped and gone, nothing of the package left.
  ASSERT_EQ(Msiexec(*world_, "/x \"" + second_ + "\" /qn", "msi-uninstall.log"), 0);
  int filesLeft = 0;
  for (const pf::FindEntry& entry : pf::FindFiles(std::string(kProgramFolder) + "\\*").value_or(pf::FindEntries())) {
    if (entry.name == "." || entry.name == "..") continue;
    const std::string path = std::string(kProgramFolder) + "\\" + entry.name;
    if (path == settings) continue;
    ++filesLeft;
    ADD_FAILURE() << path << " is left behind";
  }
  for (const std::string& shortcut : ShortcutsLeft()) {
    ++filesLeft;
    ADD_FAILURE() << shortcut << " is left behind";
  }
  std::vector<std::string> keys = UninstallEntries();
  for (const char* name : {"Service1", "EventLog\\Application\\Service1", "EventLog\\Application\\pagewick.exe"}) {
    keys.push_back(kServicesKey + std::string(name));
  }
  keys.emplace_back("Software\\Pagewick");
  int keysLeft = 0;
  for (const std::string& key : keys) {
    if (!Key(key).Exists()) continue;
    ++keysLeft;
    ADD_FAILURE() << "HKLM\\" << key << " is left behind";
  }
  EXPECT_TRUE(SettingsKept(settings, settingsText)) << "the settings stay";
  for (std::size_t i = 0; i < pulled.size(); ++i) {
    EXPECT_EQ(ReadWholeFile(PicturePath(static_cast<int>(i) + 1)), std::optional<Bytes>(pulled[i])) << i + 1;
  }
  std::printf("msi: installed, pulled %zu pictures, upgraded, uninstalled; %d files and %d registry keys left behind\n",
              pulled.size(), filesLeft, keysLeft);
}

// A folder chosen at the first install is where an upgrade goes too, and
// msiexec /x with REMOVESETTINGS=1 removes the settings file, the scratch
// file and their folder with the program.
TEST_F(MsiInWine, UpgradeKeepsTheChosenFolderAndRemoveSettingsRemovesTheSettings) {
  const std::string custom = "C:\\Program Files\\Pagewick Custom";
  test::RemoveTree(custom);
  ASSERT_EQ(Msiexec(*world_, "/i \"" + first_ + "\" INSTALLDIR=\"" + custom + "\\\" /qn", "msi-custom.log"), 0);
  EXPECT_TRUE(pf::FileExists(custom + "\\pagewick.exe"));
  EXPECT_FALSE(pf::FileExists(std::string(kProgramFolder) + "\\pagewick.exe"));
  ExpectAppsAndFeatures(Environment("PAGEWICK_MSI_FIRST_VERSION"), custom);

  // No INSTALLDIR on the upgrade's command line: the first install's folder.
  ASSERT_EQ(Msiexec(*world_, "/i \"" + second_ + "\" /qn", "msi-custom-upgrade.log"), 0);
  const std::optional<Bytes> program = ReadWholeFile(custom + "\\pagewick.exe");
  ASSERT_TRUE(program.has_value()) << "the upgrade left the chosen folder";
  EXPECT_TRUE(program->size() > secondMark_.size() &&
              program->compare(program->size() - secondMark_.size(), secondMark_.size(), secondMark_) == 0)
      << "pagewick.exe is the newer package's";
  EXPECT_FALSE(pf::FileExists(std::string(kProgramFolder) + "\\pagewick.exe")) << "nothing went to the default folder";
  ExpectAppsAndFeatures(Environment("PAGEWICK_MSI_SECOND_VERSION"), custom);
  ASSERT_TRUE(WaitForState(pf::service_state::kRunning));

  // The settings and a scratch file where the service keeps them.
  const std::string settings = SettingsPath(custom);
  const std::string folder = settings.substr(0, settings.rfind('\\'));
  WriteWholeFile(settings, "[Setting]\r\nMode=1\r\n");
  WriteWholeFile(folder + "\\tmp.jpg", "scratch");
  ASSERT_EQ(Msiexec(*world_, "/x \"" + second_ + "\" REMOVESETTINGS=1 /qn", "msi-remove-settings.log"), 0);
  EXPECT_FALSE(pf::FileExists(settings)) << settings;
  EXPECT_FALSE(pf::FileExists(folder + "\\tmp.jpg"));
  EXPECT_FALSE(pf::DirectoryExists(custom)) << "the chosen folder is gone with everything in it";
  EXPECT_FALSE(pf::DirectoryExists(SpecialFolder(kCommonAppData) + "\\Pagewick")) << "the settings folder is gone";
  EXPECT_TRUE(UninstallEntries().empty());
}

}  // namespace
}  // namespace pw::wineworld
