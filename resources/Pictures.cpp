#include "resources/Pictures.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <vector>

#include "jpeg/JpegCodec.h"
#include "platform/ByteOrder.h"

namespace pw::resources {

namespace data {
extern const std::byte kBackgroundJpeg[];
extern const std::size_t kBackgroundJpegSize;
extern const std::byte kComputerBmp[];
extern const std::size_t kComputerBmpSize;
extern const std::byte kMemoryCardBmp[];
extern const std::size_t kMemoryCardBmpSize;
extern const std::byte kTrayIconIco[];
extern const std::size_t kTrayIconIcoSize;
}  // namespace data

std::span<const std::byte> BackgroundJpeg() { return {data::kBackgroundJpeg, data::kBackgroundJpegSize}; }
std::span<const std::byte> ComputerBmp() { return {data::kComputerBmp, data::kComputerBmpSize}; }
std::span<const std::byte> MemoryCardBmp() { return {data::kMemoryCardBmp, data::kMemoryCardBmpSize}; }
std::span<const std::byte> TrayIconIco() { return {data::kTrayIconIco, data::kTrayIconIcoSize}; }

namespace {

constexpr int kMaxSide = 8192;

// Decodes into bitmap; false on any error.
bool DecodeJpegInto(std::span<const std::byte> jpeg, toolkit::Bitmap& bitmap) {
  const auto read = [&bitmap](jpeg_decompress_struct& info) {
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    if (info.output_width == 0 || info.output_height == 0 || info.output_width > kMaxSide ||
        info.output_height > kMaxSide || info.output_components != 3) {
      return false;
    }
    bitmap.width = static_cast<int>(info.output_width);
    bitmap.height = static_cast<int>(info.output_height);
    bitmap.pixels.resize(static_cast<std::size_t>(bitmap.width) * static_cast<std::size_t>(bitmap.height) * 3);
    while (info.output_scanline < info.output_height) {
      JSAMPROW row = reinterpret_cast<JSAMPROW>(bitmap.pixels.data()) +
                     static_cast<std::size_t>(info.output_scanline) * static_cast<std::size_t>(bitmap.width) * 3;
      jpeg_read_scanlines(&info, &row, 1);
    }
    return true;
  };
  if (!jpeg::Decompress({reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size()}, read)) return false;
  // The toolkit's bitmaps are B, G, R.
  for (std::size_t i = 0; i + 2 < bitmap.pixels.size(); i += 3) std::swap(bitmap.pixels[i], bitmap.pixels[i + 2]);
  return true;
}

}  // namespace

std::shared_ptr<const toolkit::Bitmap> DecodeJpeg(std::span<const std::byte> jpeg) {
  auto bitmap = std::make_shared<toolkit::Bitmap>();
  if (jpeg.empty() || !DecodeJpegInto(jpeg, *bitmap)) return nullptr;
  return bitmap;
}

std::shared_ptr<const toolkit::Bitmap> DecodeBmp(std::span<const std::byte> bmp) {
  constexpr std::size_t kHeaders = 14 + 40;
  if (bmp.size() < kHeaders || bmp[0] != std::byte{'B'} || bmp[1] != std::byte{'M'}) return nullptr;
  std::uint32_t offset = platform::GetLe32(bmp, 10);
  auto width = static_cast<std::int32_t>(platform::GetLe32(bmp, 18));
  auto height = static_cast<std::int32_t>(platform::GetLe32(bmp, 22));
  if (platform::GetLe32(bmp, 14) < 40 || platform::GetLe16(bmp, 28) != 24 || platform::GetLe32(bmp, 30) != 0) return nullptr;
  bool bottomUp = height > 0;
  if (height == std::numeric_limits<std::int32_t>::min()) return nullptr;
  height = bottomUp ? height : -height;
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return nullptr;
  std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  if (offset > bmp.size() || bmp.size() - offset < stride * static_cast<std::size_t>(height)) return nullptr;
  auto bitmap = std::make_shared<toolkit::Bitmap>();
  bitmap->width = width;
  bitmap->height = height;
  bitmap->pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
  for (int y = 0; y < height; ++y) {
    std::size_t source = offset + stride * static_cast<std::size_t>(bottomUp ? height - 1 - y : y);
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * 3; ++i) {
      bitmap->pixels[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width)) * 3 + i] = static_cast<std::uint8_t>(bmp[source + i]);
    }
  }
  return bitmap;
}

}  // namespace pw::resources
