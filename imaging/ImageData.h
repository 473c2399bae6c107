// The picture data behind a record, shared by the two modules: pwimgfil fills
// it, pwimgkrn owns its memory and releases it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imaging/pwimaging.h"

namespace pw::imaging {

inline constexpr int kMaxComponents = 4;
inline constexpr int kBlockSize = 64;

// One component of the upright picture, for the coefficient storage: its
// geometry and quantisation table after the turn, and the part of the file's
// block grid it is made of (whole iMCUs along a mirrored axis).
struct CoefficientPlane {
  std::uint32_t componentId = 0;
  std::uint32_t hSamp = 1;
  std::uint32_t vSamp = 1;
  std::uint32_t widthInBlocks = 0;   // upright
  std::uint32_t heightInBlocks = 0;
  std::uint32_t sourceWidthInBlocks = 0;  // as stored in the file
  std::uint32_t sourceHeightInBlocks = 0;
  std::uint16_t quantTable[kBlockSize] = {};  // natural order, upright
};

// The module that decoded a file keeps it open behind the record (its DCT
// coefficients) and says how to release it.
using ReleaseCodec = void (*)(void* codec);

struct ImageData {
  std::uint32_t storage = PWIMG_STORAGE_NONE;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t components = 0;
  // J_COLOR_SPACE of the JPEG data (coefficients) or of the pixels.
  std::int32_t jpegColorSpace = 0;
  std::int32_t pixelColorSpace = 0;
  bool progressive = false;
  bool arithmetic = false;

  // Coefficient storage: the stored file's blocks and the turn that makes
  // them upright, applied as they are written out.
  CoefficientPlane planes[kMaxComponents];
  bool transpose = false;
  bool mirrorX = false;
  bool mirrorY = false;
  void* codec = nullptr;
  ReleaseCodec releaseCodec = nullptr;
  std::uint32_t fileBytes = 0;  // size of the loaded file, a hint for the output

  // Pixel storage: width * height * components samples, top row first.
  std::uint8_t* pixels = nullptr;

  // JFIF header of the loaded file, if it had one.
  bool hasJfif = false;
  std::uint8_t densityUnit = 0;
  std::uint16_t xDensity = 1;
  std::uint16_t yDensity = 1;

  // APPn markers kept from the file, each as: code, length (2 bytes, big
  // endian, data only), data.
  std::uint8_t* markers = nullptr;
  std::uint32_t markersSize = 0;
  bool hasExif = false;
};

// The record's fields, read and written with memcpy: callers hand in plain
// bytes with no alignment promise.
inline PwImgRecord ReadRecord(const void* record) {
  PwImgRecord fields;
  std::memcpy(&fields, record, sizeof fields);
  return fields;
}

inline void WriteRecord(void* record, const PwImgRecord& fields) {
  std::memcpy(record, &fields, sizeof fields);
}

inline ImageData* ImageOf(const PwImgRecord& fields) {
  if (fields.magic != PWIMG_RECORD_MAGIC || (fields.flags & PWIMG_HOLDS_DATA) == 0) return nullptr;
  return reinterpret_cast<ImageData*>(static_cast<std::uintptr_t>(fields.image));
}

static_assert(sizeof(PwImgRecord) == PWIMG_RECORD_SIZE);
static_assert(offsetof(PwImgRecord, flags) == PWIMG_HOLDS_DATA_OFFSET);
static_assert(offsetof(PwImgRecord, image) == 40);

}  // namespace pw::imaging
