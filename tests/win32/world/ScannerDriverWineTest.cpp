// The scanner driver under Wine, through the real GetLogicalDrives,
// GetDriveTypeA, CreateFileA and DeviceIoControl: the drive it presents, the
// requests it carries to the simulator and back, and its strictness with a
// port that fails, is unplugged, or answers out of form. No case may hang the
// caller.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/StorageDevice.h"
#include "scanner/PassThroughBuffer.h"
#include "scanner/ScannerChannel.h"
#include "scanner/StorageDescriptor.h"
#include "tests/win32/world/WineWorld.h"

namespace pw::wineworld {
namespace {

using namespace std::chrono_literals;
namespace pf = platform;
using scanner::ScannerCommand;

constexpr std::uint32_t kErrorSemTimeout = 121;
constexpr std::uint32_t kErrorDeviceNotConnected = 1167;

class ScannerDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    world_ = FindWorld();
    if (!world_) GTEST_SKIP() << "not in the Wine world of scripts/wine-world.sh";
    port_.emplace(*world_);
    ASSERT_TRUE(port_->Plug("--mode computer"));
  }
  void TearDown() override {
    if (port_) (void)port_->Control("plug");
  }

  pf::DeviceHandle Open() const {
    pf::Result<pf::DeviceHandle> opened = pf::OpenDevice(std::string("\\\\?\\") + world_->drive + ":",
                                                 pf::access::kGenericRead | pf::access::kGenericWrite,
                                                 pf::share::kRead | pf::share::kWrite);
    EXPECT_TRUE(opened.ok()) << "error " << opened.error();
    return std::move(opened).value_or(pf::DeviceHandle());
  }

  pf::Result<void> Inquiry(const pf::DeviceHandle& device) {
    return scanner::SendScannerCommand(device, buffer_, ScannerCommand::InquiryRequest);
  }

  // Runs the request and checks that it came back well within the driver's
  // own reply deadline: nothing waits for a reply that cannot come.
  template <typename Request>
  pf::Result<void> Timed(Request request, std::chrono::milliseconds limit) {
    const auto start = std::chrono::steady_clock::now();
    const pf::Result<void> outcome = request();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LE(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), limit.count());
    return outcome;
  }

  std::optional<WorldPaths> world_;
  std::optional<SimulatorPort> port_;
  scanner::PassThroughBuffer buffer_;
};

TEST_F(ScannerDriver, PresentsARemovableDriveWithTheScannersDescriptor) {
  const std::uint32_t bit = 1u << (world_->drive - 'A');
  EXPECT_NE(pf::GetLogicalDrives() & bit, 0u);
  EXPECT_EQ(pf::GetDriveType(std::string(1, world_->drive) + ":\\"), pf::DriveType::Removable);
  const pf::DeviceHandle device = Open();
  scanner::StorageDescriptorBuffer descriptor;
  ASSERT_TRUE(scanner::QueryStorageDescriptor(device, descriptor));
  EXPECT_EQ(scanner::ProductText(descriptor), "SCAN");
  EXPECT_EQ(scanner::RevisionText(descriptor), "1000");

  ASSERT_TRUE(port_->Plug("--product Other --absent revision"));
  ASSERT_TRUE(scanner::QueryStorageDescriptor(device, descriptor));
  EXPECT_EQ(scanner::ProductText(descriptor), "Other") << "each query reaches the device plugged now";
  EXPECT_EQ(scanner::RevisionText(descriptor), "(NULL)");
}

TEST_F(ScannerDriver, CarriesAPullFromLengthQueryToEndMarker) {
  const std::optional<std::vector<int>> queued = port_->Plug("--mode computer --chunk fixed:65536 --image-size 150000");
  ASSERT_TRUE(queued && queued->size() == 1u);
  const Bytes image = port_->Image((*queued)[0]);
  const pf::DeviceHandle device = Open();
  Bytes pulled;
  for (int request = 0; request < 20; ++request) {
    ASSERT_TRUE(scanner::SendScannerCommand(device, buffer_, ScannerCommand::LengthQueryCommand,
                                            static_cast<std::uint32_t>(pulled.size())).ok());
    const scanner::LengthReply reply = scanner::ReadLengthReply(buffer_);
    if (reply.endOfImage) break;
    ASSERT_GT(reply.length, 0);
    ASSERT_TRUE(scanner::SendScannerCommand(device, buffer_, ScannerCommand::ChunkReadCommand,
                                            static_cast<std::uint32_t>(reply.length)).ok());
    const std::byte* data = buffer_.Data().data();
    pulled.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(reply.length));
  }
  EXPECT_EQ(pulled, image);
  EXPECT_EQ(port_->Status()["delivered"], 1);
}

TEST_F(ScannerDriver, PassesTheDevicesErrorCodesOn) {
  ASSERT_TRUE(port_->Plug("--fail inquiry:0:1 --fail inquiry:1:1:31"));
  const pf::DeviceHandle device = Open();
  pf::Result<void> outcome = Inquiry(device);
  EXPECT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.error(), kErrorSemTimeout);
  outcome = Inquiry(device);
  EXPECT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.error(), 31u);
  EXPECT_TRUE(Inquiry(device).ok());
}

TEST_F(ScannerDriver, AnEmptyPortAnswersDeviceNotConnectedAndAFreshPlugWorksOnTheSameHandle) {
  const pf::DeviceHandle device = Open();
  ASSERT_EQ(port_->Control("unplug"), "ok");
  const pf::Result<void> outcome = Inquiry(device);
  EXPECT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.error(), kErrorDeviceNotConnected);
  ASSERT_TRUE(port_->Plug(""));
  EXPECT_TRUE(Inquiry(device).ok());
}

TEST_F(ScannerDriver, RefusesMalformedRepliesAndGoesOnWithTheNextRequest) {
  const pf::DeviceHandle device = Open();
  // The reply claims more bytes than the caller's buffer holds; then a wrong
  // magic; then the answer to another request.
  for (const char* garble : {"count", "magic", "sequence"}) {
    SCOPED_TRACE(garble);
    ASSERT_EQ(port_->Control(std::string("garble ") + garble), "ok");
    buffer_.Clear();
    const pf::Result<void> outcome = Timed([&] { return Inquiry(device); }, 2000ms);
    EXPECT_FALSE(outcome.ok());
    EXPECT_NE(outcome.error(), 0u);
    EXPECT_EQ(buffer_.Data()[0], std::byte{0}) << "nothing of a refused reply reaches the caller";
    EXPECT_TRUE(Inquiry(device).ok()) << "the next request is answered again";
  }
}

TEST_F(ScannerDriver, AReplyThatNeverComesTimesOut) {
  const pf::DeviceHandle device = Open();
  ASSERT_EQ(port_->Control("garble silence"), "ok");
  const pf::Result<void> outcome = Timed([&] { return Inquiry(device); }, 15000ms);
  EXPECT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.error(), kErrorSemTimeout);
  EXPECT_TRUE(Inquiry(device).ok()) << "the next request is answered again";
}

}  // namespace
}  // namespace pw::wineworld
