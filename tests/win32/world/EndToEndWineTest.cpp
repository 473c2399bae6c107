// The shipped pagewick.exe under Wine, installed into Wine's control manager,
// pulling pictures through the scanner driver from the simulator: byte for
// byte, turned upright with auto-rotate, and through the faults a scanner
// can show; the session agent opens the window of a new folder. Every case
// ends with each whole delivery saved exactly once, no file overwritten, and
// the service stopped within 5 s.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "agent/ServiceConnection.h"
#include "platform/FileSystem.h"
#include "platform/ScopeExit.h"
#include "platform/Security.h"
#include "platform/ServiceControl.h"
#include "platform/Shell.h"
#include "tests/imaging/JpegSamples.h"
#include "tests/support/TestEnvironment.h"
#include "tests/win32/world/WineWorld.h"

namespace pw::wineworld {
namespace {

using namespace std::chrono_literals;
namespace pf = platform;

constexpr const char* kServiceName = "Service1";
// Control lines split at blanks, so the picture's date-time text has none.
constexpr const char* kDateTime = "2024:05:17_10:20:30";
constexpr int kCommonAppData = 35;
constexpr int kCommonPictures = 54;
// A running service that accepts session changes serves session agents
// (Windows Vista and later).
constexpr std::uint32_t kAcceptSessionChange = 0x80;

std::string SpecialFolder(int csidl) {
  const pf::ItemIdList list = pf::GetSpecialFolderLocation(nullptr, csidl);
  return pf::GetPathFromIdList(list).value_or("");
}

std::string ImageName(int n) {
  char name[32];
  std::snprintf(name, sizeof name, "img%04d.jpg", n);
  return name;
}

// The settings page on this desktop that is not the service's own window: a
// session agent's. Its process, or 0 when there is none.
std::uint32_t AgentProcess() {
  const std::uint32_t service = ServiceProcessId(kServiceName);
  for (const DesktopWindow& window : TopLevelWindows()) {
    if (window.className == "TMainForm" && window.title == "Pagewick" && window.process != service) {
      return window.process;
    }
  }
  return 0;
}

// Top-level windows titled with the folder's bare name or its full path, the
// two titles an explorer window of the folder carries.
std::vector<DesktopWindow> FolderWindows(const std::string& folder) {
  const std::string name = folder.substr(folder.find_last_of('\\') + 1);
  std::vector<DesktopWindow> found;
  for (DesktopWindow& window : TopLevelWindows()) {
    if (window.title == name || window.title == folder) found.push_back(std::move(window));
  }
  return found;
}

// Writes the tally once every test has run, for the script's summary line.
class TallyWriter : public ::testing::Environment {
 public:
  void TearDown() override {
    if (const std::optional<WorldPaths> world = FindWorld()) WriteTally(*world);
  }
};
[[maybe_unused]] ::testing::Environment* const kTallyWriter = ::testing::AddGlobalTestEnvironment(new TallyWriter);

class PagewickInWine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    world_ = FindWorld();
    if (!world_) return;
    installed_ = RunProgram(world_->program, "/install /silent") == 0;
  }

  static void TearDownTestSuite() {
    if (!world_) return;
    const pf::ServiceHandle manager =
        pf::OpenSCManager(std::nullopt, std::nullopt, pf::manager_access::kAllAccess).value_or(pf::ServiceHandle());
    StopIfRunning(manager);
    EXPECT_EQ(RunProgram(world_->program, "/uninstall /silent"), 0);
    const pf::Result<pf::ServiceHandle> gone = pf::OpenService(manager, kServiceName, pf::service_access::kAllAccess);
    EXPECT_FALSE(gone.ok()) << "the uninstall run removed the service";
  }

  // The settings file the service reads: from Vista on in its own folder
  // below ProgramData, made as the service makes it; under Wine that folder is
  // not owned by Administrators, so the service keeps them beside itself.
  std::string ServiceSettingsPath() const {
    const std::string folder = SpecialFolder(kCommonAppData) + "\\Pagewick";
    (void)pf::CreateServiceOnlyDirectory(folder);
    if (pf::OwnedBySystemOrAdministrators(folder)) return folder + "\\pagewick.info";
    (void)test::KnownWineDifference("the settings folder is not owned by Administrators: settings beside the executable");
    return world_->program.substr(0, world_->program.find_last_of('\\') + 1) + "pagewick.info";
  }

  void SetUp() override {
    if (!world_) GTEST_SKIP() << "not in the Wine world of scripts/wine-world.sh";
    ASSERT_TRUE(installed_) << "pagewick.exe /install /silent failed";
    port_.emplace(*world_);
    manager_ =
        pf::OpenSCManager(std::nullopt, std::nullopt, pf::manager_access::kAllAccess).value_or(pf::ServiceHandle());
    ASSERT_TRUE(manager_.valid());
    StopIfRunning(manager_);
    pictures_ = SpecialFolder(kCommonPictures);
    settings_ = ServiceSettingsPath();
    ASSERT_FALSE(pictures_.empty());
    // Every case starts from a first start: no settings, no earlier pictures.
    for (int folder = 1; folder <= 3; ++folder) RemoveFolder(pictures_ + "\\Photo" + std::to_string(folder));
    (void)pf::DeleteFile(settings_);
  }

  void TearDown() override {
    if (port_) (void)port_->Control("plug");  // an idle scanner for whatever runs next
  }

  static void StopIfRunning(const pf::ServiceHandle& manager) {
    pf::Result<pf::ServiceHandle> opened = pf::OpenService(manager, kServiceName, pf::service_access::kAllAccess);
    if (!opened) return;
    if (pf::QueryServiceStatus(*opened).status.currentState != pf::service_state::kStopped) {
      (void)pf::ControlService(*opened, pf::service_control::kStop);
      (void)WaitUntil([&] { return State(*opened) == pf::service_state::kStopped; }, 30s);
    }
  }

  static std::uint32_t State(const pf::ServiceHandle& service) {
    return pf::QueryServiceStatus(service).status.currentState;
  }

  static void RemoveFolder(const std::string& path) {
    for (const pf::FindEntry& entry : pf::FindFiles(path + "\\*").value_or(pf::FindEntries())) {
      if (entry.name != "." && entry.name != "..") (void)pf::DeleteFile(path + "\\" + entry.name);
    }
    (void)pf::RemoveDirectory(path);
  }

  void WriteSettings(bool autoRotate) {
    WriteWholeFile(settings_, std::string("[Setting]\r\nMode=1\r\nAutoRoate=") + (autoRotate ? "1" : "0") + "\r\n");
  }

  void StartService() {
    pf::Result<pf::ServiceHandle> opened = pf::OpenService(manager_, kServiceName, pf::service_access::kAllAccess);
    ASSERT_TRUE(opened.ok()) << "error " << opened.error();
    service_ = std::move(opened).value();
    const pf::Result<void> started = pf::StartService(service_, {});
    ASSERT_TRUE(started.ok()) << "error " << started.error();
    ASSERT_TRUE(WaitUntil([&] { return State(service_) == pf::service_state::kRunning; }, 60s));
  }

  // Stops the service and checks that it stopped within 5 s.
  void StopService() {
    ASSERT_TRUE(service_.valid());
    const auto asked = std::chrono::steady_clock::now();
    ASSERT_TRUE(pf::ControlService(service_, pf::service_control::kStop).ok);
    ASSERT_TRUE(WaitUntil([&] { return State(service_) == pf::service_state::kStopped; }, 30s));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
    EXPECT_LE(took.count(), 5000) << "the service took " << took.count() << " ms to stop";
  }

  std::string PicturePath(int n, int folder = 1) const {
    return pictures_ + "\\Photo" + std::to_string(folder) + "\\" + ImageName(n);
  }

  // The pictures of Photo1, img0001.jpg on, up to the first number missing.
  std::vector<Bytes> Pulled() const {
    std::vector<Bytes> files;
    for (int n = 1;; ++n) {
      std::optional<Bytes> bytes = ReadWholeFile(PicturePath(n));
      if (!bytes) return files;
      files.push_back(std::move(*bytes));
    }
  }

  long Counter(const std::string& name) const {
    const std::map<std::string, long> status = port_->Status();
    const auto found = status.find(name);
    return found == status.end() ? -1 : found->second;
  }

  // Waits until the scanner has handed over `delivered` images and as many
  // files are in place.
  bool WaitForPulls(long delivered, std::size_t files, std::chrono::seconds deadline = 60s) const {
    return WaitUntil([&] { return Counter("delivered") >= delivered && Pulled().size() >= files; }, deadline);
  }

  // Each expected picture is saved exactly once; the count of those that
  // are not goes to the tally and fails the case. The files are listed in
  // the output, so that what a fault left behind can be read there.
  void ExpectEachSavedOnce(const std::vector<Bytes>& expected, bool faultCase) {
    const std::vector<Bytes> files = Pulled();
    std::string listing;
    for (std::size_t i = 0; i < files.size(); ++i) {
      const auto whole = std::find(expected.begin(), expected.end(), files[i]);
      listing += " " + ImageName(static_cast<int>(i) + 1) + ":" + std::to_string(files[i].size()) +
                 (whole != expected.end() ? "=picture" + std::to_string(whole - expected.begin() + 1) : "=other");
    }
    std::printf("[ PULLED FILES ]%s\n", listing.empty() ? " none" : listing.c_str());
    int lost = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const auto copies = std::count(files.begin(), files.end(), expected[i]);
      EXPECT_EQ(copies, 1) << "delivered picture " << i + 1 << " is saved " << copies << " times";
      if (copies == 0) ++lost;
    }
    Tally& tally = RunTally();
    tally.imagesPulled += static_cast<int>(expected.size()) - lost;
    tally.lost += lost;
    if (faultCase) ++tally.faultCases;
  }

  // Files seen complete once must never change afterwards.
  void ExpectUnchanged(const std::map<int, Bytes>& seen) const {
    for (const auto& [n, bytes] : seen) {
      EXPECT_EQ(ReadWholeFile(PicturePath(n)), bytes) << ImageName(n) << " was overwritten";
    }
  }

  std::map<int, Bytes> Snapshot() const {
    std::map<int, Bytes> seen;
    const std::vector<Bytes> files = Pulled();
    for (std::size_t i = 0; i < files.size(); ++i) seen[static_cast<int>(i) + 1] = files[i];
    return seen;
  }

  std::vector<Bytes> Images(const std::vector<int>& numbers) const {
    std::vector<Bytes> images;
    for (int n : numbers) images.push_back(port_->Image(n));
    return images;
  }

  static std::optional<WorldPaths> world_;
  static bool installed_;
  std::optional<SimulatorPort> port_;
  pf::ServiceHandle manager_;
  pf::ServiceHandle service_;
  std::string pictures_;
  std::string settings_;
};

std::optional<WorldPaths> PagewickInWine::world_;
bool PagewickInWine::installed_ = false;

TEST_F(PagewickInWine, PullsEveryPictureByteForByteAlsoThoseQueuedWhileRunning) {
  const std::optional<std::vector<int>> first =
      port_->Plug("--chunk fixed:65536 --picture 8 --picture 1 --plain-picture --image-size 300000");
  ASSERT_TRUE(first && first->size() == 4u);
  WriteSettings(false);
  StartService();
  ASSERT_TRUE(WaitForPulls(4, 4)) << port_->Control("status");
  const std::map<int, Bytes> early = Snapshot();
  EXPECT_GE(Counter("computer"), 1) << "the scanner was told the computer save type";

  const std::optional<std::vector<int>> more = port_->Queue("--picture 8,2023:01:02_03:04:05 --image-size 70000");
  ASSERT_TRUE(more && more->size() == 2u);
  ASSERT_TRUE(WaitForPulls(6, 6)) << port_->Control("status");

  std::vector<Bytes> expected = Images(*first);
  for (Bytes& image : Images(*more)) expected.push_back(std::move(image));
  EXPECT_EQ(Pulled(), expected) << "img0001.jpg to img0006.jpg in delivery order, byte for byte";
  ExpectUnchanged(early);
  StopService();
  ExpectEachSavedOnce(expected, false);
}

TEST_F(PagewickInWine, AutoRotateTurnsAnOrientationEightPictureUprightAndLeavesOthers) {
  const std::optional<std::vector<int>> queued =
      port_->Plug(std::string("--picture 8,") + kDateTime + " --picture 1 --plain-picture");
  ASSERT_TRUE(queued && queued->size() == 3u);
  WriteSettings(true);
  StartService();
  ASSERT_TRUE(WaitForPulls(3, 3)) << port_->Control("status");
  // The re-save follows the pull at once; the folder's third file is there after it.
  ASSERT_TRUE(WaitUntil([&] { return Pulled()[0].size() > 30 && Pulled()[0][30] == 1; }, 20s));
  StopService();

  const std::vector<Bytes> files = Pulled();
  ASSERT_EQ(files.size(), 3u);
  const Bytes original = port_->Image((*queued)[0]);
  ASSERT_EQ(original[30], 8);
  const test::Bytes saved(files[0].begin(), files[0].end());
  EXPECT_EQ(saved[30], 1) << "the re-saved picture says Orientation 1";
  const test::Picture picture = test::DecodeJpeg(saved);
  // Stored 160 x 120 with its dark bar along the top and a dark block at the
  // top left; turned a quarter counter-clockwise, the bar runs down the left
  // side and the block sits at the bottom left.
  ASSERT_EQ(picture.width, 120u);
  ASSERT_EQ(picture.height, 160u);
  ASSERT_EQ(picture.channels, 3);
  auto dark = [&](std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* pixel = picture.At(x, y);
    return pixel[0] < 70 && pixel[1] < 70 && pixel[2] < 110;
  };
  EXPECT_TRUE(dark(5, 80)) << "the bar is on the left";
  EXPECT_TRUE(dark(30, 150)) << "the block is at the bottom left";
  EXPECT_FALSE(dark(30, 20)) << "nothing dark at the top left: not turned the wrong way";
  EXPECT_EQ(test::ReadComments(saved), (std::vector<std::string>{" Pagewick Ver 019", kDateTime}));

  EXPECT_EQ(files[1], port_->Image((*queued)[1])) << "orientation 1 stays as delivered";
  EXPECT_EQ(files[2], port_->Image((*queued)[2])) << "a picture without EXIF stays as delivered";
  RunTally().imagesPulled += 3;
}

TEST_F(PagewickInWine, ADesktopStartShowsTheWindowOfTheRunningService) {
  ASSERT_TRUE(port_->Plug("--hold --picture 1"));
  WriteSettings(false);
  StartService();
  ASSERT_TRUE(WaitUntil([&] { return Counter("computer") >= 1; }, 30s));
  const long before = Counter("computer");
  // A second start from the desktop leaves the show-window marker; the
  // service shows its window, whose activation scans and applies again.
  (void)RunProgram(world_->program, "");
  EXPECT_TRUE(WaitUntil([&] { return Counter("computer") > before; }, 20s)) << port_->Control("status");
  EXPECT_FALSE(pf::FileExists("c:\\run.info")) << "the service took the marker away";
  StopService();
  EXPECT_EQ(Counter("delivered"), 0) << "a held picture stays on the scanner";
}

// From Windows Vista on, the folder of a new picture opens in the user's
// session through the session agent. Wine's ShellExecute "explore" starts an
// explorer.exe of its own as a child of the caller, whose window carries the
// folder's name: such a window in a process that the agent started shows that
// the service's request reached the agent and that the agent acted on it.
TEST_F(PagewickInWine, ANewFolderOpensInAWindowStartedByTheSessionAgent) {
  const test::ScratchFolder location;
  ASSERT_TRUE(port_->Plug("")) << "an idle scanner";
  WriteWholeFile(settings_, "[Setting]\r\nMode=1\r\nPath=" + location.Path() + "\r\nAutoRoate=0\r\n");
  // The service runs as the test's user under Wine, not as LocalSystem: the
  // agent talks to it only where the machine policy allows that.
  const test::MachinePolicyValue sameUserServer(agent::kAllowServerOfSameUser, 1);
  ASSERT_TRUE(sameUserServer.ok()) << "HKLM\\SOFTWARE\\Pagewick is written (the tests run as an administrator)";
  StartService();
  if ((pf::QueryServiceStatus(service_).status.controlsAccepted & kAcceptSessionChange) == 0) {
    StopService();
    GTEST_SKIP() << "the system reports a version before Windows Vista: no session agents";
  }

  std::optional<StartedProgram> started;
  if (!WaitUntil([] { return AgentProcess() != 0; }, 10s)) {
    EXPECT_TRUE(test::KnownWineDifference("the service starts no agent: WTSEnumerateSessions lists no session"));
    started.emplace(world_->program, "/agent");
    ASSERT_TRUE(started->Started()) << "pagewick.exe /agent";
  }
  // The page is made once the agent is connected to the service.
  ASSERT_TRUE(WaitUntil([] { return AgentProcess() != 0; }, 30s)) << "the agent's page is found by class and title";
  const std::uint32_t agent = AgentProcess();
  const std::string folder = location / "Photo1";
  ASSERT_TRUE(FolderWindows(folder).empty()) << "no window of the folder before its first picture";

  // Whatever the agent opened goes before the service and the folder do.
  const auto openedByAgent = [&] {
    std::vector<DesktopWindow> opened;
    for (DesktopWindow& window : FolderWindows(folder)) {
      if (ParentProcess(window.process) == agent) opened.push_back(std::move(window));
    }
    return opened;
  };
  const auto closeFolderWindows = [&] {
    for (const DesktopWindow& window : openedByAgent()) {
      EXPECT_TRUE(CloseWindowAndItsProcess(window, 10s)) << "the folder window's process ends";
    }
  };
  ScopeExit closing(closeFolderWindows);

  const std::optional<std::vector<int>> queued = port_->Queue("--picture 1");
  ASSERT_TRUE(queued && queued->size() == 1u);
  ASSERT_TRUE(WaitUntil([&] { return ReadWholeFile(folder + "\\" + ImageName(1)) == port_->Image(queued->front()); },
                        60s))
      << port_->Control("status");
  RunTally().imagesPulled += 1;
  const auto seen = std::chrono::steady_clock::now();

  const auto describe = [&] {
    std::string windows;
    for (const DesktopWindow& window : FolderWindows(folder)) {
      windows += " [" + window.className + " '" + window.title + "' process " + std::to_string(window.process) +
                 " parent " + std::to_string(ParentProcess(window.process).value_or(0)) +
                 (window.visible ? " visible]" : " hidden]");
    }
    return windows.empty() ? std::string(" none") : windows;
  };
  const auto shownByAgent = [&] {
    const std::vector<DesktopWindow> opened = openedByAgent();
    return std::any_of(opened.begin(), opened.end(), [](const DesktopWindow& window) { return window.visible; });
  };
  ASSERT_TRUE(WaitUntil(shownByAgent, 30s))
      << "a visible window of " << folder << " in a process started by the agent (" << agent
      << "); windows of the folder:" << describe();
  std::printf("[ FOLDER WINDOW ] %lld ms after the picture was seen:%s\n",
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - seen).count()),
              describe().c_str());
  closing.Dismiss();
  closeFolderWindows();

  StopService();
  EXPECT_TRUE(WaitUntil([] { return AgentProcess() == 0; }, 30s)) << "the agent ends with the service";
  if (started) {
    EXPECT_TRUE(started->WaitForExit(10s)) << "the agent's process ends";
  }
}

// A fault case: the pictures go out through the fault; the pulled files must
// hold each whole delivery exactly once.
struct FaultCase {
  const char* name;
  const char* options;
  int pictures;  // pictures the simulator delivers whole
};

class PagewickFaults : public PagewickInWine, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(PagewickFaults, EveryWholeDeliveryIsSavedOnceAndTheServiceStops) {
  const FaultCase& fault = GetParam();
  const std::optional<std::vector<int>> queued = port_->Plug(fault.options);
  ASSERT_TRUE(queued) << port_->Control(std::string("plug ") + fault.options);
  WriteSettings(false);
  StartService();
  ASSERT_TRUE(WaitUntil([&] { return Counter("delivered") >= fault.pictures; }, 60s)) << port_->Control("status");
  // Give the program two more ticks to finish writing what it pulled.
  std::this_thread::sleep_for(3s);
  const std::map<int, Bytes> seen = Snapshot();
  std::this_thread::sleep_for(2500ms);
  ExpectUnchanged(seen);
  StopService();
  const std::vector<int> delivered(queued->begin(), queued->begin() + fault.pictures);
  ExpectEachSavedOnce(Images(delivered), true);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, PagewickFaults,
    ::testing::Values(
        // Three time-outs of one chunk read, then it succeeds: written once, in place.
        FaultCase{"TimeoutsRecovered", "--chunk fixed:4096 --fail chunk:2:3 --fail length:3:2 --picture 8 --picture 1", 2},
        // Six time-outs in a row: the chunk is written from zeros, the offset
        // stays, and the repeated chunk overwrites the zeros.
        FaultCase{"TimeoutsExhausted", "--chunk fixed:4096 --fail chunk:1:6 --picture 1 --plain-picture", 2},
        // The length query for an offset answers more than the data area holds.
        FaultCase{"LengthAboveDataArea", "--chunk fixed:8192 --length-override 2:0x00080001 --picture 1 --picture 8", 2},
        // A negative length: no chunk read follows it.
        FaultCase{"NegativeLength", "--chunk fixed:8192 --length-override 2:0x80000000 --picture 1 --picture 8", 2}),
    [](const ::testing::TestParamInfo<FaultCase>& row) { return std::string(row.param.name); });

TEST_F(PagewickInWine, UnplugMidTransferKeepsWhatWasWholeAndTheNextScannerWorks) {
  const std::optional<std::vector<int>> queued =
      port_->Plug("--chunk fixed:65536 --picture 1 --image-size 400000 --unplug-after chunk:3");
  ASSERT_TRUE(queued && queued->size() == 2u);
  WriteSettings(false);
  StartService();
  ASSERT_TRUE(WaitUntil([&] { return Counter("unplugged") == 1; }, 60s)) << port_->Control("status");
  std::this_thread::sleep_for(3s);
  const std::map<int, Bytes> seen = Snapshot();
  ASSERT_GE(seen.size(), 1u);
  EXPECT_EQ(seen.at(1), port_->Image((*queued)[0]));

  // A scanner plugged in again at the same letter goes on with the next
  // number. The driver broadcasts no device arrival, so the program does not
  // scan again and tells the scanner no save type: this one keeps its own.
  const std::optional<std::vector<int>> again = port_->Plug("--mode computer --picture 8");
  ASSERT_TRUE(again && again->size() == 1u);
  ASSERT_TRUE(WaitUntil([&] { return Counter("delivered") == 1; }, 60s)) << port_->Control("status");
  std::this_thread::sleep_for(2500ms);
  ExpectUnchanged(seen);
  const std::vector<Bytes> files = Pulled();
  for (const Bytes& file : files) {
    const Bytes& interrupted = port_->Image((*queued)[1]);
    if (file.size() < interrupted.size() && file != port_->Image((*queued)[0]) && file != port_->Image((*again)[0])) {
      EXPECT_EQ(file, interrupted.substr(0, file.size())) << "a partial file holds only what arrived";
    }
  }
  StopService();
  ExpectEachSavedOnce({port_->Image((*queued)[0]), port_->Image((*again)[0])}, true);
}

TEST_F(PagewickInWine, AScannerWithTheWrongProductIsLeftAlone) {
  const std::optional<std::vector<int>> queued = port_->Plug("--product SCANNER --picture 1");
  ASSERT_TRUE(queued && queued->size() == 1u);
  WriteSettings(false);
  StartService();
  ASSERT_TRUE(WaitUntil([&] { return Counter("descriptor") >= 1; }, 30s)) << port_->Control("status");
  std::this_thread::sleep_for(5s);  // two poll ticks and more
  EXPECT_EQ(Counter("length"), 0) << "nothing is asked of a drive that is not the scanner";
  EXPECT_EQ(Counter("queued"), 1) << "its picture stays on it";
  EXPECT_TRUE(Pulled().empty());
  StopService();
  ExpectEachSavedOnce({}, true);
}

TEST_F(PagewickInWine, ADriveThatTakesTheScannersPlaceBetweenTwoPollsHearsOnlyTheStorageQuery) {
  const std::optional<std::vector<int>> queued = port_->Plug("--picture 1");
  ASSERT_TRUE(queued && queued->size() == 1u);
  WriteSettings(false);
  StartService();
  ASSERT_TRUE(WaitForPulls(1, 1)) << port_->Control("status");

  // Between two polls the driver's drive becomes another product (no device
  // broadcast): the poll reads its descriptor and sends it nothing more.
  const std::optional<std::vector<int>> other = port_->Plug("--product CARDREADER --picture 8");
  ASSERT_TRUE(other && other->size() == 1u);
  ASSERT_TRUE(WaitUntil([&] { return Counter("descriptor") >= 1; }, 30s)) << port_->Control("status");
  std::this_thread::sleep_for(5s);  // two poll ticks and more
  EXPECT_EQ(Counter("inquiry"), 0) << port_->Control("status");
  EXPECT_EQ(Counter("computer"), 0);
  EXPECT_EQ(Counter("card"), 0);
  EXPECT_EQ(Counter("length"), 0);
  EXPECT_EQ(Counter("queued"), 1) << "its picture stays on it";
  StopService();
  ExpectEachSavedOnce({port_->Image((*queued)[0])}, true);
}

}  // namespace
}  // namespace pw::wineworld
