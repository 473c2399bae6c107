// The host world itself: drives, path resolution, extra attributes, handles.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "platform/FileSystem.h"
#include "platform/hostworld/World.h"

namespace pw::hostworld {
namespace {

namespace fs = std::filesystem;
using platform::DriveType;
namespace error = platform::error;

class WorldTest : public ::testing::Test {
 protected:
  World world_;
};

TEST_F(WorldTest, StartsWithDrivesCAndZAndOnlyOneWorldAtATime) {
  const std::optional<Drive> c = world_.FindDrive('c');
  const std::optional<Drive> z = world_.FindDrive('Z');
  ASSERT_TRUE(c.has_value());
  ASSERT_TRUE(z.has_value());
  EXPECT_EQ(c->type, DriveType::Fixed);
  EXPECT_EQ(z->folder, fs::path("/"));
  EXPECT_TRUE(fs::is_directory(c->folder));
  EXPECT_EQ(&World::Current(), &world_);
  EXPECT_THROW(World second, std::logic_error);
  EXPECT_EQ(World::CurrentOrNull(), &world_);
}

// A world whose construction fails leaves no temporary root behind.
TEST_F(WorldTest, FailedConstructionRemovesItsTemporaryRoot) {
  const fs::path temporary = world_.Root() / "tmp";
  fs::create_directories(temporary);
  const char* before = std::getenv("TMPDIR");
  const std::string saved = before != nullptr ? before : "";
  ::setenv("TMPDIR", temporary.c_str(), 1);
  EXPECT_THROW(World second, std::logic_error);
  if (before != nullptr) {
    ::setenv("TMPDIR", saved.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  EXPECT_TRUE(fs::is_empty(temporary)) << "the second world's root is left in " << temporary;
}

TEST_F(WorldTest, DrivesCanBeAddedMappedAndRemoved) {
  const fs::path folder = world_.AddDrive('E', DriveType::Removable);
  EXPECT_TRUE(fs::is_directory(folder));
  ASSERT_TRUE(world_.FindDrive('e').has_value());
  EXPECT_EQ(world_.FindDrive('E')->type, DriveType::Removable);
  EXPECT_TRUE(platform::DirectoryExists("E:\\"));

  world_.MapDrive('F', folder, DriveType::CdRom);  // two letters, one folder
  ASSERT_TRUE(platform::CreateDirectory("F:\\Shared").ok());
  EXPECT_TRUE(platform::DirectoryExists("E:\\shared"));

  world_.UnmapDrive('E');
  EXPECT_FALSE(world_.FindDrive('E').has_value());
  EXPECT_FALSE(platform::DirectoryExists("E:\\Shared"));
  EXPECT_TRUE(platform::DirectoryExists("F:\\Shared"));
  EXPECT_THROW(world_.SetDriveFreeBytes('Q', 1), std::invalid_argument);
}

TEST_F(WorldTest, ResolveHandlesWindowsPathForms) {
  world_.MakeDirectories("C:\\Scans\\PHOTO1");
  world_.WriteFile("C:\\Scans\\PHOTO1\\Img.JPG", "x");
  ASSERT_TRUE(platform::SetCurrentDirectory("C:\\Scans").ok());

  struct Case {
    const char* path;
    platform::ErrorCode error;
    const char* windowsPath;
    bool exists;
    bool parentExists;
  };
  const Case cases[] = {
      {"c:/scans/photo1/img.jpg", error::kSuccess, "C:\\Scans\\PHOTO1\\Img.JPG", true, true},
      {"C:\\Scans\\Photo1.\\img.jpg  ", error::kSuccess, "C:\\Scans\\PHOTO1\\Img.JPG", true, true},
      {"C:\\Scans\\\\photo1\\\\", error::kSuccess, "C:\\Scans\\PHOTO1", true, true},
      {"photo1\\img.jpg", error::kSuccess, "C:\\Scans\\PHOTO1\\Img.JPG", true, true},  // relative
      {"C:photo1", error::kSuccess, "C:\\Scans\\PHOTO1", true, true},  // drive-relative on the current drive
      {"\\Scans", error::kSuccess, "C:\\Scans", true, true},            // root of the current drive
      {"C:\\Scans\\.\\x\\..\\PHOTO1", error::kSuccess, "C:\\Scans\\PHOTO1", true, true},
      {"C:\\..\\..\\Scans", error::kSuccess, "C:\\Scans", true, true},  // ".." stops at the root
      {"C:\\Scans\\new.jpg", error::kSuccess, "C:\\Scans\\new.jpg", false, true},
      {"C:\\Scans\\missing\\new.jpg", error::kSuccess, "C:\\Scans\\missing\\new.jpg", false, false},
      {"C:\\Scans\\PHOTO1\\Img.JPG\\below", error::kSuccess, "C:\\Scans\\PHOTO1\\Img.JPG\\below", false, false},
      {"C:\\Scans\\a*b", error::kInvalidName, "", false, false},
      {"C:\\Scans\\a|b", error::kInvalidName, "", false, false},
      {"Q:\\anything", error::kPathNotFound, "", false, false},
      {"\\\\server\\share\\x", error::kPathNotFound, "", false, false},
      {"", error::kPathNotFound, "", false, false},
  };
  for (const Case& row : cases) {
    const ResolvedPath resolved = world_.Resolve(row.path);
    EXPECT_EQ(resolved.error, row.error) << row.path;
    if (row.error != error::kSuccess) continue;
    EXPECT_EQ(resolved.windowsPath, row.windowsPath) << row.path;
    EXPECT_EQ(resolved.exists, row.exists) << row.path;
    EXPECT_EQ(resolved.parentExists, row.parentExists) << row.path;
  }
  EXPECT_TRUE(world_.Resolve("c:\\").isRoot);
  EXPECT_TRUE(world_.Resolve("C:\\").exists);
}

TEST_F(WorldTest, HostAndWindowsPathsMapBothWays) {
  world_.MakeDirectories("C:\\Data\\Sub");
  const fs::path host = world_.HostPath("c:\\data\\sub");
  EXPECT_EQ(host, world_.FindDrive('C')->folder / "Data" / "Sub");
  EXPECT_EQ(world_.WindowsPathOf(host), "C:\\Data\\Sub");
  EXPECT_EQ(world_.WindowsPathOf("/usr/bin"), "Z:\\usr\\bin");  // Z: is the host's root
  EXPECT_THROW((void)world_.HostPath("Q:\\x"), std::invalid_argument);
}

TEST_F(WorldTest, ExtraAttributesAreKeptPerHostPath) {
  world_.WriteFile("C:\\a.txt", "x");
  const fs::path host = world_.HostPath("C:\\a.txt");
  EXPECT_EQ(world_.ExtraAttributes(host), 0u);
  world_.SetExtraAttributes(host, platform::attribute::kHidden);
  // The record is found under any spelling that normalises to the same path.
  EXPECT_EQ(world_.ExtraAttributes(host.parent_path() / "x" / ".." / "a.txt"), platform::attribute::kHidden);
  EXPECT_EQ(platform::GetFileAttributes("C:\\A.TXT"), platform::attribute::kHidden);
  world_.SetExtraAttributes(host, 0);
  EXPECT_EQ(platform::GetFileAttributes("C:\\a.txt"), platform::attribute::kArchive);
}

class CountedObject : public HandleObject {
 public:
  explicit CountedObject(int& alive) : alive_(alive) { ++alive_; }
  ~CountedObject() override { --alive_; }

 private:
  int& alive_;
};

TEST_F(WorldTest, HandleTableHandsOutDistinctIdsAndDestroysOnClose) {
  int alive = 0;
  platform::RawHandle first = world_.AddHandle(std::make_unique<CountedObject>(alive));
  platform::RawHandle second = world_.AddHandle(std::make_unique<CountedObject>(alive));
  EXPECT_EQ(alive, 2);
  EXPECT_NE(first, second);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first) % 4, 0u);
  EXPECT_NE(world_.FindHandle(first), nullptr);
  int visited = 0;
  world_.ForEachHandle([&](HandleObject&) { ++visited; });
  EXPECT_EQ(visited, 2);
  EXPECT_TRUE(world_.CloseHandle(first));
  EXPECT_EQ(alive, 1);
  EXPECT_EQ(world_.FindHandle(first), nullptr);
  EXPECT_FALSE(world_.CloseHandle(first));  // a second close fails
  EXPECT_TRUE(world_.CloseHandle(second));
  EXPECT_EQ(alive, 0);
}

TEST(WorldLifetimeTest, HandlesOfAnEarlierWorldNeverNameObjectsOfALaterOne) {
  platform::RawHandle stale = nullptr;
  {
    World first;
    int alive = 0;
    stale = first.AddHandle(std::make_unique<CountedObject>(alive));
  }
  World second;
  int alive = 0;
  platform::RawHandle fresh = second.AddHandle(std::make_unique<CountedObject>(alive));
  EXPECT_NE(fresh, stale);
  EXPECT_FALSE(second.CloseHandle(stale));
  EXPECT_EQ(alive, 1);
}

TEST(WorldLifetimeTest, TemporaryRootIsRemovedWithTheWorld) {
  fs::path root;
  {
    World world;
    root = world.Root();
    world.WriteFile("C:\\deep\\file.txt", "x");
    EXPECT_TRUE(fs::exists(root));
  }
  EXPECT_FALSE(fs::exists(root));
  EXPECT_EQ(World::CurrentOrNull(), nullptr);
}

TEST_F(WorldTest, SystemInformationComesFromTheWorld) {
  world_.SetVersion(platform::kPlatformNt, 5, 0, 2195, "Service Pack 4");
  platform::OsVersionInfo info;
  info.size = platform::kOsVersionInfoSize;
  ASSERT_TRUE(platform::GetVersionEx(info));
  EXPECT_EQ(info.majorVersion, 5u);
  EXPECT_EQ(info.minorVersion, 0u);
  EXPECT_EQ(info.buildNumber, 2195u);
  EXPECT_STREQ(info.csdVersion.data(), "Service Pack 4");

  world_.SetWindowsDirectory("D:\\WINNT");
  EXPECT_EQ(platform::GetWindowsDirectory(200), "D:\\WINNT");
  world_.SetWindowsDirectory(std::nullopt);
  EXPECT_FALSE(platform::GetWindowsDirectory(200).has_value());

  world_.SetModuleFileName("C:\\Program Files\\Pagewick\\pagewick.exe");
  EXPECT_EQ(platform::GetModuleFileName(), "C:\\Program Files\\Pagewick\\pagewick.exe");
}

TEST_F(WorldTest, SpecialFoldersAreCreatedOnlyWhenAsked) {
  world_.SetSpecialFolder(platform::csidl::kCommonPictures, "C:\\Shared\\Pictures");
  EXPECT_FALSE(platform::GetSpecialFolderPath(nullptr, platform::csidl::kCommonPictures, false).has_value());
  EXPECT_FALSE(platform::DirectoryExists("C:\\Shared"));
  EXPECT_EQ(platform::GetSpecialFolderPath(nullptr, platform::csidl::kCommonPictures, true), "C:\\Shared\\Pictures");
  EXPECT_TRUE(platform::DirectoryExists("C:\\Shared\\Pictures"));
  world_.SetSpecialFolder(platform::csidl::kCommonDocuments, std::nullopt);
  EXPECT_FALSE(platform::GetSpecialFolderPath(nullptr, platform::csidl::kCommonDocuments, true).has_value());
  EXPECT_FALSE(platform::GetSpecialFolderPath(nullptr, platform::csidl::kDrives, true).has_value());
}

}  // namespace
}  // namespace pw::hostworld
