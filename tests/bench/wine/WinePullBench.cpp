// The pull rate of the shipped pagewick.exe under Wine against a bare loop of
// the same pass-through requests through the same scanner driver, for a
// 20 MB image at 64 KiB chunks and at the largest chunk. The simulator times
// every pull alike: from its first chunk read to the end marker. Rounds of
// the two alternate; each figure is the median of its rounds.
//
// The service's CPU per MB is the sum of its threads' user and kernel times
// over its pull, from its start to the end marker.
//
// Run by scripts/wine-bench.sh inside the Wine world; prints one line per
// chunk size and one "result" line each for the benchmark table, and exits
// non-zero when a pull fails.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <tlhelp32.h>
// The platform's functions of these names are meant, not the A/W macros.
#undef DeleteFile
#undef StartService
#undef OpenService
#undef OpenSCManager
#undef ControlService
#undef QueryServiceStatus

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

// The user and kernel time of every thread of the process so far, in seconds
// (Wine answers a thread's times for another process, not the process's).
double ProcessCpuSeconds(DWORD processId) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  double seconds = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  const auto value = [](const FILETIME& time) {
    return static_cast<double>((ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime) / 1e7;
  };
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != processId) continue;
    const HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
    if (thread == nullptr) continue;
    FILETIME created{}, exited{}, kernel{}, user{};
    if (GetThreadTimes(thread, &created, &exited, &kernel, &user)) seconds += value(kernel) + value(user);
    CloseHandle(thread);
  }
  CloseHandle(snapshot);
  return seconds;
}

DWORD ServiceProcessId(const pf::ServiceHandle& service) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!QueryServiceStatusEx(static_cast<SC_HANDLE>(service.get()), SC_STATUS_PROCESS_INFO,
                            reinterpret_cast<BYTE*>(&status), sizeof(status), &needed)) {
    return 0;
  }
  return status.dwProcessId;
}

// One pull by the running service. Seconds, or -1; cpuSeconds: the service's
// CPU time from its start to the end marker, or -1.
double ProgramPull(const ww::SimulatorPort& port, const pf::ServiceHandle& service, std::uint32_t chunk,
                   double& cpuSeconds) {
  cpuSeconds = -1;
  Stop(service);
  (void)pf::DeleteFile("C:\\users\\Public\\Pictures\\Photo1\\img0001.jpg");
  (void)pf::DeleteFile("C:\\users\\Public\\Documents\\pagewick.info");
  if (!port.Plug(PlugLine(chunk))) return -1;
  if (!pf::StartService(service, {}).ok()) return -1;
  const DWORD processId = ServiceProcessId(service);
  const double cpuAtStart = processId != 0 ? ProcessCpuSeconds(processId) : -1;
  const bool pulled = ww::WaitUntil([&] { return port.Status()["delivered"] == 1; }, 120s);
  const double cpuAtEnd = processId != 0 ? ProcessCpuSeconds(processId) : -1;
  if (cpuAtStart >= 0 && cpuAtEnd > 0) cpuSeconds = cpuAtEnd - cpuAtStart;
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
    std::vector<double> cpu;
    for (int round = 0; round < kRounds; ++round) {
      bare.push_back(BarePull(port, *world, chunk));
      double cpuSeconds = -1;
      program.push_back(ProgramPull(port, service, chunk, cpuSeconds));
      cpu.push_back(cpuSeconds);
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
    // -1: the service's CPU time could not be read.
    const double cpuMedian = Median(cpu);
    std::printf("result chunk=%u bare_ms=%.3f program_ms=%.3f cpu_ms_per_mb=%.3f\n", chunk, bareMedian * 1e3,
                programMedian * 1e3, cpuMedian > 0 ? cpuMedian * 1e3 / megabytes : -1.0);
  }
  Stop(service);
  service.reset();
  (void)ww::RunProgram(world->program, "/uninstall /silent");
  return status;
}
