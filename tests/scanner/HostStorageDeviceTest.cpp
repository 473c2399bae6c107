// The host backend's logical drives, volume opens and I/O control routing.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/scanner/ScannerFixture.h"

namespace pw::test {
namespace {

using platform::DriveType;
namespace error = platform::error;

// Remembers the bytes it was handed and writes a pattern over its output.
class EchoDevice final : public hostworld::Device {
 public:
  platform::IoControlResult IoControl(std::uint32_t controlCode, std::span<const std::byte> input,
                                      std::span<std::byte> output) override {
    lastCode = controlCode;
    lastInput.assign(input.begin(), input.end());
    lastOutputSize = output.size();
    std::fill(output.begin(), output.end(), std::byte{0xAB});
    return {succeed, static_cast<std::uint32_t>(output.size()) + 1000, succeed ? 0u : failure};
  }
  std::uint32_t lastCode = 0;
  std::vector<std::byte> lastInput;
  std::size_t lastOutputSize = 0;
  bool succeed = true;
  platform::ErrorCode failure = 0;
};

TEST(HostDrives, MaskAndTypesFollowTheWorld) {
  hostworld::World world;
  world.AddDrive('A', DriveType::Removable);
  world.AddDrive('E', DriveType::Removable);
  world.AddDrive('R', DriveType::CdRom);
  world.AddDrive('N', DriveType::Remote);
  const std::uint32_t mask = platform::GetLogicalDrives();
  for (char letter : std::string("ACENRZ")) EXPECT_NE(mask & (1u << (letter - 'A')), 0u) << letter;
  for (char letter : std::string("BDFQ")) EXPECT_EQ(mask & (1u << (letter - 'A')), 0u) << letter;
  EXPECT_EQ(platform::GetDriveType("E:\\"), DriveType::Removable);
  EXPECT_EQ(platform::GetDriveType("e:\\"), DriveType::Removable);
  EXPECT_EQ(platform::GetDriveType("A:\\"), DriveType::Removable);
  EXPECT_EQ(platform::GetDriveType("C:\\"), DriveType::Fixed);
  EXPECT_EQ(platform::GetDriveType("R:\\"), DriveType::CdRom);
  EXPECT_EQ(platform::GetDriveType("N:\\"), DriveType::Remote);
  EXPECT_EQ(platform::GetDriveType("Q:\\"), DriveType::NoRootDir);
  EXPECT_EQ(platform::GetDriveType("E:\\Photos\\"), DriveType::NoRootDir);
  world.UnmapDrive('E');
  EXPECT_EQ(platform::GetLogicalDrives() & (1u << ('E' - 'A')), 0u);
}

TEST(HostVolumes, OpenNamesAVolumeOfAnExistingDrive) {
  hostworld::World world;
  world.AddDrive('E', DriveType::Removable);
  for (const char* path : {"\\\\?\\E:", "\\\\.\\E:", "\\\\?\\e:"}) {
    platform::Result<platform::DeviceHandle> opened = platform::OpenDevice(path, kReadWrite, kShareReadWrite);
    EXPECT_TRUE(opened.ok()) << path;
    EXPECT_EQ(opened.error(), error::kSuccess) << path;
  }
  platform::Result<platform::DeviceHandle> missing = platform::OpenDevice("\\\\?\\Q:", kReadWrite, kShareReadWrite);
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.error(), error::kFileNotFound);
  for (const char* path : {"E:", "\\\\?\\E:\\", "\\\\?\\EE:", ""}) {
    platform::Result<platform::DeviceHandle> bad = platform::OpenDevice(path, kReadWrite, kShareReadWrite);
    EXPECT_FALSE(bad.ok()) << path;
    EXPECT_NE(bad.error(), error::kSuccess) << path;
  }
}

TEST(HostVolumes, ShareModesApplyBetweenOpensAndHandlesClose) {
  hostworld::World world;
  world.AddDrive('E', DriveType::Removable);
  {
    platform::DeviceHandle shared = OpenVolume();
    platform::DeviceHandle second = OpenVolume();  // both shared for reading and writing
    EXPECT_TRUE(second.valid());
    platform::Result<platform::DeviceHandle> exclusive = platform::OpenDevice("\\\\?\\E:", kReadWrite, platform::share::kNone);
    EXPECT_FALSE(exclusive.ok());
    EXPECT_EQ(exclusive.error(), error::kSharingViolation);
  }
  int open = 0;
  world.ForEachHandle([&](hostworld::HandleObject&) { ++open; });
  EXPECT_EQ(open, 0) << "closing the handles removes them from the world";
  platform::Result<platform::DeviceHandle> exclusive = platform::OpenDevice("\\\\?\\E:", kReadWrite, platform::share::kNone);
  ASSERT_TRUE(exclusive.ok());
  platform::Result<platform::DeviceHandle> blocked = platform::OpenDevice("\\\\?\\E:", kReadWrite, kShareReadWrite);
  EXPECT_EQ(blocked.error(), error::kSharingViolation);
}

TEST(HostVolumes, IoControlsReachTheDeviceByteForByte) {
  hostworld::World world;
  world.AddDrive('E', DriveType::Removable);
  auto device = std::make_shared<EchoDevice>();
  world.AttachDevice('E', device);
  platform::DeviceHandle volume = OpenVolume();

  // One buffer as input and output: the device sees the input as it was.
  std::vector<std::byte> buffer(100);
  for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<std::byte>(i);
  const platform::IoControlResult result = platform::DeviceIoControl(volume, platform::kIoctlScsiPassThrough,
                                                                     buffer.data(), 44, buffer.data(), 90);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(device->lastCode, platform::kIoctlScsiPassThrough);
  ASSERT_EQ(device->lastInput.size(), 44u);
  for (std::size_t i = 0; i < 44; ++i) EXPECT_EQ(std::to_integer<std::size_t>(device->lastInput[i]), i);
  EXPECT_EQ(device->lastOutputSize, 90u);
  EXPECT_EQ(result.bytesReturned, 90u) << "a count beyond the output is cut to it";
  EXPECT_EQ(buffer[89], std::byte{0xAB});
  EXPECT_EQ(buffer[90], std::byte{90}) << "nothing past the output size is touched";

  device->succeed = false;
  device->failure = error::kSemTimeout;
  const platform::IoControlResult failed = platform::DeviceIoControl(volume, platform::kIoctlStorageQueryProperty,
                                                                     buffer.data(), 12, buffer.data(), 551 - 500);
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.error, error::kSemTimeout);
  EXPECT_EQ(device->lastCode, platform::kIoctlStorageQueryProperty);
}

TEST(HostVolumes, PassThroughNeedsReadAndWriteAccess) {
  hostworld::World world;
  world.AddDrive('E', DriveType::Removable);
  world.AttachDevice('E', std::make_shared<EchoDevice>());
  platform::Result<platform::DeviceHandle> readOnly = platform::OpenDevice("\\\\?\\E:", platform::access::kGenericRead, kShareReadWrite);
  ASSERT_TRUE(readOnly.ok());
  std::array<std::byte, 100> buffer{};
  const platform::IoControlResult pass = platform::DeviceIoControl(*readOnly, platform::kIoctlScsiPassThrough,
                                                                   buffer.data(), 44, buffer.data(), 84);
  EXPECT_FALSE(pass.ok);
  EXPECT_EQ(pass.error, error::kAccessDenied);
  const platform::IoControlResult query = platform::DeviceIoControl(
      *readOnly, platform::kIoctlStorageQueryProperty, buffer.data(), 12, buffer.data(), 100);
  EXPECT_TRUE(query.ok) << "the storage query works on any handle";
}

TEST(HostVolumes, ADriveWithoutADeviceRefusesPassThrough) {
  hostworld::World world;
  world.AddDrive('E', DriveType::Removable);
  platform::DeviceHandle volume = OpenVolume();
  std::array<std::byte, 100> buffer{};
  const platform::IoControlResult pass =
      platform::DeviceIoControl(volume, platform::kIoctlScsiPassThrough, buffer.data(), 44, buffer.data(), 84);
  EXPECT_FALSE(pass.ok);
  EXPECT_EQ(pass.error, 1u);  // ERROR_INVALID_FUNCTION
}

TEST(HostVolumes, AnUnknownHandleIsInvalid) {
  hostworld::World world;
  platform::DeviceHandle none;
  std::array<std::byte, 100> buffer{};
  const platform::IoControlResult result =
      platform::DeviceIoControl(none, platform::kIoctlScsiPassThrough, buffer.data(), 44, buffer.data(), 84);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, error::kInvalidHandle);
}

TEST_F(ScannerFixture, AnUnpluggedDeviceFailsCallsOnHandlesOpenedBefore) {
  platform::DeviceHandle device = OpenVolume();
  ASSERT_TRUE(scanner::RunScannerRequest(device, scanner::ScannerRequestKind::RequestCardMode));
  simulator->ClearRequests();

  world.DetachDevice('E');
  scanner::PassThroughBuffer buffer;
  platform::Result<void> outcome = scanner::SendScannerCommand(device, buffer, scanner::ScannerCommand::InquiryRequest);
  EXPECT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.error(), error::kDeviceNotConnected);

  // Plugged in again (a new device object): the old handle stays dead, a new one works.
  auto replugged = std::make_shared<sim::ScannerSimulator>();
  world.AttachDevice('E', replugged);
  outcome = scanner::SendScannerCommand(device, buffer, scanner::ScannerCommand::InquiryRequest);
  EXPECT_EQ(outcome.error(), error::kDeviceNotConnected);
  platform::DeviceHandle fresh = OpenVolume();
  EXPECT_TRUE(scanner::SendScannerCommand(fresh, buffer, scanner::ScannerCommand::InquiryRequest).ok());
  EXPECT_EQ(simulator->RequestCount(), 2u) << "the old simulator got nothing after the unplug";

  world.UnmapDrive('E');
  outcome = scanner::SendScannerCommand(fresh, buffer, scanner::ScannerCommand::InquiryRequest);
  EXPECT_EQ(outcome.error(), error::kDeviceNotConnected);
}

}  // namespace
}  // namespace pw::test
