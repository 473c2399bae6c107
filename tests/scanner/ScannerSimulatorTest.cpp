// The simulator's own behaviour, driven through the channel: image queue,
// chunk policies, the end marker, faults and the scanner's pictures.
#include "tools/scanner-sim/ScannerPicture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/scanner/ScannerFixture.h"

namespace pw::test {
namespace {

using scanner::PassThroughBuffer;
using scanner::ScannerCommand;
using scanner::SendScannerCommand;
using Mode = sim::ScannerSimulator::Mode;

scanner::LengthReply Query(const platform::DeviceHandle& device, PassThroughBuffer& buffer, std::uint32_t offset) {
  EXPECT_TRUE(SendScannerCommand(device, buffer, ScannerCommand::LengthQueryCommand, offset).ok());
  return scanner::ReadLengthReply(buffer);
}

TEST_F(ScannerFixture, ImagesAreAnnouncedOnlyInComputerMode) {
  simulator->QueueImage(PatternImage(5000, 1));
  platform::DeviceHandle device = OpenVolume();
  PassThroughBuffer buffer;
  EXPECT_EQ(Query(device, buffer, 0).length, 0) << "a fresh scanner is in neither mode";
  ASSERT_TRUE(scanner::RunScannerRequest(device, scanner::ScannerRequestKind::RequestCardMode));
  EXPECT_EQ(Query(device, buffer, 0).length, 0);
  ASSERT_TRUE(scanner::RunScannerRequest(device, scanner::ScannerRequestKind::RequestComputerMode));
  EXPECT_GT(Query(device, buffer, 0).length, 0);
  simulator->HoldImages(true);
  EXPECT_EQ(Query(device, buffer, 0).length, 0);
}

struct PolicyCase {
  const char* name;
  sim::ChunkPolicy policy;
  std::size_t imageSize;
};

class ChunkPolicies : public ScannerFixture, public ::testing::WithParamInterface<PolicyCase> {};

TEST_P(ChunkPolicies, DeliverTheImageByteForByteAndThenTheNextOne) {
  const PolicyCase& c = GetParam();
  simulator->SetMode(Mode::Computer);
  simulator->SetChunkPolicy(c.policy);
  const std::vector<std::byte> first = PatternImage(c.imageSize, 11);
  const std::vector<std::byte> second = PatternImage(777, 12);
  simulator->QueueImage(first);
  simulator->QueueImage(second);
  platform::DeviceHandle device = OpenVolume();

  EXPECT_EQ(PullOverChannel(device), first);
  EXPECT_EQ(simulator->QueuedImages(), 1u) << "the image leaves the queue with its end marker";
  EXPECT_EQ(PullOverChannel(device), second);
  EXPECT_EQ(simulator->ImagesDelivered(), 2u);
  EXPECT_EQ(PullOverChannel(device), std::nullopt) << "nothing waits any more";
  for (const sim::RecordedRequest& r : simulator->RequestsOf(sim::RequestKind::ChunkRead)) {
    const std::uint32_t n = r.outputSize - 80;
    EXPECT_GE(n, 1u);
    EXPECT_LE(n, 524288u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Policies, ChunkPolicies,
    ::testing::Values(PolicyCase{"Fixed64K", sim::ChunkPolicy::Fixed(65536), 1'000'000},
                      PolicyCase{"FixedLargest", sim::ChunkPolicy::Fixed(524288), 1'200'000},
                      // Small chunks, as USB stacks that cap one transfer deliver them.
                      PolicyCase{"Fixed4K", sim::ChunkPolicy::Fixed(4096), 50'000},
                      PolicyCase{"Random", sim::ChunkPolicy::Random(42, 1, 300000), 2'000'000},
                      // A 0 in the middle: "nothing yet", then the transfer goes on.
                      PolicyCase{"ScriptWithPause", sim::ChunkPolicy::Script({1000, 0, 0, 2000, 500}), 10'000},
                      PolicyCase{"OneByte", sim::ChunkPolicy::Fixed(1), 1}),
    [](const ::testing::TestParamInfo<PolicyCase>& p) { return std::string(p.param.name); });

TEST_F(ScannerFixture, ChunkReadsDeliverFromTheOffsetOfTheLastLengthQuery) {
  simulator->SetMode(Mode::Computer);
  simulator->SetChunkPolicy(sim::ChunkPolicy::Fixed(100));
  const std::vector<std::byte> image = PatternImage(1000, 2);
  simulator->QueueImage(image);
  platform::DeviceHandle device = OpenVolume();
  PassThroughBuffer buffer;
  ASSERT_EQ(Query(device, buffer, 300).length, 100);
  for (int repeat = 0; repeat < 2; ++repeat) {  // a repeated read delivers the same bytes
    ASSERT_TRUE(SendScannerCommand(device, buffer, ScannerCommand::ChunkReadCommand, 100).ok());
    EXPECT_TRUE(std::equal(image.begin() + 300, image.begin() + 400, buffer.Data().begin()));
  }
  EXPECT_EQ(Query(device, buffer, 950).length, 50) << "never beyond the image's end";
  EXPECT_TRUE(Query(device, buffer, 1000).endOfImage);
  EXPECT_EQ(Query(device, buffer, 0).length, 0) << "the delivered image is gone";
}

TEST_F(ScannerFixture, AnEmptyImageAnswersTheMarkerTwiceThenLeaves) {
  simulator->SetMode(Mode::Computer);
  simulator->QueueImage({});
  platform::DeviceHandle device = OpenVolume();
  PassThroughBuffer buffer;
  // The first query of a pull does not look for the marker: the pull starts,
  // and its next query for offset 0 sees the marker and ends with an empty file.
  EXPECT_TRUE(Query(device, buffer, 0).endOfImage);
  EXPECT_TRUE(Query(device, buffer, 0).endOfImage);
  EXPECT_EQ(Query(device, buffer, 0).length, 0);
  EXPECT_EQ(simulator->ImagesDelivered(), 1u);
}

// An empty picture file (the simulator's --image option) is an empty image.
TEST_F(ScannerFixture, AnEmptyImageFileQueuesAnEmptyImage) {
  const std::filesystem::path empty = world.Root() / "empty.jpg";
  std::ofstream(empty, std::ios::binary).close();
  simulator->SetMode(Mode::Computer);
  simulator->QueueImageFile(empty);
  ASSERT_EQ(simulator->QueuedImages(), 1u);
  platform::DeviceHandle device = OpenVolume();
  PassThroughBuffer buffer;
  EXPECT_TRUE(Query(device, buffer, 0).endOfImage);
  EXPECT_TRUE(Query(device, buffer, 0).endOfImage);
  EXPECT_EQ(simulator->ImagesDelivered(), 1u);
}

TEST_F(ScannerFixture, TimeoutsHitTheChosenRequestsWithoutEffectOnTheDevice) {
  simulator->SetMode(Mode::Computer);
  simulator->SetChunkPolicy(sim::ChunkPolicy::Fixed(1000));
  const std::vector<std::byte> image = PatternImage(3000, 4);
  simulator->QueueImage(image);
  // The second chunk read times out three times; the fourth attempt delivers.
  simulator->AddFault({sim::RequestKind::ChunkRead, 1, 3, platform::error::kSemTimeout});
  platform::DeviceHandle device = OpenVolume();
  PassThroughBuffer buffer;
  ASSERT_EQ(Query(device, buffer, 0).length, 1000);
  ASSERT_TRUE(SendScannerCommand(device, buffer, ScannerCommand::ChunkReadCommand, 1000).ok());
  ASSERT_EQ(Query(device, buffer, 1000).length, 1000);
  for (int attempt = 0; attempt < 3; ++attempt) {
    const platform::Result<void> timedOut = SendScannerCommand(device, buffer, ScannerCommand::ChunkReadCommand, 1000);
    EXPECT_FALSE(timedOut.ok());
    EXPECT_EQ(timedOut.error(), platform::error::kSemTimeout);
  }
  ASSERT_TRUE(SendScannerCommand(device, buffer, ScannerCommand::ChunkReadCommand, 1000).ok());
  EXPECT_TRUE(std::equal(image.begin() + 1000, image.begin() + 2000, buffer.Data().begin()));
}

TEST_F(ScannerFixture, AnErrorFromAChosenRequestOnEndsEverything) {
  simulator->SetMode(Mode::Computer);
  simulator->QueueImage(PatternImage(100000, 4));
  simulator->AddFault({sim::RequestKind::Any, 3, sim::kForever, platform::error::kGenFailure});
  platform::DeviceHandle device = OpenVolume();
  EXPECT_EQ(PullOverChannel(device), std::nullopt);
  const auto records = simulator->Requests();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_TRUE(records[2].result.ok);
  EXPECT_EQ(records[3].result.error, platform::error::kGenFailure);
}

TEST_F(ScannerFixture, RandomTimeoutsFollowTheirSeed) {
  auto run = [](std::uint64_t seed) {
    hostworld::World* current = hostworld::World::CurrentOrNull();
    auto fresh = std::make_shared<sim::ScannerSimulator>();
    current->AttachDevice('E', fresh);
    fresh->AddRandomFault({sim::RequestKind::Inquiry, 0.5, seed, platform::error::kSemTimeout});
    platform::DeviceHandle device = OpenVolume();
    PassThroughBuffer buffer;
    std::string pattern;
    for (int i = 0; i < 64; ++i) {
      pattern += SendScannerCommand(device, buffer, ScannerCommand::InquiryRequest).ok() ? '.' : 'T';
    }
    return pattern;
  };
  const std::string a = run(7);
  EXPECT_EQ(a, run(7));
  EXPECT_NE(a, run(8));
  EXPECT_NE(a.find('T'), std::string::npos);
  EXPECT_NE(a.find('.'), std::string::npos);
}

TEST_F(ScannerFixture, UnpluggingMidTransferFailsEveryLaterRequest) {
  simulator->SetMode(Mode::Computer);
  simulator->SetChunkPolicy(sim::ChunkPolicy::Fixed(10000));
  simulator->QueueImage(PatternImage(100000, 4));
  simulator->PlanUnplug({sim::RequestKind::ChunkRead, 3});
  simulator->SetUnplugHandler([this] { world.DetachDevice('E'); });
  platform::DeviceHandle device = OpenVolume();
  EXPECT_EQ(PullOverChannel(device), std::nullopt);
  EXPECT_TRUE(simulator->Unplugged());
  EXPECT_EQ(simulator->RequestsOf(sim::RequestKind::ChunkRead).size(), 3u);
  EXPECT_FALSE(world.FindDrive('E')->device) << "the handler took the device off the drive";
  PassThroughBuffer buffer;
  EXPECT_EQ(SendScannerCommand(device, buffer, ScannerCommand::InquiryRequest).error(),
            platform::error::kDeviceNotConnected);
}

TEST_F(ScannerFixture, ADriverRejectsRequestsWhoseBuffersDoNotHoldTheirData) {
  platform::DeviceHandle device = OpenVolume();
  PassThroughBuffer buffer;
  ASSERT_TRUE(SendScannerCommand(device, buffer, ScannerCommand::InquiryRequest).ok());
  // The same header with an output too small for its 80 data bytes.
  std::vector<std::byte> request(buffer.Header().begin(), buffer.Header().end());
  request.resize(100);
  const platform::IoControlResult result =
      platform::DeviceIoControl(device, platform::kIoctlScsiPassThrough, request.data(), 44, request.data(), 100);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, platform::error::kInvalidParameter);
  const platform::IoControlResult shortHeader =
      platform::DeviceIoControl(device, platform::kIoctlScsiPassThrough, request.data(), 40, request.data(), 100);
  EXPECT_EQ(shortHeader.error, platform::error::kInvalidParameter);
}

TEST_F(ScannerFixture, InquiryDataCarriesTheIdentity) {
  platform::DeviceHandle device = OpenVolume();
  PassThroughBuffer buffer;
  ASSERT_TRUE(SendScannerCommand(device, buffer, ScannerCommand::InquiryRequest).ok());
  const auto data = buffer.Data();
  EXPECT_EQ(std::to_integer<int>(data[1]), 0x80) << "removable";
  EXPECT_EQ(std::to_integer<int>(data[4]), 31) << "36 bytes in all";
  const std::string product(reinterpret_cast<const char*>(data.data()) + 16, 16);
  EXPECT_EQ(product, "SCAN            ");
}

TEST(ScannerPicture, CarriesOrientationAndDateTimeAtTheProbedBytes) {
  for (int orientation : {1, 3, 6, 8}) {
    sim::PictureRecipe details;
    details.orientation = static_cast<std::uint16_t>(orientation);
    details.dateTime = "2023:12:24 18:30:05";
    const std::vector<std::byte> picture = sim::MakeScannerPicture(details);
    ASSERT_GT(picture.size(), 400u);
    const auto at = [&](std::size_t i) { return std::to_integer<int>(picture[i]); };
    EXPECT_EQ(at(0), 0xFF);
    EXPECT_EQ(at(1), 0xD8);
    EXPECT_EQ(at(2), 0xFF);
    EXPECT_EQ(at(3), 0xE1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(picture.data()) + 6, 4), "Exif");
    EXPECT_EQ(at(12), 'I');
    EXPECT_EQ(at(13), 'I');
    EXPECT_EQ(at(20), 7) << "seven IFD0 entries";
    EXPECT_EQ(at(22), 0x12);
    EXPECT_EQ(at(23), 0x01) << "Orientation first";
    EXPECT_EQ(at(sim::kOrientationByte), orientation);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(picture.data()) + sim::kDateTimeFirstByte, 19),
              "2023:12:24 18:30:05");
    EXPECT_EQ(at(sim::kDateTimeFirstByte + 19), 0);
    // The JPEG stream goes on after the APP1 block and ends with EOI.
    EXPECT_EQ(at(146), 0xFF);
    EXPECT_EQ(at(picture.size() - 2), 0xFF);
    EXPECT_EQ(at(picture.size() - 1), 0xD9);
  }
}

TEST(ScannerPicture, APlainPictureHasNoExifBlock) {
  sim::PictureRecipe details;
  details.exif = false;
  const std::vector<std::byte> picture = sim::MakeScannerPicture(details);
  ASSERT_GT(picture.size(), 100u);
  EXPECT_EQ(std::to_integer<int>(picture[3]), 0xE0) << "JFIF APP0";
  EXPECT_THROW(sim::MakeScannerPicture({0, 10}), std::runtime_error);
}

}  // namespace
}  // namespace pw::test
