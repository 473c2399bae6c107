// The buffer zeroes lazily, yet every byte the program can observe is the one
// it would see had the whole buffer been zeroed before each request: checked
// against a reference that does exactly that, over replies of every length,
// failed calls and drivers that scribble past their reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "platform/hostworld/World.h"
#include "scanner/PassThroughBuffer.h"
#include "scanner/ScannerChannel.h"

namespace pw::test {
namespace {

using scanner::PassThroughBuffer;
constexpr std::size_t kSize = PassThroughBuffer::kSize;

// The buffer as a request that zeroes everything first leaves it: all zero, the
// header written, then the first bytesReturned bytes of a successful reply.
class ZeroFirstReference {
 public:
  ZeroFirstReference() : bytes_(kSize) {}
  void Request(std::span<const std::byte> header, std::span<const std::byte> reply, bool ok, std::size_t returned) {
    std::fill(bytes_.begin(), bytes_.end(), std::byte{0});
    std::copy(header.begin(), header.end(), bytes_.begin());
    if (ok) std::copy_n(reply.begin(), std::min(returned, reply.size()), bytes_.begin());
  }
  const std::vector<std::byte>& Bytes() const { return bytes_; }

 private:
  std::vector<std::byte> bytes_;
};

std::vector<std::byte> RandomBytes(std::mt19937& random, std::size_t count) {
  std::vector<std::byte> bytes(count);
  std::uniform_int_distribution<int> value(1, 255);  // never zero, so a stale byte always shows
  for (std::byte& b : bytes) b = static_cast<std::byte>(value(random));
  return bytes;
}

bool SameBytes(std::span<const std::byte> a, std::span<const std::byte> b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size()) == 0;
}

TEST(PassThroughBuffer, ReadsAsIfZeroedBeforeEveryRequest) {
  std::mt19937 random(20261207);
  const std::size_t sizes[] = {80, 81, 84, 160, 4096 + 80, 65536 + 80, 250000, kSize};
  std::uniform_int_distribution<std::size_t> pickSize(0, std::size(sizes) - 1);
  std::uniform_int_distribution<int> percent(0, 99);
  PassThroughBuffer buffer;
  ZeroFirstReference reference;

  for (int round = 0; round < 400; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::size_t size = sizes[pickSize(random)];
    const std::vector<std::byte> header = RandomBytes(random, PassThroughBuffer::kHeaderSize);
    // The driver writes over its whole output span, whatever it reports.
    const std::vector<std::byte> reply = RandomBytes(random, size);
    const bool ok = percent(random) >= 15;
    std::size_t returned = size;
    switch (percent(random) % 6) {
      case 0: returned = 0; break;
      case 1: returned = std::uniform_int_distribution<std::size_t>(1, 43)(random); break;
      case 2: returned = 44; break;
      case 3: returned = std::uniform_int_distribution<std::size_t>(45, size)(random); break;
      case 4: returned = size + 100; break;  // more than the span: only the span counts
      default: break;
    }

    buffer.Clear();
    buffer.PutBytes(0, header);
    const std::span<std::byte> io = buffer.BeginRequest(size);
    ASSERT_EQ(io.size(), size);
    EXPECT_TRUE(SameBytes(std::span<const std::byte>(io).first(header.size()), header)) << "the input the driver reads";
    std::copy(reply.begin(), reply.end(), io.begin());
    buffer.EndRequest(ok, returned);
    reference.Request(header, reply, ok, returned);

    // Observe through one of the views, as the program does, now and then the whole.
    const std::span<const std::byte> expected(reference.Bytes());
    const std::size_t dataCount = std::uniform_int_distribution<std::size_t>(0, PassThroughBuffer::kDataSize)(random);
    switch (percent(random) % 4) {
      case 0: ASSERT_TRUE(SameBytes(buffer.Bytes(), expected)); break;
      case 1: ASSERT_TRUE(SameBytes(buffer.Header(), expected.first(PassThroughBuffer::kHeaderSize))); break;
      case 2: ASSERT_TRUE(SameBytes(buffer.DataPrefix(4), expected.subspan(80, 4))); break;
      default: ASSERT_TRUE(SameBytes(buffer.DataPrefix(dataCount), expected.subspan(80, dataCount))); break;
    }
  }
  EXPECT_TRUE(SameBytes(buffer.Bytes(), reference.Bytes()));
}

// A device that writes over its whole output and reports a shorter reply, or
// fails having written: what the channel leaves in the buffer is the reply alone.
class ScribblingDevice final : public hostworld::Device {
 public:
  bool ok = true;
  std::uint32_t returned = 0;
  platform::IoControlResult IoControl(std::uint32_t, std::span<const std::byte>, std::span<std::byte> output) override {
    std::fill(output.begin(), output.end(), std::byte{0xA5});
    if (!ok) return {false, 0, platform::error::kSemTimeout};
    return {true, std::min<std::uint32_t>(returned, static_cast<std::uint32_t>(output.size())), platform::error::kSuccess};
  }
};

TEST(PassThroughBuffer, TheChannelKeepsOnlyWhatTheDeviceReturned) {
  hostworld::World world;
  world.AddDrive('E', platform::DriveType::Removable);
  auto device = std::make_shared<ScribblingDevice>();
  world.AttachDevice('E', device);
  platform::DeviceHandle volume = platform::OpenDevice("\\\\?\\E:", 0xC0000000u, 3).value_or(platform::DeviceHandle());
  ASSERT_TRUE(volume.valid());
  PassThroughBuffer buffer;

  device->returned = 80 + 1000;
  ASSERT_TRUE(scanner::SendScannerCommand(volume, buffer, scanner::ScannerCommand::ChunkReadCommand, 4096).ok());
  auto bytes = buffer.Bytes();
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.begin() + 1080, [](std::byte b) { return b == std::byte{0xA5}; }));
  EXPECT_TRUE(std::all_of(bytes.begin() + 1080, bytes.end(), [](std::byte b) { return b == std::byte{0}; }));

  // A failed call: the header as built, everything else zero.
  device->ok = false;
  EXPECT_FALSE(scanner::SendScannerCommand(volume, buffer, scanner::ScannerCommand::ChunkReadCommand, 8192).ok());
  bytes = buffer.Bytes();
  EXPECT_EQ(std::to_integer<int>(bytes[0]), 44) << "the header's Length field";
  EXPECT_EQ(std::to_integer<int>(bytes[28]), 0x53) << "the CDB";
  EXPECT_TRUE(std::all_of(bytes.begin() + 44, bytes.end(), [](std::byte b) { return b == std::byte{0}; }));
  EXPECT_TRUE(std::all_of(buffer.DataPrefix(8192).begin(), buffer.DataPrefix(8192).end(),
                          [](std::byte b) { return b == std::byte{0}; }));
}

}  // namespace
}  // namespace pw::test
