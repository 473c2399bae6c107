// Attacks on the service's own folder below ProgramData and on the files it
// keeps there, by a standard user who gets there first: any user may create
// a folder in ProgramData and owns what they create, so the folder, the
// settings file's new file, its predecessor and the scratch file may all be
// theirs before the service first runs.
#include <sys/stat.h>

#include "platform/Security.h"
#include "tests/security/AttackFixture.h"

namespace pw::service::test {
namespace {

constexpr const char* kServiceFolder = "C:\\ProgramData\\Pagewick";
constexpr const char* kConfigSys = "C:\\Windows\\System32\\config.sys";
constexpr const char* kPublicPictures = "C:\\Users\\Public\\Pictures";

// Runs the steps with the rights of the user at the console (mallory): what
// they create is theirs.
void AsConsoleUser(const std::function<void()>& steps) {
  pf::Result<pf::TokenHandle> token = pf::ConsoleUserToken();
  ASSERT_TRUE(token.ok());
  const pf::Impersonation acting(*token);
  ASSERT_TRUE(acting.ok());
  steps();
}

// The console user makes the service's folder before the service first runs.
void UserMakesTheServiceFolder() {
  AsConsoleUser([] { ASSERT_TRUE(pf::CreateDirectory(kServiceFolder).ok()); });
  ASSERT_EQ(hostworld::EntryOwner(kServiceFolder), "mallory");
}

// A settings file's text; empty when there is none.
std::string SettingsText(const hostworld::World& world, const std::string& path) {
  return pf::FileExists(path) ? world.ReadFile(path) : std::string();
}

std::size_t EventsMentioning(const std::vector<hostworld::EventLogEntry>& log, const std::string& text) {
  std::size_t found = 0;
  for (const hostworld::EventLogEntry& entry : log) {
    for (const std::string& part : entry.strings) {
      if (part.find(text) != std::string::npos) ++found;
    }
  }
  return found;
}

// A link named as the settings file's new file: the service created that
// file afresh through the link, so System32's file took the settings text.
TEST_F(AttackTest, LinkPlantedAsTheSettingsNewFileIsNotWrittenThrough) {
  UserMakesTheServiceFolder();
  world.CreateFileSymlink(std::string(kServiceSettingsPath) + ".new", kConfigSys);
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  EXPECT_EQ(world.ReadFile(kConfigSys), "the system's own");
  EXPECT_NE(SettingsText(world, kServiceSettingsPath), "") << "the settings were saved";
  ExpectProtectedUnchanged();
  StopService();
}

// A folder named as the settings file's new file: every settings write
// failed, so nothing the user applied outlived the service.
TEST_F(AttackTest, FolderPlantedAsTheSettingsNewFileDoesNotStopTheSettings) {
  UserMakesTheServiceFolder();
  const std::string planted = std::string(kServiceSettingsPath) + ".new";
  AsConsoleUser([&] {
    ASSERT_TRUE(pf::CreateDirectory(planted).ok());
    ASSERT_TRUE(pf::CreateDirectory(planted + "\\keeps it").ok());
  });
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  StopService();
  EXPECT_NE(SettingsText(world, kServiceSettingsPath).find(std::string("Path=") + kMalloryScans), std::string::npos)
      << "the settings were not saved: " << SettingsText(world, kServiceSettingsPath);
  StartService();
  EXPECT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  StopService();
}

// The settings file's predecessor is the user's (a link to a file of their
// own): the service's writes kept every line of it, so the user's keys were
// carried into the service's file.
TEST_F(AttackTest, UsersPredecessorOfTheSettingsFileIsNotCarriedIn) {
  UserMakesTheServiceFolder();
  const std::string own = std::string(kMalloryScans) + "\\mine.info";
  world.WriteFile(own, "[Setting]\r\nMode=1\r\nFile=mine\r\n[Mallory]\r\nCarried=yes\r\n");
  ASSERT_TRUE(hostworld::SetEntryOwner(own, "mallory"));
  world.CreateFileSymlink(kServiceSettingsPath, own);
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  StopService();
  const std::string settings = SettingsText(world, kServiceSettingsPath);
  EXPECT_EQ(settings.find("Carried=yes"), std::string::npos) << settings;
  EXPECT_EQ(settings.find("File=mine"), std::string::npos) << settings;
  ExpectProtectedUnchanged();
}

// The scratch file the drain deletes and makes afresh is a second name (a
// hard link) of a system file: the drain removed one of that file's names.
TEST_F(AttackTest, ScratchFileHardLinkedToAProtectedFileIsUntouched) {
  UserMakesTheServiceFolder();
  const std::string scratch = std::string(kServiceFolder) + "\\tmp.jpg";
  AsConsoleUser([&] { ASSERT_TRUE(pf::CreateHardLink(scratch, kConfigSys).ok()); });
  struct stat before {};
  ASSERT_EQ(::stat(world.HostPath(kConfigSys).c_str(), &before), 0);
  ASSERT_EQ(before.st_nlink, 2u);
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  world.SetDriveFreeBytes('C', 1024 * 1024);
  PlugScanner();
  EXPECT_TRUE(TickUntil([&] { return simulator->QueuedImages() == 0; })) << "the picture was not drained";
  StopService();
  struct stat after {};
  ASSERT_EQ(::stat(world.HostPath(kConfigSys).c_str(), &after), 0);
  EXPECT_EQ(after.st_nlink, before.st_nlink) << "a name of the protected file was removed";
  EXPECT_EQ(after.st_ctim.tv_sec, before.st_ctim.tv_sec);
  EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec) << "the protected file was changed";
  EXPECT_EQ(world.ReadFile(kConfigSys), "the system's own");
  ExpectProtectedUnchanged();
}

// The settings file in Public Documents that an earlier version read is a
// user's: its save location and prefixes were carried into the service's file.
TEST_F(AttackTest, UsersSettingsFileInPublicDocumentsIsNotMovedIn) {
  const std::string planted = "[Setting]\r\nMode=1\r\nPath=C:\\Users\\mallory\\Scans\r\nFile=mal\r\nFolder=lory\r\n";
  world.WriteFile(kSettingsPath, planted);
  ASSERT_TRUE(hostworld::SetEntryOwner(kSettingsPath, "mallory"));
  StartService();
  auto agent = Connect(mallory);
  ASSERT_NE(agent, nullptr);
  const auto states = Received<ag::StateMessage>(*agent, [](const ag::StateMessage&) { return true; });
  agent.reset();
  StopService();
  ASSERT_FALSE(states.empty());
  EXPECT_EQ(states.front().saveLocation, kPublicPictures) << "the user's location is in force";
  const std::string settings = SettingsText(world, kServiceSettingsPath);
  EXPECT_EQ(settings.find("mallory"), std::string::npos) << settings;
  EXPECT_EQ(settings.find("mal"), std::string::npos) << settings;
  EXPECT_EQ(world.ReadFile(kSettingsPath), planted) << "the user's file is left where it is";
  StartService();
  StopService();
  EXPECT_EQ(EventsMentioning(EventLog(), kSettingsPath), 1u) << EventLogText();
}

// A settings file no version writes (a location longer than the field, bytes
// the code page leaves undefined, tens of thousands of keys), as damage or an
// administrator's slip leaves it: the service starts from the defaults and
// the next Apply writes a whole new file.
struct DamagedSettings {
  std::string text;
  std::string junk;  // what must not be in the new file
};

DamagedSettings LongLocation() {
  const std::string longPath = "C:\\Users\\mallory\\" + std::string(5000, 'x');
  // With the folder counter the program keeps under a location's own name.
  return {"[Setting]\r\nMode=1\r\nPath=" + longPath + "\r\n" + longPath + "=3\r\n", std::string(300, 'x')};
}

DamagedSettings UndefinedBytes() {
  std::string text = "[Setting]\r\nMode=1\r\nPath=C:\\Users\\mallory\\Sc";
  for (int byte = 0x80; byte <= 0xFF; ++byte) text += static_cast<char>(byte);
  text += "\r\nFile=\x81\x8D\x9D\r\n";
  return {text, "\x81"};
}

DamagedSettings TenThousandKeys() {
  std::string text = "[Setting]\r\n";
  for (int key = 0; key < 10000; ++key) text += "Key" + std::to_string(key) + "=junk" + std::to_string(key) + "\r\n";
  return {text, "Key9999=junk9999"};
}

// What a row does with the service: start it, the location in force as an
// agent is first told it, an Apply of the user's location, stop it.
struct ServiceSteps {
  std::function<void()> start;
  std::function<std::string()> locationInForce;
  std::function<std::string()> applyUsersLocation;
  std::function<void()> stop;
};

void ExpectDefaultsAndAWholeNewFile(hostworld::World& world, const DamagedSettings& damaged, const ServiceSteps& service) {
  world.MakeDirectories(kServiceFolder);
  world.WriteFile(kServiceSettingsPath, damaged.text);
  service.start();
  EXPECT_EQ(service.locationInForce(), kPublicPictures) << "the default location is not in force";
  EXPECT_EQ(service.applyUsersLocation(), kMalloryScans);
  service.stop();
  const std::string settings = SettingsText(world, kServiceSettingsPath);
  EXPECT_EQ(settings.find(damaged.junk), std::string::npos) << "the file was not replaced whole";
  EXPECT_NE(settings.find(std::string("Path=") + kMalloryScans), std::string::npos) << settings.substr(0, 200);
  EXPECT_LT(settings.size(), 512u);
}

}  // namespace

#define PW_SERVICE_STEPS                                                                                  \
  ServiceSteps {                                                                                          \
    [&] { StartService(); },                                                                              \
        [&] {                                                                                             \
          auto agent = Connect(mallory);                                                                  \
          if (!agent) return std::string("(no connection)");                                              \
          const auto states = Received<ag::StateMessage>(*agent, [](const ag::StateMessage&) { return true; }); \
          return states.empty() ? std::string("(no state)") : states.front().saveLocation;                \
        },                                                                                                \
        [&] { return ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans); }, [&] { StopService(); }     \
  }

TEST_F(AttackTest, SettingsFileWithALocationLongerThanTheFieldStartsFromDefaults) {
  ExpectDefaultsAndAWholeNewFile(world, LongLocation(), PW_SERVICE_STEPS);
  ExpectProtectedUnchanged();
}

TEST_F(AttackTest, SettingsFileWithBytesUndefinedInTheCodePageStartsFromDefaults) {
  ExpectDefaultsAndAWholeNewFile(world, UndefinedBytes(), PW_SERVICE_STEPS);
  ExpectProtectedUnchanged();
}

TEST_F(AttackTest, SettingsFileWithTenThousandKeysStartsFromDefaults) {
  ExpectDefaultsAndAWholeNewFile(world, TenThousandKeys(), PW_SERVICE_STEPS);
  ExpectProtectedUnchanged();
}

#undef PW_SERVICE_STEPS

}  // namespace pw::service::test
