// The bytes of every request on the wire, the zeroing of the buffer and the
// decoding of the length reply, checked at the simulator through the host
// platform backend.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/ByteOrder.h"
#include "tests/scanner/ScannerFixture.h"

namespace pw::test {
namespace {

using scanner::PassThroughBuffer;
using scanner::ScannerCommand;
using scanner::SendScannerCommand;

std::uint8_t Byte(const std::vector<std::byte>& bytes, std::size_t at) { return std::to_integer<std::uint8_t>(bytes[at]); }

bool AllZero(std::span<const std::byte> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::byte b) { return b == std::byte{0}; });
}

TEST(PassThroughBufferLayout, HasTheFixedSizesAndOffsets) {
  EXPECT_EQ(PassThroughBuffer::kHeaderSize, 44u);
  EXPECT_EQ(PassThroughBuffer::kSenseOffset, 48u);
  EXPECT_EQ(PassThroughBuffer::kSenseSize, 32u);
  EXPECT_EQ(PassThroughBuffer::kDataOffset, 80u);
  EXPECT_EQ(PassThroughBuffer::kDataSize, 524288u);
  EXPECT_EQ(PassThroughBuffer::kSize, 524368u);
  PassThroughBuffer buffer;
  EXPECT_EQ(buffer.Bytes().size(), 524368u);
  EXPECT_TRUE(AllZero(buffer.Bytes()));
}

TEST(PassThroughBufferLayout, ClearZeroesEverythingThatWasHandedOut) {
  PassThroughBuffer buffer;
  auto span = buffer.BeginRequest(PassThroughBuffer::kSize);
  std::fill(span.begin(), span.end(), std::byte{0x5A});
  buffer.EndRequest(true, PassThroughBuffer::kSize);
  buffer.PutWord32(40, 0xFFFFFFFFu);
  buffer.Clear();
  EXPECT_TRUE(AllZero(buffer.Bytes()));

  // A later, smaller span is cleared just as well.
  auto small = buffer.BeginRequest(84);
  std::fill(small.begin(), small.end(), std::byte{1});
  buffer.EndRequest(true, 84);
  buffer.Clear();
  EXPECT_TRUE(AllZero(buffer.Bytes()));
}

struct WireCase {
  const char* name;
  ScannerCommand command;
  std::uint32_t argument;
  std::array<std::uint8_t, 6> cdb;
  std::uint8_t senseLength;
  std::uint32_t transferLength;
  std::uint32_t outputLength;
};

class ScannerCommandWire : public ScannerFixture, public ::testing::WithParamInterface<WireCase> {};

TEST_P(ScannerCommandWire, SendsTheExactHeaderAndCdb) {
  const WireCase& c = GetParam();
  simulator->SetMode(sim::ScannerSimulator::Mode::Computer);
  simulator->QueueImage(PatternImage(200000, 3));
  platform::DeviceHandle device = OpenVolume();
  PassThroughBuffer buffer;
  // A chunk read needs a length query before it; the record of interest is the last one.
  if (c.command == ScannerCommand::ChunkReadCommand) {
    ASSERT_TRUE(SendScannerCommand(device, buffer, ScannerCommand::LengthQueryCommand, 0).ok());
  }
  ASSERT_TRUE(SendScannerCommand(device, buffer, c.command, c.argument).ok());

  const std::vector<sim::RecordedRequest> records = simulator->Requests();
  ASSERT_FALSE(records.empty());
  const sim::RecordedRequest& r = records.back();
  EXPECT_EQ(r.controlCode, platform::kIoctlScsiPassThrough);
  EXPECT_EQ(r.inputSize, 44u);
  EXPECT_EQ(r.outputSize, c.outputLength);
  ASSERT_EQ(r.input.size(), 44u);
  const std::vector<std::byte>& h = r.input;
  EXPECT_EQ(Byte(h, 0), 44);  // Length, a 16-bit field
  EXPECT_EQ(Byte(h, 1), 0);
  EXPECT_EQ(Byte(h, 2), 0);  // ScsiStatus
  EXPECT_EQ(Byte(h, 3), 0);  // PathId
  EXPECT_EQ(Byte(h, 4), 1);  // TargetId 1, not 0
  EXPECT_EQ(Byte(h, 5), 0);  // Lun
  EXPECT_EQ(Byte(h, 6), 6);  // CdbLength
  EXPECT_EQ(Byte(h, 7), c.senseLength);
  EXPECT_EQ(Byte(h, 8), 1);  // DataIn, also for the commands that move no data
  EXPECT_EQ(Byte(h, 9), 0);
  EXPECT_EQ(Byte(h, 10), 0);
  EXPECT_EQ(Byte(h, 11), 0);
  EXPECT_EQ(platform::GetLe32(h, 12), c.transferLength);
  EXPECT_EQ(platform::GetLe32(h, 16), 2u);   // TimeOutValue, seconds
  EXPECT_EQ(platform::GetLe32(h, 20), 80u);  // DataBufferOffset
  EXPECT_EQ(platform::GetLe32(h, 24), 48u);  // SenseInfoOffset
  for (std::size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(Byte(h, 28 + i), i < 6 ? c.cdb[i] : 0) << "CDB byte " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllRequests, ScannerCommandWire,
    ::testing::Values(
        WireCase{"Inquiry", ScannerCommand::InquiryRequest, 0, {0x12, 0, 0, 0, 0x50, 0}, 0, 80, 160},
        WireCase{"CardMode", ScannerCommand::CardModeCommand, 0, {0x55, 0, 0, 0, 0, 0}, 0, 0, 80},
        WireCase{"ComputerMode", ScannerCommand::ComputerModeCommand, 0, {0x54, 0, 0, 0, 0, 0}, 0, 0, 80},
        // Byte 4 of the length query is the offset's lowest byte, not an allocation length.
        WireCase{"LengthQuery", ScannerCommand::LengthQueryCommand, 0x00012345, {0x52, 0x00, 0x01, 0x23, 0x45, 0}, 32, 4,
                 84},
        WireCase{"LengthQueryHighOffset", ScannerCommand::LengthQueryCommand, 0xA1B2C3D4,
                 {0x52, 0xA1, 0xB2, 0xC3, 0xD4, 0}, 32, 4, 84},
        WireCase{"ChunkRead", ScannerCommand::ChunkReadCommand, 65536, {0x53, 0, 0, 0, 0, 0}, 32, 65536, 65616},
        WireCase{"ChunkReadLargest", ScannerCommand::ChunkReadCommand, 524288, {0x53, 0, 0, 0, 0, 0}, 32, 524288,
                 524368},
        WireCase{"ChunkReadOneByte", ScannerCommand::ChunkReadCommand, 1, {0x53, 0, 0, 0, 0, 0}, 32, 1, 81}),
    [](const ::testing::TestParamInfo<WireCase>& p) { return std::string(p.param.name); });

TEST_F(ScannerFixture, AfterEveryRequestOnlyItsReplyIsLeftInTheBuffer) {
  simulator->SetMode(sim::ScannerSimulator::Mode::Computer);
  simulator->QueueImage(PatternImage(300000, 5));
  simulator->SetChunkPolicy(sim::ChunkPolicy::Script({250000, 1000}));
  platform::DeviceHandle device = OpenVolume();
  PassThroughBuffer buffer;
  // A large chunk fills most of the buffer; the small requests after it must
  // not see any of it, inside or outside their own output span.
  ASSERT_TRUE(SendScannerCommand(device, buffer, ScannerCommand::LengthQueryCommand, 0).ok());
  ASSERT_TRUE(SendScannerCommand(device, buffer, ScannerCommand::ChunkReadCommand, 250000).ok());
  EXPECT_FALSE(AllZero(buffer.Data().first(250000)));
  ASSERT_TRUE(SendScannerCommand(device, buffer, ScannerCommand::LengthQueryCommand, 250000).ok());
  EXPECT_TRUE(AllZero(buffer.Bytes().subspan(84))) << "bytes of the earlier chunk survived";
  ASSERT_TRUE(SendScannerCommand(device, buffer, ScannerCommand::InquiryRequest).ok());
  EXPECT_TRUE(AllZero(buffer.Bytes().subspan(160)));
}

TEST_F(ScannerFixture, AFailedRequestStillStartsFromAZeroedBuffer) {
  simulator->SetMode(sim::ScannerSimulator::Mode::Computer);
  simulator->QueueImage(PatternImage(1000, 5));
  platform::DeviceHandle device = OpenVolume();
  PassThroughBuffer buffer;
  ASSERT_TRUE(SendScannerCommand(device, buffer, ScannerCommand::LengthQueryCommand, 0).ok());
  ASSERT_TRUE(SendScannerCommand(device, buffer, ScannerCommand::ChunkReadCommand, 1000).ok());
  simulator->AddFault({sim::RequestKind::ChunkRead, 1, 1, platform::error::kSemTimeout});
  // The repetition of a timed-out chunk read: the data area reads as zero.
  const platform::Result<void> again = SendScannerCommand(device, buffer, ScannerCommand::ChunkReadCommand, 1000);
  EXPECT_FALSE(again.ok());
  EXPECT_EQ(again.error(), platform::error::kSemTimeout);
  EXPECT_TRUE(AllZero(buffer.Bytes().subspan(44)));
}

TEST_F(ScannerFixture, ChunkLengthsOutsideTheDataAreaAreNeverSent) {
  platform::DeviceHandle device = OpenVolume();
  PassThroughBuffer buffer;
  for (std::uint32_t length : {0u, 524289u, 0x80000000u, 0xFFFFFFFFu}) {
    const platform::Result<void> outcome = SendScannerCommand(device, buffer, ScannerCommand::ChunkReadCommand, length);
    EXPECT_FALSE(outcome.ok()) << length;
    EXPECT_EQ(outcome.error(), platform::error::kInvalidParameter) << length;
  }
  EXPECT_EQ(simulator->RequestCount(), 0u);
}

TEST_F(ScannerFixture, ARequestTheDeviceFailsReportsItsErrorCode) {
  simulator->AddFault({sim::RequestKind::Inquiry, 0, 1, platform::error::kSemTimeout});
  simulator->AddFault({sim::RequestKind::CardMode, 0, sim::kForever, platform::error::kGenFailure});
  platform::DeviceHandle device = OpenVolume();
  PassThroughBuffer buffer;
  const platform::Result<void> inquiry = SendScannerCommand(device, buffer, ScannerCommand::InquiryRequest);
  EXPECT_FALSE(inquiry.ok());
  EXPECT_EQ(inquiry.error(), platform::error::kSemTimeout);
  EXPECT_TRUE(SendScannerCommand(device, buffer, ScannerCommand::InquiryRequest).ok());
  const platform::Result<void> card = SendScannerCommand(device, buffer, ScannerCommand::CardModeCommand);
  EXPECT_FALSE(card.ok());
  EXPECT_EQ(card.error(), platform::error::kGenFailure);
}

// Length replies as the device puts them into data bytes 0-3.
struct LengthCase {
  const char* name;
  std::uint32_t wire;  // big-endian on the wire
  bool endOfImage;
  std::int32_t length;
  bool readable;
};

class LengthReplyDecoding : public ScannerFixture, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(LengthReplyDecoding, ReadsTheFourDataBytes) {
  const LengthCase& c = GetParam();
  simulator->AddLengthOverride({0, c.wire});
  platform::DeviceHandle device = OpenVolume();
  PassThroughBuffer buffer;
  ASSERT_TRUE(SendScannerCommand(device, buffer, ScannerCommand::LengthQueryCommand, 0).ok());
  const scanner::LengthReply reply = scanner::ReadLengthReply(buffer);
  EXPECT_EQ(reply.endOfImage, c.endOfImage);
  EXPECT_EQ(reply.length, c.length);
  EXPECT_EQ(scanner::IsReadableChunkLength(reply.length), c.readable);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, LengthReplyDecoding,
    ::testing::Values(
        LengthCase{"NothingYet", 0x00000000, false, 0, false},
        LengthCase{"Small", 0x00000010, false, 16, true},
        LengthCase{"BigEndian", 0x00012345, false, 0x12345, true},
        LengthCase{"Largest", 0x00080000, false, 524288, true},
        // Above the data area: never read into it.
        LengthCase{"AboveDataArea", 0x00080001, false, 524289, false},
        // Top bit set: negative, no chunk read follows.
        LengthCase{"Negative", 0x80000000, false, INT32_MIN, false},
        LengthCase{"MinusOne", 0xFFFFFFFF, false, -1, false},
        // The marker is not a length, even though its bytes read as one.
        LengthCase{"EndOfImageMarker", 0xCCDDEEFF, true, static_cast<std::int32_t>(0xCCDDEEFFu), false},
        LengthCase{"MarkerBytesReversed", 0xFFEEDDCC, false, static_cast<std::int32_t>(0xFFEEDDCCu), false}),
    [](const ::testing::TestParamInfo<LengthCase>& p) { return std::string(p.param.name); });

TEST_F(ScannerFixture, ACheckConditionReplyCountsAsSuccessWithZeroData) {
  // A chunk read with nothing announced: the device answers CHECK CONDITION,
  // the driver completes the I/O control, and the data area stays zero.
  platform::DeviceHandle device = OpenVolume();
  PassThroughBuffer buffer;
  const platform::Result<void> outcome = SendScannerCommand(device, buffer, ScannerCommand::ChunkReadCommand, 4096);
  EXPECT_TRUE(outcome.ok());
  EXPECT_TRUE(AllZero(buffer.Data().first(4096)));
  EXPECT_EQ(std::to_integer<int>(buffer.Bytes()[2]), 2) << "the driver's ScsiStatus came back in the header";
}

// The sense data of one reply is not part of the next, whose device leaves
// the sense area alone.
TEST_F(ScannerFixture, SenseDataOfAnEarlierReplyIsGoneFromTheNext) {
  platform::DeviceHandle device = OpenVolume();
  PassThroughBuffer buffer;
  ASSERT_TRUE(SendScannerCommand(device, buffer, ScannerCommand::ChunkReadCommand, 4096).ok());
  ASSERT_FALSE(AllZero(buffer.Bytes().subspan(48, 32))) << "the check condition's sense data";
  ASSERT_TRUE(SendScannerCommand(device, buffer, ScannerCommand::InquiryRequest).ok());
  EXPECT_TRUE(AllZero(buffer.Bytes().subspan(44, 36)));
  EXPECT_FALSE(AllZero(buffer.Data().first(36))) << "the inquiry data";
}

}  // namespace
}  // namespace pw::test
