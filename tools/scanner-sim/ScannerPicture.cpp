#include "tools/scanner-sim/ScannerPicture.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "jpeg/JpegCodec.h"

namespace pw::sim {
namespace {

// The pixels: a diagonal colour ramp with a dark bar along the top edge and a
// block in the top-left corner, so that a turned picture is easy to tell.
std::vector<unsigned char> DrawPixels(const PictureRecipe& details) {
  const auto width = static_cast<std::size_t>(details.width);
  const auto height = static_cast<std::size_t>(details.height);
  std::vector<unsigned char> pixels(width * height * 3);
  const unsigned tint = details.seed * 37u;
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < width; ++x) {
      unsigned char* p = &pixels[(y * width + x) * 3];
      const bool bar = y < height / 8;
      const bool corner = x < width / 4 && y < height / 3;
      if (bar || corner) {
        p[0] = 20;
        p[1] = 20;
        p[2] = 60;
      } else {
        p[0] = static_cast<unsigned char>((x * 255 / width + tint) & 0xFFu);
        p[1] = static_cast<unsigned char>((y * 255 / height) & 0xFFu);
        p[2] = static_cast<unsigned char>(((x + y) * 127 / (width + height) + 64) & 0xFFu);
      }
    }
  }
  return pixels;
}

std::vector<unsigned char> Encode(const PictureRecipe& details) {
  const std::vector<unsigned char> pixels = DrawPixels(details);
  const auto write = [&](jpeg_compress_struct& info) {
    jpeg_set_quality(&info, details.quality, TRUE);
    // An EXIF file carries APP1 where a JFIF file carries APP0.
    info.write_JFIF_header = details.exif ? FALSE : TRUE;
    jpeg_start_compress(&info, TRUE);
    const auto stride = static_cast<std::size_t>(details.width) * 3;
    while (info.next_scanline < info.image_height) {
      JSAMPROW row = const_cast<unsigned char*>(&pixels[info.next_scanline * stride]);
      jpeg_write_scanlines(&info, &row, 1);
    }
    return true;
  };
  auto file = jpeg::Compress({static_cast<std::uint32_t>(details.width), static_cast<std::uint32_t>(details.height)},
                             write);
  if (!file) throw std::runtime_error("libjpeg could not encode the picture");
  return std::move(*file);
}

class Writer {
 public:
  explicit Writer(std::vector<std::byte>& out) : out_(out) {}
  void Byte(unsigned value) { out_.push_back(static_cast<std::byte>(value & 0xFFu)); }
  void Half(unsigned value) {
    Byte(value);
    Byte(value >> 8);
  }
  void Word(std::uint32_t value) {
    Half(value & 0xFFFFu);
    Half(value >> 16);
  }
  void Entry(unsigned tag, unsigned type, std::uint32_t count, std::uint32_t value) {
    Half(tag);
    Half(type);
    Word(count);
    Word(value);
  }

 private:
  std::vector<std::byte>& out_;
};

// SOI and the APP1 EXIF block, 146 bytes in all.
std::vector<std::byte> ExifHead(const PictureRecipe& details) {
  constexpr unsigned kShort = 3, kRational = 5, kAscii = 2;
  constexpr std::uint32_t kTiffStart = 12;  // TIFF offsets count from here
  constexpr std::uint32_t kXResolutionAt = 110, kYResolutionAt = 118, kDateTimeAt = 126;

  std::vector<std::byte> out;
  Writer w(out);
  w.Byte(0xFF);
  w.Byte(0xD8);  // SOI
  w.Byte(0xFF);
  w.Byte(0xE1);  // APP1
  const std::size_t lengthAt = out.size();
  w.Byte(0);
  w.Byte(0);  // length, filled in below
  for (char c : std::string("Exif")) w.Byte(static_cast<unsigned char>(c));
  w.Byte(0);
  w.Byte(0);
  w.Byte('I');
  w.Byte('I');
  w.Half(42);
  w.Word(8);  // IFD0 right after the TIFF header, at byte 20
  w.Half(7);  // entries, in tag order
  w.Entry(0x0112, kShort, 1, details.orientation);  // Orientation: value at bytes 30-31
  w.Entry(0x011A, kRational, 1, kXResolutionAt - kTiffStart);
  w.Entry(0x011B, kRational, 1, kYResolutionAt - kTiffStart);
  w.Entry(0x0128, kShort, 1, 2);  // inches
  w.Half(0x0131);                 // Software: four bytes, held in the entry itself
  w.Half(kAscii);
  w.Word(4);
  for (char c : std::string("PWS")) w.Byte(static_cast<unsigned char>(c));
  w.Byte(0);
  w.Entry(0x0132, kAscii, 20, kDateTimeAt - kTiffStart);
  w.Entry(0x0213, kShort, 1, 1);  // YCbCrPositioning: centred
  w.Word(0);                      // no next IFD
  w.Word(200);
  w.Word(1);  // XResolution 200/1 at byte 110
  w.Word(200);
  w.Word(1);  // YResolution 200/1 at byte 118
  std::string dateTime = details.dateTime.substr(0, 19);
  dateTime.resize(19, ' ');
  for (char c : dateTime) w.Byte(static_cast<unsigned char>(c));
  w.Byte(0);  // bytes 126-145
  const std::size_t appLength = out.size() - lengthAt;
  out[lengthAt] = static_cast<std::byte>(appLength >> 8);
  out[lengthAt + 1] = static_cast<std::byte>(appLength & 0xFFu);
  return out;
}

}  // namespace

std::vector<std::byte> MakeScannerPicture(const PictureRecipe& details) {
  if (details.width <= 0 || details.height <= 0 || details.width > 8192 || details.height > 8192) {
    throw std::runtime_error("picture size out of range");
  }
  const std::vector<unsigned char> jpeg = Encode(details);
  std::vector<std::byte> out;
  if (details.exif) {
    out = ExifHead(details);
    // libjpeg's stream without its own SOI follows the EXIF block.
    for (std::size_t i = 2; i < jpeg.size(); ++i) out.push_back(static_cast<std::byte>(jpeg[i]));
  } else {
    for (unsigned char c : jpeg) out.push_back(static_cast<std::byte>(c));
  }
  return out;
}

}  // namespace pw::sim
