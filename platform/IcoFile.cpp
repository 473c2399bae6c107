#include "platform/IcoFile.h"

#include <cstdint>
#include <cstdlib>

#include "platform/ByteOrder.h"

namespace pw::platform {

namespace {

constexpr std::size_t kDirectorySize = 6;
constexpr std::size_t kEntrySize = 16;

}  // namespace

std::optional<std::vector<IcoImage>> IcoImages(std::span<const std::byte> ico) {
  if (ico.size() < kDirectorySize || GetLe16(ico, 0) != 0 || GetLe16(ico, 2) != 1) return std::nullopt;
  std::size_t count = GetLe16(ico, 4);
  if (count == 0 || ico.size() < kDirectorySize + count * kEntrySize) return std::nullopt;
  std::vector<IcoImage> images;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t entry = kDirectorySize + i * kEntrySize;
    std::uint64_t length = GetLe32(ico, entry + 8);
    std::uint64_t offset = GetLe32(ico, entry + 12);
    if (length == 0 || offset + length > ico.size()) return std::nullopt;
    IcoImage image;
    image.width = ico[entry] == std::byte{0} ? 256 : static_cast<int>(ico[entry]);
    image.height = ico[entry + 1] == std::byte{0} ? 256 : static_cast<int>(ico[entry + 1]);
    image.colours = static_cast<int>(ico[entry + 2]);
    image.bitCount = static_cast<int>(GetLe16(ico, entry + 6));
    image.data = ico.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
    images.push_back(image);
  }
  return images;
}

std::optional<IcoImage> FindIcoImage(std::span<const std::byte> ico, int size) {
  std::optional<std::vector<IcoImage>> images = IcoImages(ico);
  if (!images) return std::nullopt;
  const auto distance = [size](const IcoImage& image) { return std::abs(image.width - size); };
  const IcoImage* best = nullptr;
  for (const IcoImage& image : *images) {
    if (best == nullptr || distance(image) < distance(*best) ||
        (distance(image) == distance(*best) &&
         (image.width > best->width || (image.width == best->width && image.bitCount > best->bitCount)))) {
      best = &image;
    }
  }
  return *best;
}

}  // namespace pw::platform
