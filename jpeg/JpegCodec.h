// libjpeg driven the one way this project drives it: errors trapped (JpegTrap),
// data in memory, libjpeg's own set-up and clean-up around the caller's step.
//
// libjpeg leaves a step by a jump when it fails, so a step holds no local
// object with a destructor; what it filled in by then is the caller's to drop.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

#include "jpeg/JpegTrap.h"

namespace pw::jpeg {

namespace codec_detail {
inline void Create(jpeg_compress_struct& info) { jpeg_CreateCompress(&info, JPEG_LIB_VERSION, sizeof info); }
inline void Create(jpeg_decompress_struct& info) { jpeg_CreateDecompress(&info, JPEG_LIB_VERSION, sizeof info); }
}  // namespace codec_detail

// A compressor or decompressor whose errors jump to Trap().jump, destroyed
// with the object. Create() belongs inside the caller's setjmp on that jump.
template <class Struct>
class Codec {
 public:
  Codec() { info_.err = ArmJpegTrap(trap_); }
  ~Codec() {
    // Destroying is safe even if creating failed part-way: it starts from zero.
    if (created_) jpeg_destroy(reinterpret_cast<j_common_ptr>(&info_));
  }
  Codec(const Codec&) = delete;
  Codec& operator=(const Codec&) = delete;

  void Create() {
    created_ = true;
    codec_detail::Create(info_);
  }
  Struct& Info() { return info_; }
  JpegTrap& Trap() { return trap_; }

 private:
  JpegTrap trap_;
  Struct info_{};
  bool created_ = false;
};

using Compressor = Codec<jpeg_compress_struct>;
using Decompressor = Codec<jpeg_decompress_struct>;

// A caller's step, called as bool(Info&); false ends the work as failed. It
// refers to the callable, which outlives the call it is passed to.
template <class Info>
class Step {
 public:
  template <class F>
    requires(!std::is_same_v<F, Step>)
  Step(const F& step)  // implicit: callers pass a lambda
      : call_([](const void* callable, Info& info) -> bool { return (*static_cast<const F*>(callable))(info); }),
        callable_(&step) {}
  bool operator()(Info& info) const { return call_(callable_, info); }

 private:
  bool (*call_)(const void*, Info&);
  const void* callable_;
};

// The picture a compression is set up for, with libjpeg's defaults.
struct Shape {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int components = 3;
  J_COLOR_SPACE colorSpace = JCS_RGB;
};

// Compresses into memory: the step changes what differs from the defaults,
// starts the compression (jpeg_start_compress or jpeg_write_coefficients) and
// writes everything; the helper finishes. The arrays given to
// jpeg_write_coefficients must outlive the step. The file, or nothing on failure.
std::optional<std::vector<std::uint8_t>> Compress(const Shape& shape, Step<jpeg_compress_struct> step);

// Decompresses data: the header is read, then the step starts and reads the
// picture (pixels or coefficients) to its end; the helper finishes. False on
// failure. Warnings about corrupt data are left in the trap's count.
bool Decompress(std::span<const std::uint8_t> data, Step<jpeg_decompress_struct> step);

}  // namespace pw::jpeg
