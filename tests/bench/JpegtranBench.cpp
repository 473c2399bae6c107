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
#include "tests/bench/BenchSamples.h"
#include "tests/bench/BenchTime.h"

namespace {

constexpr const char* kJpegtran = "/usr/bin/jpegtran";

using pw::bench::SampleFile;

const SampleFile& File() {
  static const SampleFile file("pagewick-jpegtran-bench-" + std::to_string(::getpid()), true);
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

BENCHMARK(LosslessTurn)->Unit(benchmark::kMillisecond)->MinTime(pw::bench::MinSeconds(3.0))->UseRealTime();
BENCHMARK(Jpegtran270)->Unit(benchmark::kMillisecond)->MinTime(pw::bench::MinSeconds(3.0))->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
