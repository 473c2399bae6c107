// Attacks on the pull's own files in the save location: the folder swapped
// while a file is made in it, and files the user plants for the recovery at
// start to take for the service's leftovers.
#include "platform/PathText.h"
#include "scanner/TransferJournal.h"
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

// A picture as small as recovery takes for a whole one: SOI, a frame header,
// a scan header, one byte of scan data and EOI; 28 bytes.
std::string TinyWholePicture() {
  return std::string{'\xFF', '\xD8', '\xFF', '\xC0', 0, 11, 8, 0, 1, 0, 1, 1, 1, 0x11, 0} +
         std::string{'\xFF', '\xDA', 0, 8, 1, 1, 0, 0, 63, 0} + std::string{0, '\xFF', '\xD9'};
}

// A file named like a transfer, made by the user before the service starts,
// is no leftover of the service's: it is neither saved as the first image nor
// taken for the picture saved last, and the scanner's picture is img0001.jpg.
TEST_F(AttackTest, PlantedTransferFileIsNotAdoptedAsAPicture) {
  const std::string folder = std::string(kMalloryScans) + "\\Photo1";
  const std::string planted = TinyWholePicture();
  ASSERT_EQ(planted.size(), 28u);
  world.MakeDirectories(folder);
  world.WriteFile(folder + "\\~1234567", planted);
  ASSERT_TRUE(hostworld::SetEntryOwner(folder + "\\~1234567", "mallory"));
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  PlugScanner();
  (void)TickUntil([&] { return simulator->QueuedImages() == 0; });
  ExpectNothingLost(1, kMalloryScans);
  const fs::path photo1 = world.HostPath(folder);
  std::error_code ec;
  EXPECT_GT(fs::file_size(photo1 / "img0001.jpg", ec), 28u) << "the scanner's picture is the first image";
  EXPECT_FALSE(fs::exists(photo1 / "img0002.jpg")) << "the planted file took a number";
  EXPECT_EQ(platform::FileExists(folder + "\\~1234567") ? world.ReadFile(folder + "\\~1234567") : "", planted)
      << "the planted file is left as it is";
  ExpectProtectedUnchanged();
  StopService();
}

// A transfer the service listed before a crash is replaced by a hard link to
// a system file: recovery neither renames, deletes nor writes that name.
TEST_F(AttackTest, TransferReplacedByAHardLinkToASystemFileIsLeftAlone) {
  const std::string folder = std::string(kMalloryScans) + "\\Photo1";
  const std::string transfer = folder + "\\~7654321";
  world.MakeDirectories(folder);
  world.CreateHardLink(transfer, std::string(kSystem32) + "\\config.sys");
  // The record the crashed run left in the service's folder.
  const std::string record = platform::ExtractFilePath(kServiceSettingsPath) + scanner::kTransferJournalName;
  world.MakeDirectories(platform::ExtractFilePath(kServiceSettingsPath));
  world.WriteFile(record, "+" + transfer + "\n");
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  PlugScanner();
  (void)TickUntil([&] { return simulator->QueuedImages() == 0; });
  ExpectNothingLost(1, kMalloryScans);
  const fs::path photo1 = world.HostPath(folder);
  std::error_code ec;
  EXPECT_EQ(fs::hard_link_count(photo1 / "~7654321", ec), 2u) << "the link was renamed or deleted";
  EXPECT_FALSE(fs::exists(photo1 / "img0001.partial")) << "the system file's bytes were kept as a partial";
  EXPECT_GT(fs::file_size(photo1 / "img0001.jpg", ec), 28u) << "the scanner's picture is the first image";
  ExpectProtectedUnchanged();
  StopService();
}

}  // namespace
}  // namespace pw::service::test
