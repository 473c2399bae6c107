#pragma once
// The 12-megapixel scanner pictures the imaging benchmarks turn: a gradient
// with texture, and the same with sensor-like noise, written as a scanner's
// JPEG stored with orientation 8 into a folder of its own.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "tests/imaging/JpegSamples.h"

namespace pw::bench {

inline constexpr std::uint32_t kWidth = 4000;
inline constexpr std::uint32_t kHeight = 3000;

// Gradients with texture; noise of +-12 roughly triples the entropy-coded data.
inline test::Picture ScannerPicture(bool noisy) {
  test::Picture picture = test::GradientPicture(kWidth, kHeight);
  if (!noisy) return picture;
  std::uint32_t state = 0x12345678u;
  for (std::uint8_t& sample : picture.samples) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    sample = static_cast<std::uint8_t>(std::clamp(int{sample} + static_cast<int>(state % 25) - 12, 0, 255));
  }
  return picture;
}

// The picture as img0001.jpg (quality 90) in a temporary folder named by
// `folderName`, removed with the object; `target` is where a turn saves.
class SampleFile {
 public:
  SampleFile(const std::string& folderName, bool noisy) {
    folder_ = std::filesystem::temp_directory_path() / folderName;
    std::filesystem::create_directories(folder_);
    source = (folder_ / "img0001.jpg").string();
    target = (folder_ / "img0001.saved.jpg").string();
    test::EncodeOptions options;
    options.quality = 90;
    const test::Bytes file = test::ScannerJpeg(ScannerPicture(noisy), 8, "2024:05:17 10:20:30", options);
    sourceBytes = file.size();
    test::WriteFileBytes(source, file);
  }
  ~SampleFile() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  SampleFile(const SampleFile&) = delete;
  SampleFile& operator=(const SampleFile&) = delete;

  std::string source;
  std::string target;
  std::size_t sourceBytes = 0;

 private:
  std::filesystem::path folder_;
};

}  // namespace pw::bench
