// A libjpeg decompressor over bytes in memory, with its errors trapped. Each
// call reports success as a bool; after a failure the object may only be
// destroyed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/ImageData.h"
#include "jpeg/JpegCodec.h"

namespace pw::imaging {

class Decoder {
 public:
  Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Reads the header, keeping the APP1 to APP15 markers but APP14 (libjpeg
  // writes its own Adobe marker).
  bool ReadHeader(const std::uint8_t* data, std::size_t size);
  // Reads every scan's DCT coefficients into memory. After this the input
  // bytes are no longer needed: the file has been read to its end.
  bool ReadCoefficients();
  // Decodes the picture in the colour space given, which must have that many
  // components, into out: rows of width * components bytes, top row first.
  bool ReadPixels(J_COLOR_SPACE space, int components, std::uint8_t* out);

  const jpeg_decompress_struct& Info() const { return info_; }
  // One row of a component's blocks, after ReadCoefficients.
  JBLOCKROW BlockRow(int component, JDIMENSION row) const { return rows_[component][row]; }

 private:
  static jvirt_barray_ptr RequestBlocks(j_common_ptr info, int pool, boolean preZero, JDIMENSION blocksPerRow,
                                        JDIMENSION rows, JDIMENSION maxAccess);
  static void RealizeArrays(j_common_ptr info);

  struct BlockArray {
    jvirt_barray_ptr array = nullptr;
    std::size_t bytes = 0;
  };

  jpeg::Decompressor decompressor_;
  jpeg_decompress_struct& info_ = decompressor_.Info();
  jpeg::JpegTrap& trap_ = decompressor_.Trap();
  // libjpeg's own memory methods, wrapped to advise large pages on the
  // coefficient arrays before they are first written.
  decltype(jpeg_memory_mgr::request_virt_barray) requestBlocks_ = nullptr;
  decltype(jpeg_memory_mgr::realize_virt_arrays) realizeArrays_ = nullptr;
  BlockArray blockArrays_[kMaxComponents] = {};
  int blockArrayCount_ = 0;
  jpeg_progress_mgr progress_{};
  JBLOCKROW* rows_[kMaxComponents] = {};
};

}  // namespace pw::imaging
