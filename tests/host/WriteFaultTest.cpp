// The world's write faults: which writes they hit, what the write reports, and
// that clearing them restores ordinary writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Profile.h"
#include "platform/hostworld/World.h"

namespace pw::hostworld {
namespace {

namespace error = platform::error;
using platform::IoResult;

class WriteFaultTest : public ::testing::Test {
 protected:
  WriteFaultTest() {
    world.MakeDirectories("C:\\Data");
    world.AddDrive('D', platform::DriveType::Fixed);
  }
  platform::FileHandle Create(const std::string& path) {
    auto opened = platform::CreateFile(path, platform::access::kGenericWrite, platform::share::kNone,
                                       platform::Disposition::CreateAlways);
    EXPECT_TRUE(opened.file.valid()) << path;
    return std::move(opened.file);
  }
  static IoResult Write(const platform::FileHandle& file, std::uint64_t offset, const std::string& text) {
    return platform::WriteFileAt(file, offset, {reinterpret_cast<const std::byte*>(text.data()), text.size()});
  }

  World world;
};

TEST_F(WriteFaultTest, TheNthWriteFailsWithItsErrorAndWritesNothing) {
  world.SetWriteFault("c:\\DATA\\a.bin", WriteFault::FailWrite(2));
  platform::FileHandle file = Create("C:\\Data\\A.bin");
  EXPECT_TRUE(Write(file, 0, "one").ok);
  const IoResult second = Write(file, 3, "two");
  EXPECT_FALSE(second.ok);
  EXPECT_EQ(second.error, error::kWriteFault);
  EXPECT_EQ(second.bytes, 0u);
  EXPECT_TRUE(Write(file, 3, "three").ok) << "only the nth write fails";
  file.reset();
  EXPECT_EQ(world.ReadFile("C:\\Data\\a.bin"), "onethree");
}

TEST_F(WriteFaultTest, AShortWriteLandsInPartAndCountsAsFailed) {
  world.SetWriteFault("C:\\Data\\a.bin", WriteFault::ShortWrite(1, 2));
  platform::FileHandle file = Create("C:\\Data\\a.bin");
  const IoResult result = Write(file, 0, "abcdef");
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.bytes, 2u);
  EXPECT_EQ(result.error, error::kWriteFault);
  file.reset();
  EXPECT_EQ(world.ReadFile("C:\\Data\\a.bin"), "ab");
}

TEST_F(WriteFaultTest, ADriveFillsUpAcrossItsFilesAndOnlyThatDrive) {
  world.SetWriteFault('c', WriteFault::DiskFullAfter(10));
  platform::FileHandle a = Create("C:\\Data\\a.bin");
  platform::FileHandle b = Create("C:\\Data\\b.bin");
  platform::FileHandle d = Create("D:\\d.bin");
  EXPECT_TRUE(Write(a, 0, "123456").ok);
  const IoResult full = Write(b, 0, "12345");
  EXPECT_FALSE(full.ok);
  EXPECT_EQ(full.error, error::kDiskFull);
  EXPECT_EQ(full.bytes, 0u) << "a write that does not fit writes nothing";
  EXPECT_TRUE(Write(b, 0, "1234").ok) << "what still fits is written";
  EXPECT_FALSE(Write(a, 6, "x").ok);
  EXPECT_TRUE(Write(d, 0, std::string(100, 'd')).ok) << "another drive has room";

  world.ClearWriteFaults();
  EXPECT_TRUE(Write(a, 6, "789").ok);
}

// A profile write lands in a new file beside the old one: a fault there
// leaves the old file whole and no new file behind.
TEST_F(WriteFaultTest, AProfileWriteTheDiskRefusesLeavesTheFileAsItWas) {
  world.WriteFile("C:\\Data\\app.ini", "[S]\r\nk=v\r\n");
  for (const WriteFault& fault : {WriteFault::FailWrite(1), WriteFault::ShortWrite(1, 3), WriteFault::DiskFullAfter(4)}) {
    world.SetWriteFault("C:\\Data\\app.ini.new", fault);
    const platform::Result<void> written = platform::WriteProfileString("S", "k", "longer value", "C:\\Data\\app.ini");
    EXPECT_FALSE(written.ok());
    EXPECT_NE(written.error(), error::kSuccess);
    EXPECT_EQ(world.ReadFile("C:\\Data\\app.ini"), "[S]\r\nk=v\r\n");
    EXPECT_FALSE(platform::FileExists("C:\\Data\\app.ini.new"));
    world.ClearWriteFaults();
  }
  EXPECT_TRUE(platform::WriteProfileString("S", "k", "w", "C:\\Data\\app.ini").ok());
  EXPECT_EQ(world.ReadFile("C:\\Data\\app.ini"), "[S]\r\nk=w\r\n");
}

// A power cut keeps what was flushed and every create, rename and delete, but
// of the bytes written since a file's last flush nothing, a prefix, or zeros.
TEST_F(WriteFaultTest, APowerCutLosesOnlyWhatWasNotFlushed) {
  struct Row {
    CutLoss loss;
    std::string expected;  // old.bin: "durable" flushed, then "DU" written over it and "-more" after it
    std::string created;   // new.bin: "fresh" written, never flushed
  };
  const Row rows[] = {
      {CutLoss::Everything, "durable", ""},
      {CutLoss::Prefix, std::string("durable-m"), "fr"},
      {CutLoss::Zeros, std::string("\0\0rable\0\0\0\0\0", 12), std::string(5, '\0')},
  };
  world.Cache().Track();
  int n = 0;
  for (const Row& row : rows) {
    const std::string folder = "C:\\Data\\" + std::to_string(++n);
    ASSERT_TRUE(platform::CreateDirectory(folder).ok());
    {
      platform::FileHandle old = Create(folder + "\\old.bin");
      ASSERT_TRUE(Write(old, 0, "durable").ok);
      ASSERT_TRUE(platform::FlushFile(old).ok());
      ASSERT_TRUE(Write(old, 0, "DU").ok);
      ASSERT_TRUE(Write(old, 7, "-more").ok);
      platform::FileHandle created = Create(folder + "\\new.bin");
      ASSERT_TRUE(Write(created, 0, "fresh").ok);
    }
    // Renamed after the writes: the rename survives, the bytes go with the file.
    ASSERT_TRUE(platform::MoveFileNoReplace(folder + "\\new.bin", folder + "\\renamed.bin").ok());
    world.Cache().CutPower(row.loss);
    EXPECT_EQ(world.ReadFile(folder + "\\old.bin"), row.expected) << n;
    EXPECT_EQ(world.ReadFile(folder + "\\renamed.bin"), row.created) << n;
    EXPECT_FALSE(platform::FileExists(folder + "\\new.bin")) << n;
  }
  for (const char* text : {"cut 7 zeros", "cut 1 prefix", "kill 12", "count"}) {
    const std::optional<CrashPlan> plan = ParseCrashPlan(text);
    ASSERT_TRUE(plan.has_value()) << text;
    EXPECT_EQ(CrashPlanText(*plan), text);
  }
  for (const char* text : {"", "cut 0 zeros", "cut 3", "kill", "boom 3"}) EXPECT_FALSE(ParseCrashPlan(text)) << text;
}

}  // namespace
}  // namespace pw::hostworld
