// The free-space guard and the scratch file's name.
#include <gtest/gtest.h>

#include "platform/hostworld/World.h"
#include "storage/FreeSpaceGuard.h"

namespace pw::storage {
namespace {

class FreeSpaceGuardTest : public ::testing::Test {
 protected:
  FreeSpaceGuardTest() { world.AddDrive('D', platform::DriveType::Fixed); }
  hostworld::World world;
};

TEST_F(FreeSpaceGuardTest, NeedsTwiceTheSizeInWholeKiB) {
  struct Case {
    std::uint64_t freeBytes;
    std::int32_t needed;
    bool enough;
  };
  const Case cases[] = {
      {3999744, kPullBytesNeeded, true},   // 3906 KiB = 2 x 1953 KiB
      {3999743, kPullBytesNeeded, false},  // 3905 KiB
      {0, kPullBytesNeeded, false},
      {3ull << 40, kPullBytesNeeded, true},  // more than 2 TiB
      {0, 1000, true},                       // under 1 KiB needed: nothing to guard
      {0, 1023, true},
      {2047, 1024, false},  // 1 KiB free in whole KiB, 1 KiB needed
      {2048, 1024, true},
      {0, -5000, true},  // a negative size needs no room
  };
  for (const Case& c : cases) {
    world.SetDriveFreeBytes('D', c.freeBytes);
    EXPECT_EQ(EnoughFreeSpace("D:\\Scans\\Photo1\\img0001.jpg", c.needed), c.enough)
        << c.freeBytes << " free, " << c.needed << " needed";
  }
}

// A drive that cannot say how full it is is not written on a guess.
// Each chunk needs room for itself and the reserve, counted in bytes.
TEST_F(FreeSpaceGuardTest, AChunkNeedsItsOwnRoomAndTheReserve) {
  const struct {
    std::uint64_t freeBytes;
    std::uint32_t chunk;
    bool room;
  } cases[] = {{65536 + kChunkReserveBytes, 65536, true},
               {65535 + kChunkReserveBytes, 65536, false},
               {kChunkReserveBytes, 0, true},
               {3ull << 40, 0xFFFFFFFFu, true}};
  for (const auto& c : cases) {
    world.SetDriveFreeBytes('D', c.freeBytes);
    EXPECT_EQ(RoomForChunk("D:\\Scans\\Photo1\\img0001.jpg", c.chunk), c.room) << c.freeBytes << " free";
  }
}

TEST_F(FreeSpaceGuardTest, UnreadableFreeSpaceCountsAsNotEnoughRoom) {
  world.SetDriveFreeSpaceError('D', platform::error::kNotReady);
  EXPECT_FALSE(RoomForChunk("D:\\Scans\\img0001.jpg", 1));
  EXPECT_FALSE(EnoughFreeSpace("D:\\Scans\\img0001.jpg", kPullBytesNeeded));
  EXPECT_FALSE(EnoughFreeSpace("Q:\\Scans\\img0001.jpg", kPullBytesNeeded)) << "no such drive";
  EXPECT_FALSE(EnoughFreeSpace("\\\\server\\share\\img0001.jpg", kPullBytesNeeded)) << "network path";
}

TEST_F(FreeSpaceGuardTest, ScratchFileLiesBesideTheSettingsFile) {
  EXPECT_EQ(FallbackImagePath("D:\\Conf\\app.info"), "D:\\Conf\\tmp.jpg");
  EXPECT_EQ(FallbackImagePath("C:\\Users\\Public\\Documents\\pagewick.info"),
            "C:\\Users\\Public\\Documents\\tmp.jpg");
  EXPECT_EQ(FallbackImagePath("C:app.info"), "C:tmp.jpg") << "a drive colon ends the folder part too";
}

}  // namespace
}  // namespace pw::storage
