#include "imaging/Decoder.h"

#include <jerror.h>

#include "imaging/LargePages.h"

namespace pw::imaging {
namespace {

// Progressive files may hold any number of scans, each a pass over the whole
// picture; a hostile file could make decoding take very long.
constexpr int kMaxScans = 1000;

void LimitScans(j_common_ptr common) {
  auto* info = reinterpret_cast<j_decompress_ptr>(common);
  if (info->input_scan_number > kMaxScans) {
    common->err->msg_code = JERR_NOT_COMPILED;  // any code: the trap only jumps
    common->err->error_exit(common);
  }
}

}  // namespace

Decoder::Decoder() { progress_.progress_monitor = LimitScans; }

jvirt_barray_ptr Decoder::RequestBlocks(j_common_ptr info, int pool, boolean preZero, JDIMENSION blocksPerRow,
                                         JDIMENSION rows, JDIMENSION maxAccess) {
  auto& self = *static_cast<Decoder*>(info->client_data);
  const jvirt_barray_ptr array = self.requestBlocks_(info, pool, preZero, blocksPerRow, rows, maxAccess);
  if (self.blockArrayCount_ < kMaxComponents) {
    self.blockArrays_[self.blockArrayCount_++] = {array, std::size_t{blocksPerRow} * rows * sizeof(JBLOCK)};
  }
  return array;
}

void Decoder::RealizeArrays(j_common_ptr info) {
  auto& self = *static_cast<Decoder*>(info->client_data);
  self.realizeArrays_(info);
  // Each array sits in memory whole, in one block (libjpeg here has no
  // backing store and splits only arrays over 1 GB, beyond any picture we
  // load). Taking its first row for writing is what the decoder does first
  // anyway.
  for (int i = 0; i < self.blockArrayCount_; ++i) {
    const BlockArray& blocks = self.blockArrays_[i];
    JBLOCKROW first = info->mem->access_virt_barray(info, blocks.array, 0, 1, TRUE)[0];
    AdviseLargePages(first, blocks.bytes);
  }
  self.blockArrayCount_ = 0;
}

bool Decoder::ReadHeader(const std::uint8_t* data, std::size_t size) {
  if (setjmp(trap_.jump)) return false;
  decompressor_.Create();
  info_.client_data = this;
  requestBlocks_ = info_.mem->request_virt_barray;
  realizeArrays_ = info_.mem->realize_virt_arrays;
  info_.mem->request_virt_barray = RequestBlocks;
  info_.mem->realize_virt_arrays = RealizeArrays;
  info_.progress = &progress_;
  jpeg_mem_src(&info_, data, static_cast<unsigned long>(size));
  for (int app = 1; app <= 15; ++app) {
    if (app != 14) jpeg_save_markers(&info_, JPEG_APP0 + app, 0xFFFF);
  }
  if (jpeg_read_header(&info_, TRUE) != JPEG_HEADER_OK) return false;
  return trap_.corruptData == 0;
}

bool Decoder::ReadCoefficients() {
  if (setjmp(trap_.jump)) return false;
  if (info_.num_components < 1 || info_.num_components > kMaxComponents) return false;
  jvirt_barray_ptr* arrays = jpeg_read_coefficients(&info_);
  if (arrays == nullptr) return false;
  auto* common = reinterpret_cast<j_common_ptr>(&info_);
  // The arrays stay in memory as a whole (libjpeg here has no backing
  // store), so row addresses taken now stay valid until the object goes.
  for (int c = 0; c < info_.num_components; ++c) {
    const JDIMENSION rows = info_.comp_info[c].height_in_blocks;
    rows_[c] = static_cast<JBLOCKROW*>(info_.mem->alloc_small(common, JPOOL_IMAGE, rows * sizeof(JBLOCKROW)));
    for (JDIMENSION r = 0; r < rows; ++r) {
      rows_[c][r] = info_.mem->access_virt_barray(common, arrays[c], r, 1, FALSE)[0];
    }
  }
  return trap_.corruptData == 0;
}

bool Decoder::ReadPixels(J_COLOR_SPACE space, int components, std::uint8_t* out) {
  if (setjmp(trap_.jump)) return false;
  info_.out_color_space = space;
  info_.dct_method = JDCT_ISLOW;
  jpeg_start_decompress(&info_);
  if (info_.output_components != components || info_.output_width != info_.image_width ||
      info_.output_height != info_.image_height) {
    return false;
  }
  const std::size_t stride = std::size_t{info_.output_width} * static_cast<std::size_t>(info_.output_components);
  while (info_.output_scanline < info_.output_height) {
    JSAMPROW row = out + stride * info_.output_scanline;
    jpeg_read_scanlines(&info_, &row, 1);
  }
  jpeg_finish_decompress(&info_);
  return trap_.corruptData == 0;
}

}  // namespace pw::imaging
