#pragma once
// The window design's pictures, carried inside the program, and their
// decoding into toolkit bitmaps (JPEG through libjpeg, BMP by hand).
#include <cstddef>
#include <memory>
#include <span>

#include "platform/toolkit/Controls.h"

namespace pw::resources {

// The stored files: the background JPEG (535 x 295), the computer picture
// (147 x 207) and memory-card picture (129 x 209), both 24-bit BMP, and the
// tray icon (32 x 32, 16 colours).
std::span<const std::byte> BackgroundJpeg();
std::span<const std::byte> ComputerBmp();
std::span<const std::byte> MemoryCardBmp();
std::span<const std::byte> TrayIconIco();

// nullptr when the bytes are not a picture of that kind (or a BMP is not
// 24 bits per pixel). Any thread.
std::shared_ptr<const toolkit::Bitmap> DecodeJpeg(std::span<const std::byte> jpeg);
std::shared_ptr<const toolkit::Bitmap> DecodeBmp(std::span<const std::byte> bmp);

}  // namespace pw::resources
