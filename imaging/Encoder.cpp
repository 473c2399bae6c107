#include "imaging/Encoder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <jerror.h>

#include "imaging/Decoder.h"
#include "imaging/Exif.h"
#include "imaging/LargePages.h"
#include "imaging/Turn.h"

namespace pw::imaging {
namespace {

static_assert(sizeof(JCOEF) == sizeof(std::int16_t));
static_assert(sizeof(JBLOCK) == kBlockSize * sizeof(std::int16_t));

constexpr std::size_t kFirstBufferSize = std::size_t{1} << 16;

Encoder& EncoderOf(j_compress_ptr info) { return *static_cast<Encoder*>(info->client_data); }

[[noreturn]] void OutOfMemory(j_compress_ptr info) {
  info->err->msg_code = JERR_OUT_OF_MEMORY;
  info->err->error_exit(reinterpret_cast<j_common_ptr>(info));
  std::abort();  // error_exit never returns; this only tells the compiler
}

JDIMENSION RoundUp(std::uint32_t value, std::uint32_t multiple) {
  return (value + multiple - 1) / multiple * multiple;
}

}  // namespace

Encoder::~Encoder() { std::free(buffer_); }

bool Encoder::Grow(std::size_t atLeast) {
  if (atLeast <= capacity_) return true;
  void* grown = std::realloc(buffer_, atLeast);
  if (grown == nullptr) return false;
  buffer_ = static_cast<std::uint8_t*>(grown);
  capacity_ = atLeast;
  AdviseLargePages(buffer_, capacity_);
  return true;
}

void Encoder::InitDestination(j_compress_ptr info) {
  Encoder& self = EncoderOf(info);
  self.used_ = 0;
  // Room for about the loaded file's size at once spares most regrowing.
  if (!self.Grow(std::max(kFirstBufferSize, self.expectedBytes_ + self.expectedBytes_ / 8))) OutOfMemory(info);
  info->dest->next_output_byte = self.buffer_;
  info->dest->free_in_buffer = self.capacity_;
}

boolean Encoder::EmptyOutputBuffer(j_compress_ptr info) {
  // Called when the whole buffer is full.
  Encoder& self = EncoderOf(info);
  self.used_ = self.capacity_;
  if (!self.Grow(self.capacity_ * 2)) OutOfMemory(info);
  info->dest->next_output_byte = self.buffer_ + self.used_;
  info->dest->free_in_buffer = self.capacity_ - self.used_;
  return TRUE;
}

void Encoder::TermDestination(j_compress_ptr info) {
  Encoder& self = EncoderOf(info);
  self.used_ = self.capacity_ - info->dest->free_in_buffer;
}

// Called inside the setjmp scope of the public writers.
void Encoder::Create(std::size_t expectedBytes) {
  expectedBytes_ = expectedBytes;
  compressor_.Create();
  info_.client_data = this;
  destination_.init_destination = InitDestination;
  destination_.empty_output_buffer = EmptyOutputBuffer;
  destination_.term_destination = TermDestination;
  info_.dest = &destination_;
}

void Encoder::SetMetadata(const ImageData& image) {
  // A JFIF header when the file had one, or when there is no EXIF block to
  // come first; libjpeg writes it only for greyscale and YCbCr data.
  info_.write_JFIF_header = info_.write_JFIF_header && (image.hasJfif || !image.hasExif) ? TRUE : FALSE;
  if (image.hasJfif) {
    info_.density_unit = image.densityUnit;
    info_.X_density = image.xDensity;
    info_.Y_density = image.yDensity;
  }
  // libjpeg would write its Adobe marker (RGB, CMYK and YCCK data) with the
  // file header, ahead of the EXIF block: WriteMarkers writes it after the
  // kept markers instead.
  writeAdobe_ = info_.write_Adobe_marker != FALSE;
  info_.write_Adobe_marker = FALSE;
}

void Encoder::WriteMarkers(const ImageData& image, const std::vector<std::string>& comments) {
  // The kept markers, each as code, length (2 bytes, big-endian), data.
  struct Kept {
    int code;
    const std::uint8_t* data;
    unsigned length;
  };
  std::vector<Kept> kept;
  const std::uint8_t* at = image.markers;
  const std::uint8_t* end = image.markers + image.markersSize;
  while (at != nullptr && end - at >= 3) {
    const int code = at[0];
    const auto length = static_cast<unsigned>((at[1] << 8) | at[2]);
    at += 3;
    if (static_cast<std::size_t>(end - at) < length) break;
    kept.push_back({code, at, length});
    at += length;
  }
  // The EXIF block first (right after SOI, or after a JFIF header the file
  // had), then the other kept markers in their order.
  std::stable_partition(kept.begin(), kept.end(), [](const Kept& marker) {
    return marker.code == JPEG_APP0 + 1 && IsExifBlock({marker.data, marker.length});
  });
  for (const Kept& marker : kept) jpeg_write_marker(&info_, marker.code, marker.data, marker.length);
  if (writeAdobe_) {
    // As libjpeg writes it: "Adobe", version 100, no flags, the colour transform.
    const std::uint8_t transform = info_.jpeg_color_space == JCS_YCbCr ? 1 : info_.jpeg_color_space == JCS_YCCK ? 2 : 0;
    const std::uint8_t adobe[12] = {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, transform};
    jpeg_write_marker(&info_, JPEG_APP0 + 14, adobe, sizeof adobe);
  }
  for (const std::string& text : comments) {
    jpeg_write_marker(&info_, JPEG_COM, reinterpret_cast<const JOCTET*>(text.data()),
                      static_cast<unsigned>(text.size()));
  }
}

bool Encoder::WriteCoefficients(const ImageData& image, const std::vector<std::string>& comments) {
  if (setjmp(compressor_.Trap().jump)) return false;
  if (image.components < 1 || image.components > kMaxComponents || image.codec == nullptr) return false;
  Create(image.fileBytes);
  auto* common = reinterpret_cast<j_common_ptr>(&info_);
  info_.image_width = image.width;
  info_.image_height = image.height;
  info_.input_components = static_cast<int>(image.components);
  info_.in_color_space = static_cast<J_COLOR_SPACE>(image.jpegColorSpace);
  jpeg_set_defaults(&info_);
  jpeg_set_colorspace(&info_, static_cast<J_COLOR_SPACE>(image.jpegColorSpace));
  if (info_.num_components != static_cast<int>(image.components)) return false;

  // Every component keeps its own table; identical tables share a slot.
  const std::uint16_t* slotTables[NUM_QUANT_TBLS] = {};
  int slotsUsed = 0;
  for (int c = 0; c < info_.num_components; ++c) {
    const CoefficientPlane& plane = image.planes[c];
    int slot = 0;
    while (slot < slotsUsed && std::memcmp(slotTables[slot], plane.quantTable, sizeof plane.quantTable) != 0) ++slot;
    if (slot == slotsUsed) {
      if (slotsUsed == NUM_QUANT_TBLS) return false;
      if (info_.quant_tbl_ptrs[slot] == nullptr) info_.quant_tbl_ptrs[slot] = jpeg_alloc_quant_table(common);
      std::memcpy(info_.quant_tbl_ptrs[slot]->quantval, plane.quantTable, sizeof plane.quantTable);
      info_.quant_tbl_ptrs[slot]->sent_table = FALSE;
      slotTables[slot] = plane.quantTable;
      ++slotsUsed;
    }
    jpeg_component_info& component = info_.comp_info[c];
    component.component_id = static_cast<int>(plane.componentId);
    component.h_samp_factor = static_cast<int>(plane.hSamp);
    component.v_samp_factor = static_cast<int>(plane.vSamp);
    component.quant_tbl_no = slot;
  }
  // The standard Huffman tables, as jpegtran uses by default: an optimising
  // pass would nearly double the time for a few per cent of file size.
  // Progressive output gets optimised tables from libjpeg all the same.
  info_.arith_code = image.arithmetic ? TRUE : FALSE;
  info_.optimize_coding = FALSE;
  if (image.progressive) jpeg_simple_progression(&info_);
  SetMetadata(image);

  // libjpeg reaches whole MCUs, so each array covers its MCU padding too.
  // The arrays are not zeroed up front: every block is written below.
  jvirt_barray_ptr arrays[kMaxComponents] = {};
  for (int c = 0; c < info_.num_components; ++c) {
    const CoefficientPlane& plane = image.planes[c];
    arrays[c] = info_.mem->request_virt_barray(common, JPOOL_IMAGE, FALSE, RoundUp(plane.widthInBlocks, plane.hSamp),
                                               RoundUp(plane.heightInBlocks, plane.vSamp),
                                               static_cast<JDIMENSION>(plane.vSamp));
  }
  jpeg_write_coefficients(&info_, arrays);
  for (int c = 0; c < info_.num_components; ++c) {
    const CoefficientPlane& plane = image.planes[c];
    if (info_.comp_info[c].width_in_blocks != plane.widthInBlocks ||
        info_.comp_info[c].height_in_blocks != plane.heightInBlocks) {
      return false;
    }
  }
  WriteMarkers(image, comments);
  // The blocks go from the loaded file's arrays straight into these, turned.
  const auto& source = *static_cast<const Decoder*>(image.codec);
  const Turn turn{image.transpose, image.mirrorX, image.mirrorY};
  for (int c = 0; c < info_.num_components; ++c) {
    const CoefficientPlane& plane = image.planes[c];
    const JDIMENSION width = RoundUp(plane.widthInBlocks, plane.hSamp);
    const JDIMENSION height = RoundUp(plane.heightInBlocks, plane.vSamp);
    const std::size_t pictureBytes = std::size_t{plane.widthInBlocks} * sizeof(JBLOCK);
    const std::size_t rowBytes = std::size_t{width} * sizeof(JBLOCK);
    auto* rows = static_cast<JBLOCKROW*>(info_.mem->alloc_small(common, JPOOL_IMAGE, height * sizeof(JBLOCKROW)));
    // Rows are taken in order, which marks them written for libjpeg; they
    // stay in memory, so the addresses hold.
    bool contiguous = true;
    for (JDIMENSION row = 0; row < height; ++row) {
      rows[row] = info_.mem->access_virt_barray(common, arrays[c], row, 1, TRUE)[0];
      contiguous = contiguous && rows[row] == rows[0] + std::size_t{row} * width;
    }
    if (contiguous) AdviseLargePages(rows[0], std::size_t{height} * rowBytes);
    // The MCU padding is zeroed.
    for (JDIMENSION row = 0; row < height; ++row) {
      auto* bytes = reinterpret_cast<std::uint8_t*>(rows[row]);
      if (row < plane.heightInBlocks) {
        std::memset(bytes + pictureBytes, 0, rowBytes - pictureBytes);
      } else {
        std::memset(bytes, 0, rowBytes);
      }
    }
    if (!TurnBlocks(source, c, turn, plane.sourceWidthInBlocks, plane.sourceHeightInBlocks, rows)) return false;
  }
  jpeg_finish_compress(&info_);
  return true;
}

bool Encoder::WritePixels(const ImageData& image, int quality, const std::vector<std::string>& comments) {
  if (setjmp(compressor_.Trap().jump)) return false;
  if (image.components < 1 || image.components > kMaxComponents || image.pixels == nullptr) return false;
  Create(image.fileBytes);
  info_.image_width = image.width;
  info_.image_height = image.height;
  info_.input_components = static_cast<int>(image.components);
  info_.in_color_space = static_cast<J_COLOR_SPACE>(image.pixelColorSpace);
  jpeg_set_defaults(&info_);
  // The file's own colour model where the pixels allow it.
  if (image.pixelColorSpace == JCS_RGB && image.jpegColorSpace == JCS_RGB) jpeg_set_colorspace(&info_, JCS_RGB);
  if (image.pixelColorSpace == JCS_CMYK && image.jpegColorSpace == JCS_YCCK) jpeg_set_colorspace(&info_, JCS_YCCK);
  jpeg_set_quality(&info_, quality, TRUE);
  info_.optimize_coding = TRUE;
  SetMetadata(image);
  jpeg_start_compress(&info_, TRUE);
  WriteMarkers(image, comments);
  const std::size_t stride = std::size_t{image.width} * image.components;
  while (info_.next_scanline < info_.image_height) {
    JSAMPROW row = image.pixels + stride * info_.next_scanline;
    jpeg_write_scanlines(&info_, &row, 1);
  }
  jpeg_finish_compress(&info_);
  return true;
}

}  // namespace pw::imaging
