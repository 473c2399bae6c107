// What the fault matrix relies on in the scanner simulator: the events that
// tell which chunks were answered and which images were delivered, an end
// marker hidden by a length override that is never counted as sent, and
// answers held back by a delay.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/StorageDevice.h"
#include "tools/scanner-sim/ScannerSimulator.h"

namespace pw::faultmatrix {
namespace {

using sim::RequestKind;
using sim::ScannerSimulator;
using sim::SimulatorEvent;

constexpr std::uint32_t kMarker = 0xCCDDEEFFu;

// One pass-through request as the program builds it: header, sense area, data.
std::vector<std::byte> Request(std::uint8_t operation, std::uint32_t offset, std::uint32_t transfer) {
  std::vector<std::byte> buffer(80 + transfer);
  auto put32 = [&](std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) buffer[at + static_cast<std::size_t>(i)] = static_cast<std::byte>((value >> (8 * i)) & 0xFFu);
  };
  buffer[0] = std::byte{44};
  buffer[6] = std::byte{6};
  buffer[7] = std::byte{32};
  buffer[8] = std::byte{1};
  put32(12, transfer);
  put32(20, 80);
  put32(24, 48);
  buffer[28] = std::byte{operation};
  for (int i = 0; i < 4; ++i) buffer[29 + static_cast<std::size_t>(i)] = static_cast<std::byte>((offset >> (8 * (3 - i))) & 0xFFu);
  return buffer;
}

class SimulatorDeliveryTest : public ::testing::Test {
 protected:
  SimulatorDeliveryTest() {
    simulator.SetMode(ScannerSimulator::Mode::Computer);
    simulator.SetChunkPolicy(sim::ChunkPolicy::Fixed(4));
    simulator.SetEventHandler([this](const SimulatorEvent& event) { events.push_back(event); });
  }

  std::uint32_t Length(std::uint32_t offset) {
    std::vector<std::byte> buffer = Request(0x52, offset, 4);
    const platform::IoControlResult result =
        simulator.IoControl(platform::kIoctlScsiPassThrough, std::span(buffer).first(44), buffer);
    EXPECT_TRUE(result.ok);
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = (value << 8) | std::to_integer<std::uint32_t>(buffer[80 + static_cast<std::size_t>(i)]);
    return value;
  }

  std::vector<std::byte> Chunk(std::uint32_t length) {
    std::vector<std::byte> buffer = Request(0x53, 0, length);
    EXPECT_TRUE(simulator.IoControl(platform::kIoctlScsiPassThrough, std::span(buffer).first(44), buffer).ok);
    return {buffer.begin() + 80, buffer.end()};
  }

  static std::vector<std::byte> Image(std::initializer_list<int> values) {
    std::vector<std::byte> bytes;
    for (int value : values) bytes.push_back(static_cast<std::byte>(value));
    return bytes;
  }

  ScannerSimulator simulator;
  std::vector<SimulatorEvent> events;
};

TEST_F(SimulatorDeliveryTest, ChunksAndTheDeliveredImageAreReportedInOrder) {
  simulator.QueueImage(Image({1, 2, 3, 4, 5, 6}));
  simulator.QueueImage(Image({7}));
  ASSERT_EQ(Length(0), 4u);
  EXPECT_EQ(Chunk(4), Image({1, 2, 3, 4}));
  ASSERT_EQ(Length(4), 2u);
  EXPECT_EQ(Chunk(2), Image({5, 6}));
  EXPECT_TRUE(std::none_of(events.begin(), events.end(),
                           [](const SimulatorEvent& e) { return e.kind == SimulatorEvent::Kind::ImageDelivered; }))
      << "nothing is delivered before the end marker";
  ASSERT_EQ(Length(6), kMarker);

  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].kind, SimulatorEvent::Kind::ChunkAnswered);
  EXPECT_EQ(events[0].offset, 0u);
  EXPECT_EQ(events[0].length, 4u);
  EXPECT_EQ(events[1].offset, 4u);
  EXPECT_EQ(events[1].length, 2u);
  EXPECT_EQ(events[2].kind, SimulatorEvent::Kind::ImageDelivered);
  EXPECT_EQ(events[2].image, 0u);
  EXPECT_EQ(events[2].bytes, Image({1, 2, 3, 4, 5, 6}));

  // The next image is number 1.
  ASSERT_EQ(Length(0), 1u);
  (void)Chunk(1);
  ASSERT_EQ(Length(1), kMarker);
  ASSERT_EQ(events.back().kind, SimulatorEvent::Kind::ImageDelivered);
  EXPECT_EQ(events.back().image, 1u);
}

TEST_F(SimulatorDeliveryTest, AnEndMarkerHiddenByAnOverrideIsNotSent) {
  simulator.QueueImage(Image({1, 2, 3}));
  simulator.AddLengthOverride({1, 0x80000000u});  // the second length query, which would answer the marker
  ASSERT_EQ(Length(0), 3u);
  (void)Chunk(3);
  EXPECT_EQ(Length(3), 0x80000000u);
  EXPECT_EQ(simulator.QueuedImages(), 1u) << "the image stays";
  EXPECT_EQ(simulator.ImagesDelivered(), 0u);
  EXPECT_EQ(Length(3), kMarker);
  EXPECT_EQ(simulator.ImagesDelivered(), 1u);
  EXPECT_EQ(events.back().kind, SimulatorEvent::Kind::ImageDelivered);
}

TEST_F(SimulatorDeliveryTest, AFailedChunkReadIsNotReportedAsAnswered) {
  simulator.QueueImage(Image({1, 2, 3}));
  simulator.AddFault({RequestKind::ChunkRead, 0, 1, 121});
  ASSERT_EQ(Length(0), 3u);
  std::vector<std::byte> buffer = Request(0x53, 0, 3);
  EXPECT_FALSE(simulator.IoControl(platform::kIoctlScsiPassThrough, std::span(buffer).first(44), buffer).ok);
  EXPECT_TRUE(events.empty());
  (void)Chunk(3);
  EXPECT_EQ(events.size(), 1u);
}

TEST_F(SimulatorDeliveryTest, ADelayedKindIsAnsweredOnlyAfterItsDelay) {
  simulator.QueueImage(Image({1, 2, 3}));
  simulator.SetDelay(RequestKind::ChunkRead, std::chrono::milliseconds(150));
  ASSERT_EQ(Length(0), 3u);
  const auto slow = std::chrono::steady_clock::now();
  EXPECT_EQ(Chunk(3), Image({1, 2, 3}));
  EXPECT_GE(std::chrono::steady_clock::now() - slow, std::chrono::milliseconds(150));
}

}  // namespace
}  // namespace pw::faultmatrix
