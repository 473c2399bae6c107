#include "platform/IcoFile.h"

#include <cstdint>

namespace pw::platform {

namespace {

std::uint32_t Read16(std::span<const std::byte> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8);
}

std::uint32_t Read32(std::span<const std::byte> bytes, std::size_t at) {
  return Read16(bytes, at) | (Read16(bytes, at + 2) << 16);
}

constexpr std::size_t kDirectorySize = 6;
constexpr std::size_t kEntrySize = 16;

}  // namespace

std::optional<IcoImage> FindIcoImage(std::span<const std::byte> ico, int size) {
  if (ico.size() < kDirectorySize || Read16(ico, 0) != 0 || Read16(ico, 2) != 1) return std::nullopt;
  std::size_t count = Read16(ico, 4);
  if (count == 0 || ico.size() < kDirectorySize + count * kEntrySize) return std::nullopt;
  std::optional<IcoImage> first;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t entry = kDirectorySize + i * kEntrySize;
    std::uint64_t length = Read32(ico, entry + 8);
    std::uint64_t offset = Read32(ico, entry + 12);
    if (length == 0 || offset + length > ico.size()) return std::nullopt;
    IcoImage image;
    image.width = ico[entry] == std::byte{0} ? 256 : static_cast<int>(ico[entry]);
    image.height = ico[entry + 1] == std::byte{0} ? 256 : static_cast<int>(ico[entry + 1]);
    image.colours = static_cast<int>(ico[entry + 2]);
    image.bitCount = static_cast<int>(Read16(ico, entry + 6));
    image.data = ico.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
    if (image.width == size) return image;
    if (!first) first = image;
  }
  return first;
}

}  // namespace pw::platform
