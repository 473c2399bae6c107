// The pull with an application and a user of its own, no main window: what it
// asks of its PullHost and what it tells its UserNotifier. Any process that
// implements the two (the service's window, a session agent) gets this.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/hostworld/World.h"
#include "scanner/ImagePull.h"
#include "scanner/PullHost.h"
#include "scanner/UserNotifier.h"
#include "tests/scanner/PollFixture.h"
#include "tests/scanner/ScannerFixture.h"
#include "tools/scanner-sim/ScannerSimulator.h"

namespace pw::test {
namespace {

class FakePullHost final : public scanner::PullHost {
 public:
  platform::Result<std::string> NextImagePath() override { return answers.at(namings++); }
  const std::string& DefaultSaveLocation() const override { return defaultLocation; }
  bool EnoughFreeSpace(const std::string& path, std::int32_t bytesNeeded) const override {
    spaceAsked.emplace_back(path, bytesNeeded);
    // A drive short of the image's margin may still have room for a chunk.
    return bytesNeeded == scanner::kPullBytesNeeded ? enoughRoom : roomForAChunk;
  }
  std::string FallbackImagePath() const override { return "C:\\Conf\\tmp.jpg"; }
  bool RoomForChunk(const std::string& path, std::uint32_t chunkBytes) const override {
    chunksAsked.emplace_back(path, chunkBytes);
    return roomForAChunk;
  }
  bool AutoRotateSwitchedOn() const override { return autoRotate; }
  platform::Result<void> AutoRotateImage(const std::string& path, const platform::LocationRights&) override {
    rotated.push_back(path);
    return platform::Success();
  }
  platform::LocationRights& SaveLocationRights() override { return rights; }
  void SettleSaveLocation() override {}
  scanner::TransferJournal& Transfers() override { return transfers; }
  const std::string& SystemDriveRootPath() const override { return root; }
  std::string ImageFolderTitle() const override { return "Photo7"; }
  const std::string& ActiveSaveLocation() const override { return active; }

  std::vector<std::string> answers;
  std::size_t namings = 0;
  std::string defaultLocation = "C:\\Default";
  std::string root = "C:\\";
  std::string active = "C:\\Scans";
  bool enoughRoom = true;
  bool roomForAChunk = true;
  bool autoRotate = false;
  scanner::TransferJournal transfers;
  mutable std::vector<std::pair<std::string, std::int32_t>> spaceAsked;
  mutable std::vector<std::pair<std::string, std::uint32_t>> chunksAsked;
  std::vector<std::string> rotated;
  platform::LocationRights rights;
};

class RecordingNotifier final : public scanner::UserNotifier {
 public:
  void TellDiskFull() override { ++diskFull; }
  void ShowFolder(const std::string& folder, std::span<const std::string> titles) override {
    folders.emplace_back(folder, std::vector<std::string>(titles.begin(), titles.end()));
  }
  void TellPictureIncomplete(const std::string& keptPath) override { incomplete.push_back(keptPath); }
  void TellCannotSave(const std::string& location) override { cannotSave.push_back(location); }
  void TellSwitchedToDefault(const std::string&, const std::string& defaultFolder) override {
    switchedTo.push_back(defaultFolder);
  }
  void ShowPage() override { ++pagesShown; }
  bool DiskFullBoxOpen() const override { return diskFullBoxOpen; }
  std::vector<std::string> switchedTo;
  int pagesShown = 0;
  int diskFull = 0;
  std::vector<std::pair<std::string, std::vector<std::string>>> folders;
  std::vector<std::string> incomplete;
  std::vector<std::string> cannotSave;
  bool diskFullBoxOpen = false;
};

class PullSeamTest : public ::testing::Test {
 protected:
  PullSeamTest() {
    world.AddDrive('E', platform::DriveType::Removable);
    world.AttachDevice('E', device);
    simulator->SetMode(sim::ScannerSimulator::Mode::Computer);  // images are announced in computer mode only
    world.MakeDirectories("C:\\Scans\\Photo7");
    world.MakeDirectories("C:\\Default\\Photo1");
    world.MakeDirectories("C:\\Conf");
    world.MakeDirectories("C:\\Elsewhere");
  }

  bool Pull() {
    scanner::PassThroughBuffer buffer;
    scanner::ImagePull pull(host, notifier, state, buffer);
    platform::DeviceHandle volume = OpenVolume();
    return pull.PullImage(volume);
  }

  hostworld::World world;
  std::shared_ptr<sim::ScannerSimulator> simulator = std::make_shared<sim::ScannerSimulator>();
  std::shared_ptr<HookedDevice> device = std::make_shared<HookedDevice>(simulator);
  FakePullHost host;
  RecordingNotifier notifier;
  scanner::ScannerState state;
};

TEST_F(PullSeamTest, NothingWaitingAsksAndTellsNothing) {
  EXPECT_FALSE(Pull());
  EXPECT_EQ(host.namings, 0u);
  EXPECT_TRUE(host.spaceAsked.empty());
  EXPECT_EQ(notifier.diskFull, 0);
  EXPECT_TRUE(notifier.folders.empty());
}

TEST_F(PullSeamTest, TheImageGoesWhereTheHostSaysAndItsFolderIsShownByBothTitles) {
  const std::vector<std::byte> image = PatternImage(3000, 1);
  simulator->QueueImage(image);
  host.answers = {"C:\\Scans\\Photo7\\img0003.jpg"};
  host.autoRotate = true;
  ASSERT_TRUE(platform::SetCurrentDirectory("C:\\Elsewhere").ok());

  EXPECT_TRUE(Pull());
  EXPECT_EQ(world.ReadFile("C:\\Scans\\Photo7\\img0003.jpg"), Text(image));
  // Before the pull, and room for its one chunk.
  EXPECT_EQ(host.spaceAsked, (std::vector<std::pair<std::string, std::int32_t>>{
                                 {"C:\\Scans\\Photo7\\img0003.jpg", scanner::kPullBytesNeeded}}));
  EXPECT_EQ(host.chunksAsked, (std::vector<std::pair<std::string, std::uint32_t>>{
                                  {"C:\\Scans\\Photo7\\img0003.jpg", 3000u}}));
  EXPECT_EQ(host.rotated, std::vector<std::string>{"C:\\Scans\\Photo7\\img0003.jpg"});
  EXPECT_EQ(platform::GetCurrentDirectory(), "C:\\");
  EXPECT_EQ(notifier.diskFull, 0);
  ASSERT_EQ(notifier.folders.size(), 1u);
  EXPECT_EQ(notifier.folders[0].first, "C:\\Scans\\Photo7\\");
  EXPECT_EQ(notifier.folders[0].second, (std::vector<std::string>{"Photo7", "C:\\Scans\\Photo7"}));
}

TEST_F(PullSeamTest, TheDefaultLocationAsAnAnswerIsAskedOnceMore) {
  simulator->QueueImage(PatternImage(100, 2));
  host.answers = {"C:\\Default", "C:\\Default\\Photo1\\img0001.jpg", "never asked"};
  EXPECT_TRUE(Pull());
  EXPECT_EQ(host.namings, 2u);
  EXPECT_TRUE(platform::FileExists("C:\\Default\\Photo1\\img0001.jpg"));
}

TEST_F(PullSeamTest, WithoutRoomTheScratchFileTakesTheImageAndTheUserIsToldOnce) {
  const std::vector<std::byte> image = PatternImage(2000, 3);
  simulator->QueueImage(image);
  host.answers = {"C:\\Scans\\Photo7\\img0001.jpg"};
  host.enoughRoom = false;
  host.autoRotate = true;
  EXPECT_TRUE(Pull());
  EXPECT_EQ(world.ReadFile("C:\\Conf\\tmp.jpg"), Text(image));
  EXPECT_FALSE(platform::FileExists("C:\\Scans\\Photo7\\img0001.jpg"));
  EXPECT_EQ(host.rotated, std::vector<std::string>{"C:\\Conf\\tmp.jpg"});
  EXPECT_EQ(notifier.diskFull, 1);
  EXPECT_TRUE(notifier.folders.empty());
}

// Whatever naming answers, the pull writes only to a free name inside an
// existing folder: the default location itself (a file, say C:\temp), an
// existing file or a folder is never written over, the picture stays on the
// scanner, and the user is told once however often the poll comes back.
TEST_F(PullSeamTest, NothingIsWrittenOverWhatNamingAnswersWhenItIsNotAFreshImageName) {
  host.defaultLocation = "C:\\temp";
  world.WriteFile("C:\\temp", "the user's file named like the default location");
  world.WriteFile("C:\\Scans\\Photo7\\img0009.jpg", "the user's picture");
  world.MakeDirectories("C:\\Scans\\Photo7\\img0010.jpg");
  simulator->QueueImage(PatternImage(500, 4));
  host.answers = {"C:\\temp", "C:\\temp",                              // the default location, twice
                  "C:\\Scans\\Photo7\\img0009.jpg",                      // an existing file
                  "C:\\Scans\\Photo7\\img0010.jpg",                      // a folder
                  "C:\\Scans\\NoSuchFolder\\img0001.jpg",                // outside any existing folder
                  "C:\\Scans\\NoSuchFolder\\img0001.jpg"};               // the same refusal again
  for (int poll = 0; poll < 4; ++poll) EXPECT_FALSE(Pull()) << "poll " << poll;
  EXPECT_EQ(world.ReadFile("C:\\temp"), "the user's file named like the default location");
  EXPECT_EQ(world.ReadFile("C:\\Scans\\Photo7\\img0009.jpg"), "the user's picture");
  EXPECT_TRUE(platform::DirectoryExists("C:\\Scans\\Photo7\\img0010.jpg"));
  EXPECT_FALSE(platform::DirectoryExists("C:\\Scans\\NoSuchFolder"));
  EXPECT_EQ(simulator->QueuedImages(), 1u) << "the picture stays on the scanner";
  EXPECT_EQ(notifier.cannotSave.size(), 4u) << "each new refusal is told once";
  EXPECT_EQ(Pull(), false);
  EXPECT_EQ(notifier.cannotSave.size(), 4u) << "the same refusal at the next poll is not told again";
  EXPECT_TRUE(notifier.folders.empty());
}

TEST_F(PullSeamTest, NoPullStartsWhileTheDiskFullBoxIsOpen) {
  simulator->QueueImage(PatternImage(500, 5));
  host.answers = {"C:\\Scans\\Photo7\\img0001.jpg"};
  notifier.diskFullBoxOpen = true;
  EXPECT_FALSE(Pull());
  EXPECT_EQ(simulator->RequestCount(), 0u) << "not even the length query";
  EXPECT_EQ(host.namings, 0u);
  notifier.diskFullBoxOpen = false;
  EXPECT_TRUE(Pull());
}

// A stop, shutdown or pause that waits ends the transfer before its next
// request: what arrived is kept under the partial name, nobody is told, and
// the picture comes again whole once the service runs on.
TEST_F(PullSeamTest, AWaitingStopEndsTheTransferBetweenTwoRequestsAndKeepsWhatArrived) {
  const std::vector<std::byte> image = PatternImage(5 * 1024, 6);
  simulator->SetChunkPolicy(sim::ChunkPolicy::Fixed(1024));
  simulator->QueueImage(image);
  host.answers = {"C:\\Scans\\Photo7\\img0001.jpg", "C:\\Scans\\Photo7\\img0001.jpg"};
  std::size_t requestsBeforeStop = 0;
  device->before = [&](std::uint8_t operation) {
    if (operation == kChunkReadOperation && ++requestsBeforeStop == 2) state.InterruptPull = 1;
  };
  EXPECT_FALSE(Pull());
  device->before = nullptr;
  EXPECT_EQ(simulator->RequestsOf(sim::RequestKind::ChunkRead).size(), 2u) << "no request after the stop came";
  EXPECT_EQ(world.ReadFile("C:\\Scans\\Photo7\\img0001.partial"), Text(image).substr(0, 2048));
  EXPECT_FALSE(platform::FileExists("C:\\Scans\\Photo7\\img0001.jpg"));
  EXPECT_TRUE(notifier.incomplete.empty()) << "a stop is not a fault to report";
  EXPECT_TRUE(notifier.folders.empty());

  state.InterruptPull = 0;
  EXPECT_TRUE(Pull());
  EXPECT_EQ(world.ReadFile("C:\\Scans\\Photo7\\img0001.jpg"), Text(image));
  EXPECT_FALSE(platform::FileExists("C:\\Scans\\Photo7\\img0001.partial"));
}

// A chunk read that always fails: every poll starts the picture again, but
// the folder holds one partial and the user hears of it once.
TEST_F(PullSeamTest, AFaultThatPersistsLeavesOnePartialAndOneNotice) {
  const std::vector<std::byte> image = PatternImage(4 * 1024, 7);
  simulator->SetChunkPolicy(sim::ChunkPolicy::Fixed(1024));
  simulator->QueueImage(image);
  simulator->AddFault({sim::RequestKind::ChunkRead, 2, sim::kForever, platform::error::kGenFailure});
  for (int poll = 0; poll < 9; ++poll) {
    host.answers.push_back("C:\\Scans\\Photo7\\img0001.jpg");
    EXPECT_FALSE(Pull()) << "poll " << poll;
  }
  std::vector<std::string> names;
  for (const platform::FindEntry& entry : platform::FindFiles("C:\\Scans\\Photo7\\*.*").value_or(platform::FindEntries())) names.push_back(entry.name);
  EXPECT_EQ(names, std::vector<std::string>{"img0001.partial"});
  EXPECT_EQ(world.ReadFile("C:\\Scans\\Photo7\\img0001.partial"), Text(image).substr(0, 2048));
  EXPECT_EQ(notifier.incomplete, std::vector<std::string>{"C:\\Scans\\Photo7\\img0001.partial"});
}

TEST(FolderPathTitle, JoinsByTheRootRuleOfTheNaming) {
  EXPECT_EQ(scanner::FolderPathTitle("E:\\", "Photo1"), "E:\\Photo1");
  EXPECT_EQ(scanner::FolderPathTitle("D:\\Scans", "Photo12"), "D:\\Scans\\Photo12");
}

}  // namespace
}  // namespace pw::test
