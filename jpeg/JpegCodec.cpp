#include "jpeg/JpegCodec.h"

#include <cstdlib>
#include <memory>

namespace pw::jpeg {

namespace {

struct FreeMemory {
  void operator()(unsigned char* memory) const { std::free(memory); }
};

// The setjmp frames: nothing here has a destructor.
bool CompressInto(Compressor& compressor, const Shape& shape, Step<jpeg_compress_struct> step,
                  unsigned char** memory, unsigned long* size) {
  if (setjmp(compressor.Trap().jump)) return false;
  compressor.Create();
  jpeg_compress_struct& info = compressor.Info();
  jpeg_mem_dest(&info, memory, size);
  info.image_width = shape.width;
  info.image_height = shape.height;
  info.input_components = shape.components;
  info.in_color_space = shape.colorSpace;
  jpeg_set_defaults(&info);
  if (!step(info)) return false;
  jpeg_finish_compress(&info);
  return true;
}

bool DecompressFrom(Decompressor& decompressor, std::span<const std::uint8_t> data,
                    Step<jpeg_decompress_struct> step) {
  if (setjmp(decompressor.Trap().jump)) return false;
  decompressor.Create();
  jpeg_decompress_struct& info = decompressor.Info();
  jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return false;
  if (!step(info)) return false;
  jpeg_finish_decompress(&info);
  return true;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> Compress(const Shape& shape, Step<jpeg_compress_struct> step) {
  unsigned char* memory = nullptr;
  unsigned long size = 0;
  bool written = false;
  {
    Compressor compressor;
    written = CompressInto(compressor, shape, step, &memory, &size);
  }
  // libjpeg's memory destination is allocated with malloc and is the
  // caller's to free, after a failure too.
  const std::unique_ptr<unsigned char, FreeMemory> owned(memory);
  if (!written) return std::nullopt;
  return std::vector<std::uint8_t>(memory, memory + size);
}

bool Decompress(std::span<const std::uint8_t> data, Step<jpeg_decompress_struct> step) {
  Decompressor decompressor;
  return DecompressFrom(decompressor, data, step);
}

}  // namespace pw::jpeg
