// Files and directories with Windows semantics, in both builds.
#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/ScopeExit.h"
#include "platform/Security.h"
#include "tests/support/TestEnvironment.h"

namespace pw::platform {
namespace {

std::span<const std::byte> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::byte*>(text.data()), text.size()};
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

class FileSystemTest : public ::testing::Test {
 protected:
  test::ScratchFolder scratch_;
};

TEST_F(FileSystemTest, CreateDirectoryMakesOneLevelWithWindowsErrors) {
  EXPECT_TRUE(CreateDirectory(scratch_ / "Scans").ok());
  EXPECT_TRUE(DirectoryExists(scratch_ / "Scans"));

  struct Case {
    const char* name;
    std::string path;
    ErrorCode error;
  };
  const Case cases[] = {
      {"missing parent", scratch_ / "a\\b", error::kPathNotFound},
      {"existing folder", scratch_ / "Scans", error::kAlreadyExists},
      {"existing folder, other case", scratch_ / "SCANS", error::kAlreadyExists},
      {"existing file", scratch_ / "file.txt", error::kAlreadyExists},
      {"star in the name", scratch_ / "a*b", error::kInvalidName},
      {"question mark in the name", scratch_ / "a?b", error::kInvalidName},
  };
  scratch_.WriteFile("file.txt", "x");
  for (const Case& row : cases) {
    const Result<void> created = CreateDirectory(row.path);
    EXPECT_FALSE(created.ok()) << row.name;
    EXPECT_EQ(created.error(), row.error) << row.name;
  }
  EXPECT_FALSE(DirectoryExists(scratch_ / "a"));
}

TEST_F(FileSystemTest, TrailingDotsAndSpacesAreDropped) {
  ASSERT_TRUE(CreateDirectory(scratch_ / "Photo1. .").ok());
  EXPECT_TRUE(DirectoryExists(scratch_ / "Photo1"));
  OpenResult created = CreateFile(scratch_ / "Photo1\\img.jpg  ", access::kGenericWrite, share::kNone,
                                  Disposition::CreateNew);
  ASSERT_TRUE(created.file.valid()) << created.error;
  created.file.reset();
  const FindEntries listing = FindFiles(scratch_ / "Photo1\\*").value_or(FindEntries());
  ASSERT_EQ(listing.size(), 1u);
  EXPECT_EQ(listing[0].name, "img.jpg");
}

TEST_F(FileSystemTest, NamesAreCaseInsensitiveAndCasePreserving) {
  ASSERT_TRUE(CreateDirectory(scratch_ / "PHOTO1").ok());
  scratch_.WriteFile("PHOTO1\\Img0001.JPG", "data");
  EXPECT_TRUE(DirectoryExists(scratch_ / "photo1"));
  EXPECT_TRUE(FileExists(scratch_ / "Photo1/img0001.jpg"));  // '/' separates as well
  EXPECT_FALSE(DirectoryExists(scratch_ / "photo1\\img0001.jpg"));
  EXPECT_EQ(scratch_.ReadFile("photo1\\IMG0001.jpg"), "data");
  const FindEntries listing = FindFiles(scratch_ / "*").value_or(FindEntries());
  ASSERT_EQ(listing.size(), 1u);
  EXPECT_EQ(listing[0].name, "PHOTO1");
}

TEST_F(FileSystemTest, CreateAlwaysTruncatesAnExistingFileAndReports183) {
  const std::string path = scratch_ / "img0001.jpg";
  {
    OpenResult fresh = CreateFile(path, access::kGenericWrite, share::kNone, Disposition::CreateAlways);
    ASSERT_TRUE(fresh.file.valid());
    EXPECT_EQ(fresh.error, error::kSuccess);
    ASSERT_TRUE(WriteFileAt(fresh.file, 0, Bytes("0123456789")).ok);
  }
  OpenResult again = CreateFile(path, access::kGenericWrite | access::kGenericRead, share::kNone,
                                Disposition::CreateAlways);
  ASSERT_TRUE(again.file.valid());
  EXPECT_EQ(again.error, error::kAlreadyExists);
  EXPECT_EQ(GetFileSize(again.file), 0u);
}

TEST_F(FileSystemTest, DispositionsGiveWindowsResults) {
  scratch_.WriteFile("existing.txt", "abc");
  ASSERT_TRUE(CreateDirectory(scratch_ / "folder").ok());
  struct Case {
    const char* name;
    std::string path;
    Disposition disposition;
    bool opens;
    ErrorCode error;
  };
  const Case cases[] = {
      {"CREATE_NEW on an existing file", scratch_ / "existing.txt", Disposition::CreateNew, false,
       error::kFileExists},
      {"CREATE_NEW on a new file", scratch_ / "new1.txt", Disposition::CreateNew, true, error::kSuccess},
      {"OPEN_EXISTING on a missing file", scratch_ / "absent.txt", Disposition::OpenExisting, false,
       error::kFileNotFound},
      {"OPEN_EXISTING below a missing folder", scratch_ / "nowhere\\absent.txt", Disposition::OpenExisting, false,
       error::kPathNotFound},
      {"CREATE_ALWAYS below a missing folder", scratch_ / "nowhere\\new.txt", Disposition::CreateAlways, false,
       error::kPathNotFound},
      {"OPEN_ALWAYS on an existing file", scratch_ / "existing.txt", Disposition::OpenAlways, true,
       error::kAlreadyExists},
      {"OPEN_ALWAYS on a new file", scratch_ / "new2.txt", Disposition::OpenAlways, true, error::kSuccess},
      {"TRUNCATE_EXISTING on a missing file", scratch_ / "absent.txt", Disposition::TruncateExisting, false,
       error::kFileNotFound},
      {"a folder cannot be opened as a file", scratch_ / "folder", Disposition::OpenExisting, false,
       error::kAccessDenied},
      {"a folder cannot be replaced by a file", scratch_ / "folder", Disposition::CreateAlways, false,
       error::kAccessDenied},
  };
  for (const Case& row : cases) {
    OpenResult result = CreateFile(row.path, access::kGenericRead | access::kGenericWrite,
                                   share::kRead | share::kWrite, row.disposition);
    EXPECT_EQ(result.file.valid(), row.opens) << row.name;
    EXPECT_EQ(result.error, row.error) << row.name;
  }
  EXPECT_EQ(scratch_.ReadFile("existing.txt"), "abc");  // OPEN_ALWAYS did not truncate
  OpenResult truncated = CreateFile(scratch_ / "existing.txt", access::kGenericWrite, share::kNone,
                                    Disposition::TruncateExisting);
  ASSERT_TRUE(truncated.file.valid());
  EXPECT_EQ(GetFileSize(truncated.file), 0u);
}

TEST_F(FileSystemTest, ShareModesRefuseConflictingOpens) {
  const std::string path = scratch_ / "shared.bin";
  scratch_.WriteFile("shared.bin", "x");
  struct Case {
    const char* name;
    std::uint32_t firstAccess;
    std::uint32_t firstShare;
    std::uint32_t secondAccess;
    std::uint32_t secondShare;
    bool secondOpens;
  };
  const std::uint32_t rw = access::kGenericRead | access::kGenericWrite;
  const std::uint32_t shareRw = share::kRead | share::kWrite;
  const Case cases[] = {
      {"share mode 0 refuses every later open", access::kGenericRead, share::kNone, access::kGenericRead, shareRw,
       false},
      {"readers sharing reads", access::kGenericRead, share::kRead, access::kGenericRead, share::kRead, true},
      {"writer where only reads are shared", access::kGenericRead, share::kRead, access::kGenericWrite, shareRw,
       false},
      {"second open must share the first one's write", access::kGenericWrite, shareRw, access::kGenericRead,
       share::kRead, false},
      {"both share read and write", rw, shareRw, rw, shareRw, true},
  };
  for (const Case& row : cases) {
    OpenResult first = CreateFile(path, row.firstAccess, row.firstShare, Disposition::OpenExisting);
    ASSERT_TRUE(first.file.valid()) << row.name;
    OpenResult second = CreateFile(path, row.secondAccess, row.secondShare, Disposition::OpenExisting);
    EXPECT_EQ(second.file.valid(), row.secondOpens) << row.name;
    if (!row.secondOpens) {
      EXPECT_EQ(second.error, error::kSharingViolation) << row.name;
    }
  }
  // Once the handles are closed the file opens exclusively again.
  OpenResult alone = CreateFile(path, rw, share::kNone, Disposition::OpenExisting);
  EXPECT_TRUE(alone.file.valid());
}

TEST_F(FileSystemTest, DeleteFileFollowsWindowsRules) {
  ASSERT_TRUE(CreateDirectory(scratch_ / "folder").ok());
  scratch_.WriteFile("open.txt", "x");
  scratch_.WriteFile("readonly.txt", "x");
  scratch_.WriteFile("plain.txt", "x");
  ASSERT_TRUE(SetFileAttributes(scratch_ / "readonly.txt", attribute::kReadOnly).ok());

  Result<void> folder = DeleteFile(scratch_ / "folder");
  EXPECT_FALSE(folder.ok());
  EXPECT_EQ(folder.error(), error::kAccessDenied);
  Result<void> missing = DeleteFile(scratch_ / "absent.txt");
  EXPECT_EQ(missing.error(), error::kFileNotFound);
  Result<void> missingFolder = DeleteFile(scratch_ / "nowhere\\absent.txt");
  EXPECT_EQ(missingFolder.error(), error::kPathNotFound);
  Result<void> readOnly = DeleteFile(scratch_ / "readonly.txt");
  EXPECT_FALSE(readOnly.ok());
  EXPECT_EQ(readOnly.error(), error::kAccessDenied);
  {
    OpenResult holder = CreateFile(scratch_ / "open.txt", access::kGenericRead, share::kRead | share::kWrite,
                                   Disposition::OpenExisting);
    ASSERT_TRUE(holder.file.valid());
    Result<void> busy = DeleteFile(scratch_ / "open.txt");
    EXPECT_FALSE(busy.ok());
    EXPECT_EQ(busy.error(), error::kSharingViolation);
  }
  EXPECT_TRUE(DeleteFile(scratch_ / "open.txt").ok());
  EXPECT_TRUE(DeleteFile(scratch_ / "PLAIN.TXT").ok());
  EXPECT_FALSE(FileExists(scratch_ / "plain.txt"));
  ASSERT_TRUE(SetFileAttributes(scratch_ / "readonly.txt", attribute::kNormal).ok());
  EXPECT_TRUE(DeleteFile(scratch_ / "readonly.txt").ok());
}

// A hard link is a second name of one file: a write through either name is
// read through the other, the handle counts both names, and deleting one
// name leaves the file under the other.
TEST_F(FileSystemTest, HardLinksAreOneFileWithTwoNames) {
  scratch_.WriteFile("first.txt", "one");
  ASSERT_TRUE(CreateDirectory(scratch_ / "sub").ok());
  const Result<void> linked = CreateHardLink(scratch_ / "sub\\second.txt", scratch_ / "first.txt");
  ASSERT_TRUE(linked.ok()) << linked.error();
  EXPECT_EQ(CreateHardLink(scratch_ / "sub\\second.txt", scratch_ / "first.txt").error(), error::kAlreadyExists);
  EXPECT_FALSE(CreateHardLink(scratch_ / "third.txt", scratch_ / "sub").ok()) << "a folder has no second name";
  {
    OpenResult second = CreateFile(scratch_ / "sub\\second.txt", access::kGenericRead | access::kGenericWrite,
                                   share::kRead, Disposition::OpenExisting);
    ASSERT_TRUE(second.file.valid()) << second.error;
    EXPECT_EQ(FileLinkCount(second.file), std::optional<std::uint32_t>(2));
    const std::optional<FileInformation> information = GetFileInformation(second.file);
    ASSERT_TRUE(information.has_value());
    EXPECT_EQ(information->attributes & (attribute::kDirectory | attribute::kReparsePoint), 0u);
    EXPECT_TRUE(WriteFileAt(second.file, 0, Bytes("two")).ok);
  }
  EXPECT_EQ(scratch_.ReadFile("first.txt"), "two") << "written through the other name";
  ASSERT_TRUE(DeleteFile(scratch_ / "first.txt").ok());
  EXPECT_EQ(scratch_.ReadFile("sub\\second.txt"), "two");
  OpenResult alone = CreateFile(scratch_ / "sub\\second.txt", access::kGenericRead, share::kRead, Disposition::OpenExisting);
  EXPECT_EQ(FileLinkCount(alone.file), std::optional<std::uint32_t>(1));
  EXPECT_FALSE(FileLinkCount(FileHandle()).has_value());
}

TEST_F(FileSystemTest, ReadOnlyFilesRefuseWriters) {
  scratch_.WriteFile("ro.txt", "keep");
  ASSERT_TRUE(SetFileAttributes(scratch_ / "ro.txt", attribute::kReadOnly).ok());
  ScopeExit clear([&] { SetFileAttributes(scratch_ / "ro.txt", attribute::kNormal).IgnoreFailure(); });
  EXPECT_EQ(GetFileAttributes(scratch_ / "ro.txt").value_or(0) & attribute::kReadOnly, attribute::kReadOnly);
  if (test::KnownWineDifference("Wine enforces the read-only attribute on opens through Unix permissions, "
                                "which the root user bypasses")) {
    return;  // whether the opens below fail depends on the user Wine runs as
  }
  {
    OpenResult writer =
        CreateFile(scratch_ / "ro.txt", access::kGenericWrite, share::kNone, Disposition::OpenExisting);
    EXPECT_FALSE(writer.file.valid());
    EXPECT_EQ(writer.error, error::kAccessDenied);
  }
  {
    OpenResult replacer =
        CreateFile(scratch_ / "ro.txt", access::kGenericWrite, share::kNone, Disposition::CreateAlways);
    EXPECT_FALSE(replacer.file.valid());
    EXPECT_EQ(replacer.error, error::kAccessDenied);
  }
  EXPECT_EQ(scratch_.ReadFile("ro.txt"), "keep");
}

TEST_F(FileSystemTest, WritesAndReadsAtPositions) {
  OpenResult file = CreateFile(scratch_ / "pull.jpg", access::kGenericRead | access::kGenericWrite, share::kNone,
                               Disposition::CreateAlways);
  ASSERT_TRUE(file.file.valid());
  // Chunks written out of order land at their offsets; the gap reads as zeros.
  IoResult second = WriteFileAt(file.file, 6, Bytes("WORLD"));
  ASSERT_TRUE(second.ok);
  EXPECT_EQ(second.bytes, 5u);
  ASSERT_TRUE(WriteFileAt(file.file, 0, Bytes("HELLO")).ok);
  EXPECT_EQ(GetFileSize(file.file), 11u);
  std::string content(11, '?');
  IoResult read = ReadFileAt(file.file, 0, {reinterpret_cast<std::byte*>(content.data()), content.size()});
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.bytes, 11u);
  EXPECT_EQ(content, std::string("HELLO\0WORLD", 11));
  // Reading past the end succeeds with fewer bytes.
  std::string tail(8, '?');
  IoResult shortRead = ReadFileAt(file.file, 9, {reinterpret_cast<std::byte*>(tail.data()), tail.size()});
  EXPECT_TRUE(shortRead.ok);
  EXPECT_EQ(shortRead.bytes, 2u);
  EXPECT_EQ(tail.substr(0, 2), "LD");
}

TEST_F(FileSystemTest, AccessRightsLimitReadsAndWrites) {
  scratch_.WriteFile("data.bin", "abc");
  OpenResult reader = CreateFile(scratch_ / "data.bin", access::kGenericRead, share::kRead, Disposition::OpenExisting);
  ASSERT_TRUE(reader.file.valid());
  IoResult write = WriteFileAt(reader.file, 0, Bytes("z"));
  EXPECT_FALSE(write.ok);
  EXPECT_EQ(write.error, error::kAccessDenied);
  EXPECT_EQ(scratch_.ReadFile("data.bin"), "abc");
}

TEST_F(FileSystemTest, ReplaceFileWithReplacesTheTarget) {
  scratch_.WriteFile("new.ini", "new");
  scratch_.WriteFile("old.ini", "old");
  ASSERT_TRUE(ReplaceFileWith(scratch_ / "new.ini", scratch_ / "old.ini").ok());
  EXPECT_FALSE(FileExists(scratch_ / "new.ini"));
  EXPECT_EQ(scratch_.ReadFile("old.ini"), "new");
  Result<void> missing = ReplaceFileWith(scratch_ / "absent.ini", scratch_ / "old.ini");
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.error(), error::kFileNotFound);
}

TEST_F(FileSystemTest, MoveFileNoReplaceRenamesButNeverReplaces) {
  scratch_.WriteFile("moving.tmp", "new");
  scratch_.WriteFile("taken.jpg", "old");
  ASSERT_TRUE(CreateDirectory(scratch_ / "folder.jpg").ok());

  const Result<void> ontoFile = MoveFileNoReplace(scratch_ / "moving.tmp", scratch_ / "TAKEN.JPG");
  EXPECT_FALSE(ontoFile.ok());
  EXPECT_EQ(ontoFile.error(), error::kAlreadyExists);
  EXPECT_EQ(scratch_.ReadFile("taken.jpg"), "old");
  const Result<void> ontoFolder = MoveFileNoReplace(scratch_ / "moving.tmp", scratch_ / "folder.jpg");
  EXPECT_FALSE(ontoFolder.ok());
  EXPECT_EQ(ontoFolder.error(), error::kAlreadyExists);
  EXPECT_TRUE(DirectoryExists(scratch_ / "folder.jpg"));

  ASSERT_TRUE(MoveFileNoReplace(scratch_ / "moving.tmp", scratch_ / "free.jpg").ok());
  EXPECT_FALSE(FileExists(scratch_ / "moving.tmp"));
  EXPECT_EQ(scratch_.ReadFile("free.jpg"), "new");
}

TEST_F(FileSystemTest, SetFileSizeCutsOrExtendsWithZeros) {
  OpenResult file = CreateFile(scratch_ / "sized.bin", access::kGenericRead | access::kGenericWrite, share::kNone,
                               Disposition::CreateNew);
  ASSERT_TRUE(file.file.valid());
  ASSERT_TRUE(WriteFileAt(file.file, 0, Bytes("abcdef")).ok);
  ASSERT_TRUE(SetFileSize(file.file, 2).ok());
  EXPECT_EQ(GetFileSize(file.file), 2u);
  ASSERT_TRUE(SetFileSize(file.file, 4).ok());
  file.file.reset();
  EXPECT_EQ(scratch_.ReadFile("sized.bin"), std::string("ab\0\0", 4));

  OpenResult reader = CreateFile(scratch_ / "sized.bin", access::kGenericRead, share::kRead, Disposition::OpenExisting);
  ASSERT_TRUE(reader.file.valid());
  const Result<void> refused = SetFileSize(reader.file, 0);
  EXPECT_FALSE(refused.ok());
  if (test::KnownWineDifference("SetEndOfFile on a handle without write access fails with 87, not 5")) {
    EXPECT_EQ(refused.error(), error::kInvalidParameter);
  } else {
    EXPECT_EQ(refused.error(), error::kAccessDenied);
  }
  EXPECT_EQ(scratch_.ReadFile("sized.bin"), std::string("ab\0\0", 4));
}

TEST_F(FileSystemTest, RemoveDirectoryNeedsAnEmptyFolder) {
  ASSERT_TRUE(CreateDirectory(scratch_ / "full").ok());
  scratch_.WriteFile("full\\a.txt", "x");
  Result<void> notEmpty = RemoveDirectory(scratch_ / "full");
  EXPECT_FALSE(notEmpty.ok());
  EXPECT_EQ(notEmpty.error(), error::kDirNotEmpty);
  ASSERT_TRUE(DeleteFile(scratch_ / "full\\a.txt").ok());
  EXPECT_TRUE(RemoveDirectory(scratch_ / "FULL").ok());
  EXPECT_FALSE(DirectoryExists(scratch_ / "full"));
  EXPECT_EQ(RemoveDirectory(scratch_ / "full").error(), error::kFileNotFound);
}

TEST_F(FileSystemTest, DiskFreeSpaceOfAFolderOnTheVolume) {
  const Result<DiskFreeSpace> result = GetDiskFreeSpaceEx(scratch_.Path() + "\\");
  ASSERT_TRUE(result.ok()) << "error " << result.error();
  EXPECT_GT(result->totalBytes, 0u);
  EXPECT_LE(result->totalFreeBytes, result->totalBytes);
  EXPECT_LE(result->freeBytesAvailableToCaller, result->totalFreeBytes);
  const Result<DiskFreeSpace> sameWithoutSlash = GetDiskFreeSpaceEx(scratch_.Path());
  EXPECT_TRUE(sameWithoutSlash.ok()) << "error " << sameWithoutSlash.error();
}

TEST_F(FileSystemTest, DiskFreeSpaceOfAMissingDriveFails) {
  std::string root;
  for (char letter = 'M'; letter <= 'Y'; ++letter) {
    const std::string candidate = std::string(1, letter) + ":\\";
    if (!GetFileAttributes(candidate)) {
      root = candidate;
      break;
    }
  }
  if (root.empty()) GTEST_SKIP() << "every drive letter from M: to Y: is in use";
  const Result<DiskFreeSpace> result = GetDiskFreeSpaceEx(root);
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.error(), error::kPathNotFound);
}

TEST_F(FileSystemTest, CurrentDirectoryFollowsSetCurrentDirectory) {
  const std::string before = GetCurrentDirectory();
  ASSERT_FALSE(before.empty());
  ScopeExit restore([&] { SetCurrentDirectory(before).IgnoreFailure(); });
  ASSERT_TRUE(CreateDirectory(scratch_ / "Work").ok());
  ASSERT_TRUE(SetCurrentDirectory(scratch_ / "work").ok());
  EXPECT_EQ(Upper(GetCurrentDirectory()), Upper(scratch_ / "Work"));
  // Relative names now start from there.
  scratch_.WriteFile("Work\\here.txt", "x");
  EXPECT_TRUE(FileExists("here.txt"));

  Result<void> missing = SetCurrentDirectory(scratch_ / "absent");
  EXPECT_EQ(missing.error(), error::kFileNotFound);
  Result<void> missingParent = SetCurrentDirectory(scratch_ / "absent\\deeper");
  EXPECT_EQ(missingParent.error(), error::kPathNotFound);
  EXPECT_EQ(Upper(GetCurrentDirectory()), Upper(scratch_ / "Work"));  // unchanged by the failures
  restore.Dismiss();
  EXPECT_TRUE(SetCurrentDirectory(before).ok());
  EXPECT_EQ(GetCurrentDirectory(), before);
}

TEST_F(FileSystemTest, SecurityDescriptorIsStableAndNeedsAnEntry) {
  ASSERT_TRUE(CreateDirectory(scratch_ / "secured").ok());
  const auto first = GetFileDaclBytes(scratch_ / "secured");
  const auto second = GetFileDaclBytes(scratch_ / "SECURED");
  ASSERT_TRUE(first.has_value());
  ASSERT_TRUE(second.has_value());
  EXPECT_GE(first->size(), 20u);  // at least the descriptor's header
  EXPECT_EQ(*first, *second);
  EXPECT_FALSE(GetFileDaclBytes(scratch_ / "absent").has_value());
}

// The settings' folder from Vista on: made (or taken over) with owner
// Administrators, and what the service creates there is its own.
TEST_F(FileSystemTest, ServiceOnlyFolderIsTheServicesOwn) {
  const std::string folder = scratch_ / "service";
  const Result<void> made = CreateServiceOnlyDirectory(folder);
  ASSERT_TRUE(made.ok()) << made.error();
  EXPECT_TRUE(DirectoryExists(folder));
  const Result<void> again = CreateServiceOnlyDirectory(folder);
  EXPECT_TRUE(again.ok()) << "an existing folder is given the owner and DACL: " << again.error();
  EXPECT_FALSE(CreateServiceOnlyDirectory(scratch_ / "no such\\service").ok());
  EXPECT_FALSE(OwnedBySystemOrAdministrators(scratch_ / "absent"));
  // Nobody but SYSTEM and Administrators may put anything in its place.
  EXPECT_EQ(NonAdministratorsMayReplace(folder), std::optional<bool>(false));
  EXPECT_EQ(NonAdministratorsMayReplace(scratch_ / "absent"), std::nullopt);
  if (!OwnedBySystemOrAdministrators(folder) &&
      test::KnownWineDifference("files and folders are owned by the Wine user, not Administrators")) {
    return;
  }
  EXPECT_TRUE(OwnedBySystemOrAdministrators(folder));
}

}  // namespace
}  // namespace pw::platform

namespace pw::platform {
namespace {

// The *A calls take a path of up to MAX_PATH - 1 (259) characters; a longer
// one fails before the file system is asked.
TEST(FileSystemPathLength, PathsBeyondMaxPathAreRefused) {
  test::ScratchFolder scratch;
  const std::string folder = scratch / std::string(180 - scratch.Path().size(), 'd');
  ASSERT_TRUE(CreateDirectory(folder).ok());
  auto pathOf = [&](std::size_t length) { return folder + "\\" + std::string(length - folder.size() - 1, 'f'); };

  const std::string longest = pathOf(259);
  OpenResult created = CreateFile(longest, access::kGenericWrite, share::kNone, Disposition::CreateNew);
  EXPECT_TRUE(created.file.valid()) << created.error;
  created.file.reset();
  EXPECT_TRUE(FileExists(longest));
  EXPECT_TRUE(DeleteFile(longest).ok());

  const std::string tooLong = pathOf(261);
  created = CreateFile(tooLong, access::kGenericWrite, share::kNone, Disposition::CreateNew);
  EXPECT_FALSE(created.file.valid());
  EXPECT_EQ(created.error, error::kFilenameExcedRange);
  EXPECT_FALSE(FileExists(tooLong));
  const Result<void> made = CreateDirectory(tooLong);
  EXPECT_FALSE(made.ok());
  EXPECT_EQ(made.error(), error::kFilenameExcedRange);
}

}  // namespace
}  // namespace pw::platform
