// The storage-descriptor query and the safe reading of its texts, against the
// simulator's odd descriptors and the generic descriptor of a plain drive.
#include "scanner/StorageDescriptor.h"

#include <gtest/gtest.h>

#include "tests/scanner/ScannerFixture.h"

namespace pw::test {
namespace {

using Placement = sim::DescriptorString::Placement;

TEST_F(ScannerFixture, DescriptorQuerySendsTheTwelveByteStandardQuery) {
  platform::DeviceHandle device = OpenVolume();
  scanner::StorageDescriptorBuffer descriptor;
  ASSERT_TRUE(scanner::QueryStorageDescriptor(device, descriptor));
  const std::vector<sim::RecordedRequest> records = simulator->Requests();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].controlCode, platform::kIoctlStorageQueryProperty);
  EXPECT_EQ(records[0].inputSize, 12u);
  EXPECT_EQ(records[0].outputSize, 551u);
  // PropertyId StorageDeviceProperty (0), QueryType PropertyStandardQuery (0).
  EXPECT_EQ(records[0].input, std::vector<std::byte>(12, std::byte{0}));
  EXPECT_EQ(scanner::ProductText(descriptor), "SCAN");
  EXPECT_EQ(scanner::RevisionText(descriptor), "1000");
}

struct TextCase {
  const char* name;
  sim::DescriptorString product;
  sim::DescriptorString revision;
  bool junkAfterReturned;
  std::string expectedProduct;
  std::string expectedRevision;
};

class DescriptorTexts : public ScannerFixture, public ::testing::WithParamInterface<TextCase> {};

TEST_P(DescriptorTexts, ReadOnlyFromTheReturnedBytes) {
  const TextCase& c = GetParam();
  sim::DescriptorConfig config;
  config.product = c.product;
  config.revision = c.revision;
  config.junkAfterReturned = c.junkAfterReturned;
  simulator->SetDescriptor(config);
  platform::DeviceHandle device = OpenVolume();
  scanner::StorageDescriptorBuffer descriptor;
  ASSERT_TRUE(scanner::QueryStorageDescriptor(device, descriptor));
  EXPECT_EQ(scanner::ProductText(descriptor), c.expectedProduct);
  EXPECT_EQ(scanner::RevisionText(descriptor), c.expectedRevision);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DescriptorTexts,
    ::testing::Values(
        TextCase{"Scanner", {"SCAN", Placement::Normal}, {"1000", Placement::Normal}, false, "SCAN", "1000"},
        // Case and blanks are kept as the device sent them; the comparison is the scan's business.
        TextCase{"LowerCase", {"scan", Placement::Normal}, {"1000", Placement::Normal}, false, "scan", "1000"},
        TextCase{"TrailingBlank", {"SCAN ", Placement::Normal}, {"1000 ", Placement::Normal}, false, "SCAN ", "1000 "},
        TextCase{"AbsentProduct", {"SCAN", Placement::Absent}, {"1000", Placement::Normal}, false, "(NULL)", "1000"},
        TextCase{"AbsentRevision", {"SCAN", Placement::Normal}, {"1000", Placement::Absent}, false, "SCAN", "(NULL)"},
        // The text sits in the output buffer, but past the bytes the call returned.
        TextCase{"ProductPastReturned", {"SCAN", Placement::PastReturned}, {"1000", Placement::Normal}, false,
                 "(NULL)", "1000"},
        TextCase{"RevisionPastReturned", {"SCAN", Placement::Normal}, {"1000", Placement::PastReturned}, true, "SCAN",
                 "(NULL)"},
        // No zero before the returned bytes end, rubbish after them: the text
        // ends with the returned bytes.
        TextCase{"UnterminatedRevision", {"SCAN", Placement::Normal}, {"1000", Placement::Unterminated}, true, "SCAN",
                 "1000"},
        // Two unterminated texts run into each other, as in memory.
        TextCase{"UnterminatedBoth", {"SCAN", Placement::Unterminated}, {"1000", Placement::Unterminated}, true,
                 "SCAN1000", "1000"}),
    [](const ::testing::TestParamInfo<TextCase>& p) { return std::string(p.param.name); });

TEST_F(ScannerFixture, AFailedDescriptorQueryReadsAsNoDescriptor) {
  platform::DeviceHandle device = OpenVolume();
  scanner::StorageDescriptorBuffer descriptor;
  ASSERT_TRUE(scanner::QueryStorageDescriptor(device, descriptor));
  simulator->AddFault({sim::RequestKind::StorageQuery, 1, 1, platform::error::kGenFailure});
  EXPECT_FALSE(scanner::QueryStorageDescriptor(device, descriptor));
  EXPECT_EQ(descriptor.BytesReturned(), 0u);
  EXPECT_EQ(scanner::ProductText(descriptor), "(NULL)");
  EXPECT_EQ(scanner::RevisionText(descriptor), "(NULL)");
}

// A device that returns too few bytes to hold the offset fields.
class ShortDescriptorDevice final : public hostworld::Device {
 public:
  explicit ShortDescriptorDevice(std::uint32_t returned) : returned_(returned) {}
  platform::IoControlResult IoControl(std::uint32_t, std::span<const std::byte>, std::span<std::byte> output) override {
    // A full descriptor whose product offset (at 16) names "SCAN" at 40.
    std::fill(output.begin(), output.end(), std::byte{0});
    output[16] = std::byte{40};
    output[20] = std::byte{45};
    const char text[] = "SCAN\0" "1000";
    for (std::size_t i = 0; i < sizeof text; ++i) output[40 + i] = static_cast<std::byte>(text[i]);
    return {true, returned_, 0};
  }

 private:
  std::uint32_t returned_;
};

TEST(StorageDescriptorReading, OffsetFieldsOutsideTheReturnedBytesCountAsAbsent) {
  struct Case {
    std::uint32_t returned;
    const char* product;
    const char* revision;
  };
  for (const Case& c : {Case{8, "(NULL)", "(NULL)"}, Case{19, "(NULL)", "(NULL)"}, Case{23, "(NULL)", "(NULL)"},
                        Case{24, "(NULL)", "(NULL)"}, Case{42, "SC", "(NULL)"}, Case{50, "SCAN", "1000"},
                        Case{5000, "SCAN", "1000"}}) {
    hostworld::World world;
    world.AddDrive('E', platform::DriveType::Removable);
    world.AttachDevice('E', std::make_shared<ShortDescriptorDevice>(c.returned));
    platform::DeviceHandle device = OpenVolume();
    scanner::StorageDescriptorBuffer descriptor;
    ASSERT_TRUE(scanner::QueryStorageDescriptor(device, descriptor));
    EXPECT_LE(descriptor.BytesReturned(), 551u);
    EXPECT_EQ(scanner::ProductText(descriptor), c.product) << "returned " << c.returned;
    EXPECT_EQ(scanner::RevisionText(descriptor), c.revision) << "returned " << c.returned;
  }
}

TEST(StorageDescriptorReading, ADriveWithoutADeviceIsAGenericDisk) {
  hostworld::World world;
  world.AddDrive('F', platform::DriveType::Removable);
  platform::DeviceHandle device = OpenVolume("\\\\?\\F:");
  scanner::StorageDescriptorBuffer descriptor;
  ASSERT_TRUE(scanner::QueryStorageDescriptor(device, descriptor));
  EXPECT_NE(scanner::ProductText(descriptor), "SCAN");
  EXPECT_NE(scanner::ProductText(descriptor), "(NULL)");
  EXPECT_EQ(std::to_integer<int>(descriptor.Bytes()[10]), 1) << "RemovableMedia";
}

}  // namespace
}  // namespace pw::test
