// The component's lossless turn against jpegtran (libjpeg-turbo's own
// lossless transform) on the same file in the same run: a 12-megapixel noisy
// photo stored with orientation 8, built as AutoRotateBench builds its photo.
//
//   LosslessTurn    load upright and save through the component's entries
//   Jpegtran270     jpegtran -rotate 270 -copy all as a process of its own
//                   (its start, a millisecond or two, is included)
// Compare real_time of the two lines. Jpegtran270 is skipped when jpegtran
// (Debian libjpeg-turbo-progs) is not installed.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "imaging/pwimaging.h"
#include "tests/imaging/JpegSamples.h"

namespace {

constexpr std::uint32_t kWidth = 4000;
constexpr std::uint32_t kHeight = 3000;
constexpr const char* kJpegtran = "/usr/bin/jpegtran";

// Gradients with texture and sensor-like noise of +-12.
pw::test::Picture NoisyPhoto() {
  pw::test::Picture picture = pw::test::GradientPicture(kWidth, kHeight);
  std::uint32_t state = 0x12345678u;
  for (std::uint8_t& sample : picture.samples) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    sample = static_cast<std::uint8_t>(std::clamp(int{sample} + static_cast<int>(state % 25) - 12, 0, 255));
  }
  return picture;
}

class SampleFile {
 public:
  SampleFile() {
    folder_ = std::filesystem::temp_directory_path() / ("pagewick-jpegtran-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    source = (folder_ / "img0001.jpg").string();
    target = (folder_ / "img0001.saved.jpg").string();
    pw::test::EncodeOptions options;
    options.quality = 90;
    pw::test::WriteFileBytes(source, pw::test::ScannerJpeg(NoisyPhoto(), 8, "2024:05:17 10:20:30", options));
  }
  ~SampleFile() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  SampleFile(const SampleFile&) = delete;
  SampleFile& operator=(const SampleFile&) = delete;

  std::string source;
  std::string target;

 private:
  std::filesystem::path folder_;
};

const SampleFile& File() {
  static const SampleFile file;
  return file;
}

void LosslessTurn(benchmark::State& state) {
  const SampleFile& file = File();
  std::array<std::uint8_t, PWIMG_RECORD_SIZE> record{};
  for (auto _ : state) {
    if (PwImgLoadFile(file.source.c_str(), record.data(), PWIMG_RECORD_SIZE, 0, PWIMG_LOAD_UPRIGHT, nullptr,
                      nullptr) == 0 ||
        PwImgSaveFile(file.target.c_str(), record.data(), PWIMG_FORMAT_JPEG_EXIF, 24, 50, nullptr) == 0) {
      state.SkipWithError("load or save failed");
      break;
    }
    PwImgFreeRecord(record.data());
  }
}

// Runs jpegtran on the file and waits for it; false when it did not succeed.
bool RunJpegtran(const SampleFile& file) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl(kJpegtran, kJpegtran, "-rotate", "270", "-copy", "all", "-outfile", file.target.c_str(),
            file.source.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (child < 0) return false;
  int status = 0;
  if (::waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Jpegtran270(benchmark::State& state) {
  if (::access(kJpegtran, X_OK) != 0) {
    state.SkipWithError("jpegtran is not installed (libjpeg-turbo-progs)");
    return;
  }
  const SampleFile& file = File();
  for (auto _ : state) {
    if (!RunJpegtran(file)) {
      state.SkipWithError("jpegtran failed");
      break;
    }
  }
}

BENCHMARK(LosslessTurn)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(Jpegtran270)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
