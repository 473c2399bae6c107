#pragma once
// JPEG pictures for the imaging and auto-rotate tests and the benchmark:
// patterns with a known upright look, stored as each EXIF orientation would
// store them; files in the scanner's layout (EXIF block first, Orientation at
// byte 30, date-time text at bytes 126 to 145); and readers for what a file
// holds (pixels, DCT coefficients, markers, EXIF tags), written independently
// of the component under test.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "jpeg/JpegCodec.h"

namespace pw::test {

using Bytes = std::vector<std::uint8_t>;

struct Picture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int channels = 3;
  Bytes samples;

  const std::uint8_t* At(std::uint32_t x, std::uint32_t y) const {
    return samples.data() + (std::size_t{y} * width + x) * static_cast<std::size_t>(channels);
  }
  std::uint8_t* At(std::uint32_t x, std::uint32_t y) {
    return samples.data() + (std::size_t{y} * width + x) * static_cast<std::size_t>(channels);
  }
};

inline Picture BlankPicture(std::uint32_t width, std::uint32_t height, int channels) {
  Picture picture{width, height, channels, {}};
  picture.samples.resize(std::size_t{width} * height * static_cast<std::size_t>(channels));
  return picture;
}

// Cells of 16 x 16 pixels (one 4:2:0 MCU each), every cell of the first
// 4 x 4 its own colour and brightness, so any turn or mirror shows.
inline constexpr std::uint32_t kCell = 16;

inline std::array<std::uint8_t, 3> CellColour(std::uint32_t cellX, std::uint32_t cellY, int channels) {
  const std::uint32_t index = (cellY % 4) * 4 + cellX % 4;
  const auto level = static_cast<std::uint8_t>(12 + index * 15);
  if (channels == 1) return {level, level, level};
  static constexpr std::array<std::array<std::uint8_t, 3>, 4> kHues = {
      {{255, 40, 40}, {40, 220, 40}, {40, 40, 255}, {230, 230, 40}}};
  const auto& hue = kHues[index % 4];
  std::array<std::uint8_t, 3> colour{};
  for (std::size_t c = 0; c < 3; ++c) colour[c] = static_cast<std::uint8_t>(hue[c] * (index / 4 + 1) / 4);
  return colour;
}

inline Picture CellPattern(std::uint32_t width, std::uint32_t height, int channels) {
  Picture picture = BlankPicture(width, height, channels);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const auto colour = CellColour(x / kCell, y / kCell, channels);
      std::copy_n(colour.begin(), channels, picture.At(x, y));
    }
  }
  return picture;
}

// A photo-like picture: smooth gradients and fine detail, for sizes and speed.
inline Picture GradientPicture(std::uint32_t width, std::uint32_t height) {
  Picture picture = BlankPicture(width, height, 3);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint8_t* p = picture.At(x, y);
      p[0] = static_cast<std::uint8_t>(x * 255 / std::max(1u, width - 1));
      p[1] = static_cast<std::uint8_t>(y * 255 / std::max(1u, height - 1));
      p[2] = static_cast<std::uint8_t>(((x / 7) ^ (y / 5)) * 37);
    }
  }
  return picture;
}

// One channel of a colour picture as a greyscale picture.
inline Picture GreyPicture(const Picture& colour, int channel = 1) {
  Picture grey = BlankPicture(colour.width, colour.height, 1);
  for (std::size_t i = 0; i < grey.samples.size(); ++i) {
    grey.samples[i] = colour.samples[i * static_cast<std::size_t>(colour.channels) + static_cast<std::size_t>(channel)];
  }
  return grey;
}

// The picture as a file with this EXIF Orientation stores it, so that a viewer
// that honours the tag shows `upright`.
inline Picture StoredForOrientation(const Picture& upright, int orientation) {
  const std::uint32_t w = upright.width, h = upright.height;
  const bool swaps = orientation >= 5 && orientation <= 8;
  Picture stored = BlankPicture(swaps ? h : w, swaps ? w : h, upright.channels);
  for (std::uint32_t y = 0; y < stored.height; ++y) {
    for (std::uint32_t x = 0; x < stored.width; ++x) {
      std::uint32_t ux = x, uy = y;
      switch (orientation) {
        case 2: ux = w - 1 - x; break;
        case 3: ux = w - 1 - x; uy = h - 1 - y; break;
        case 4: uy = h - 1 - y; break;
        case 5: ux = y; uy = x; break;
        case 6: ux = w - 1 - y; uy = x; break;  // shown turned clockwise
        case 7: ux = w - 1 - y; uy = h - 1 - x; break;
        case 8: ux = y; uy = h - 1 - x; break;  // shown turned counter-clockwise
        default: break;
      }
      std::copy_n(upright.At(ux, uy), upright.channels, stored.At(x, y));
    }
  }
  return stored;
}

// ---------------------------------------------------------------- EXIF blocks

struct ExifLayout {
  bool bigEndian = false;
  std::optional<std::uint16_t> orientation = 1;
  std::string dateTime = "2024:05:17 10:20:30";  // 19 characters; the zero makes 20
  std::string software = "SC1";                  // 3 characters; the zero makes 4
  // An Exif IFD with PixelXDimension (LONG) and PixelYDimension (SHORT).
  std::optional<std::pair<std::uint32_t, std::uint32_t>> pixelDimensions;
};

namespace detail {

struct TiffEntry {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t count;
  Bytes value;  // already in the file's byte order
};

inline void Put(Bytes& out, std::uint32_t value, int size, bool bigEndian) {
  for (int i = 0; i < size; ++i) {
    const int shift = 8 * (bigEndian ? size - 1 - i : i);
    out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
  }
}

inline void PutAt(Bytes& out, std::size_t at, std::uint32_t value, int size, bool bigEndian) {
  for (int i = 0; i < size; ++i) {
    const int shift = 8 * (bigEndian ? size - 1 - i : i);
    out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((value >> shift) & 0xFF);
  }
}

// Writes an IFD at the end of tiff; values over 4 bytes follow the IFD in
// entry order. Returns the offset of each entry.
inline std::vector<std::size_t> WriteIfd(Bytes& tiff, const std::vector<TiffEntry>& entries, bool bigEndian) {
  const std::size_t start = tiff.size();
  std::size_t data = start + 2 + entries.size() * 12 + 4;
  Put(tiff, static_cast<std::uint32_t>(entries.size()), 2, bigEndian);
  std::vector<std::size_t> offsets;
  Bytes outOfLine;
  for (const TiffEntry& entry : entries) {
    offsets.push_back(tiff.size());
    Put(tiff, entry.tag, 2, bigEndian);
    Put(tiff, entry.type, 2, bigEndian);
    Put(tiff, entry.count, 4, bigEndian);
    if (entry.value.size() <= 4) {
      Bytes inline_ = entry.value;
      inline_.resize(4, 0);
      tiff.insert(tiff.end(), inline_.begin(), inline_.end());
    } else {
      Put(tiff, static_cast<std::uint32_t>(data + outOfLine.size()), 4, bigEndian);
      outOfLine.insert(outOfLine.end(), entry.value.begin(), entry.value.end());
    }
  }
  Put(tiff, 0, 4, bigEndian);  // no next IFD
  tiff.insert(tiff.end(), outOfLine.begin(), outOfLine.end());
  return offsets;
}

}  // namespace detail

// The APP1 payload: "Exif\0\0" and a TIFF structure. With an orientation and
// no pixel dimensions, IFD0 is the scanner's: Orientation, XResolution,
// YResolution, ResolutionUnit, Software (4 bytes), DateTime, YCbCrPositioning,
// then the two rationals and the date-time text.
inline Bytes BuildExif(const ExifLayout& details) {
  using detail::Put;
  using detail::TiffEntry;
  const bool be = details.bigEndian;
  auto shortValue = [be](std::uint32_t v) { Bytes b; Put(b, v, 2, be); return b; };
  auto longValue = [be](std::uint32_t v) { Bytes b; Put(b, v, 4, be); return b; };
  auto rational = [be](std::uint32_t n, std::uint32_t d) { Bytes b; Put(b, n, 4, be); Put(b, d, 4, be); return b; };
  auto ascii = [](const std::string& text) { Bytes b(text.begin(), text.end()); b.push_back(0); return b; };

  std::vector<TiffEntry> ifd0;
  if (details.orientation) ifd0.push_back({0x0112, 3, 1, shortValue(*details.orientation)});
  ifd0.push_back({0x011A, 5, 1, rational(200, 1)});
  ifd0.push_back({0x011B, 5, 1, rational(200, 1)});
  ifd0.push_back({0x0128, 3, 1, shortValue(2)});
  ifd0.push_back({0x0131, 2, static_cast<std::uint32_t>(details.software.size() + 1), ascii(details.software)});
  ifd0.push_back({0x0132, 2, static_cast<std::uint32_t>(details.dateTime.size() + 1), ascii(details.dateTime)});
  ifd0.push_back({0x0213, 3, 1, shortValue(1)});
  if (details.pixelDimensions) ifd0.push_back({0x8769, 4, 1, longValue(0)});

  Bytes tiff;
  tiff.push_back(be ? 'M' : 'I');
  tiff.push_back(be ? 'M' : 'I');
  Put(tiff, 42, 2, be);
  Put(tiff, 8, 4, be);
  const auto offsets = detail::WriteIfd(tiff, ifd0, be);
  if (details.pixelDimensions) {
    detail::PutAt(tiff, offsets.back() + 8, static_cast<std::uint32_t>(tiff.size()), 4, be);
    detail::WriteIfd(tiff,
                     {{0xA002, 4, 1, longValue(details.pixelDimensions->first)},
                      {0xA003, 3, 1, shortValue(details.pixelDimensions->second)}},
                     be);
  }
  Bytes app1 = {'E', 'x', 'i', 'f', 0, 0};
  app1.insert(app1.end(), tiff.begin(), tiff.end());
  return app1;
}

// ------------------------------------------------------------- libjpeg calls

struct EncodeOptions {
  int quality = 92;
  int lumaH = 2;  // luma sampling; chroma is 1 x 1
  int lumaV = 2;
  bool progressive = false;
  bool jfif = false;
  std::optional<ExifLayout> exif;
  std::vector<std::string> comments;
};

inline Bytes EncodeJpeg(const Picture& picture, const EncodeOptions& options = {}) {
  const Bytes exif = options.exif ? BuildExif(*options.exif) : Bytes{};
  const auto write = [&](jpeg_compress_struct& info) {
    jpeg_set_quality(&info, options.quality, TRUE);
    if (picture.channels == 3) {
      info.comp_info[0].h_samp_factor = options.lumaH;
      info.comp_info[0].v_samp_factor = options.lumaV;
    }
    if (options.progressive) jpeg_simple_progression(&info);
    info.write_JFIF_header = options.jfif ? TRUE : FALSE;
    jpeg_start_compress(&info, TRUE);
    if (!exif.empty()) jpeg_write_marker(&info, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
    for (const std::string& comment : options.comments) {
      jpeg_write_marker(&info, JPEG_COM, reinterpret_cast<const JOCTET*>(comment.data()),
                        static_cast<unsigned>(comment.size()));
    }
    const std::size_t stride = std::size_t{picture.width} * static_cast<std::size_t>(picture.channels);
    while (info.next_scanline < info.image_height) {
      auto* row = const_cast<JSAMPROW>(picture.samples.data() + stride * info.next_scanline);
      jpeg_write_scanlines(&info, &row, 1);
    }
    return true;
  };
  const J_COLOR_SPACE space = picture.channels == 1 ? JCS_GRAYSCALE : picture.channels == 4 ? JCS_CMYK : JCS_RGB;
  auto file = jpeg::Compress({picture.width, picture.height, picture.channels, space}, write);
  if (!file) throw std::runtime_error("cannot encode sample");
  return std::move(*file);
}

// A JPEG in the scanner's layout showing `upright` when turned by orientation.
inline Bytes ScannerJpeg(const Picture& upright, int orientation, const std::string& dateTime = "2024:05:17 10:20:30",
                         EncodeOptions options = {}) {
  ExifLayout exif;
  exif.orientation = static_cast<std::uint16_t>(orientation);
  exif.dateTime = dateTime;
  options.exif = exif;
  return EncodeJpeg(StoredForOrientation(upright, orientation), options);
}

inline Picture DecodeJpeg(const Bytes& file) {
  Picture picture;
  const auto read = [&picture](jpeg_decompress_struct& info) {
    info.out_color_space = info.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&info);
    picture.width = info.output_width;
    picture.height = info.output_height;
    picture.channels = info.output_components;
    picture.samples.assign(std::size_t{picture.width} * picture.height * static_cast<std::size_t>(picture.channels), 0);
    while (info.output_scanline < info.output_height) {
      JSAMPROW row = picture.At(0, info.output_scanline);
      jpeg_read_scanlines(&info, &row, 1);
    }
    return true;
  };
  if (!jpeg::Decompress(file, read)) throw std::runtime_error("cannot decode JPEG");
  return picture;
}

struct ComponentBlocks {
  int id = 0;
  int hSamp = 1;
  int vSamp = 1;
  std::uint32_t widthInBlocks = 0;
  std::uint32_t heightInBlocks = 0;
  std::array<std::uint16_t, 64> quant{};
  std::vector<int> dequantized;  // coefficient x quantiser, 64 per block, rows of blocks
};

struct JpegCoefficients {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  J_COLOR_SPACE colorSpace = JCS_UNKNOWN;
  std::vector<ComponentBlocks> components;
};

inline JpegCoefficients ReadJpegCoefficients(const Bytes& file) {
  JpegCoefficients coefficients;
  const auto read = [&coefficients](jpeg_decompress_struct& info) {
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&info);
    coefficients.width = info.image_width;
    coefficients.height = info.image_height;
    coefficients.colorSpace = info.jpeg_color_space;
    coefficients.components.resize(static_cast<std::size_t>(info.num_components));
    for (int c = 0; c < info.num_components; ++c) {
      const jpeg_component_info& comp = info.comp_info[c];
      ComponentBlocks& blocks = coefficients.components[static_cast<std::size_t>(c)];
      blocks.id = comp.component_id;
      blocks.hSamp = comp.h_samp_factor;
      blocks.vSamp = comp.v_samp_factor;
      blocks.widthInBlocks = comp.width_in_blocks;
      blocks.heightInBlocks = comp.height_in_blocks;
      std::copy_n(comp.quant_table->quantval, 64, blocks.quant.begin());
      blocks.dequantized.resize(std::size_t{comp.width_in_blocks} * comp.height_in_blocks * 64);
      std::size_t at = 0;
      for (JDIMENSION row = 0; row < comp.height_in_blocks; ++row) {
        JBLOCKARRAY rows =
            info.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&info), arrays[c], row, 1, FALSE);
        for (JDIMENSION col = 0; col < comp.width_in_blocks; ++col) {
          for (int k = 0; k < 64; ++k) blocks.dequantized[at++] = rows[0][col][k] * blocks.quant[static_cast<std::size_t>(k)];
        }
      }
    }
    return true;
  };
  if (!jpeg::Decompress(file, read)) throw std::runtime_error("cannot read coefficients");
  return coefficients;
}

// ------------------------------------------------------------------ markers

struct JpegMarker {
  int code = 0;
  Bytes data;
};

// The markers between SOI and the first SOS, read byte by byte.
inline std::vector<JpegMarker> ReadMarkers(const Bytes& file) {
  std::vector<JpegMarker> markers;
  if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) return markers;
  std::size_t at = 2;
  while (at + 4 <= file.size() && file[at] == 0xFF) {
    const int code = file[at + 1];
    if (code == 0xDA || code == 0xD9) break;
    const std::size_t length = (std::size_t{file[at + 2]} << 8) | file[at + 3];
    if (length < 2 || at + 2 + length > file.size()) break;
    markers.push_back({code, Bytes(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                   file.begin() + static_cast<std::ptrdiff_t>(at + 2 + length))});
    at += 2 + length;
  }
  return markers;
}

inline std::vector<std::string> ReadComments(const Bytes& file) {
  std::vector<std::string> comments;
  for (const JpegMarker& marker : ReadMarkers(file)) {
    if (marker.code == 0xFE) comments.emplace_back(marker.data.begin(), marker.data.end());
  }
  return comments;
}

inline std::optional<Bytes> ReadExifBlock(const Bytes& file) {
  for (const JpegMarker& marker : ReadMarkers(file)) {
    if (marker.code == 0xE1 && marker.data.size() > 6 && std::memcmp(marker.data.data(), "Exif\0\0", 6) == 0) {
      return marker.data;
    }
  }
  return std::nullopt;
}

// A tag's first value (SHORT, LONG) or text (ASCII) in IFD0 or the Exif IFD.
struct ExifValue {
  std::uint32_t number = 0;
  std::string text;
};

inline std::optional<ExifValue> ReadExifTag(const Bytes& app1, std::uint16_t tag, bool exifIfd = false) {
  if (app1.size() < 14) return std::nullopt;
  const std::uint8_t* tiff = app1.data() + 6;
  const std::size_t size = app1.size() - 6;
  const bool be = tiff[0] == 'M';
  auto read = [&](std::size_t at, int bytes) -> std::optional<std::uint32_t> {
    if (at + static_cast<std::size_t>(bytes) > size) return std::nullopt;
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
      const int shift = 8 * (be ? bytes - 1 - i : i);
      value |= std::uint32_t{tiff[at + static_cast<std::size_t>(i)]} << shift;
    }
    return value;
  };
  auto find = [&](std::uint32_t ifd, std::uint16_t wanted) -> std::optional<std::size_t> {
    const auto count = read(ifd, 2);
    for (std::uint32_t i = 0; count && i < *count; ++i) {
      const std::size_t entry = ifd + 2 + i * 12;
      if (read(entry, 2) == wanted) return entry;
    }
    return std::nullopt;
  };
  auto ifd = read(4, 4);
  if (!ifd) return std::nullopt;
  if (exifIfd) {
    const auto pointer = find(*ifd, 0x8769);
    if (!pointer) return std::nullopt;
    ifd = read(*pointer + 8, 4);
    if (!ifd) return std::nullopt;
  }
  const auto entry = find(*ifd, tag);
  if (!entry) return std::nullopt;
  const auto type = read(*entry + 2, 2);
  const auto count = read(*entry + 4, 4);
  if (!type || !count) return std::nullopt;
  ExifValue value;
  if (*type == 3) value.number = read(*entry + 8, 2).value_or(0);
  if (*type == 4) value.number = read(*entry + 8, 4).value_or(0);
  if (*type == 2) {
    const std::size_t at = *count <= 4 ? *entry + 8 : read(*entry + 8, 4).value_or(0);
    if (at + *count > size) return std::nullopt;
    value.text.assign(reinterpret_cast<const char*>(tiff + at), *count);
    value.text = value.text.c_str();  // up to the terminating zero
  }
  return value;
}

// ---------------------------------------------------------------- files

inline void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

inline Bytes ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace pw::test
