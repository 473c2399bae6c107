// Auto-rotate of a 12-megapixel scanner picture stored with orientation 8:
// the component's lossless turn (DCT coefficients) against a full decode,
// turn and encode of the same file, for a noisy photo and a smooth scan.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>

#include "imaging/pwimaging.h"
#include "tests/bench/BenchSamples.h"
#include "tests/bench/BenchTime.h"

namespace {

enum Content : int { kNoisyPhoto = 0, kSmoothScan = 1 };

using pw::bench::SampleFile;

const SampleFile& File(Content content) {
  static const SampleFile noisy("pagewick-autorotate-bench-0", true);
  static const SampleFile smooth("pagewick-autorotate-bench-1", false);
  return content == kNoisyPhoto ? noisy : smooth;
}

// One auto-rotate through the component's entries: load upright, save, free.
void Resave(benchmark::State& state, std::int32_t loadBitsPerPixel) {
  const SampleFile& file = File(static_cast<Content>(state.range(0)));
  const auto quality = static_cast<std::int32_t>(state.range(1));
  std::array<std::uint8_t, PWIMG_RECORD_SIZE> record{};
  for (auto _ : state) {
    if (PwImgLoadFile(file.source.c_str(), record.data(), PWIMG_RECORD_SIZE, loadBitsPerPixel, PWIMG_LOAD_UPRIGHT,
                      nullptr, nullptr) == 0 ||
        PwImgSaveFile(file.target.c_str(), record.data(), PWIMG_FORMAT_JPEG_EXIF, 24, quality, nullptr) == 0) {
      state.SkipWithError("load or save failed");
      break;
    }
    PwImgFreeRecord(record.data());
  }
  state.counters["source_MB"] = static_cast<double>(file.sourceBytes) / 1e6;
  state.counters["saved_MB"] = static_cast<double>(std::filesystem::file_size(file.target)) / 1e6;
}

// Lossless: coefficients moved and transformed; no DCT, no colour conversion.
// The quality argument is not used by this path.
void BM_AutoRotateLossless(benchmark::State& state) { Resave(state, 0); }
// Full: decoded to 24-bit pixels, turned, encoded anew at the quality given
// (50 is the program's value; 90 keeps about the source's quality).
void BM_AutoRotateDecodeTurnEncode(benchmark::State& state) { Resave(state, 24); }

BENCHMARK(BM_AutoRotateLossless)
    ->ArgNames({"smooth", "quality"})
    ->Args({kNoisyPhoto, 50})
    ->Args({kSmoothScan, 50})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(pw::bench::MinSeconds(3.0));
BENCHMARK(BM_AutoRotateDecodeTurnEncode)
    ->ArgNames({"smooth", "quality"})
    ->Args({kNoisyPhoto, 50})
    ->Args({kNoisyPhoto, 90})
    ->Args({kSmoothScan, 50})
    ->Args({kSmoothScan, 90})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(pw::bench::MinSeconds(3.0));

}  // namespace

BENCHMARK_MAIN();
