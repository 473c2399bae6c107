// A scanner served over a Unix socket: the framing round trip, plugging and
// unplugging through <world root>/devices, and the pagewick-scanner-sim executable.
#include "platform/hostworld/DeviceSocket.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/Messages.h"
#include "platform/Threads.h"
#include "platform/Windows.h"
#include "scanner/StorageDescriptor.h"
#include "tests/scanner/ScannerFixture.h"
#include "tests/scanner/SimulatorProcess.h"
#include "tools/scanner-sim/SimulatorServer.h"

namespace pw::test {
namespace {

using namespace std::chrono_literals;
namespace error = platform::error;
constexpr std::uint32_t kDriveE = 1u << ('E' - 'A');

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline = 10s) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return condition();
}

TEST(DeviceSocketFraming, HeadersRoundTripAndRejectBadFrames) {
  namespace ds = hostworld::device_socket;
  std::byte frame[ds::kHeaderSize];
  ds::EncodeRequest({platform::kIoctlScsiPassThrough, 44, 524368}, frame);
  ds::RequestHeader request;
  ASSERT_TRUE(ds::DecodeRequest(frame, request));
  EXPECT_EQ(request.controlCode, platform::kIoctlScsiPassThrough);
  EXPECT_EQ(request.inputSize, 44u);
  EXPECT_EQ(request.outputSize, 524368u);
  ds::ReplyHeader reply;
  EXPECT_FALSE(ds::DecodeReply(frame, reply)) << "a request is not a reply";
  ds::EncodeRequest({1, ds::kMaxPayload + 1, 0}, frame);
  EXPECT_FALSE(ds::DecodeRequest(frame, request)) << "oversized input";
  ds::EncodeReply({false, error::kSemTimeout, 80}, frame);
  ASSERT_TRUE(ds::DecodeReply(frame, reply));
  EXPECT_FALSE(reply.ok);
  EXPECT_EQ(reply.error, error::kSemTimeout);
  EXPECT_EQ(reply.bytesReturned, 80u);
}

class ServedScanner : public ::testing::Test {
 protected:
  std::unique_ptr<sim::SimulatorServer> Serve(char letter, std::shared_ptr<sim::ScannerSimulator> device) {
    return std::make_unique<sim::SimulatorServer>(device, hostworld::device_socket::SocketPathFor(world.Root(), letter));
  }

  hostworld::World world;
  std::shared_ptr<sim::ScannerSimulator> simulator = std::make_shared<sim::ScannerSimulator>();
};

TEST_F(ServedScanner, APluggedSocketBecomesARemovableDrive) {
  EXPECT_EQ(platform::GetLogicalDrives() & kDriveE, 0u);
  auto server = Serve('E', simulator);
  EXPECT_NE(platform::GetLogicalDrives() & kDriveE, 0u);
  EXPECT_EQ(platform::GetDriveType("E:\\"), platform::DriveType::Removable);

  platform::DeviceHandle device = OpenVolume();
  scanner::StorageDescriptorBuffer descriptor;
  ASSERT_TRUE(scanner::QueryStorageDescriptor(device, descriptor));
  EXPECT_EQ(scanner::ProductText(descriptor), "SCAN");
  EXPECT_EQ(scanner::RevisionText(descriptor), "1000");
}

TEST_F(ServedScanner, RequestsArriveWithTheSameBytesAsInProcess) {
  auto server = Serve('E', simulator);
  platform::DeviceHandle device = OpenVolume();
  ASSERT_TRUE(scanner::RunScannerRequest(device, scanner::ScannerRequestKind::RequestComputerMode));
  scanner::PassThroughBuffer buffer;
  ASSERT_TRUE(scanner::SendScannerCommand(device, buffer, scanner::ScannerCommand::LengthQueryCommand, 0x00012345).ok());

  // The same requests to an in-process twin on another drive.
  auto twin = std::make_shared<sim::ScannerSimulator>();
  world.AddDrive('F', platform::DriveType::Removable);
  world.AttachDevice('F', twin);
  platform::DeviceHandle local = OpenVolume("\\\\?\\F:");
  ASSERT_TRUE(scanner::RunScannerRequest(local, scanner::ScannerRequestKind::RequestComputerMode));
  ASSERT_TRUE(scanner::SendScannerCommand(local, buffer, scanner::ScannerCommand::LengthQueryCommand, 0x00012345).ok());

  const auto served = simulator->Requests();
  const auto inProcess = twin->Requests();
  ASSERT_EQ(served.size(), inProcess.size());
  for (std::size_t i = 0; i < served.size(); ++i) {
    EXPECT_EQ(served[i].controlCode, inProcess[i].controlCode);
    EXPECT_EQ(served[i].input, inProcess[i].input) << "request " << i;
    EXPECT_EQ(served[i].outputSize, inProcess[i].outputSize);
  }
}

TEST_F(ServedScanner, AWholeImageCrossesTheSocket) {
  simulator->SetMode(sim::ScannerSimulator::Mode::Computer);
  simulator->SetChunkPolicy(sim::ChunkPolicy::Random(3, 1, 524288));
  const std::vector<std::byte> image = PatternImage(3'000'000, 9);
  simulator->QueueImage(image);
  auto server = Serve('E', simulator);
  platform::DeviceHandle device = OpenVolume();
  EXPECT_EQ(PullOverChannel(device), image);
}

TEST_F(ServedScanner, ErrorsComeBackAsTheDeviceGaveThem) {
  simulator->AddFault({sim::RequestKind::Inquiry, 0, 1, error::kSemTimeout});
  auto server = Serve('E', simulator);
  platform::DeviceHandle device = OpenVolume();
  scanner::PassThroughBuffer buffer;
  const platform::Result<void> outcome = scanner::SendScannerCommand(device, buffer, scanner::ScannerCommand::InquiryRequest);
  EXPECT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.error(), error::kSemTimeout);
  EXPECT_TRUE(scanner::SendScannerCommand(device, buffer, scanner::ScannerCommand::InquiryRequest).ok());
}

// A request the device holds is cancelled from another thread
// (CancelSynchronousIo): it ends at once with 995, and the late reply is never
// taken for the next request's answer.
TEST_F(ServedScanner, ACancelEndsAHeldRequestAtOnceAndTheNextGetsItsOwnAnswer) {
  simulator->SetDelay(sim::RequestKind::Inquiry, 1500ms);
  simulator->SetMode(sim::ScannerSimulator::Mode::Computer);
  simulator->QueueImage(PatternImage(5000, 3));
  auto server = Serve('E', simulator);
  platform::DeviceHandle device = OpenVolume();
  platform::ThreadHandle requester;
  std::atomic<bool> ready{false};
  platform::Result<void> outcome = platform::Success();
  std::chrono::milliseconds took{0};
  std::thread thread([&] {
    requester = platform::OpenCurrentThread();
    ready = true;
    scanner::PassThroughBuffer buffer;
    const auto start = std::chrono::steady_clock::now();
    outcome = scanner::SendScannerCommand(device, buffer, scanner::ScannerCommand::InquiryRequest);
    took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  });
  ASSERT_TRUE(WaitFor([&] { return ready.load(); }));
  std::this_thread::sleep_for(300ms);  // the requester is waiting for the reply by now
  EXPECT_TRUE(platform::CancelSynchronousIo(requester));
  thread.join();
  ASSERT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.error(), error::kOperationAborted);
  EXPECT_LT(took, 1000ms);

  scanner::PassThroughBuffer buffer;
  ASSERT_TRUE(scanner::SendScannerCommand(device, buffer, scanner::ScannerCommand::LengthQueryCommand, 0).ok());
  EXPECT_EQ(scanner::ReadLengthReply(buffer).length, 5000) << "the length query's own answer";
}

TEST_F(ServedScanner, UnpluggingRemovesTheDriveAndFailsOpenHandles) {
  auto server = Serve('E', simulator);
  platform::DeviceHandle device = OpenVolume();
  scanner::PassThroughBuffer buffer;
  ASSERT_TRUE(scanner::SendScannerCommand(device, buffer, scanner::ScannerCommand::InquiryRequest).ok());

  server->Unplug();
  EXPECT_TRUE(WaitFor([&] {
    return scanner::SendScannerCommand(device, buffer, scanner::ScannerCommand::InquiryRequest).error() ==
           error::kDeviceNotConnected;
  }));
  EXPECT_EQ(platform::GetLogicalDrives() & kDriveE, 0u);
  EXPECT_EQ(platform::OpenDevice("\\\\?\\E:", kReadWrite, kShareReadWrite).error(), error::kFileNotFound);

  // Plugged in again under the same letter: a new drive, the old handle stays dead.
  server = Serve('E', simulator);
  EXPECT_NE(platform::GetLogicalDrives() & kDriveE, 0u);
  EXPECT_EQ(scanner::SendScannerCommand(device, buffer, scanner::ScannerCommand::InquiryRequest).error(),
            error::kDeviceNotConnected);
  platform::DeviceHandle fresh = OpenVolume();
  EXPECT_TRUE(scanner::SendScannerCommand(fresh, buffer, scanner::ScannerCommand::InquiryRequest).ok());
}

TEST_F(ServedScanner, AnUnplugFaultMidTransferEndsThePull) {
  simulator->SetMode(sim::ScannerSimulator::Mode::Computer);
  simulator->SetChunkPolicy(sim::ChunkPolicy::Fixed(10000));
  simulator->QueueImage(PatternImage(100000, 4));
  simulator->PlanUnplug({sim::RequestKind::ChunkRead, 2});
  auto server = Serve('E', simulator);
  simulator->SetUnplugHandler([raw = server.get()] { raw->Unplug(); });
  platform::DeviceHandle device = OpenVolume();
  EXPECT_EQ(PullOverChannel(device), std::nullopt);
  EXPECT_EQ(simulator->RequestsOf(sim::RequestKind::ChunkRead).size(), 2u);
  EXPECT_TRUE(WaitFor([] { return (platform::GetLogicalDrives() & kDriveE) == 0; }));
}

TEST_F(ServedScanner, ASocketOnAnExistingRemovableDriveOnlyAttaches) {
  world.AddDrive('E', platform::DriveType::Removable);
  world.AddDrive('F', platform::DriveType::Fixed);
  auto server = Serve('E', simulator);
  auto other = Serve('F', std::make_shared<sim::ScannerSimulator>());
  const hostworld::ServedDeviceChanges changes = hostworld::RefreshServedDevices(world);
  EXPECT_EQ(changes.arrived, "E") << "a fixed drive's letter is taken";
  server->Unplug();
  EXPECT_EQ(hostworld::RefreshServedDevices(world).removed, "E");
  ASSERT_TRUE(world.FindDrive('E').has_value()) << "the drive was there before the device";
  EXPECT_FALSE(world.FindDrive('E')->device);
}

class DeviceChangeRecorder final : public platform::WindowHandler {
 public:
  std::optional<std::intptr_t> HandleMessage(platform::WindowHandle, std::uint32_t message, std::uintptr_t wParam,
                                             std::intptr_t) override {
    if (message == platform::wm::kDeviceChange) events.push_back(wParam);
    return std::nullopt;
  }
  std::vector<std::uintptr_t> events;
};

TEST_F(ServedScanner, TheWatcherBroadcastsPlugAndUnplugToTopLevelWindows) {
  platform::EnsureMessageQueue();
  ASSERT_TRUE(platform::RegisterWindowClass("DeviceChangeRecorder").ok());
  DeviceChangeRecorder recorder;
  platform::WindowParams details;
  details.className = "DeviceChangeRecorder";
  details.title = "recorder";
  const auto window = platform::Window::Create(details, recorder).value();
  hostworld::ServedDeviceWatcher watcher(world, 5ms);
  auto pumpUntil = [&](std::size_t count) {
    return WaitFor([&] {
      while (std::optional<platform::Message> message = platform::PeekMessage()) platform::DispatchMessage(*message);
      return recorder.events.size() >= count;
    });
  };

  auto server = Serve('E', simulator);
  ASSERT_TRUE(pumpUntil(1));
  EXPECT_EQ(recorder.events[0], platform::kDbtDeviceArrival);
  EXPECT_EQ(world.FindDrive('E')->type, platform::DriveType::Removable);
  server->Unplug();
  ASSERT_TRUE(pumpUntil(2));
  EXPECT_EQ(recorder.events[1], platform::kDbtDeviceRemoveComplete);
  EXPECT_FALSE(world.FindDrive('E').has_value());
  EXPECT_EQ(recorder.events.size(), 2u) << "one broadcast per plug and per unplug";
}

#ifdef PAGEWICK_SCANNER_SIM
TEST_F(ServedScanner, TheExecutableServesADriveUntilItStops) {
  const std::string root = world.Root().string();
  SimulatorProcess simulatorProcess({"--root", root, "--drive", "g", "--mode", "computer", "--image-size",
                                     "200000", "--chunk", "fixed:30000", "--product", "scan"});
  ASSERT_TRUE(simulatorProcess.Started());

  constexpr std::uint32_t kDriveG = 1u << ('G' - 'A');
  ASSERT_TRUE(WaitFor([] { return (platform::GetLogicalDrives() & kDriveG) != 0; }));
  {
    platform::DeviceHandle device = OpenVolume("\\\\?\\G:");
    scanner::StorageDescriptorBuffer descriptor;
    ASSERT_TRUE(scanner::QueryStorageDescriptor(device, descriptor));
    EXPECT_EQ(scanner::ProductText(descriptor), "scan");
    const auto image = PullOverChannel(device);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), 200000u);
  }
  simulatorProcess.Signal(SIGTERM);
  const std::optional<int> status = simulatorProcess.WaitForExit(std::chrono::seconds(10));
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  // The world's device watcher notices the socket gone at its next look.
  EXPECT_TRUE(WaitFor([] { return (platform::GetLogicalDrives() & kDriveG) == 0; }))
      << "stopping the simulator unplugs the drive";
}
#endif

}  // namespace
}  // namespace pw::test
