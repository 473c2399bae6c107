// The save-location and prefix rules, and that whatever they accept round-trips
// through the settings file without touching another entry.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <string>

#include "platform/Profile.h"
#include "platform/hostworld/World.h"
#include "platform/LocationRules.h"

namespace pw::platform {
namespace {

class LocationRulesTest : public ::testing::Test {
 protected:
  LocationRulesTest() {
    world.AddDrive('D', platform::DriveType::Removable);
    world.AddDrive('N', platform::DriveType::Remote);
    world.AddDrive('R', platform::DriveType::CdRom);
  }
  hostworld::World world;
};

TEST_F(LocationRulesTest, SaveLocationsFromAnySource) {
  struct Case {
    std::string location;
    LocationProblem expected;
  };
  const std::string longest = "C:\\" + std::string(125, 'a');
  const Case cases[] = {
      {"C:\\Scans", LocationProblem::None},
      {"C:\\", LocationProblem::None},
      {"D:\\Photos\\2024\\", LocationProblem::None},  // a removable drive, a trailing separator
      {"c:\\Program Files\\a;b [x]", LocationProblem::None},  // ';' and '[' inside cannot start a line
      {longest, LocationProblem::None},
      {longest + "b", LocationProblem::TooLong},
      {"", LocationProblem::NotAbsolute},
      {"Scans", LocationProblem::NotAbsolute},
      {"C:Scans", LocationProblem::NotAbsolute},  // relative to the drive's current folder
      {"\\Scans", LocationProblem::NotAbsolute},
      {"C:/Scans", LocationProblem::NotAbsolute},
      {"1:\\Scans", LocationProblem::NotAbsolute},
      {"Mode", LocationProblem::NotAbsolute},  // spelt like a key
      {";C:\\Scans", LocationProblem::NotAbsolute},
      {"[Setting]", LocationProblem::NotAbsolute},
      {"\\\\host\\share\\Scans", LocationProblem::NetworkPath},
      {"//host/share", LocationProblem::NetworkPath},
      {"N:\\Scans", LocationProblem::NetworkPath},  // a drive letter mapped to a share
      {"\\\\?\\C:\\Windows", LocationProblem::DevicePath},
      {"\\\\.\\PhysicalDrive0", LocationProblem::DevicePath},
      {"R:\\Scans", LocationProblem::DriveNotUsable},
      {"Q:\\Scans", LocationProblem::DriveNotUsable},  // no such drive
      {"C:\\Scans\r\nFile=..\\x", LocationProblem::BadCharacters},
      {"C:\\Scans\nFolder=..\\..\\Windows\\y", LocationProblem::BadCharacters},
      {std::string("C:\\Sc\0ans", 9), LocationProblem::BadCharacters},
      {"C:\\Scans\t", LocationProblem::BadCharacters},
      {"C:\\Scans ", LocationProblem::SettingsKey},
      {" C:\\Scans", LocationProblem::SettingsKey},
      {"C:\\Scans\"", LocationProblem::SettingsKey},
      {"\"C:\\Scans\"", LocationProblem::SettingsKey},
      {"C:\\Scans=5", LocationProblem::SettingsKey},  // as a key it would be "C:\Scans"
      {"C:\\a:b", LocationProblem::BadCharacters},
      // Bytes code page 1252 leaves undefined read as C1 control characters;
      // its other high bytes are letters and signs.
      {"C:\\Sc\x81ns", LocationProblem::BadCharacters},
      {"C:\\Sc\x9D", LocationProblem::BadCharacters},
      {"C:\\Caf\xE9 \x80\xA9\xFF", LocationProblem::None},
      {"C:\\a*", LocationProblem::BadCharacters},
      {"C:\\a.\\b", LocationProblem::DroppedNameEnd},  // Windows would reach "C:\a\b"
      {"C:\\a \\b", LocationProblem::DroppedNameEnd},
      {"C:\\Scans\\..\\Windows", LocationProblem::ParentFolder},
      {"C:\\..", LocationProblem::ParentFolder},
      {"C:\\.\\Scans", LocationProblem::ParentFolder},
      {"C:\\\\Scans", LocationProblem::ParentFolder},
      // A device name in any component, with any extension, in any case.
      {"C:\\Scans\\CON", LocationProblem::DevicePath},
      {"C:\\x\\COM1", LocationProblem::DevicePath},
      {"C:\\x\\NUL.txt", LocationProblem::DevicePath},
      {"C:\\x\\CONIN$", LocationProblem::DevicePath},
      {"C:\\x\\conout$", LocationProblem::DevicePath},
      {"C:\\nul\\Scans", LocationProblem::DevicePath},
      {"C:\\x\\Aux.tar.gz", LocationProblem::DevicePath},
      {"C:\\x\\pRn", LocationProblem::DevicePath},
      {"C:\\x\\NUL .txt", LocationProblem::DevicePath},  // blanks before the dot are dropped
      {"C:\\x\\com0", LocationProblem::DevicePath},
      {"C:\\x\\LPT9.log", LocationProblem::DevicePath},
      {"C:\\x\\com\xB9", LocationProblem::DevicePath},      // superscript one, code page 1252
      {"C:\\x\\LPT\xC2\xB3", LocationProblem::DevicePath},  // superscript three, UTF-8
      {"C:\\x\\Com\xB2.jpg", LocationProblem::DevicePath},
      {"C:\\CONTACTS", LocationProblem::None},
      {"C:\\x\\COM10", LocationProblem::None},
      {"C:\\x\\NULL", LocationProblem::None},
      {"C:\\x\\CONIN", LocationProblem::None},
      {"C:\\x\\LPT\xB4", LocationProblem::None},  // an acute accent, no digit
      {"C:\\x\\COM", LocationProblem::None},
      {"C:\\x\\my.CON", LocationProblem::None},
      // NTFS's own names at the root, in any case; below it they are plain names.
      {"C:\\$Extend", LocationProblem::FileSystemName},
      {"C:\\$mft\\Scans", LocationProblem::FileSystemName},
      {"D:\\$UpCase", LocationProblem::FileSystemName},
      {"C:\\$BadClus", LocationProblem::FileSystemName},
      {"C:\\x\\$Extend", LocationProblem::None},
      {"C:\\$Recycle.Bin\\x", LocationProblem::None},
      {"C:\\$Extended", LocationProblem::None},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckSaveLocation(c.location, kMaxChosenLocationLength), c.expected) << c.location;
    if (c.expected != LocationProblem::None) {
      EXPECT_NE(ProblemTextId(c.expected), 0) << c.location;
    }
  }
  EXPECT_EQ(CheckSaveLocation(longest + "b", kMaxStoredLocationLength), LocationProblem::None)
      << "the settings file may hold up to MAX_PATH - 1";
  // At start a stored location on a drive that is not there now is kept; any
  // other problem is not.
  EXPECT_EQ(CheckStoredLocation("Q:\\Scans"), LocationProblem::None);
  EXPECT_EQ(CheckStoredLocation("R:\\Scans"), LocationProblem::DriveNotUsable);
  EXPECT_EQ(CheckStoredLocation("N:\\Scans"), LocationProblem::NetworkPath);
  EXPECT_EQ(CheckStoredLocation("Q:\\a\r\nFile=x"), LocationProblem::BadCharacters);
  // The settings file is held to the same names, on a drive there or not.
  EXPECT_EQ(CheckStoredLocation("C:\\Scans\\CON"), LocationProblem::DevicePath);
  EXPECT_EQ(CheckStoredLocation("Q:\\$Extend"), LocationProblem::FileSystemName);
}

TEST_F(LocationRulesTest, AcceptedLocationsReadBackAsWrittenAndTouchNoOtherEntry) {
  const std::string file = "C:\\settings.info";
  for (const std::string location : {"C:\\Scans", "C:\\Program Files\\a;b [x]", "D:\\x\\", "c:\\Mode\\Path"}) {
    ASSERT_EQ(CheckSaveLocation(location, kMaxChosenLocationLength), LocationProblem::None) << location;
    world.WriteFile(file, "[Setting]\r\nMode=1\r\nFile=img\r\nFolder=Photo\r\n");
    ASSERT_TRUE(platform::WriteProfileString("Setting", "Path", location, file).ok());
    ASSERT_TRUE(platform::WriteProfileInteger("Setting", location, 7, file).ok());
    EXPECT_EQ(platform::ReadProfileString("Setting", "Path", "", file).text, location);
    EXPECT_EQ(platform::ReadProfileInteger("Setting", location, 0, file), 7) << location;
    EXPECT_EQ(platform::ReadProfileString("Setting", "File", "", file).text, "img") << location;
    EXPECT_EQ(platform::ReadProfileString("Setting", "Folder", "", file).text, "Photo") << location;
    EXPECT_EQ(platform::ReadProfileInteger("Setting", "Mode", 0, file), 1) << location;
  }
}

// The text a refused location is shown says the true reason: a folder
// Windows would accept is refused for the settings file's sake, and says so.
TEST_F(LocationRulesTest, EachRefusalTextSaysTheTrueReason) {
  std::ifstream table(std::string(PAGEWICK_SOURCE_DIR) + "/resources/rc.info");
  std::map<std::int32_t, std::string> texts;
  for (std::string line; std::getline(table, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos || line.empty() || std::isdigit(static_cast<unsigned char>(line[0])) == 0) continue;
    texts[std::stoi(line.substr(0, equals))] = line.substr(equals + 1);
  }
  struct Case {
    std::string location;
    LocationProblem problem;
    const char* says;     // the reason, in the text
    const char* saysNot;  // a reason that is false for this location
  };
  const Case cases[] = {
      {"C:\\Scans=2024", LocationProblem::SettingsKey, "key of its settings file", "Windows does not allow"},
      {"C:\\Scans ", LocationProblem::SettingsKey, "nor begin or end with a blank", "Windows does not allow"},
      {"C:\\a|b", LocationProblem::BadCharacters, "Windows does not allow in a folder name", "settings file"},
      {"C:\\a\nb", LocationProblem::BadCharacters, "control character", "settings file"},
      {"C:\\Scans.\\x", LocationProblem::DroppedNameEnd, "ends with a blank or a dot", "does not allow"},
      {"\\\\?\\C:\\Windows", LocationProblem::DevicePath, "starts with \\\\?\\", "names a device rather"},
      {"C:\\x\\NUL.txt", LocationProblem::DevicePath, "names a device (such as CON, NUL", nullptr},
      {"Scans", LocationProblem::NotAbsolute, "full path that starts with a drive letter", nullptr},
      {"N:\\Scans", LocationProblem::NetworkPath, "network drive or share", nullptr},
      {"C:\\a\\..\\b", LocationProblem::ParentFolder, ". or .. folder name", nullptr},
      {"R:\\Scans", LocationProblem::DriveNotUsable, "not a local fixed or removable drive", nullptr},
      {"C:\\$Extend", LocationProblem::FileSystemName, "keeps for itself", nullptr},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(CheckSaveLocation(c.location, kMaxChosenLocationLength), c.problem) << c.location;
    const std::string& text = texts[ProblemTextId(c.problem)];
    EXPECT_NE(text.find(c.says), std::string::npos) << c.location << ": " << text;
    if (c.saysNot != nullptr) {
      EXPECT_EQ(text.find(c.saysNot), std::string::npos) << c.location << ": " << text;
    }
  }
  // Found by trying, whatever kept the folder or file from being made.
  const std::string& notWritable = texts[ProblemTextId(LocationProblem::NotWritable)];
  EXPECT_NE(notWritable.find("failed with your user's rights"), std::string::npos) << notWritable;
  EXPECT_EQ(notWritable.find("You may not"), std::string::npos) << notWritable;
}

TEST(NamePrefixRules, PlainNamesOnly) {
  struct Case {
    const char* name;
    bool plain;
  };
  const Case cases[] = {
      {"img", true},     {"Photo", true},     {"Scan-", true},  {"a.b", true},       {"CONSOLE", true},
      {"COM10x", true},  {"", false},         {"..", false},    {"..\\x", false},    {"..\\..\\Windows\\y", false},
      {"a/b", false},    {"a\\b", false},     {"C:x", false},   {"a\rb", false},     {"a\tb", false},
      {"a*", false},     {"a?", false},       {"a|b", false},   {"a<b", false},      {"\"a\"", false},
      {"CON", false},    {"con.txt", false},  {"PRN", false},   {"AUX", false},      {"NUL", false},
      {"nul.jpg", false}, {"COM1", false},    {"LPT9", false},  {"com", false},      {"LPT", false},
      {" img", false},   {"img ", false},     {"CONIN$", false}, {"com\xB9", false}, {"LPT\xC2\xB2.x", false},
      {"COM0", false},   {"CONINx", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsPlainNamePrefix(c.name), c.plain) << c.name;
}

}  // namespace
}  // namespace pw::platform
