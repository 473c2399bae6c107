// From plug-in to folder window: the main window started as the service starts
// it, the scanner simulator plugged into the world, the world's clock moving
// so that the poll timer ticks; what lands on disk and what the user sees.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/Windows.h"
#include "platform/hostworld/DeviceSocket.h"
#include "tests/imaging/JpegSamples.h"
#include "tests/scanner/PollFixture.h"
#include "tests/scanner/SimulatorProcess.h"
#include "tools/scanner-sim/ScannerPicture.h"

namespace pw::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kSecondImage = "C:\\Users\\Public\\Pictures\\Photo1\\img0002.jpg";
constexpr const char* kDate = "2024:05:17 10:20:30";

Bytes AsBytes(const std::string& text) { return {text.begin(), text.end()}; }

bool Dark(const Picture& picture, std::uint32_t x, std::uint32_t y) {
  const std::uint8_t* p = picture.At(x, y);
  return p[0] < 60 && p[1] < 60 && p[2] < 100;
}

class ScanToFolderTest : public PollFixture {
 protected:
  void WithAutoRotate() { world.WriteFile(kSettingsPath, "[Setting]\r\nAutoRoate=1\r\n"); }
  void QueuePicture(std::uint16_t orientation, std::uint32_t seed) {
    sim::PictureRecipe details;
    details.orientation = orientation;
    details.seed = seed;
    simulator->QueueImage(sim::MakeScannerPicture(details));
  }
  // Ticks until the condition holds; a bug fails instead of hanging.
  bool TickUntil(const std::function<bool()>& condition, int ticks = 20) {
    for (int i = 0; i < ticks && !condition(); ++i) Advance(ui::kComputerModePollMs);
    return condition();
  }
};

TEST_F(ScanToFolderTest, APictureTakenSidewaysArrivesUprightWithBothComments) {
  WithAutoRotate();
  StartLikeTheService();
  ASSERT_TRUE(form->AutoRCheckBx.Checked());
  QueuePicture(8, 1);
  Plug();

  Advance(ui::kComputerModePollMs);  // the tick: scan, attach, pull
  EXPECT_EQ(process.ScannerAttached, 1u);
  EXPECT_TRUE(platform::IsWindowVisible(form->Handle())) << "a newly found scanner shows the window";
  ASSERT_TRUE(Exists(kFirstImage));

  const Bytes saved = AsBytes(Read(kFirstImage));
  const Picture upright = DecodeJpeg(saved);
  // Stored 160 x 120 with a dark bar along its top edge and a dark block in
  // its top-left corner; turned upright the bar is the left edge and the
  // block the bottom-left corner.
  ASSERT_EQ(upright.width, 120u);
  ASSERT_EQ(upright.height, 160u);
  EXPECT_TRUE(Dark(upright, 5, 80));
  EXPECT_TRUE(Dark(upright, 30, 150));
  EXPECT_FALSE(Dark(upright, 100, 80));
  EXPECT_FALSE(Dark(upright, 30, 10));
  EXPECT_EQ(ReadComments(saved), (std::vector<std::string>{" Pagewick Ver 019", kDate}));
  EXPECT_EQ(simulator->QueuedImages(), 0u);

  const auto explores = world.Desktop().ShellExecutes();
  ASSERT_EQ(explores.size(), 1u);
  EXPECT_EQ(explores[0].file, "C:\\Users\\Public\\Pictures\\Photo1\\");
  EXPECT_NE(platform::FindWindow("CabinetWClass", "Photo1"), nullptr);
}

TEST_F(ScanToFolderTest, AnUprightPictureIsStoredAsTheScannerSentIt) {
  WithAutoRotate();
  sim::PictureRecipe details;
  details.orientation = 1;
  const std::vector<std::byte> picture = sim::MakeScannerPicture(details);
  simulator->QueueImage(picture);
  Plug();
  StartLikeTheService();  // the activation's scan attaches; the first tick pulls
  Advance(ui::kComputerModePollMs);
  EXPECT_EQ(Read(kFirstImage), Text(picture));
}

TEST_F(ScanToFolderTest, TwoImagesInOneFolderOpenTheExplorerOnce) {
  Plug();
  StartLikeTheService();
  QueuePicture(1, 2);
  QueuePicture(1, 3);
  ASSERT_TRUE(TickUntil([&] { return Exists(kSecondImage); }));
  EXPECT_TRUE(Exists(kFirstImage));
  EXPECT_EQ(world.Desktop().ShellExecutes().size(), 1u);

  // Once the user has closed the window, the next image opens the folder again.
  world.Desktop().CloseForeignWindow(platform::FindWindow("CabinetWClass", "Photo1"));
  QueuePicture(1, 4);
  ASSERT_TRUE(TickUntil([&] { return Exists("C:\\Users\\Public\\Pictures\\Photo1\\img0003.jpg"); }));
  EXPECT_EQ(world.Desktop().ShellExecutes().size(), 2u);
}

// No picture folder can be made below the chosen location (a file holds the
// next folder's name): the pictures go to the default location, and the user
// is told so once per switch, not per picture; new settings that switch again
// are told again.
TEST_F(ScanToFolderTest, ASwitchToTheDefaultLocationIsToldOncePerSwitch) {
  world.MakeDirectories("C:\\Scans");
  world.WriteFile("C:\\Scans\\Photo1", "not a folder");
  world.WriteFile(kSettingsPath, "[Setting]\r\nMode=1\r\nPath=C:\\Scans\r\n");
  std::vector<std::string> told;
  world.Desktop().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord& box, hostworld::ModalLoop&) {
    told.push_back(box.text);
    return platform::dialog_result::kOk;
  });
  std::vector<std::string> logged;
  Plug();
  StartLikeTheService();
  form->SetEventLog([&](const std::string& text) { logged.push_back(text); });
  for (std::uint32_t seed = 2; seed < 5; ++seed) QueuePicture(1, seed);
  ASSERT_TRUE(TickUntil([&] { return Exists("C:\\Users\\Public\\Pictures\\Photo1\\img0003.jpg"); }));
  (void)TickUntil([] { return false; }, 2);
  const std::string expected = "Scanned pictures are now saved in C:\\Users\\Public\\Pictures, which every user";
  ASSERT_EQ(told.size(), 1u) << "told once, not per picture";
  EXPECT_NE(told[0].find(expected), std::string::npos) << told[0];
  EXPECT_EQ(logged, (std::vector<std::string>{
                        "No folder for scanned pictures could be made below the save location C:\\Scans. Pictures are "
                        "saved in the default location C:\\Users\\Public\\Pictures from now on, where every user of "
                        "this computer can read them."}));

  world.MakeDirectories("C:\\Scans2");
  world.WriteFile("C:\\Scans2\\Photo1", "not a folder either");
  form->PathEdit.SetText("C:\\Scans2");
  form->ApplyBtnClick();
  QueuePicture(1, 5);
  ASSERT_TRUE(TickUntil([&] { return Exists("C:\\Users\\Public\\Pictures\\Photo1\\img0004.jpg"); }));
  ASSERT_EQ(told.size(), 2u) << "a switch after new settings is told again";
  EXPECT_NE(told[1].find(expected), std::string::npos) << told[1];
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_NE(logged[1].find("below the save location C:\\Scans2."), std::string::npos) << logged[1];
}

TEST_F(ScanToFolderTest, WithTheDiskFullTheUserIsToldAndTheScratchFileGoes) {
  world.SetDriveFreeBytes('C', 2 * 1024 * 1024);
  Plug();
  StartLikeTheService();
  QueuePicture(8, 5);
  std::vector<std::string> seen;
  world.Desktop().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord& box, hostworld::ModalLoop&) {
    seen.push_back(box.text);
    seen.push_back(Exists(kScratchPath) ? "scratch file present" : "no scratch file");
    return platform::dialog_result::kOk;
  });
  ASSERT_TRUE(TickUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen, (std::vector<std::string>{form->LoadText(ui::text::kDiskFullMessage), "scratch file present"}));
  EXPECT_FALSE(Exists(kScratchPath));
  EXPECT_FALSE(Exists(kFirstImage));
  EXPECT_TRUE(world.Desktop().ShellExecutes().empty());
  EXPECT_EQ(simulator->QueuedImages(), 0u);
}

// Unplugged in the middle of a transfer: what arrived is kept under the
// image's partial name, no folder is opened for it, and the user is told.
// Plugged in again, the scanner still holds the picture: it arrives whole
// under the number it would have had, and the partial goes.
TEST_F(ScanToFolderTest, UnpluggingInTheMiddleOfATransferKeepsWhatArrivedAndThePictureComesWholeLater) {
  Plug();
  StartLikeTheService();
  simulator->SetChunkPolicy(sim::ChunkPolicy::Fixed(4096));
  const std::vector<std::byte> image = PatternImage(40000, 6);
  simulator->QueueImage(image);
  simulator->PlanUnplug({sim::RequestKind::ChunkRead, 3});
  simulator->SetUnplugHandler([this] { Unplug(); });

  Advance(ui::kComputerModePollMs);
  const std::string partial = "C:\\Users\\Public\\Pictures\\Photo1\\img0001.partial";
  EXPECT_EQ(Read(partial), Text(image).substr(0, 3 * 4096));
  EXPECT_FALSE(Exists(kFirstImage));
  EXPECT_TRUE(world.Desktop().ShellExecutes().empty()) << "no folder window for a picture that did not arrive";
  ASSERT_EQ(world.Desktop().MessageBoxes().size(), 1u);
  EXPECT_NE(world.Desktop().MessageBoxes()[0].text.find(partial), std::string::npos);
  EXPECT_EQ(process.ScannerAttached, 1u);

  Advance(ui::kComputerModePollMs);
  EXPECT_EQ(process.ScannerAttached, 0u);
  EXPECT_EQ(process.PendingDeviceEvent, 1) << "the poll that detached has the next tick walk the drives";

  // The scanner again on the same letter, still holding the picture:
  // attached at the tick after its arrival.
  auto next = std::make_shared<sim::ScannerSimulator>();
  next->QueueImage(image);
  world.AddDrive('E', platform::DriveType::Removable);
  world.AttachDevice('E', next);
  ASSERT_TRUE(TickUntil([&] { return Exists(kFirstImage); }));
  EXPECT_EQ(Read(kFirstImage), Text(image));
  EXPECT_FALSE(Exists(partial)) << "the whole picture holds everything the partial held";
  EXPECT_FALSE(Exists(kSecondImage));
}

#ifdef PAGEWICK_SCANNER_SIM
// The simulator as its own process, plugged in through its socket, noticed by
// the world's device watcher; the program talks to it over the socket.
TEST_F(ScanToFolderTest, TheServedSimulatorIsNoticedPulledFromAndUnplugged) {
  WithAutoRotate();
  StartLikeTheService();
  hostworld::ServedDeviceWatcher watcher(world, 10ms);
  const std::string root = world.Root().string();
  SimulatorProcess simulatorProcess({"--root", root, "--drive", "F", "--picture", "8,2024:05:17 10:20:30",
                                     "--plain-picture", "--chunk", "fixed:3000", "--exit-when-drained"});
  ASSERT_TRUE(simulatorProcess.Started());

  // Real time passes for the other process; the world's clock for the timer.
  auto tickUntil = [&](const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!condition() && std::chrono::steady_clock::now() < deadline) {
      Advance(ui::kComputerModePollMs);
      std::this_thread::sleep_for(20ms);
    }
    return condition();
  };
  ASSERT_TRUE(tickUntil([&] { return Exists(kSecondImage); }));
  EXPECT_EQ(std::string(process.ScannerDevicePath.data()), "\\\\?\\F:");

  const Bytes first = AsBytes(Read(kFirstImage));
  const Picture upright = DecodeJpeg(first);
  EXPECT_EQ(upright.width, 120u);
  EXPECT_EQ(upright.height, 160u);
  EXPECT_EQ(ReadComments(first), (std::vector<std::string>{" Pagewick Ver 019", kDate}));
  const Picture plain = DecodeJpeg(AsBytes(Read(kSecondImage)));
  EXPECT_EQ(plain.width, 160u) << "a picture without EXIF is left as it came";
  EXPECT_EQ(world.Desktop().ShellExecutes().size(), 1u);

  // Drained, the simulator unplugs and exits; the next ticks detach.
  const std::optional<int> status = simulatorProcess.WaitForExit(10s);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  EXPECT_TRUE(tickUntil([&] { return process.ScannerAttached == 0; }));
  EXPECT_FALSE(world.FindDrive('F').has_value());
}
#endif

}  // namespace
}  // namespace pw::test
