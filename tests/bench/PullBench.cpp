// One image pull end to end against writing the same bytes to a file.
//
//   Pull/<chunk>         PullImage of a 5 MB image from the in-process scanner
//                        simulator in chunks of <chunk> bytes, through the main
//                        window's naming and free-space guard into a file of the
//                        host world (auto-rotate off, the folder window already open)
//   PullAsConsoleUser/<chunk>
//                        the same pull as the service's window makes it on Windows
//                        Vista and later: as the user at the console, every file of
//                        the location opened without following links and checked
//                        to lie inside it
//   PullWithoutFlushes/<chunk>
//                        the same pull with FlushFileBuffers putting nothing on the
//                        disk: what the pull's flushes cost
//   PullAtUsbSpeed/<chunk>, PullAtUsbSpeedWithoutFlushes/<chunk>
//                        both again with each chunk read taking 2 ms, as a scanner
//                        on USB 2.0 delivers 64 KiB (about 30 MB/s)
//   DirectWrite/<chunk>  the same 5 MB written to a file of the host world in
//                        writes of <chunk> bytes at their offsets
//   FlushedWrite/<chunk> one write of <chunk> bytes at the end of a file, then
//                        FlushFileBuffers: what one flush costs on this disk
// What a pull pays beside its bytes, each on its own:
//   RoomForChunk         the free-space query before each chunk
//   Impersonation        acting as the console user and back, as a pull does
//                        twice (naming, then the landing)
//   OpenAsConsoleUser, OpenAsProcess
//                        a new file of the location opened as the console user
//                        (relative to its checked folder, no link followed, its
//                        final path checked) and by CreateFile, then deleted
//   DigestChunk/<chunk>  the digest of one chunk as it passes
// Compare bytes_per_second (wall-clock) of each Pull line with its DirectWrite line;
// both start from a folder without the file, as a pull does.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/LocationRights.h"
#include "platform/StorageDevice.h"
#include "platform/hostworld/World.h"
#include "platform/hostworld/WorldSessions.h"
#include "scanner/ImagePull.h"
#include "scanner/PassThroughBuffer.h"
#include "scanner/PictureDigest.h"
#include "storage/FreeSpaceGuard.h"
#include "tests/bench/BenchTime.h"
#include "tools/scanner-sim/ScannerSimulator.h"
#include "ui/MainForm.h"
#include "ui/ProcessState.h"

namespace {

using namespace pw;

constexpr std::size_t kImageSize = 5'000'000;
constexpr const char* kProgramFolder = "C:\\Program Files\\Pagewick";

std::vector<std::byte> Image() {
  std::vector<std::byte> bytes(kImageSize);
  std::uint32_t state = 12345;
  for (std::byte& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<std::byte>(state >> 24);
  }
  return bytes;
}

void Report(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kImageSize));
}

void PullWithRights(benchmark::State& state, bool asConsoleUser, bool flushes = true,
                    std::chrono::milliseconds chunkDelay = std::chrono::milliseconds(0)) {
  const auto chunk = static_cast<std::uint32_t>(state.range(0));
  hostworld::World world;
  world.Cache().IgnoreFlushes(!flushes);
  if (asConsoleUser) world.UserSessions().LogOn("alice");
  world.MakeDirectories(kProgramFolder);
  std::ifstream table(std::filesystem::path(PAGEWICK_SOURCE_DIR) / "resources" / "rc.info", std::ios::binary);
  std::ostringstream text;
  text << table.rdbuf();
  world.WriteFile(std::string(kProgramFolder) + "\\rc.info", text.str());
  world.SetModuleFileName(std::string(kProgramFolder) + "\\pagewick.exe");
  world.AddDrive('E', platform::DriveType::Removable);
  // No recording and no zero check: the benchmark measures the pull, not the test aids.
  auto simulator = std::make_shared<sim::ScannerSimulator>(sim::SimulatorOptions{false, false});
  simulator->SetMode(sim::ScannerSimulator::Mode::Computer);
  simulator->SetChunkPolicy(sim::ChunkPolicy::Fixed(chunk));
  if (chunkDelay.count() > 0) simulator->SetDelay(sim::RequestKind::ChunkRead, chunkDelay);
  world.AttachDevice('E', simulator);

  ui::ProcessState process;
  const std::unique_ptr<ui::TMainForm> made = ui::TMainForm::Create(process).value();
  ui::TMainForm& form = *made;
  process.MainForm.Set(&form);
  form.FormCreate();
  form.SetActsForConsoleUser(asConsoleUser);
  // The folder window of the first image stays open, as the user leaves it.
  world.Desktop().OpenForeignWindow("CabinetWClass", "Photo1");

  const std::vector<std::byte> image = Image();
  const std::string destination = form.PathEdit.Text() + "\\Photo1\\img0001.jpg";
  platform::DeviceHandle volume =
      platform::OpenDevice("\\\\?\\E:", platform::access::kGenericRead | platform::access::kGenericWrite,
                           platform::share::kRead | platform::share::kWrite)
          .value_or(platform::DeviceHandle());
  for (auto _ : state) {
    state.PauseTiming();
    simulator->QueueImage(image);
    (void)platform::DeleteFile(destination);  // every pull names img0001.jpg
    state.ResumeTiming();
    scanner::PassThroughBuffer buffer;
    scanner::PollHost& host = form;
    scanner::ImagePull pull(host.Pull(), host.Notifier(), host.Scanner(), buffer);
    if (!pull.PullImage(volume)) state.SkipWithError("the pull failed");
  }
  const std::optional<std::uint32_t> attributes = platform::GetFileAttributes(destination);
  if (!attributes || world.ReadFile(destination).size() != kImageSize) state.SkipWithError("the file is not whole");
  Report(state);
}

void Pull(benchmark::State& state) { PullWithRights(state, false); }
void PullAsConsoleUser(benchmark::State& state) { PullWithRights(state, true); }
void PullWithoutFlushes(benchmark::State& state) { PullWithRights(state, false, false); }
void PullAtUsbSpeed(benchmark::State& state) { PullWithRights(state, false, true, std::chrono::milliseconds(2)); }
void PullAtUsbSpeedWithoutFlushes(benchmark::State& state) {
  PullWithRights(state, false, false, std::chrono::milliseconds(2));
}

void FlushedWrite(benchmark::State& state) {
  const auto chunk = static_cast<std::size_t>(state.range(0));
  hostworld::World world;
  world.MakeDirectories("C:\\Bench");
  const std::vector<std::byte> bytes(chunk, std::byte{0x5A});
  platform::OpenResult created =
      platform::CreateFile("C:\\Bench\\flushed.bin", platform::access::kGenericRead | platform::access::kGenericWrite,
                           platform::share::kNone, platform::Disposition::CreateAlways);
  std::uint64_t offset = 0;
  for (auto _ : state) {
    if (!platform::WriteFileAt(created.file, offset, bytes).ok || !platform::FlushFile(created.file).ok()) {
      state.SkipWithError("the write or the flush failed");
    }
    offset += chunk;
  }
}

void DirectWrite(benchmark::State& state) {
  const auto chunk = static_cast<std::size_t>(state.range(0));
  hostworld::World world;
  world.MakeDirectories("C:\\Bench");
  const std::vector<std::byte> image = Image();
  const std::string path = "C:\\Bench\\img0001.jpg";
  for (auto _ : state) {
    state.PauseTiming();
    (void)platform::DeleteFile(path);
    state.ResumeTiming();
    platform::OpenResult created =
        platform::CreateFile(path, platform::access::kGenericRead | platform::access::kGenericWrite,
                             platform::share::kNone, platform::Disposition::CreateAlways);
    for (std::size_t offset = 0; offset < image.size(); offset += chunk) {
      const std::size_t length = std::min(chunk, image.size() - offset);
      if (!platform::WriteFileAt(created.file, offset, std::span(image).subspan(offset, length)).ok) {
        state.SkipWithError("the write failed");
      }
    }
  }
  Report(state);
}

void RoomForChunk(benchmark::State& state) {
  hostworld::World world;
  world.MakeDirectories("C:\\Bench");
  for (auto _ : state) benchmark::DoNotOptimize(storage::RoomForChunk("C:\\Bench\\img0001.jpg", 65536));
}

// The console user's rights over C:\Bench, within one pull.
struct ConsoleUserLocation {
  ConsoleUserLocation() {
    world.MakeDirectories("C:\\Bench\\Photo1");
    world.UserSessions().LogOn("alice");
    rights.SetActForConsoleUser(true);
    platform::Result<platform::LocationRights::Pull> begun = platform::LocationRights::Pull::Begin(rights);
    if (!begun) throw std::runtime_error("nobody at the console");
    pull.emplace(std::move(begun).value());
    if (!rights.ConfineTo("C:\\Bench")) throw std::runtime_error("the location cannot be held");
  }
  hostworld::World world;
  platform::LocationRights rights;
  std::optional<platform::LocationRights::Pull> pull;
};

void Impersonation(benchmark::State& state) {
  ConsoleUserLocation location;
  for (auto _ : state) {
    const platform::Result<platform::LocationRights::Acting> acting = location.rights.Act();
    if (!acting) state.SkipWithError("nobody at the console");
    benchmark::ClobberMemory();
  }
}

void OpenNewFile(benchmark::State& state, bool asConsoleUser) {
  ConsoleUserLocation location;
  if (!asConsoleUser) location.rights.SetActForConsoleUser(false);
  const platform::LocationRights& rights = asConsoleUser ? location.rights : platform::LocationRights::ProcessOwn();
  const std::string path = "C:\\Bench\\Photo1\\~0000001";
  for (auto _ : state) {
    const platform::Result<platform::LocationRights::Acting> acting = location.rights.Act();
    if (!acting) state.SkipWithError("nobody at the console");
    platform::OpenResult created = rights.Open(path, platform::access::kGenericRead | platform::access::kGenericWrite,
                                               platform::share::kNone, platform::Disposition::CreateNew);
    if (!created.file) state.SkipWithError("the file was not created");
    created.file.reset();
    if (!rights.Delete(path)) state.SkipWithError("the file was not deleted");
  }
}
void OpenAsConsoleUser(benchmark::State& state) { OpenNewFile(state, true); }
void OpenAsProcess(benchmark::State& state) { OpenNewFile(state, false); }

void DigestChunk(benchmark::State& state) {
  const std::vector<std::byte> image = Image();
  const auto chunk = static_cast<std::size_t>(state.range(0));
  scanner::PictureDigest digest;
  for (auto _ : state) digest.Add(std::span(image).first(chunk));
  benchmark::DoNotOptimize(digest.Value());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(chunk));
}

BENCHMARK(Pull)->Arg(65536)->Arg(524288)->Unit(benchmark::kMillisecond)
    ->MinTime(pw::bench::MinSeconds(1.0))->UseRealTime();
BENCHMARK(PullAsConsoleUser)->Arg(65536)->Arg(524288)->Unit(benchmark::kMillisecond)
    ->MinTime(pw::bench::MinSeconds(1.0))->UseRealTime();
BENCHMARK(PullWithoutFlushes)->Arg(65536)->Arg(524288)->Unit(benchmark::kMillisecond)
    ->MinTime(pw::bench::MinSeconds(1.0))->UseRealTime();
BENCHMARK(PullAtUsbSpeed)->Arg(65536)->Unit(benchmark::kMillisecond)
    ->MinTime(pw::bench::MinSeconds(1.0))->UseRealTime();
BENCHMARK(PullAtUsbSpeedWithoutFlushes)->Arg(65536)->Unit(benchmark::kMillisecond)
    ->MinTime(pw::bench::MinSeconds(1.0))->UseRealTime();
BENCHMARK(FlushedWrite)->Arg(65536)->Unit(benchmark::kMillisecond)->MinTime(pw::bench::MinSeconds(0.5))->UseRealTime();
BENCHMARK(DirectWrite)->Arg(65536)->Arg(524288)->Unit(benchmark::kMillisecond)
    ->MinTime(pw::bench::MinSeconds(1.0))->UseRealTime();
BENCHMARK(RoomForChunk)->Unit(benchmark::kMicrosecond);
BENCHMARK(Impersonation)->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenAsConsoleUser)->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenAsProcess)->Unit(benchmark::kMicrosecond);
BENCHMARK(DigestChunk)->Arg(65536)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
