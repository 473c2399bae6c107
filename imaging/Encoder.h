// A libjpeg compressor that writes a record's picture into memory, with its
// errors trapped. After a failure the object may only be destroyed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imaging/ImageData.h"
#include "jpeg/JpegCodec.h"

namespace pw::imaging {

class Encoder {
 public:
  Encoder() = default;
  ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  // The record's DCT coefficients with their own quantisation tables: no
  // decoding, no loss.
  bool WriteCoefficients(const ImageData& image, const std::vector<std::string>& comments);
  // The record's pixels, encoded anew at this IJG quality (1 to 100).
  bool WritePixels(const ImageData& image, int quality, const std::vector<std::string>& comments);

  // The JPEG file written, valid after a successful write.
  std::span<const std::uint8_t> Bytes() const { return {buffer_, used_}; }

  // libjpeg's destination callbacks.
  static void InitDestination(j_compress_ptr info);
  static boolean EmptyOutputBuffer(j_compress_ptr info);
  static void TermDestination(j_compress_ptr info);

 private:
  void Create(std::size_t expectedBytes);
  void SetMetadata(const ImageData& image);
  void WriteMarkers(const ImageData& image, const std::vector<std::string>& comments);
  bool Grow(std::size_t atLeast);

  jpeg::Compressor compressor_;
  jpeg_compress_struct& info_ = compressor_.Info();
  jpeg_destination_mgr destination_{};
  std::uint8_t* buffer_ = nullptr;  // malloc'd, grown by the destination
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
  std::size_t expectedBytes_ = 0;
  bool writeAdobe_ = false;  // libjpeg asked for its Adobe marker
};

}  // namespace pw::imaging
