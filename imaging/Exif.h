// In-place edits of the metadata markers a picture keeps: the EXIF block
// (APP1 "Exif\0\0" + TIFF structure) and an XMP packet's orientation. Sizes
// never change, so the markers can be written back as they came.
#pragma once

#include <cstdint>
#include <span>

namespace pw::imaging {

// True for APP1 data that starts with "Exif\0\0".
bool IsExifBlock(std::span<const std::uint8_t> app1);
// True for APP1 data that holds an XMP packet.
bool IsXmpBlock(std::span<const std::uint8_t> app1);

// IFD0's Orientation (1 to 8); 1 when it is missing, malformed or out of range.
std::uint32_t ReadExifOrientation(std::span<const std::uint8_t> app1);

// Marks the picture as upright: IFD0's Orientation becomes 1, and the Exif
// IFD's PixelXDimension/PixelYDimension, where present, the given size.
// Entries that are missing or malformed are left alone.
void MarkExifUpright(std::span<std::uint8_t> app1, std::uint32_t width, std::uint32_t height);

// Sets tiff:Orientation in an XMP packet to 1 (attribute or element form).
void MarkXmpUpright(std::span<std::uint8_t> app1);

}  // namespace pw::imaging
