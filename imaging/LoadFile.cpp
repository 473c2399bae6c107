// PwImgLoadFile: a JPEG file into a record, turned upright on request.
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "imaging/Decoder.h"
#include "imaging/Exif.h"
#include "imaging/FileBytes.h"
#include "imaging/ImageData.h"
#include "imaging/Kernel.h"
#include "imaging/Orientation.h"
#include "imaging/Turn.h"
#include "imaging/pwimaging.h"
#include "imaging/Trace.h"

namespace pw::imaging {
namespace {

constexpr std::size_t kMaxFileBytes = std::size_t{256} << 20;

struct ImageDeleter {
  void operator()(ImageData* image) const { PwKrnReleaseImage(image); }
};
using ImagePtr = std::unique_ptr<ImageData, ImageDeleter>;

struct KeptMarker {
  int code = 0;
  std::vector<std::uint8_t> data;
};

// The APPn markers that travel with the picture. JFIF (APP0) and Adobe (APP14)
// are written by the encoder from the picture's own parameters, and the old
// comments make way for the ones set for the save.
std::vector<KeptMarker> KeepMarkers(const jpeg_decompress_struct& info) {
  std::vector<KeptMarker> kept;
  for (jpeg_saved_marker_ptr marker = info.marker_list; marker != nullptr; marker = marker->next) {
    const int code = marker->marker;
    if (code <= JPEG_APP0 || code > JPEG_APP0 + 15 || code == JPEG_APP0 + 14) continue;
    if (marker->data_length != marker->original_length) continue;
    kept.push_back({code, {marker->data, marker->data + marker->data_length}});
  }
  return kept;
}

KeptMarker* FindExif(std::vector<KeptMarker>& markers) {
  for (auto& marker : markers) {
    if (marker.code == JPEG_APP0 + 1 && IsExifBlock(marker.data)) return &marker;
  }
  return nullptr;
}

bool StoreMarkers(const std::vector<KeptMarker>& markers, ImageData& image) {
  std::size_t total = 0;
  for (const auto& marker : markers) total += 3 + marker.data.size();
  if (total == 0) return true;
  if (total > std::numeric_limits<std::uint32_t>::max()) return false;
  auto* out = static_cast<std::uint8_t*>(PwKrnAllocate(total));
  if (out == nullptr) return false;
  image.markers = out;
  image.markersSize = static_cast<std::uint32_t>(total);
  for (const auto& marker : markers) {
    *out++ = static_cast<std::uint8_t>(marker.code);
    *out++ = static_cast<std::uint8_t>(marker.data.size() >> 8);
    *out++ = static_cast<std::uint8_t>(marker.data.size() & 0xFF);
    out = std::copy(marker.data.begin(), marker.data.end(), out);
  }
  return true;
}

// Bytes for count items of the given size, or 0 when that does not fit.
std::size_t BytesFor(std::uint64_t count, std::size_t itemSize) {
  const std::uint64_t bytes = count * itemSize;
  if (count != 0 && bytes / count != itemSize) return 0;
  if (bytes > std::numeric_limits<std::size_t>::max()) return 0;
  return static_cast<std::size_t>(bytes);
}

// The part of the stored picture that survives the turn. Mirroring moves the
// blocks of an edge to the opposite edge; a partial iMCU at the mirrored edge
// would land at the top or left, where JPEG cannot hold one, so it is dropped.
struct Geometry {
  std::uint32_t iMcuWidth = 8;
  std::uint32_t iMcuHeight = 8;
  std::uint32_t keptWidth = 0;
  std::uint32_t keptHeight = 0;
  bool trimmed = false;
};

Geometry PlanGeometry(const jpeg_decompress_struct& info, const Turn& turn) {
  const bool single = info.num_components == 1;
  Geometry geometry;
  geometry.iMcuWidth = 8u * static_cast<std::uint32_t>(single ? 1 : info.max_h_samp_factor);
  geometry.iMcuHeight = 8u * static_cast<std::uint32_t>(single ? 1 : info.max_v_samp_factor);
  geometry.keptWidth = turn.mirrorX ? info.image_width / geometry.iMcuWidth * geometry.iMcuWidth : info.image_width;
  geometry.keptHeight = turn.mirrorY ? info.image_height / geometry.iMcuHeight * geometry.iMcuHeight : info.image_height;
  geometry.trimmed = geometry.keptWidth != info.image_width || geometry.keptHeight != info.image_height;
  return geometry;
}

struct DecoderDeleter {
  void operator()(Decoder* decoder) const {
    decoder->~Decoder();
    PwKrnRelease(decoder);
  }
};
using DecoderPtr = std::unique_ptr<Decoder, DecoderDeleter>;

DecoderPtr MakeDecoder() {
  void* block = PwKrnAllocate(sizeof(Decoder));
  if (block == nullptr) return nullptr;
  return DecoderPtr(new (block) Decoder());
}

void ReleaseDecoder(void* codec) { DecoderDeleter{}(static_cast<Decoder*>(codec)); }

// The upright picture's geometry for coefficient storage; the blocks stay in
// the decoder and are turned as the save writes them.
bool PlanCoefficients(const Decoder& decoder, const Turn& turn, const Geometry& geometry, ImageData& image) {
  const jpeg_decompress_struct& info = decoder.Info();
  const bool single = info.num_components == 1;
  for (int c = 0; c < info.num_components; ++c) {
    const jpeg_component_info& component = info.comp_info[c];
    if (component.quant_table == nullptr) return false;
    const auto hSamp = static_cast<std::uint32_t>(single ? 1 : component.h_samp_factor);
    const auto vSamp = static_cast<std::uint32_t>(single ? 1 : component.v_samp_factor);
    CoefficientPlane& plane = image.planes[c];
    // Whole iMCUs along a mirrored axis, every block otherwise.
    plane.sourceWidthInBlocks =
        turn.mirrorX ? geometry.keptWidth / geometry.iMcuWidth * hSamp : component.width_in_blocks;
    plane.sourceHeightInBlocks =
        turn.mirrorY ? geometry.keptHeight / geometry.iMcuHeight * vSamp : component.height_in_blocks;
    plane.componentId = static_cast<std::uint32_t>(component.component_id);
    plane.hSamp = turn.transpose ? vSamp : hSamp;
    plane.vSamp = turn.transpose ? hSamp : vSamp;
    plane.widthInBlocks = turn.transpose ? plane.sourceHeightInBlocks : plane.sourceWidthInBlocks;
    plane.heightInBlocks = turn.transpose ? plane.sourceWidthInBlocks : plane.sourceHeightInBlocks;
    for (std::size_t k = 0; k < kBlockSize; ++k) {
      const std::size_t source = turn.transpose ? (k % 8) * 8 + k / 8 : k;
      plane.quantTable[k] = component.quant_table->quantval[source];
    }
  }
  image.storage = PWIMG_STORAGE_COEFFICIENTS;
  image.width = turn.transpose ? geometry.keptHeight : geometry.keptWidth;
  image.height = turn.transpose ? geometry.keptWidth : geometry.keptHeight;
  image.components = static_cast<std::uint32_t>(info.num_components);
  image.jpegColorSpace = info.jpeg_color_space;
  image.progressive = info.progressive_mode != 0;
  image.arithmetic = info.arith_code != 0;
  image.transpose = turn.transpose;
  image.mirrorX = turn.mirrorX;
  image.mirrorY = turn.mirrorY;
  return true;
}

bool DecodePixels(Decoder& decoder, const Turn& turn, std::int32_t bitsPerPixel, ImageData& image) {
  const jpeg_decompress_struct& info = decoder.Info();
  const J_COLOR_SPACE stored = info.jpeg_color_space;
  J_COLOR_SPACE space = JCS_UNKNOWN;
  int channels = 0;
  if (stored == JCS_GRAYSCALE && bitsPerPixel == 0) {
    space = JCS_GRAYSCALE;
    channels = 1;
  } else if (stored == JCS_GRAYSCALE || stored == JCS_YCbCr || stored == JCS_RGB) {
    space = JCS_RGB;
    channels = 3;
  } else if ((stored == JCS_CMYK || stored == JCS_YCCK) && bitsPerPixel == 0) {
    space = JCS_CMYK;
    channels = 4;
  } else {
    return false;
  }

  const std::uint32_t width = info.image_width;
  const std::uint32_t height = info.image_height;
  const std::size_t bytes = BytesFor(std::uint64_t{width} * height, static_cast<std::size_t>(channels));
  if (bytes == 0) return false;
  auto* out = static_cast<std::uint8_t*>(PwKrnAllocate(bytes));
  if (out == nullptr) return false;
  image.pixels = out;
  if (turn.IsIdentity()) {
    if (!decoder.ReadPixels(space, channels, out)) return false;
  } else {
    std::vector<std::uint8_t> filePixels(bytes);
    if (!decoder.ReadPixels(space, channels, filePixels.data())) return false;
    TurnPixels(filePixels.data(), width, height, static_cast<std::uint32_t>(channels), turn, out);
  }
  image.storage = PWIMG_STORAGE_PIXELS;
  image.width = turn.transpose ? height : width;
  image.height = turn.transpose ? width : height;
  image.components = static_cast<std::uint32_t>(channels);
  image.pixelColorSpace = space;
  image.jpegColorSpace = stored;
  return true;
}

bool Load(const char* fileName, void* record, std::int32_t bitsPerPixel, std::int32_t flags) {
  const auto bytes = ReadFileBytes(fileName, kMaxFileBytes);
  if (!bytes) return false;
  DecoderPtr decoder = MakeDecoder();
  if (!decoder || !decoder->ReadHeader(bytes->data(), bytes->size())) return false;
  const jpeg_decompress_struct& info = decoder->Info();
  if (info.num_components < 1 || info.num_components > kMaxComponents) return false;
  if (std::uint64_t{info.image_width} * info.image_height > PWIMG_MAX_PIXELS) return false;

  std::vector<KeptMarker> markers = KeepMarkers(info);
  KeptMarker* exif = FindExif(markers);
  const std::uint32_t orientation = exif ? ReadExifOrientation(exif->data) : 1;
  const Turn turn = (flags & static_cast<int32_t>(PWIMG_LOAD_UPRIGHT)) != 0 ? TurnForOrientation(orientation) : Turn{};
  const Geometry geometry = PlanGeometry(info, turn);

  ImagePtr image(PwKrnCreateImage());
  if (!image) return false;
  // Coefficients unless pixels were asked for, or dropping the partial edge
  // would leave nothing of a picture smaller than one iMCU.
  const bool coefficients = bitsPerPixel == 0 && geometry.keptWidth > 0 && geometry.keptHeight > 0;
  const bool loaded = coefficients ? decoder->ReadCoefficients() && PlanCoefficients(*decoder, turn, geometry, *image)
                                   : DecodePixels(*decoder, turn, bitsPerPixel, *image);
  if (!loaded) return false;
  image->fileBytes = static_cast<std::uint32_t>(bytes->size());

  if (!turn.IsIdentity()) {
    if (exif) MarkExifUpright(exif->data, image->width, image->height);
    for (auto& marker : markers) {
      if (marker.code == JPEG_APP0 + 1) MarkXmpUpright(marker.data);
    }
  }
  if (!StoreMarkers(markers, *image)) return false;
  image->hasExif = exif != nullptr;
  image->hasJfif = info.saw_JFIF_marker != 0;
  image->densityUnit = info.density_unit;
  image->xDensity = turn.transpose ? info.Y_density : info.X_density;
  image->yDensity = turn.transpose ? info.X_density : info.Y_density;

  PwImgRecord fields{};
  fields.magic = PWIMG_RECORD_MAGIC;
  fields.recordSize = PWIMG_RECORD_SIZE;
  fields.width = image->width;
  fields.height = image->height;
  fields.bitsPerPixel = image->components * 8;
  fields.storage = image->storage;
  fields.orientation = orientation;
  fields.fileWidth = info.image_width;
  fields.fileHeight = info.image_height;
  fields.flags = static_cast<std::uint8_t>(PWIMG_HOLDS_DATA |
                                           (coefficients && geometry.trimmed ? PWIMG_RECORD_TRIMMED : 0u));
  if (coefficients) {
    // The decoder has read the whole file; it keeps the blocks for the save.
    image->codec = decoder.release();
    image->releaseCodec = ReleaseDecoder;
  }
  fields.image = reinterpret_cast<std::uintptr_t>(image.release());
  WriteRecord(record, fields);
  return true;
}

}  // namespace
}  // namespace pw::imaging

extern "C" int PwImgLoadFile(const char* fileName, void* record, uint32_t recordSize, int32_t bitsPerPixel,
                             int32_t flags, void* reserved1, void* reserved2) {
  if (record == nullptr) return 0;
  // The record tells "nothing to free" from here on, whatever happens next.
  std::memset(record, 0, std::min<std::uint32_t>(recordSize, PWIMG_RECORD_SIZE));
  if (recordSize < PWIMG_RECORD_SIZE || fileName == nullptr) return 0;
  if (bitsPerPixel != 0 && bitsPerPixel != 24) return 0;
  if ((flags & ~static_cast<int32_t>(PWIMG_LOAD_UPRIGHT)) != 0) return 0;
  if (reserved1 != nullptr || reserved2 != nullptr) return 0;
  try {
    return pw::imaging::Load(fileName, record, bitsPerPixel, flags) ? 1 : 0;
  } catch (...) {
    pw::imaging::TraceCurrentException("pwimgfil: loading a file");
    return 0;
  }
}
