// NextImagePath in a typical save location (one folder of 100 images) and at
// its worst case (9,999 folders, 9,999 images in the last), in a host world.
// Every call lists the location and the folder in use afresh.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/LocationRights.h"
#include "platform/hostworld/World.h"
#include "platform/hostworld/WorldSessions.h"
#include "storage/DestinationNaming.h"
#include "tests/bench/BenchTime.h"
#include "ui/MainForm.h"
#include "ui/ProcessState.h"

namespace {

namespace fs = std::filesystem;

struct NamingWorld {
  NamingWorld(int folders, int imagesInLast) {
    fs::path location = world.HostPath("C:\\Scans");
    for (int n = 1; n <= folders; ++n) fs::create_directories(location / ("Photo" + std::to_string(n)));
    fs::path last = location / ("Photo" + std::to_string(folders));
    for (int k = 1; k <= imagesInLast; ++k) std::ofstream(last / pw::storage::ImageFileName("img", k));
    form = std::make_unique<pw::ui::TMainForm>(process, nullptr);
    form->FormCreate();
    form->PathEdit.SetText("C:\\Scans");
  }
  pw::host::World world;
  pw::ui::ProcessState process;
  std::unique_ptr<pw::ui::TMainForm> form;
};

void BM_NextImagePathTypical(benchmark::State& state) {
  NamingWorld naming(1, 100);
  for (auto _ : state) benchmark::DoNotOptimize(naming.form->NextImagePath());
  state.SetLabel(naming.form->NextImagePath().value_or("no name"));
}
BENCHMARK(BM_NextImagePathTypical)->Unit(benchmark::kMicrosecond);

// 9,999 images in the last folder roll the next image over into a new
// folder; that folder is removed again after each call so that every
// iteration measures the same work.
void BM_NextImagePathWorstCase(benchmark::State& state) {
  NamingWorld naming(9998, 9999);
  const fs::path created = naming.world.HostPath("C:\\Scans") / "Photo9999";
  for (auto _ : state) {
    benchmark::DoNotOptimize(naming.form->NextImagePath());
    state.PauseTiming();
    fs::remove(created);
    state.ResumeTiming();
  }
  state.SetLabel("9,998 folders, 9,999 images in the last");
}
BENCHMARK(BM_NextImagePathWorstCase)->Unit(benchmark::kMillisecond)->Iterations(pw::bench::RunIterations(20));

// The same worst case as the service names it on Windows Vista and later:
// impersonating the console user, the location's final path taken, the
// folder in use checked for links.
void BM_NextImagePathWorstCaseAsConsoleUser(benchmark::State& state) {
  NamingWorld naming(9998, 9999);
  naming.world.UserSessions().LogOn("alice");
  naming.form->SetActsForConsoleUser(true);
  pw::platform::LocationRights& rights = naming.form->SaveLocationRights();
  const fs::path created = naming.world.HostPath("C:\\Scans") / "Photo9999";
  for (auto _ : state) {
    {
      const auto pull = pw::platform::LocationRights::Pull::Begin(rights);
      const auto acting = pull ? rights.Act() : pw::platform::Failure(pull.error());
      if (!acting) {
        state.SkipWithError("nobody at the console");
        break;
      }
      benchmark::DoNotOptimize(naming.form->NextImagePath());
    }
    state.PauseTiming();
    fs::remove(created);
    state.ResumeTiming();
  }
  state.SetLabel("9,998 folders, 9,999 images in the last, as the console user");
}
BENCHMARK(BM_NextImagePathWorstCaseAsConsoleUser)->Unit(benchmark::kMillisecond)->Iterations(pw::bench::RunIterations(20));

// The cap: all 9,999 folders exist and the last holds number 9,998.
void BM_NextImagePathAllFolders(benchmark::State& state) {
  NamingWorld naming(9999, 9998);
  for (auto _ : state) benchmark::DoNotOptimize(naming.form->NextImagePath());
  state.SetLabel("9,999 folders, 9,998 images in the last");
}
BENCHMARK(BM_NextImagePathAllFolders)->Unit(benchmark::kMillisecond)->Iterations(pw::bench::RunIterations(20));

// Settling leftover transfer files, as at every start of the service: one
// listing of the location and one of each of its 9,999 folders (the last
// holding 9,998 images), as the console user; arg 1 leaves a whole picture
// in the last folder before each settling (it takes number 9,999, which is
// removed again outside the timing).
void BM_SettleLeftoversAllFolders(benchmark::State& state) {
  NamingWorld naming(9999, 9998);
  naming.world.UserSessions().LogOn("alice");
  naming.form->SetActsForConsoleUser(true);
  pw::platform::LocationRights& rights = naming.form->SaveLocationRights();
  const fs::path last = naming.world.HostPath("C:\\Scans") / "Photo9999";
  const std::string picture = std::string("\xFF\xD8\xFF\xC0\x00\x0B\x08\x00\x10\x00\x10\x01\x01\x11\x00"
                                          "\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 25) +
                              std::string(100000, '\x2A') + "\xFF\xD9";
  for (auto _ : state) {
    state.PauseTiming();
    naming.process.SettledLocation.clear();
    if (state.range(0) == 1) std::ofstream(last / "~0000001", std::ios::binary) << picture;
    state.ResumeTiming();
    {
      const auto pull = pw::platform::LocationRights::Pull::Begin(rights);
      const auto acting = pull ? rights.Act() : pw::platform::Failure(pull.error());
      if (!acting) {
        state.SkipWithError("nobody at the console");
        break;
      }
      naming.form->SettleSaveLocation();
    }
    state.PauseTiming();
    fs::remove(last / "img9999.jpg");
    state.ResumeTiming();
  }
  state.SetLabel(state.range(0) == 1 ? "9,999 folders, a whole picture left in the last"
                                     : "9,999 folders, nothing left");
}
BENCHMARK(BM_SettleLeftoversAllFolders)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(pw::bench::RunIterations(10));

}  // namespace

BENCHMARK_MAIN();
