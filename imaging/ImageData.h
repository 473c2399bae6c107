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

// One component's quantised DCT blocks, upright, row after row; only the
// blocks that cover the picture (no MCU padding).
struct CoefficientPlane {
  std::uint32_t componentId = 0;
  std::uint32_t hSamp = 1;
  std::uint32_t vSamp = 1;
  std::uint32_t widthInBlocks = 0;
  std::uint32_t heightInBlocks = 0;
  std::uint16_t quantTable[kBlockSize] = {};  // natural order, upright
  std::int16_t* blocks = nullptr;              // widthInBlocks * heightInBlocks * 64
};

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

  CoefficientPlane planes[kMaxComponents];
  std::uint8_t* pixels = nullptr;  // width * height * components, top row first

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
