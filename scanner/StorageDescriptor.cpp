#include "scanner/StorageDescriptor.h"

#include <algorithm>

namespace pw::scanner {

bool QueryStorageDescriptor(const platform::DeviceHandle& device, StorageDescriptorBuffer& descriptor) {
  descriptor.bytes_.fill(std::byte{0});
  descriptor.returned_ = 0;
  // PropertyId StorageDeviceProperty (0), QueryType PropertyStandardQuery (0),
  // AdditionalParameters 0.
  const std::array<std::byte, kStoragePropertyQuerySize> query{};
  const platform::IoControlResult result =
      platform::DeviceIoControl(device, platform::kIoctlStorageQueryProperty, query.data(), kStoragePropertyQuerySize,
                                descriptor.bytes_.data(), static_cast<std::uint32_t>(descriptor.bytes_.size()));
  if (!result.ok) return false;
  descriptor.returned_ = std::min<std::uint32_t>(result.bytesReturned, kStorageDescriptorBufferSize);
  return true;
}

std::string DescriptorText(const StorageDescriptorBuffer& descriptor, std::size_t fieldOffset) {
  const std::span<const std::byte> returned = descriptor.Bytes().first(descriptor.BytesReturned());
  if (fieldOffset + 4 > returned.size()) return std::string(kAbsentText);
  std::uint32_t offset = 0;
  for (std::size_t i = 4; i-- > 0;) offset = (offset << 8) | std::to_integer<std::uint32_t>(returned[fieldOffset + i]);
  if (offset == 0 || offset >= returned.size()) return std::string(kAbsentText);

  const std::span<const std::byte> tail = returned.subspan(offset);
  const auto end = std::find(tail.begin(), tail.end(), std::byte{0});
  std::string text;
  text.reserve(static_cast<std::size_t>(end - tail.begin()));
  for (auto it = tail.begin(); it != end; ++it) text.push_back(static_cast<char>(std::to_integer<unsigned char>(*it)));
  return text;
}

std::string ProductText(const StorageDescriptorBuffer& descriptor) {
  return DescriptorText(descriptor, descriptor_field::kProductIdOffset);
}

std::string RevisionText(const StorageDescriptorBuffer& descriptor) {
  return DescriptorText(descriptor, descriptor_field::kProductRevisionOffset);
}

}  // namespace pw::scanner
