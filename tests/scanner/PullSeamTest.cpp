// The pull with an application and a user of its own, no main window: what it
// asks of its PullHost and what it tells its UserNotifier. Any process that
// implements the two (the service's window, a session agent) gets this.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/host/World.h"
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
  std::string NextImagePath() override { return answers.at(namings++); }
  const std::string& DefaultSaveLocation() const override { return defaultLocation; }
  bool EnoughFreeSpace(const std::string& path, std::int32_t bytesNeeded) const override {
    spaceAsked.emplace_back(path, bytesNeeded);
    return enoughRoom;
  }
  std::string FallbackImagePath() const override { return "C:\\Conf\\tmp.jpg"; }
  bool AutoRotateSwitchedOn() const override { return autoRotate; }
  void AutoRotateImage(const std::string& path) override { rotated.push_back(path); }
  const std::string& SystemDriveRootPath() const override { return root; }
  std::string ImageFolderTitle() const override { return "Photo7"; }
  const std::string& ActiveSaveLocation() const override { return active; }

  std::vector<std::string> answers;
  std::size_t namings = 0;
  std::string defaultLocation = "C:\\Default";
  std::string root = "C:\\";
  std::string active = "C:\\Scans";
  bool enoughRoom = true;
  bool autoRotate = false;
  mutable std::vector<std::pair<std::string, std::int32_t>> spaceAsked;
  std::vector<std::string> rotated;
};

class RecordingNotifier final : public scanner::UserNotifier {
 public:
  void TellDiskFull() override { ++diskFull; }
  void ShowFolder(const std::string& folder, std::span<const std::string> titles) override {
    folders.emplace_back(folder, std::vector<std::string>(titles.begin(), titles.end()));
  }
  void TellPictureIncomplete(const std::string& keptPath) override { incomplete.push_back(keptPath); }
  void TellCannotSave(const std::string& location) override { cannotSave.push_back(location); }
  bool BoxOpen() const override { return boxOpen; }
  int diskFull = 0;
  std::vector<std::pair<std::string, std::vector<std::string>>> folders;
  std::vector<std::string> incomplete;
  std::vector<std::string> cannotSave;
  bool boxOpen = false;
};

class PullSeamTest : public ::testing::Test {
 protected:
  PullSeamTest() {
    world.AddDrive('E', platform::DriveType::Removable);
    world.AttachDevice('E', simulator);
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

  host::World world;
  std::shared_ptr<sim::ScannerSimulator> simulator = std::make_shared<sim::ScannerSimulator>();
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
  ASSERT_TRUE(platform::SetCurrentDirectory("C:\\Elsewhere").ok);

  EXPECT_TRUE(Pull());
  EXPECT_EQ(world.ReadFile("C:\\Scans\\Photo7\\img0003.jpg"), Text(image));
  EXPECT_EQ(host.spaceAsked, (std::vector<std::pair<std::string, std::int32_t>>{
                                 {"C:\\Scans\\Photo7\\img0003.jpg", scanner::kPullBytesNeeded}}));
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

TEST(FolderPathTitle, JoinsByTheRootRuleOfTheNaming) {
  EXPECT_EQ(scanner::FolderPathTitle("E:\\", "Photo1"), "E:\\Photo1");
  EXPECT_EQ(scanner::FolderPathTitle("D:\\Scans", "Photo12"), "D:\\Scans\\Photo12");
}

}  // namespace
}  // namespace pw::test
