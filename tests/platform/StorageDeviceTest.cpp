// Contract of the storage-device facility, against a removable drive that
// carries the scanner: the host world's drive with the simulator attached,
// and under Wine the drive of the scanner driver. The same requests must
// give the same answers through both backends.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/StorageDevice.h"
#include "tests/support/ScannerDrive.h"

namespace pw::platform {
namespace {

constexpr std::uint32_t kReadWrite = access::kGenericRead | access::kGenericWrite;
constexpr std::uint32_t kShareReadWrite = share::kRead | share::kWrite;
constexpr std::uint32_t kErrorSemTimeout = 121;

// The 44-byte SCSI_PASS_THROUGH of a standard INQUIRY with 80 data bytes at 80.
void PutInquiry(std::vector<std::byte>& buffer) {
  auto put32 = [&](std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) buffer[at + i] = static_cast<std::byte>((value >> (8 * i)) & 0xFFu);
  };
  buffer[0] = std::byte{44};
  buffer[4] = std::byte{1};  // TargetId
  buffer[6] = std::byte{6};  // CdbLength
  buffer[8] = std::byte{1};  // DataIn
  put32(12, 80);             // DataTransferLength
  put32(16, 2);              // TimeOutValue
  put32(20, 80);             // DataBufferOffset
  put32(24, 48);             // SenseInfoOffset
  buffer[28] = std::byte{0x12};
  buffer[32] = std::byte{80};
}

class StorageDeviceContract : public ::testing::Test {
 protected:
  void SetUp() override {
    drive_ = test::ScannerDrive::Attach();
    if (!drive_) GTEST_SKIP() << "no scanner drive here: the win32 build has one in the Wine world only";
    volume_ = std::string("\\\\?\\") + drive_->Letter() + ":";
  }

  DeviceHandle Open() const {
    Result<DeviceHandle> opened = OpenDevice(volume_, kReadWrite, kShareReadWrite);
    EXPECT_TRUE(opened.ok()) << volume_ << ": error " << opened.error();
    return std::move(opened).value_or(DeviceHandle());
  }

  std::unique_ptr<test::ScannerDrive> drive_;
  std::string volume_;
};

TEST_F(StorageDeviceContract, TheScannersDriveIsListedAsRemovable) {
  EXPECT_NE(GetLogicalDrives() & (1u << (drive_->Letter() - 'A')), 0u);
  EXPECT_EQ(GetDriveType(std::string(1, drive_->Letter()) + ":\\"), DriveType::Removable);
}

TEST_F(StorageDeviceContract, VolumePathsOfTheDriveOpenAndAMissingDriveDoesNot) {
  for (const std::string& path : {volume_, std::string("\\\\.\\") + drive_->Letter() + ":"}) {
    Result<DeviceHandle> opened = OpenDevice(path, kReadWrite, kShareReadWrite);
    EXPECT_TRUE(opened.ok()) << path << ": error " << opened.error();
  }
  Result<DeviceHandle> twice = OpenDevice(volume_, kReadWrite, kShareReadWrite);
  Result<DeviceHandle> again = OpenDevice(volume_, kReadWrite, kShareReadWrite);
  EXPECT_TRUE(twice.ok() && again.ok()) << "opens shared for reading and writing coexist";
  const char missing = drive_->Letter() == 'Q' ? 'P' : 'Q';
  Result<DeviceHandle> none = OpenDevice(std::string("\\\\?\\") + missing + ":", kReadWrite, kShareReadWrite);
  EXPECT_FALSE(none.ok());
  EXPECT_EQ(none.error(), error::kFileNotFound);
}

TEST_F(StorageDeviceContract, TheStorageQueryFillsTheDescriptorWithinTheCallersBuffer) {
  const DeviceHandle device = Open();
  std::vector<std::byte> buffer(551 + 16, std::byte{0xEE});
  std::fill_n(buffer.begin(), 12, std::byte{0});  // StorageDeviceProperty, PropertyStandardQuery
  const IoControlResult result = DeviceIoControl(device, kIoctlStorageQueryProperty, buffer.data(), 12, buffer.data(), 551);
  ASSERT_TRUE(result.ok) << "error " << result.error;
  EXPECT_GT(result.bytesReturned, 40u);
  EXPECT_LE(result.bytesReturned, 551u);
  for (std::size_t i = 551; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], std::byte{0xEE}) << "byte " << i;
  std::uint32_t productAt = 0;
  std::memcpy(&productAt, buffer.data() + 16, 4);
  ASSERT_GT(productAt, 0u);
  ASSERT_LT(productAt, result.bytesReturned);
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer.data() + productAt), "SCAN");
}

TEST_F(StorageDeviceContract, OneBufferServesAsInputAndOutputAndNothingPastTheOutputIsTouched) {
  const DeviceHandle device = Open();
  std::vector<std::byte> buffer(160 + 32, std::byte{0});
  PutInquiry(buffer);
  std::fill(buffer.begin() + 160, buffer.end(), std::byte{0xEE});
  const IoControlResult result = DeviceIoControl(device, kIoctlScsiPassThrough, buffer.data(), 44, buffer.data(), 160);
  ASSERT_TRUE(result.ok) << "error " << result.error;
  EXPECT_LE(result.bytesReturned, 160u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data() + 80 + 8), 8), "USB     ") << "vendor of the INQUIRY data";
  for (std::size_t i = 160; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], std::byte{0xEE}) << "byte " << i;
}

TEST_F(StorageDeviceContract, TheDevicesErrorBecomesTheLastError) {
  ASSERT_TRUE(drive_->Plug("--fail inquiry:0:1"));
  const DeviceHandle device = Open();
  std::vector<std::byte> buffer(160, std::byte{0});
  PutInquiry(buffer);
  IoControlResult result = DeviceIoControl(device, kIoctlScsiPassThrough, buffer.data(), 44, buffer.data(), 160);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, kErrorSemTimeout);
  PutInquiry(buffer);
  result = DeviceIoControl(device, kIoctlScsiPassThrough, buffer.data(), 44, buffer.data(), 160);
  EXPECT_TRUE(result.ok) << "the next request gets through";
}

TEST_F(StorageDeviceContract, PassThroughNeedsReadAndWriteAccessTheStorageQueryDoesNot) {
  Result<DeviceHandle> readOnly = OpenDevice(volume_, access::kGenericRead, kShareReadWrite);
  ASSERT_TRUE(readOnly.ok()) << "error " << readOnly.error();
  std::vector<std::byte> buffer(551, std::byte{0});
  PutInquiry(buffer);
  const IoControlResult pass = DeviceIoControl(*readOnly, kIoctlScsiPassThrough, buffer.data(), 44, buffer.data(), 160);
  EXPECT_FALSE(pass.ok);
  EXPECT_EQ(pass.error, error::kAccessDenied);
  std::fill(buffer.begin(), buffer.end(), std::byte{0});
  const IoControlResult query =
      DeviceIoControl(*readOnly, kIoctlStorageQueryProperty, buffer.data(), 12, buffer.data(), 551);
  EXPECT_TRUE(query.ok) << "error " << query.error;
}

}  // namespace
}  // namespace pw::platform
