#pragma once
// The storage-descriptor query by which the scanner is recognised, and the
// safe reading of the descriptor's product and revision texts.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/StorageDevice.h"

namespace pw::scanner {

inline constexpr std::size_t kStorageDescriptorBufferSize = 551;
inline constexpr std::uint32_t kStoragePropertyQuerySize = 12;
// The text of a string that the descriptor does not carry.
inline constexpr std::string_view kAbsentText = "(NULL)";

// Offsets of the STORAGE_DEVICE_DESCRIPTOR fields that name its strings.
namespace descriptor_field {
inline constexpr std::size_t kVendorIdOffset = 12;
inline constexpr std::size_t kProductIdOffset = 16;
inline constexpr std::size_t kProductRevisionOffset = 20;
inline constexpr std::size_t kSerialNumberOffset = 24;
}  // namespace descriptor_field

// The 551-byte output of the query and the number of bytes the call returned.
class StorageDescriptorBuffer {
 public:
  std::span<const std::byte> Bytes() const { return bytes_; }
  // Bytes the last query returned (0 before a query and after a failed one).
  std::uint32_t BytesReturned() const { return returned_; }

 private:
  friend bool QueryStorageDescriptor(const platform::DeviceHandle& device, StorageDescriptorBuffer& descriptor);
  std::array<std::byte, kStorageDescriptorBufferSize> bytes_{};
  std::uint32_t returned_ = 0;
};

// IOCTL_STORAGE_QUERY_PROPERTY with the 12-byte query (StorageDeviceProperty,
// PropertyStandardQuery) and the 551-byte buffer as output. Returns the I/O
// control's result; the buffer is cleared first, so a failed query reads as
// no descriptor at all.
bool QueryStorageDescriptor(const platform::DeviceHandle& device, StorageDescriptorBuffer& descriptor);

// The zero-terminated text whose offset sits in the descriptor field at
// fieldOffset. Only the bytes the query returned count: a field that was not
// returned, an offset of 0, or an offset at or past the returned bytes reads
// as "(NULL)"; a text without its zero inside the returned bytes ends where
// they end (it is never read past them).
std::string DescriptorText(const StorageDescriptorBuffer& descriptor, std::size_t fieldOffset);
std::string ProductText(const StorageDescriptorBuffer& descriptor);
std::string RevisionText(const StorageDescriptorBuffer& descriptor);

}  // namespace pw::scanner
