#pragma once
// A host world with the scanner simulator on removable drive E:, reached
// through the platform layer exactly as the program reaches it.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/StorageDevice.h"
#include "platform/hostworld/World.h"
#include "scanner/PassThroughBuffer.h"
#include "scanner/ScannerChannel.h"
#include "tools/scanner-sim/ScannerSimulator.h"
#include "tests/support/PatternImage.h"

namespace pw::test {

inline constexpr std::uint32_t kReadWrite = platform::access::kGenericRead | platform::access::kGenericWrite;
inline constexpr std::uint32_t kShareReadWrite = platform::share::kRead | platform::share::kWrite;

inline platform::DeviceHandle OpenVolume(const std::string& path = "\\\\?\\E:") {
  platform::Result<platform::DeviceHandle> opened = platform::OpenDevice(path, kReadWrite, kShareReadWrite);
  EXPECT_TRUE(opened.ok()) << path << " error " << opened.error();
  return std::move(opened).value_or(platform::DeviceHandle());
}

inline std::vector<std::byte> Bytes(std::initializer_list<int> values) {
  std::vector<std::byte> bytes;
  for (int v : values) bytes.push_back(static_cast<std::byte>(v));
  return bytes;
}

// Pulls one image over the channel the way the pull does: length query,
// chunk read of the announced length, next length query at the new offset,
// until the end marker. Returns nullopt when nothing waits or a request
// fails; maxRequests bounds a misbehaving device.
inline std::optional<std::vector<std::byte>> PullOverChannel(const platform::DeviceHandle& device,
                                                            int maxRequests = 100000) {
  scanner::PassThroughBuffer buffer;
  std::vector<std::byte> image;
  std::uint32_t offset = 0;
  if (!scanner::SendScannerCommand(device, buffer, scanner::ScannerCommand::LengthQueryCommand, 0)) return std::nullopt;
  scanner::LengthReply reply = scanner::ReadLengthReply(buffer);
  if (reply.length == 0) return std::nullopt;
  for (int requests = 0; requests < maxRequests; ++requests) {
    if (requests > 0 && reply.endOfImage) return image;
    if (scanner::IsReadableChunkLength(reply.length)) {
      const auto length = static_cast<std::uint32_t>(reply.length);
      if (!scanner::SendScannerCommand(device, buffer, scanner::ScannerCommand::ChunkReadCommand, length)) {
        return std::nullopt;
      }
      const auto data = buffer.Data().first(length);
      image.insert(image.end(), data.begin(), data.end());
      offset += length;
    }
    if (!scanner::SendScannerCommand(device, buffer, scanner::ScannerCommand::LengthQueryCommand, offset)) {
      return std::nullopt;
    }
    reply = scanner::ReadLengthReply(buffer);
  }
  ADD_FAILURE() << "the device never sent the end marker";
  return std::nullopt;
}

class ScannerFixture : public ::testing::Test {
 protected:
  ScannerFixture() {
    world.AddDrive('E', platform::DriveType::Removable);
    world.AttachDevice('E', simulator);
  }

  hostworld::World world;
  std::shared_ptr<sim::ScannerSimulator> simulator = std::make_shared<sim::ScannerSimulator>();
};

}  // namespace pw::test
