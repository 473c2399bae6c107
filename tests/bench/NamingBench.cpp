// NextImagePath in a typical save location (one folder of 100 images) and at
// its worst case (9,999 folders, 9,999 images in the last), in a host world.
// Every call lists the location and the folder in use afresh.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/LocationRights.h"
#include "platform/host/World.h"
#include "platform/host/WorldSessions.h"
#include "storage/DestinationNaming.h"
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
  state.SetLabel(naming.form->NextImagePath());
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
BENCHMARK(BM_NextImagePathWorstCase)->Unit(benchmark::kMillisecond)->Iterations(20);

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
      const pw::platform::LocationRights::Pull pull(rights);
      const pw::platform::LocationRights::Acting acting = rights.Act();
      benchmark::DoNotOptimize(naming.form->NextImagePath());
    }
    state.PauseTiming();
    fs::remove(created);
    state.ResumeTiming();
  }
  state.SetLabel("9,998 folders, 9,999 images in the last, as the console user");
}
BENCHMARK(BM_NextImagePathWorstCaseAsConsoleUser)->Unit(benchmark::kMillisecond)->Iterations(20);

// The cap: all 9,999 folders exist and the last holds number 9,998.
void BM_NextImagePathAllFolders(benchmark::State& state) {
  NamingWorld naming(9999, 9998);
  for (auto _ : state) benchmark::DoNotOptimize(naming.form->NextImagePath());
  state.SetLabel("9,999 folders, 9,998 images in the last");
}
BENCHMARK(BM_NextImagePathAllFolders)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
