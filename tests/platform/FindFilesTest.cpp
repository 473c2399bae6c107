// Listing with FindFirstFileA's wildcard rules, in both builds.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "tests/support/TestEnvironment.h"

namespace pw::platform {
namespace {

class FindFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"img0001", "img.a.b.c", "IMG0002.JPG", "img", "im", "ximg0003.jpg", "photo.txt"}) {
      scratch_.WriteFile(name, "x");
    }
    ASSERT_TRUE(CreateDirectory(scratch_ / "imgdir").ok());
  }

  std::set<std::string> Names(const std::string& pattern) const {
    std::set<std::string> names;
    for (const FindEntry& entry : FindFiles(scratch_ / pattern).value_or(FindEntries())) names.insert(entry.name);
    return names;
  }

  test::ScratchFolder scratch_;
};

TEST_F(FindFilesTest, PatternsMatchAsOnWindows) {
  using NameSet = std::set<std::string>;
  struct Case {
    const char* pattern;
    NameSet expected;
  };
  const Case cases[] = {
      // "f*.*" is f<"* for the file system: a name without a dot matches.
      {"img*.*", {"img0001", "img.a.b.c", "IMG0002.JPG", "img", "imgdir"}},
      {"IMG*.*", {"img0001", "img.a.b.c", "IMG0002.JPG", "img", "imgdir"}},
      // "*.*" is "*": everything, dot or not.
      {"*.*", {"img0001", "img.a.b.c", "IMG0002.JPG", "img", "im", "ximg0003.jpg", "photo.txt", "imgdir"}},
      {"*", {"img0001", "img.a.b.c", "IMG0002.JPG", "img", "im", "ximg0003.jpg", "photo.txt", "imgdir"}},
      {"*.jpg", {"IMG0002.JPG", "ximg0003.jpg"}},
      {"img000?", NameSet{"img0001"}},
      {"img000?.jpg", NameSet{"IMG0002.JPG"}},
      {"i?", NameSet{"im"}},
      {"photo.txt", NameSet{"photo.txt"}},
      {"PHOTO.TXT", NameSet{"photo.txt"}},
  };
  for (const Case& row : cases) {
    EXPECT_EQ(Names(row.pattern), row.expected) << "pattern " << row.pattern;
  }
}

TEST_F(FindFilesTest, ReportsAttributesSizesAndLeavesOutDotEntries) {
  scratch_.WriteFile("hidden.jpg", "12345");
  scratch_.WriteFile("system.jpg", "x");
  ASSERT_TRUE(SetFileAttributes(scratch_ / "hidden.jpg", attribute::kHidden).ok());
  ASSERT_TRUE(SetFileAttributes(scratch_ / "system.jpg", attribute::kSystem | attribute::kReadOnly).ok());
  const Result<FindEntries> listing = FindFiles(scratch_ / "*");
  ASSERT_TRUE(listing.ok()) << listing.error();
  auto find = [&](const std::string& name) -> const FindEntry* {
    auto it = std::find_if(listing->begin(), listing->end(),
                           [&](const FindEntry& entry) { return entry.name == name; });
    return it == listing->end() ? nullptr : &*it;
  };
  EXPECT_EQ(find("."), nullptr);
  EXPECT_EQ(find(".."), nullptr);
  const FindEntry* hidden = find("hidden.jpg");
  const FindEntry* system = find("system.jpg");
  const FindEntry* folder = find("imgdir");
  ASSERT_NE(hidden, nullptr);
  ASSERT_NE(system, nullptr);
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(hidden->attributes & (attribute::kHidden | attribute::kDirectory), attribute::kHidden);
  EXPECT_EQ(hidden->size, 5u);
  EXPECT_EQ(system->attributes & (attribute::kSystem | attribute::kReadOnly),
            attribute::kSystem | attribute::kReadOnly);
  EXPECT_EQ(folder->attributes & attribute::kDirectory, attribute::kDirectory);
  const FindEntry* plain = find("img0001");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->attributes & (attribute::kHidden | attribute::kSystem | attribute::kDirectory), 0u);
  ASSERT_TRUE(SetFileAttributes(scratch_ / "system.jpg", attribute::kNormal).ok());
}

TEST_F(FindFilesTest, MissingFolderAndNoMatchGiveDifferentErrors) {
  const Result<FindEntries> noFolder = FindFiles(scratch_ / "absent\\img*.*");
  EXPECT_FALSE(noFolder.ok());
  EXPECT_EQ(noFolder.error(), error::kPathNotFound);
  const Result<FindEntries> noMatch = FindFiles(scratch_ / "zzz*.*");
  EXPECT_FALSE(noMatch.ok());
  EXPECT_EQ(noMatch.error(), error::kFileNotFound);
}

TEST_F(FindFilesTest, ListingShowsTheFolderAsItIsNow) {
  EXPECT_EQ(Names("new*.*").size(), 0u);
  scratch_.WriteFile("new1.jpg", "x");
  EXPECT_EQ(Names("new*.*"), std::set<std::string>{"new1.jpg"});
  ASSERT_TRUE(DeleteFile(scratch_ / "new1.jpg").ok());
  EXPECT_EQ(Names("new*.*").size(), 0u);
}

}  // namespace
}  // namespace pw::platform
