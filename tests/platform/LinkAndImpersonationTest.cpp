// Links (junctions, file symbolic links), final paths of handles, and acting
// with the console user's token, in both builds.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Security.h"
#include "tests/support/TestEnvironment.h"

namespace pw::platform {
namespace {

constexpr std::uint32_t kReadWrite = access::kGenericRead | access::kGenericWrite;
constexpr std::uint32_t kShareAll = share::kRead | share::kWrite | share::kDelete;

std::span<const std::byte> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::byte*>(text.data()), text.size()};
}

class LinkTest : public ::testing::Test {
 protected:
  // Target\inside.txt, and Link: a junction to Target.
  void SetUp() override {
    ASSERT_TRUE(CreateDirectory(scratch_ / "Target").ok());
    scratch_.WriteFile("Target\\inside.txt", "inside");
    if (!test::CreateJunction(scratch_ / "Link", scratch_ / "Target")) {
      ASSERT_TRUE(test::KnownWineDifference("Wine 8 makes no junctions (FSCTL_SET_REPARSE_POINT)"));
      GTEST_SKIP();
    }
  }
  std::optional<std::string> FinalPath(const std::string& path, std::uint32_t flags) const {
    const OpenResult opened = CreateFile(path, access::kGenericRead, kShareAll, Disposition::OpenExisting, flags);
    if (!opened.file) return std::nullopt;
    return FinalPathOfHandle(opened.file);
  }

  test::ScratchFolder scratch_;
};

TEST_F(LinkTest, AJunctionIsFollowedByAPlainOpenAndOpenedItselfWithTheFlag) {
  const std::string target = *FinalPath(scratch_ / "Target", open_flag::kBackupSemantics);
  struct Row {
    const char* what;
    std::string path;
    std::uint32_t flags;
    std::optional<std::string> finalPath;  // nullopt: the open fails
  };
  const Row rows[] = {
      {"a file through the junction", scratch_ / "Link\\inside.txt", open_flag::kNone, target + "\\inside.txt"},
      {"a file through the junction, flag on the last component only", scratch_ / "Link\\inside.txt",
       open_flag::kOpenReparsePoint, target + "\\inside.txt"},
      {"the junction as a folder", scratch_ / "Link", open_flag::kBackupSemantics, target},
      {"the junction itself", scratch_ / "Link", open_flag::kBackupSemantics | open_flag::kOpenReparsePoint,
       target.substr(0, target.size() - 6) + "Link"},
      {"a folder without backup semantics", scratch_ / "Link", open_flag::kNone, std::nullopt},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FinalPath(row.path, row.flags), row.finalPath) << row.what;
  }

  // A file created through the junction lands in its target.
  const OpenResult created = CreateFile(scratch_ / "Link\\new.txt", kReadWrite, share::kNone, Disposition::CreateNew);
  ASSERT_TRUE(created.file.valid()) << created.error;
  EXPECT_TRUE(WriteFileAt(created.file, 0, Bytes("through")).ok);
  EXPECT_EQ(scratch_.ReadFile("Target\\new.txt"), "through");
}

TEST_F(LinkTest, AttributesAndListingsShowTheLinkWithoutFollowingIt) {
  const std::optional<std::uint32_t> link = GetFileAttributes(scratch_ / "Link");
  ASSERT_TRUE(link.has_value());
  EXPECT_EQ(*link & (attribute::kDirectory | attribute::kReparsePoint), attribute::kDirectory | attribute::kReparsePoint);
  EXPECT_TRUE(DirectoryExists(scratch_ / "Link"));
  EXPECT_EQ(*GetFileAttributes(scratch_ / "Target") & attribute::kReparsePoint, 0u);
  EXPECT_EQ(*GetFileAttributes(scratch_ / "Link\\inside.txt") & attribute::kReparsePoint, 0u) << "links on the way";

  const FindEntries listed = FindFiles(scratch_ / "*").value_or(FindEntries());
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].name, "Link");
  EXPECT_NE(listed[0].attributes & attribute::kReparsePoint, 0u);
  EXPECT_EQ(listed[1].attributes & attribute::kReparsePoint, 0u);

  // The quick listing names the same entries with the same attributes.
  const FindEntries quick = FindFiles(scratch_ / "Target\\*", FindDetail::NamesAndAttributes).value_or(FindEntries());
  const FindEntries full = FindFiles(scratch_ / "Target\\*").value_or(FindEntries());
  ASSERT_EQ(quick.size(), 1u);
  EXPECT_EQ(quick[0].name, full[0].name);
  EXPECT_EQ(quick[0].attributes, full[0].attributes);
  EXPECT_EQ(full[0].size, 6u);
  EXPECT_EQ(quick[0].size, 0u);
}

TEST_F(LinkTest, AFileSymbolicLinkIsFollowedUnlessTheFlagSaysNot) {
  if (!test::CreateFileSymlink(scratch_ / "img0001.jpg", scratch_ / "Target\\inside.txt")) {
    GTEST_SKIP() << "file symbolic links need a privilege here";
  }
  const std::optional<std::uint32_t> attributes = GetFileAttributes(scratch_ / "img0001.jpg");
  ASSERT_TRUE(attributes.has_value());
  EXPECT_NE(*attributes & attribute::kReparsePoint, 0u);
  EXPECT_EQ(*attributes & attribute::kDirectory, 0u);

  const OpenResult followed = CreateFile(scratch_ / "img0001.jpg", access::kGenericRead, kShareAll,
                                         Disposition::OpenExisting);
  ASSERT_TRUE(followed.file.valid());
  EXPECT_EQ(*FinalPathOfHandle(followed.file), *FinalPath(scratch_ / "Target\\inside.txt", open_flag::kNone));

  const OpenResult refused = CreateFile(scratch_ / "img0001.jpg", kReadWrite, share::kNone, Disposition::CreateNew,
                                        open_flag::kOpenReparsePoint);
  EXPECT_FALSE(refused.file.valid());
  EXPECT_EQ(refused.error, error::kFileExists);
  EXPECT_EQ(scratch_.ReadFile("Target\\inside.txt"), "inside");
}

// A folder opened once keeps the files made relative to it, even after its
// path was swapped for a junction to another folder.
// The relative calls need no junction to be shown: under Wine, which makes
// none, the folder stays where it is and the calls are shown in place.
class RelativeFileTest : public ::testing::Test {
 protected:
  test::ScratchFolder scratch_;
};

TEST_F(RelativeFileTest, FilesOfAnOpenFolderStayInItWhenItsPathLeadsElsewhere) {
  ASSERT_TRUE(CreateDirectory(scratch_ / "Target").ok());
  scratch_.WriteFile("Target\\inside.txt", "inside");
  ASSERT_TRUE(CreateDirectory(scratch_ / "Photo1").ok());
  scratch_.WriteFile("Photo1\\img0001.jpg", "first");
  const OpenResult folder =
      CreateFile(scratch_ / "Photo1", 0, kShareAll, Disposition::OpenExisting, open_flag::kBackupSemantics);
  ASSERT_TRUE(folder.file.valid()) << folder.error;
  // Where the folder's files land: its new name once its old one is a junction.
  std::string home = "Photo1";
  if (test::CreateJunction(scratch_ / "Probe", scratch_ / "Target")) {
    ASSERT_TRUE(MoveFileNoReplace(scratch_ / "Photo1", scratch_ / "Moved").ok());
    ASSERT_TRUE(test::CreateJunction(scratch_ / "Photo1", scratch_ / "Target"));
    home = "Moved";
  } else {
    ASSERT_TRUE(test::KnownWineDifference("Wine 8 makes no junctions (FSCTL_SET_REPARSE_POINT)"));
  }

  constexpr std::uint32_t kChange = kReadWrite | access::kDelete;
  OpenResult transfer = CreateFileRelative(folder.file, "~1234567", kChange, share::kNone, Disposition::CreateNew);
  ASSERT_TRUE(transfer.file.valid()) << transfer.error;
  EXPECT_TRUE(WriteFileAt(transfer.file, 0, Bytes("picture")).ok);
  EXPECT_EQ(RenameRelative(transfer.file, folder.file, "img0001.jpg").error(), error::kAlreadyExists);
  ASSERT_TRUE(RenameRelative(transfer.file, folder.file, "img0002.jpg").ok());
  transfer.file.reset();
  EXPECT_EQ(scratch_.ReadFile(home + "\\img0002.jpg"), "picture");
  EXPECT_FALSE(FileExists(scratch_ / "Target\\img0002.jpg"));
  EXPECT_FALSE(FileExists(scratch_ / (home + "\\~1234567")));

  struct Row {
    const char* what;
    std::string name;
    Disposition disposition;
    ErrorCode error;
  };
  const Row refused[] = {
      {"a taken name, other case", "IMG0001.JPG", Disposition::CreateNew, error::kFileExists},
      {"a missing file", "img0009.jpg", Disposition::OpenExisting, error::kFileNotFound},
      {"more than one component", "sub\\img.jpg", Disposition::CreateNew, error::kInvalidName},
      {"the parent", "..", Disposition::CreateNew, error::kInvalidName},
  };
  for (const Row& row : refused) {
    const OpenResult opened = CreateFileRelative(folder.file, row.name, kChange, share::kNone, row.disposition);
    EXPECT_FALSE(opened.file.valid()) << row.what;
    EXPECT_EQ(opened.error, row.error) << row.what;
  }
  const bool linked = test::CreateFileSymlink(scratch_ / (home + "\\img0003.jpg"), scratch_ / "Target\\inside.txt");
  const bool seenAsLink =
      linked && (GetFileAttributes(scratch_ / (home + "\\img0003.jpg")).value_or(0) & attribute::kReparsePoint) != 0;
  if (linked && !seenAsLink) {
    EXPECT_TRUE(test::KnownWineDifference("CreateSymbolicLink makes a Unix link that Win32 sees as its target, not as a link"));
    DeleteFile(scratch_ / (home + "\\img0003.jpg")).IgnoreFailure();
  } else if (linked) {
    for (const Disposition disposition : {Disposition::CreateNew, Disposition::OpenExisting, Disposition::CreateAlways}) {
      const OpenResult opened = CreateFileRelative(folder.file, "img0003.jpg", kChange, share::kNone, disposition);
      EXPECT_FALSE(opened.file.valid()) << "a link as the name";
    }
    EXPECT_EQ(scratch_.ReadFile("Target\\inside.txt"), "inside");
  }

  // Replacing, then deleting through the handle: the name goes, nothing else.
  OpenResult second = CreateFileRelative(folder.file, "~7654321", kChange, share::kNone, Disposition::CreateNew);
  ASSERT_TRUE(second.file.valid()) << second.error;
  EXPECT_TRUE(RenameRelative(second.file, folder.file, "img0002.jpg", true).ok());
  EXPECT_TRUE(DeleteByHandle(second.file).ok());
  second.file.reset();
  EXPECT_FALSE(FileExists(scratch_ / (home + "\\img0002.jpg")));
  EXPECT_EQ(scratch_.ReadFile(home + "\\img0001.jpg"), "first");
  const OpenResult reader = CreateFileRelative(folder.file, "img0001.jpg", access::kGenericRead, share::kRead,
                                               Disposition::OpenExisting);
  ASSERT_TRUE(reader.file.valid());
  EXPECT_EQ(DeleteByHandle(reader.file).error(), error::kAccessDenied) << "no delete access";
}

TEST(FinalPathTest, APlainFileReportsItsOwnPathWithTheStoredCase) {
  test::ScratchFolder scratch;
  scratch.WriteFile("Photo1.txt", "x");
  const OpenResult opened = CreateFile(scratch / "PHOTO1.TXT", access::kGenericRead, kShareAll, Disposition::OpenExisting);
  ASSERT_TRUE(opened.file.valid());
  const std::optional<std::string> final = FinalPathOfHandle(opened.file);
  ASSERT_TRUE(final.has_value());
  EXPECT_EQ(final->substr(final->size() - 10), "Photo1.txt");
  EXPECT_NE(final->rfind("\\\\?\\", 0), 0u) << "no \\\\?\\ prefix";
  EXPECT_FALSE(FinalPathOfHandle(FileHandle()).has_value());
}

// A service acting for the console user may not write where that user may
// not, however the path gets there.
TEST(ImpersonationTest, TheConsoleUsersTokenDeniesWritesThatUserMayNotMake) {
  test::ScratchFolder scratch;
  const std::string denied = test::FolderTheConsoleUserMayNotWrite();
  const Result<TokenHandle> console = ConsoleUserToken();
  if (!console && console.error() == 1314) GTEST_SKIP() << "WTSQueryUserToken needs LocalSystem";
  ASSERT_TRUE(console) << console.error();
  const bool viaJunction = test::CreateJunction(scratch / "Link", denied);

  struct Row {
    const char* what;
    std::string path;
  };
  std::vector<Row> rows = {{"a file in the folder", denied + "\\pagewick-impersonation.txt"}};
  if (viaJunction) rows.push_back({"a file reached through a junction", scratch / "Link\\pagewick-junction.txt"});
  const bool wineLetsItThrough = test::KnownWineDifference("Wine enforces no file access by token: the write is made");
  for (const Row& row : rows) {
    {
      const Impersonation acting(*console);
      ASSERT_TRUE(acting.ok()) << acting.error();
      const OpenResult created = CreateFile(row.path, kReadWrite, share::kNone, Disposition::CreateNew);
      const Result<void> folder = CreateDirectory(row.path + ".d");
      if (wineLetsItThrough) {
        EXPECT_TRUE(created.file.valid()) << row.what;
      } else {
        EXPECT_FALSE(created.file.valid()) << row.what;
        EXPECT_EQ(created.error, error::kAccessDenied) << row.what;
        EXPECT_EQ(folder.error(), error::kAccessDenied) << row.what;
      }
    }
    // Back to the process's own rights: what Wine let through goes again.
    DeleteFile(row.path).IgnoreFailure();
    RemoveDirectory(row.path + ".d").IgnoreFailure();
  }
  if (viaJunction) RemoveDirectory(scratch / "Link").IgnoreFailure();

  // What the user's thread creates is the user's, made by name or relative
  // to the folder; what the process creates is its own (or Administrators').
  scratch.WriteFile("own.txt", "x");
  EXPECT_TRUE(OwnedByActingUser(scratch / "own.txt") || OwnedBySystemOrAdministrators(scratch / "own.txt"));
  const std::string mine = scratch.Path();
  const OpenResult folder = CreateFile(mine, access::kGenericRead, kShareAll, Disposition::OpenExisting,
                                       open_flag::kBackupSemantics);
  ASSERT_TRUE(folder.file.valid());
  {
    const Impersonation acting(*console);
    ASSERT_TRUE(acting.ok()) << acting.error();
    const OpenResult byName = CreateFile(mine + "\\pagewick-owned.txt", kReadWrite, share::kNone, Disposition::CreateNew);
    const OpenResult relative =
        CreateFileRelative(folder.file, "pagewick-owned2.txt", kReadWrite, share::kNone, Disposition::CreateNew);
    ASSERT_TRUE(byName.file.valid() && relative.file.valid());
    EXPECT_TRUE(OwnedByActingUser(mine + "\\pagewick-owned.txt"));
    EXPECT_TRUE(OwnedByActingUser(mine + "\\pagewick-owned2.txt"));
  }
  DeleteFile(mine + "\\pagewick-owned.txt").IgnoreFailure();
  DeleteFile(mine + "\\pagewick-owned2.txt").IgnoreFailure();
}

}  // namespace
}  // namespace pw::platform
