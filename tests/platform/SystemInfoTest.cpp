// Version record, Windows directory and module path, in both builds.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "platform/FileSystem.h"
#include "platform/SystemInfo.h"
#include "tests/support/TestEnvironment.h"

namespace pw::platform {
namespace {

bool IsAbsoluteWindowsPath(const std::string& path) {
  return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' && path[2] == '\\';
}

class SystemInfoTest : public ::testing::Test {
 protected:
  test::ScratchFolder scratch_;  // the host build needs a world
};

TEST_F(SystemInfoTest, VersionRecordNeedsItsSize) {
  OsVersionInfo info;
  info.size = kOsVersionInfoSize;
  ASSERT_TRUE(GetVersionEx(info));
  EXPECT_EQ(info.size, kOsVersionInfoSize);
  EXPECT_EQ(info.platformId, kPlatformNt);
  EXPECT_GE(info.majorVersion, 5u);
  for (std::uint32_t wrong : {0u, 100u, 147u, 149u}) {
    OsVersionInfo bad;
    bad.size = wrong;
    EXPECT_FALSE(GetVersionEx(bad)) << "size " << wrong;
    EXPECT_EQ(bad.majorVersion, 0u) << "size " << wrong;
  }
}

TEST_F(SystemInfoTest, WindowsDirectoryComesBackOnlyWhenItFits) {
  const std::optional<std::string> full = GetWindowsDirectory(260);
  ASSERT_TRUE(full.has_value());
  EXPECT_TRUE(IsAbsoluteWindowsPath(*full)) << *full;
  EXPECT_TRUE(DirectoryExists(*full));
  // The text and its terminating zero must fit.
  EXPECT_EQ(GetWindowsDirectory(full->size() + 1), full);
  EXPECT_FALSE(GetWindowsDirectory(full->size()).has_value());
  EXPECT_FALSE(GetWindowsDirectory(3).has_value());
  EXPECT_EQ(GetWindowsDirectory(200), full);  // the buffer the program uses
}

TEST_F(SystemInfoTest, ModuleFileNameIsTheRunningExecutable) {
  const std::string module = GetModuleFileName();
  EXPECT_TRUE(IsAbsoluteWindowsPath(module)) << module;
  EXPECT_TRUE(FileExists(module)) << module;
  EXPECT_NE(module.find("platform_tests"), std::string::npos) << module;
}

TEST_F(SystemInfoTest, SharedFoldersAreKnown) {
  const auto documents = GetSpecialFolderPath(nullptr, csidl::kCommonDocuments, false);
  const auto pictures = GetSpecialFolderPath(nullptr, csidl::kCommonPictures, false);
  ASSERT_TRUE(documents.has_value());
  ASSERT_TRUE(pictures.has_value());
  EXPECT_TRUE(DirectoryExists(*documents)) << *documents;
  EXPECT_TRUE(DirectoryExists(*pictures)) << *pictures;
  EXPECT_NE(*documents, *pictures);
}

// The program's machine policy: what an administrator wrote under
// HKLM\SOFTWARE\Pagewick reads back by any letter case; what is missing,
// removed or not a DWORD reads as none.
TEST_F(SystemInfoTest, MachinePolicyValuesReadBackAsWritten) {
  const std::string name = "PagewickContractTestValue";
  ASSERT_TRUE(test::SetMachinePolicyDword(name, std::nullopt));
  EXPECT_EQ(ReadMachinePolicyDword(name), std::nullopt);
  EXPECT_EQ(ReadMachinePolicyDword("NoSuchPagewickValue"), std::nullopt);
  for (std::uint32_t value : {1u, 0u, 0xFFFFFFFFu}) {
    ASSERT_TRUE(test::SetMachinePolicyDword(name, value));
    EXPECT_EQ(ReadMachinePolicyDword(name), std::optional<std::uint32_t>(value));
    EXPECT_EQ(ReadMachinePolicyDword("pagewickcontracttestVALUE"), std::optional<std::uint32_t>(value));
  }
  ASSERT_TRUE(test::SetMachinePolicyDword(name, std::nullopt));
  EXPECT_EQ(ReadMachinePolicyDword(name), std::nullopt);
}

}  // namespace
}  // namespace pw::platform
