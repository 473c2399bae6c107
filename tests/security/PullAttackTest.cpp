// Attacks on the pull's own files in the save location: the folder swapped
// while a file is made in it, and files the user plants for the recovery at
// start to take for the service's leftovers.
#include "tests/security/AttackFixture.h"

namespace pw::service::test {
namespace {

// The image folder is swapped for a junction to another folder of the user's
// at the very moment the transfer file is made: the file lands in the folder
// that was checked, never in the junction's target.
TEST_F(AttackTest, FolderSwappedAsTheTransferIsMadeLeavesNothingInTheTarget) {
  const std::string folder = std::string(kMalloryScans) + "\\Photo1";
  const std::string elsewhere = "C:\\Users\\mallory\\Elsewhere";
  world.MakeDirectories(folder);
  world.MakeDirectories(elsewhere);
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  bool swapped = false;  // runs on the service's thread under the world's lock
  world.SetCreateObserver([&](const fs::path& hostPath) {
    if (swapped || !hostPath.filename().string().starts_with("~")) return;
    swapped = true;
    fs::rename(world.HostPath(folder), world.HostPath(kMalloryScans) / "Moved");
    world.CreateJunction(folder, elsewhere);
  });
  PlugScanner();
  (void)TickUntil([&] { return simulator->QueuedImages() == 0; });
  world.SetCreateObserver(nullptr);
  EXPECT_TRUE(swapped);
  EXPECT_TRUE(Snapshot(world.HostPath(elsewhere)).empty()) << "a file was made in the junction's target";
  ExpectNothingLost(1, kMalloryScans);
  ExpectProtectedUnchanged();
  StopService();
}

}  // namespace
}  // namespace pw::service::test
