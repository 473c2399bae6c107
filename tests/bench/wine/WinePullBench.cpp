// The pull rate of the shipped pagewick.exe under Wine against a bare loop of
// the same pass-through requests through the same scanner driver, for a
// 20 MB image at 64 KiB chunks and at the largest chunk. The simulator times
// every pull alike: from its first chunk read to the end marker. Rounds of
// the two alternate; each figure is the median of its rounds.
//
// Run by scripts/wine-bench.sh inside the Wine world; prints one line per
// chunk size and exits non-zero when a pull fails.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/ServiceControl.h"
#include "platform/StorageDevice.h"
#include "scanner/PassThroughBuffer.h"
#include "scanner/ScannerChannel.h"
#include "tests/win32/world/WineWorld.h"

namespace {

using namespace std::chrono_literals;
namespace pf = pw::platform;
namespace ww = pw::wineworld;
using pw::scanner::ScannerCommand;

constexpr std::uint32_t kImageSize = 20u << 20;
constexpr int kRounds = 5;

std::string PlugLine(std::uint32_t chunk) {
  return "--mode computer --chunk fixed:" + std::to_string(chunk) + " --image-size " + std::to_string(kImageSize);
}

// One pull as the program makes it (INQUIRY, then length query and chunk
// read in turn), with nothing done with the bytes. Seconds, or -1.
double BarePull(const ww::SimulatorPort& port, const ww::WorldPaths& world, std::uint32_t chunk) {
  if (!port.Plug(PlugLine(chunk))) return -1;
  pf::Result<pf::DeviceHandle> opened =
      pf::OpenDevice(std::string("\\\\?\\") + world.drive + ":", pf::access::kGenericRead | pf::access::kGenericWrite,
                     pf::share::kRead | pf::share::kWrite);
  if (!opened.ok()) return -1;
  pw::scanner::PassThroughBuffer buffer;
  if (!pw::scanner::SendScannerCommand(*opened, buffer, ScannerCommand::InquiryRequest).ok()) return -1;
  std::uint32_t offset = 0;
  for (;;) {
    if (!pw::scanner::SendScannerCommand(*opened, buffer, ScannerCommand::LengthQueryCommand, offset).ok()) return -1;
    const pw::scanner::LengthReply reply = pw::scanner::ReadLengthReply(buffer);
    if (reply.endOfImage) break;
    if (reply.length <= 0) return -1;
    const auto length = static_cast<std::uint32_t>(reply.length);
    if (!pw::scanner::SendScannerCommand(*opened, buffer, ScannerCommand::ChunkReadCommand, length).ok()) return -1;
    offset += length;
  }
  const long micros = port.Status()["pull_us"];
  return micros > 0 ? static_cast<double>(micros) / 1e6 : -1;
}

std::uint32_t State(const pf::ServiceHandle& service) { return pf::QueryServiceStatus(service).status.currentState; }

void Stop(const pf::ServiceHandle& service) {
  if (State(service) == pf::service_state::kStopped) return;
  (void)pf::ControlService(service, pf::service_control::kStop);
  (void)ww::WaitUntil([&] { return State(service) == pf::service_state::kStopped; }, 30s);
}

// One pull by the running service. Seconds, or -1.
double ProgramPull(const ww::SimulatorPort& port, const pf::ServiceHandle& service, std::uint32_t chunk) {
  Stop(service);
  (void)pf::DeleteFile("C:\\users\\Public\\Pictures\\Photo1\\img0001.jpg");
  (void)pf::DeleteFile("C:\\users\\Public\\Documents\\pagewick.info");
  if (!port.Plug(PlugLine(chunk))) return -1;
  if (!pf::StartService(service, {}).ok()) return -1;
  const bool pulled = ww::WaitUntil([&] { return port.Status()["delivered"] == 1; }, 120s);
  // The file is complete once the program has closed it; the timing is the simulator's.
  const long micros = port.Status()["pull_us"];
  Stop(service);
  const std::optional<ww::Bytes> file = ww::ReadWholeFile("C:\\users\\Public\\Pictures\\Photo1\\img0001.jpg");
  if (!pulled || !file || file->size() != kImageSize) return -1;
  return micros > 0 ? static_cast<double>(micros) / 1e6 : -1;
}

// The median: the machine may be shared, and single rounds stray far.
double Median(std::vector<double> times) {
  if (std::any_of(times.begin(), times.end(), [](double t) { return t <= 0; })) return -1;
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  const std::optional<ww::WorldPaths> world = ww::FindWorld();
  if (!world) {
    std::fprintf(stderr, "wine_pull_bench: not in the Wine world of scripts/wine-world.sh\n");
    return 2;
  }
  const ww::SimulatorPort port(*world);
  if (ww::RunProgram(world->program, "/install /silent") != 0) {
    std::fprintf(stderr, "wine_pull_bench: pagewick.exe /install /silent failed\n");
    return 1;
  }
  const pf::ServiceHandle manager =
      pf::OpenSCManager(std::nullopt, std::nullopt, pf::manager_access::kAllAccess).value_or(pf::ServiceHandle());
  pf::ServiceHandle service =
      pf::OpenService(manager, "Service1", pf::service_access::kAllAccess).value_or(pf::ServiceHandle());
  int status = 0;
  const double megabytes = kImageSize / 1e6;
  for (std::uint32_t chunk : {65536u, 524288u}) {
    std::vector<double> bare;
    std::vector<double> program;
    for (int round = 0; round < kRounds; ++round) {
      bare.push_back(BarePull(port, *world, chunk));
      program.push_back(ProgramPull(port, service, chunk));
    }
    for (std::size_t round = 0; round < bare.size(); ++round) {
      std::printf("  chunk %6u round %zu: bare %.1f ms, pagewick.exe %.1f ms\n", chunk, round + 1, bare[round] * 1e3,
                  program[round] * 1e3);
    }
    const double bareMedian = Median(bare);
    const double programMedian = Median(program);
    if (bareMedian <= 0 || programMedian <= 0) {
      std::printf("chunk %6u: a pull failed\n", chunk);
      status = 1;
      continue;
    }
    std::printf("chunk %6u: bare loop %7.1f MB/s (%6.1f ms), pagewick.exe %7.1f MB/s (%6.1f ms), ratio %.2f\n", chunk,
                megabytes / bareMedian, bareMedian * 1e3, megabytes / programMedian, programMedian * 1e3,
                programMedian / bareMedian);
  }
  Stop(service);
  service.reset();
  (void)ww::RunProgram(world->program, "/uninstall /silent");
  return status;
}
