// Host-only behaviour of the file system and profile backends: what the world
// can set up that a real machine cannot (free-space figures, failures), and
// the profile rules over awkward bytes.
#include <gtest/gtest.h>

#include <string>

#include "platform/FileSystem.h"
#include "platform/Profile.h"
#include "platform/ProfileParser.h"
#include "platform/hostworld/World.h"

namespace pw::platform {
namespace {

using hostworld::World;

class HostFileSystemTest : public ::testing::Test {
 protected:
  World world_;
};

TEST_F(HostFileSystemTest, FreeSpaceOverrideAndFailureComeFromTheDrive) {
  world_.AddDrive('E', DriveType::Removable);
  world_.MakeDirectories("E:\\Scans");
  world_.SetDriveFreeBytes('E', 4096);
  Result<DiskFreeSpace> result = GetDiskFreeSpaceEx("e:\\scans");
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result->freeBytesAvailableToCaller, 4096u);
  EXPECT_EQ(result->totalFreeBytes, 4096u);
  EXPECT_GE(result->totalBytes, 4096u);

  world_.SetDriveFreeSpaceError('E', error::kNotReady);
  result = GetDiskFreeSpaceEx("E:\\");
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.error(), error::kNotReady);

  world_.SetDriveFreeSpaceError('E', std::nullopt);
  world_.SetDriveFreeBytes('E', std::nullopt);
  result = GetDiskFreeSpaceEx("E:\\");
  ASSERT_TRUE(result.ok());
  EXPECT_GT(result->totalBytes, 0u);

  struct Case {
    const char* path;
    ErrorCode error;
  };
  world_.WriteFile("E:\\file.txt", "x");
  for (const Case& row : {Case{"\\\\server\\share\\", error::kPathNotFound}, Case{"Q:\\", error::kPathNotFound},
                          Case{"E:\\absent", error::kPathNotFound}, Case{"E:\\file.txt", error::kDirectory}}) {
    result = GetDiskFreeSpaceEx(row.path);
    EXPECT_FALSE(result.ok()) << row.path;
    EXPECT_EQ(result.error(), row.error) << row.path;
  }
}

TEST_F(HostFileSystemTest, CreateAlwaysRefusesHiddenAndSystemFiles) {
  world_.WriteFile("C:\\hidden.txt", "keep");
  ASSERT_TRUE(SetFileAttributes("C:\\hidden.txt", attribute::kHidden).ok());
  OpenResult replaced = CreateFile("C:\\hidden.txt", access::kGenericWrite, share::kNone, Disposition::CreateAlways);
  EXPECT_FALSE(replaced.file.valid());
  EXPECT_EQ(replaced.error, error::kAccessDenied);
  EXPECT_EQ(world_.ReadFile("C:\\hidden.txt"), "keep");
  // Other dispositions open it.
  OpenResult opened = CreateFile("C:\\hidden.txt", access::kGenericWrite, share::kNone, Disposition::OpenExisting);
  EXPECT_TRUE(opened.file.valid());
}

TEST_F(HostFileSystemTest, DeleteIsAllowedWhenEveryOpenSharesDelete) {
  world_.WriteFile("C:\\shared.txt", "x");
  OpenResult holder = CreateFile("C:\\shared.txt", access::kGenericRead, share::kRead | share::kDelete,
                                 Disposition::OpenExisting);
  ASSERT_TRUE(holder.file.valid());
  EXPECT_TRUE(DeleteFile("C:\\shared.txt").ok());
  EXPECT_FALSE(FileExists("C:\\shared.txt"));
}

TEST_F(HostFileSystemTest, MovesStayOnTheirVolumeAndCarryAttributes) {
  world_.AddDrive('D', DriveType::Fixed);
  world_.WriteFile("C:\\a.txt", "a");
  Result<void> across = ReplaceFileWith("C:\\a.txt", "D:\\a.txt");
  EXPECT_EQ(across.error(), error::kNotSameDevice);
  ASSERT_TRUE(SetFileAttributes("C:\\a.txt", attribute::kHidden).ok());
  ASSERT_TRUE(ReplaceFileWith("C:\\a.txt", "C:\\b.txt").ok());
  EXPECT_EQ(GetFileAttributes("C:\\b.txt"), attribute::kHidden);
  world_.WriteFile("C:\\a.txt", "again");
  EXPECT_EQ(GetFileAttributes("C:\\a.txt"), attribute::kArchive);  // a new file starts plain
}

TEST_F(HostFileSystemTest, InvalidAndClosedHandlesAreRefused) {
  FileHandle none;
  std::byte buffer[4]{};
  EXPECT_EQ(ReadFileAt(none, 0, buffer).error, error::kInvalidHandle);
  EXPECT_EQ(WriteFileAt(none, 0, buffer).error, error::kInvalidHandle);
  EXPECT_FALSE(GetFileSize(none).has_value());
  OpenResult file = CreateFile("C:\\x.bin", access::kGenericWrite, share::kNone, Disposition::CreateNew);
  ASSERT_TRUE(file.file.valid());
  FileHandle moved = std::move(file.file);
  EXPECT_FALSE(file.file.valid());
  EXPECT_TRUE(WriteFileAt(moved, 0, buffer).ok);
  moved.reset();
  // The share record went with the handle.
  OpenResult again = CreateFile("C:\\x.bin", access::kGenericWrite, share::kNone, Disposition::OpenExisting);
  EXPECT_TRUE(again.file.valid());
}

TEST_F(HostFileSystemTest, CurrentDirectoryMustBeAFolder) {
  world_.WriteFile("C:\\file.txt", "x");
  EXPECT_EQ(SetCurrentDirectory("C:\\file.txt").error(), error::kDirectory);
  EXPECT_EQ(SetCurrentDirectory("Q:\\").error(), error::kPathNotFound);
  world_.MakeDirectories("C:\\Work");
  ASSERT_TRUE(SetCurrentDirectory("c:\\WORK\\").ok());
  EXPECT_EQ(GetCurrentDirectory(), "C:\\Work");  // the stored spelling
}

TEST_F(HostFileSystemTest, ProfileNameWithoutFolderLivesInTheWindowsDirectory) {
  ASSERT_TRUE(WriteProfileString("A", "k", "v", "bare.ini").ok());
  EXPECT_EQ(world_.ReadFile("C:\\Windows\\bare.ini"), "[A]\r\nk=v\r\n");
  EXPECT_EQ(ReadProfileString("A", "k", "", "bare.ini").text, "v");
}

TEST_F(HostFileSystemTest, ProfileWriteRefusesReadOnlyFilesAndFolders) {
  world_.WriteFile("C:\\ro.ini", "[A]\r\nk=1\r\n");
  ASSERT_TRUE(SetFileAttributes("C:\\ro.ini", attribute::kReadOnly).ok());
  EXPECT_EQ(WriteProfileString("A", "k", "2", "C:\\ro.ini").error(), error::kAccessDenied);
  EXPECT_EQ(world_.ReadFile("C:\\ro.ini"), "[A]\r\nk=1\r\n");
  EXPECT_EQ(WriteProfileString("A", "k", "2", "C:\\Windows").error(), error::kAccessDenied);
  EXPECT_EQ(ReadProfileString("A", "k", "d", "C:\\Windows").error, error::kAccessDenied);
  EXPECT_EQ(ReadProfileString("A", "k", "d", "C:\\nowhere\\x.ini").error, error::kPathNotFound);
}

// FindFirstFileA's wildcard rules: kernel32 turns the pattern into the file
// system's DOS wildcards ("*.*" matches names without a dot, "a?" matches
// "a", "*." only names without an extension) and names match without regard
// to case. One file per folder, listed with the pattern.
TEST_F(HostFileSystemTest, FindFilesMatchesWildcardsLikeTheFileSystem) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"img*.*", "img0001", true},      {"img*.*", "img.a.b.c", true},   {"img*.*", "IMG0001.JPG", true},
      {"img*.*", "img", true},          {"img*.*", "im", false},         {"img*.*", "ximg.jpg", false},
      {"*.jpg", "a.b.jpg", true},       {"*.jpg", "a.jpg.txt", false},   {"*.jpg", "jpg", false},
      {"?", "a", true},                 {"?", "ab", false},              {"a?", "a", true},  // DOS_QM at the end
      {"a?.txt", "a.txt", true},        {"a??b", "axyb", true},          {"a??b", "axb", false},
      {"*.", "noext", true},            {"*.", "has.ext", false},        {"*a*", "banana", true},
      {"*.*", "noext", true},           {"*.*", "a.b", true},            {"x*y*z", "xaaayaaaz", true},
  };
  int folder = 0;
  for (const Case& row : cases) {
    const std::string directory = "C:\\wild" + std::to_string(folder++);
    world_.MakeDirectories(directory);
    world_.WriteFile(directory + "\\" + row.name, "x");
    const Result<FindEntries> found = FindFiles(directory + "\\" + row.pattern);
    const bool listed = found.ok() && found->size() == 1 && (*found)[0].name == row.name;
    EXPECT_EQ(listed, row.matches) << row.pattern << " vs " << row.name;
    if (!row.matches) {
      EXPECT_EQ(found.error(), error::kFileNotFound) << row.pattern << " vs " << row.name;
    }
  }
}

TEST(ProfileParserTest, AwkwardBytesNeverDisturbOtherKeys) {
  std::string content = "[A]\r\nbefore=1\r\n";
  static constexpr char kBinary[] = "bin\0ary=\xFF\xFE\x00x";
  content += std::string(kBinary, sizeof kBinary - 1);
  content += "\r\n\x01\x02[garbage\r\n[A]\r\ndup=2\r\n[B]\r\nafter=3\r\n";
  EXPECT_EQ(platform::FindProfileValue(content, "A", "before"), "1");
  EXPECT_EQ(platform::FindProfileValue(content, "B", "after"), "3");
  EXPECT_EQ(platform::FindProfileValue(content, "A", "dup"), std::nullopt);  // second copy of [A]
  const std::optional<std::string> updated = platform::UpdateProfileBytes(content, "B", "new", "4");
  ASSERT_TRUE(updated.has_value());
  EXPECT_EQ(*updated, content + "new=4\r\n");
  const std::optional<std::string> changed = platform::UpdateProfileBytes(content, "a", "BEFORE", "9");
  ASSERT_TRUE(changed.has_value());
  EXPECT_EQ(changed->size(), content.size());
  EXPECT_EQ(platform::FindProfileValue(*changed, "A", "before"), "9");
  EXPECT_EQ(platform::FindProfileValue(*changed, "B", "after"), "3");
}

TEST(ProfileParserTest, UnicodeFilesStayUnicodeAndKeepTheirOtherCharacters) {
  // "[A]\r\nname=Ж\r\nk=1\r\n" in UTF-16LE; Ж (U+0416) has no ANSI form here.
  std::string wide("\xFF\xFE", 2);
  for (char16_t unit : std::u16string(u"[A]\r\nname=\u0416\r\nk=1\r\n")) {
    wide.push_back(static_cast<char>(unit & 0xFF));
    wide.push_back(static_cast<char>(unit >> 8));
  }
  EXPECT_EQ(platform::FindProfileValue(wide, "A", "k"), "1");
  EXPECT_EQ(platform::FindProfileValue(wide, "A", "name"), "?");
  const std::optional<std::string> updated = platform::UpdateProfileBytes(wide, "A", "k", "2");
  ASSERT_TRUE(updated.has_value());
  EXPECT_EQ(updated->substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(updated->size(), wide.size());
  EXPECT_EQ(updated->substr(0, 22), wide.substr(0, 22));  // "[A]\r\nname=Ж" untouched
  EXPECT_EQ(platform::FindProfileValue(*updated, "A", "k"), "2");
}

TEST(ProfileParserTest, SectionWithoutKeysTakesTheNewKeyUnderItsHeader) {
  EXPECT_EQ(platform::UpdateProfileBytes("[A]\r\n; c\r\n\r\n[B]\r\n", "A", "k", "v"),
            "[A]\r\nk=v\r\n; c\r\n\r\n[B]\r\n");
  EXPECT_EQ(platform::UpdateProfileBytes("[A]", "A", "k", "v"), "[A]\r\nk=v\r\n");
  EXPECT_EQ(platform::UpdateProfileBytes("x=1", "A", "k", "v"), "x=1\r\n[A]\r\nk=v\r\n");
  EXPECT_EQ(platform::UpdateProfileBytes("", "A", "k", std::nullopt), std::nullopt);
  // A changed value keeps the blanks before it.
  EXPECT_EQ(platform::UpdateProfileBytes("[A]\r\n  Key = old \r\n", "a", "key", "new"), "[A]\r\n  Key =new\r\n");
}

}  // namespace
}  // namespace pw::platform
