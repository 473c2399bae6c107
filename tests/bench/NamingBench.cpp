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

// The location's folders and images: made once and kept for every benchmark
// of the same form, since making tens of thousands of entries on the disk
// takes far longer than the runs. The worst case's form (9,998 folders, 9,999
// images in the last) becomes the cap's (9,999 folders, 9,998 in the last)
// by three changes. A smoke run makes a location a hundred times smaller, of
// the same form: its figures only have to come out.
class SharedLocation {
 public:
  static SharedLocation& Get() {
    static SharedLocation location;
    return location;
  }
  static std::string Folder(int n) { return "Photo" + std::to_string(n); }
  int Folders() const { return folders_; }
  int ImagesInLast() const { return imagesInLast_; }

  pw::hostworld::World& Shape(int folders, int imagesInLast) {
    if (folders > 1 && pw::bench::SmokeRun()) {
      folders /= 101;
      imagesInLast /= 101;
    }
    if (folders == folders_ + 1 && imagesInLast == imagesInLast_ - 1 && imagesInLast_ == folders_ + 1) {
      const fs::path location = world_->HostPath("C:\\Scans");
      fs::rename(location / Folder(folders_), location / Folder(folders));
      fs::create_directory(location / Folder(folders_));
      fs::remove(location / Folder(folders) / pw::storage::ImageFileName("img", imagesInLast_));
    } else if (folders != folders_ || imagesInLast != imagesInLast_) {
      world_.reset();
      world_ = std::make_unique<pw::hostworld::World>();
      const fs::path location = world_->HostPath("C:\\Scans");
      for (int n = 1; n <= folders; ++n) fs::create_directories(location / Folder(n));
      const fs::path last = location / Folder(folders);
      for (int k = 1; k <= imagesInLast; ++k) std::ofstream(last / pw::storage::ImageFileName("img", k));
    }
    folders_ = folders;
    imagesInLast_ = imagesInLast;
    return *world_;
  }

 private:
  std::unique_ptr<pw::hostworld::World> world_ = std::make_unique<pw::hostworld::World>();
  int folders_ = 0;
  int imagesInLast_ = 0;
};

struct NamingWorld {
  NamingWorld(int folders, int imagesInLast) : world(SharedLocation::Get().Shape(folders, imagesInLast)) {
    form = pw::ui::TMainForm::Create(process, nullptr).value();
    form->FormCreate();
    form->PathEdit.SetText("C:\\Scans");
  }
  pw::hostworld::World& world;
  pw::ui::ProcessState process;
  std::unique_ptr<pw::ui::TMainForm> form;
};

fs::path LastFolder(NamingWorld& naming) {
  return naming.world.HostPath("C:\\Scans") / SharedLocation::Folder(SharedLocation::Get().Folders());
}
// Where the next image goes when the last folder is full.
fs::path NextFolder(NamingWorld& naming) {
  return naming.world.HostPath("C:\\Scans") / SharedLocation::Folder(SharedLocation::Get().Folders() + 1);
}

void BM_NextImagePathTypical(benchmark::State& state) {
  NamingWorld naming(1, 100);
  for (auto _ : state) benchmark::DoNotOptimize(naming.form->Landing().NextImagePath());
  state.SetLabel(naming.form->Landing().NextImagePath().value_or("no name"));
}
BENCHMARK(BM_NextImagePathTypical)->Unit(benchmark::kMicrosecond);

// 9,999 images in the last folder roll the next image over into a new
// folder; that folder is removed again after each call so that every
// iteration measures the same work.
void BM_NextImagePathWorstCase(benchmark::State& state) {
  NamingWorld naming(9998, 9999);
  const fs::path created = NextFolder(naming);
  for (auto _ : state) {
    benchmark::DoNotOptimize(naming.form->Landing().NextImagePath());
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
  pw::platform::LocationRights& rights = naming.form->Landing().SaveLocationRights();
  const fs::path created = NextFolder(naming);
  for (auto _ : state) {
    {
      const auto pull = pw::platform::LocationRights::Pull::Begin(rights);
      const auto acting = pull ? rights.Act() : pw::platform::Failure(pull.error());
      if (!acting) {
        state.SkipWithError("nobody at the console");
        break;
      }
      benchmark::DoNotOptimize(naming.form->Landing().NextImagePath());
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
  for (auto _ : state) benchmark::DoNotOptimize(naming.form->Landing().NextImagePath());
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
  pw::platform::LocationRights& rights = naming.form->Landing().SaveLocationRights();
  const fs::path last = LastFolder(naming);
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
      naming.form->Landing().SettleSaveLocation();
    }
    state.PauseTiming();
    fs::remove(last / pw::storage::ImageFileName("img", SharedLocation::Get().ImagesInLast() + 1));
    state.ResumeTiming();
  }
  state.SetLabel(state.range(0) == 1 ? "9,999 folders, a whole picture left in the last"
                                     : "9,999 folders, nothing left");
}
BENCHMARK(BM_SettleLeftoversAllFolders)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(pw::bench::RunIterations(10));

}  // namespace

BENCHMARK_MAIN();
