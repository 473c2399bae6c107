// Cost of the scanner channel against the plain cost of moving the same bytes.
//
// In-process: the channel (buffer zeroing, header, host backend routing, the
// simulator's reply) against a memcpy of the same bytes. Served: the same
// requests through the socket-served simulator against bare request/reply
// round trips of the same sizes over a Unix socket, with the same framing.
//
//   Chunk/*     one chunk cycle: a length query and a chunk read of N bytes
//   Exchange/*  one RunScannerRequest of kind RequestComputerMode
// Compare bytes_per_second (or CPU time) of each Channel* line with its Plain* line.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/StorageDevice.h"
#include "platform/hostworld/DeviceSocket.h"
#include "platform/hostworld/World.h"
#include "scanner/ScannerChannel.h"
#include "tools/scanner-sim/ScannerSimulator.h"
#include "tools/scanner-sim/SimulatorServer.h"

namespace {

using namespace pw;
namespace ds = hostworld::device_socket;

constexpr std::size_t kImageSize = 16u << 20;
constexpr std::uint32_t kReadWrite = platform::access::kGenericRead | platform::access::kGenericWrite;
constexpr std::uint32_t kShare = platform::share::kRead | platform::share::kWrite;

std::shared_ptr<sim::ScannerSimulator> MakeSimulator(std::uint32_t chunk) {
  // No recording and no zero check: the benchmark measures the channel, not the test aids.
  auto simulator = std::make_shared<sim::ScannerSimulator>(sim::SimulatorOptions{false, false});
  simulator->SetMode(sim::ScannerSimulator::Mode::Computer);
  simulator->SetChunkPolicy(sim::ChunkPolicy::Fixed(chunk));
  simulator->QueueImage(std::vector<std::byte>(kImageSize, std::byte{0x5A}));
  return simulator;
}

platform::DeviceHandle Open(char letter) {
  const std::string path = std::string("\\\\?\\") + letter + ":";
  return platform::OpenDevice(path, kReadWrite, kShare).value_or(platform::DeviceHandle());
}

// One chunk cycle per iteration, walking through the image.
void RunChunkCycles(benchmark::State& state, const platform::DeviceHandle& device, std::uint32_t chunk) {
  scanner::PassThroughBuffer buffer;
  std::uint32_t offset = 0;
  for (auto _ : state) {
    if (offset + chunk > kImageSize) offset = 0;
    if (!scanner::SendScannerCommand(device, buffer, scanner::ScannerCommand::LengthQueryCommand, offset).ok() ||
        scanner::ReadLengthReply(buffer).length != static_cast<std::int32_t>(chunk) ||
        !scanner::SendScannerCommand(device, buffer, scanner::ScannerCommand::ChunkReadCommand, chunk).ok()) {
      state.SkipWithError("the chunk cycle failed");
      break;
    }
    benchmark::DoNotOptimize(buffer.DataPrefix(chunk)[chunk - 1]);
    offset += chunk;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * chunk);
}

void PlainMemcpy(benchmark::State& state) {
  const auto chunk = static_cast<std::size_t>(state.range(0));
  std::vector<std::byte> source(kImageSize, std::byte{1});
  std::vector<std::byte> target(chunk + 80);
  std::size_t offset = 0;
  for (auto _ : state) {
    if (offset + chunk > kImageSize) offset = 0;
    std::memcpy(target.data() + 80, source.data() + offset, chunk);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
    offset += chunk;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(chunk));
}

void ChannelChunkInProcess(benchmark::State& state) {
  const auto chunk = static_cast<std::uint32_t>(state.range(0));
  hostworld::World world;
  world.AddDrive('E', platform::DriveType::Removable);
  world.AttachDevice('E', MakeSimulator(chunk));
  platform::DeviceHandle device = Open('E');
  RunChunkCycles(state, device, chunk);
}

void ChannelChunkServed(benchmark::State& state) {
  const auto chunk = static_cast<std::uint32_t>(state.range(0));
  hostworld::World world;
  sim::SimulatorServer server(MakeSimulator(chunk), ds::SocketPathFor(world.Root(), 'E'));
  platform::DeviceHandle device = Open('E');
  RunChunkCycles(state, device, chunk);
}

// A bare server that answers every request frame with the requested output
// size from a prepared buffer: the socket's own cost for the same frames.
class PlainServer {
 public:
  PlainServer() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) throw std::runtime_error("socketpair");
    client_ = fds[0];
    server_ = fds[1];
    thread_ = std::thread([this] { Serve(); });
  }
  ~PlainServer() {
    ::shutdown(client_, SHUT_RDWR);
    thread_.join();
    ::close(client_);
    ::close(server_);
  }
  // One round trip: 44 bytes out, `output` bytes back.
  bool RoundTrip(std::uint32_t output, std::vector<std::byte>& into) {
    std::byte frame[ds::kHeaderSize];
    std::byte input[44] = {};
    ds::EncodeRequest({platform::kIoctlScsiPassThrough, 44, output}, frame);
    if (!ds::SendAll(client_, frame, input)) return false;
    ds::ReplyHeader reply;
    if (!ds::ReceiveAll(client_, frame) || !ds::DecodeReply(frame, reply)) return false;
    return ds::ReceiveAll(client_, std::span<std::byte>(into.data(), reply.bytesReturned));
  }

 private:
  void Serve() {
    std::vector<std::byte> output(1u << 20, std::byte{7});
    std::vector<std::byte> input(64);
    std::byte frame[ds::kHeaderSize];
    ds::RequestHeader request;
    while (ds::ReceiveAll(server_, frame) && ds::DecodeRequest(frame, request) &&
           ds::ReceiveAll(server_, std::span<std::byte>(input.data(), request.inputSize))) {
      ds::EncodeReply({true, 0, request.outputSize}, frame);
      if (!ds::SendAll(server_, frame, std::span<const std::byte>(output.data(), request.outputSize))) break;
    }
  }
  int client_ = -1;
  int server_ = -1;
  std::thread thread_;
};

void PlainSocketChunk(benchmark::State& state) {
  const auto chunk = static_cast<std::uint32_t>(state.range(0));
  PlainServer server;
  std::vector<std::byte> into(chunk + 80);
  for (auto _ : state) {
    if (!server.RoundTrip(84, into) || !server.RoundTrip(chunk + 80, into)) {
      state.SkipWithError("round trip failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * chunk);
}

// Exchanges with the device for the benchmark's iterations; keptBuffer: one
// buffer serves every exchange instead of one made for each.
void Exchange(benchmark::State& state, platform::DeviceHandle& device, bool keptBuffer) {
  scanner::PassThroughBuffer kept;
  for (auto _ : state) {
    const bool answered =
        keptBuffer ? scanner::RunScannerRequest(device, scanner::ScannerRequestKind::RequestComputerMode, kept)
                   : scanner::RunScannerRequest(device, scanner::ScannerRequestKind::RequestComputerMode);
    if (!answered) {
      state.SkipWithError("exchange failed");
      break;
    }
  }
}

// One exchange: INQUIRY (160 bytes back) and the computer-mode command (80 back).
void ChannelExchangeInProcess(benchmark::State& state) {
  hostworld::World world;
  world.AddDrive('E', platform::DriveType::Removable);
  world.AttachDevice('E', MakeSimulator(65536));
  platform::DeviceHandle device = Open('E');
  Exchange(state, device, false);
}

void PlainMemcpyExchange(benchmark::State& state) {
  std::vector<std::byte> source(256, std::byte{1});
  std::vector<std::byte> target(256);
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), 160);
    benchmark::ClobberMemory();
    std::memcpy(target.data(), source.data(), 80);
    benchmark::ClobberMemory();
  }
}

// The same with one buffer kept across exchanges.
void ChannelExchangeInProcessKeptBuffer(benchmark::State& state) {
  hostworld::World world;
  world.AddDrive('E', platform::DriveType::Removable);
  world.AttachDevice('E', MakeSimulator(65536));
  platform::DeviceHandle device = Open('E');
  Exchange(state, device, true);
}

void ChannelExchangeServed(benchmark::State& state) {
  hostworld::World world;
  sim::SimulatorServer server(MakeSimulator(65536), ds::SocketPathFor(world.Root(), 'E'));
  platform::DeviceHandle device = Open('E');
  Exchange(state, device, false);
}

void ChannelExchangeServedKeptBuffer(benchmark::State& state) {
  hostworld::World world;
  sim::SimulatorServer server(MakeSimulator(65536), ds::SocketPathFor(world.Root(), 'E'));
  platform::DeviceHandle device = Open('E');
  Exchange(state, device, true);
}

void PlainSocketExchange(benchmark::State& state) {
  PlainServer server;
  std::vector<std::byte> into(256);
  for (auto _ : state) {
    if (!server.RoundTrip(160, into) || !server.RoundTrip(80, into)) {
      state.SkipWithError("round trip failed");
      break;
    }
  }
}

void ChunkSizes(benchmark::internal::Benchmark* b) {
  for (std::int64_t size : {4096, 65536, 131072, 524288}) b->Arg(size);
}

// In-process lines on one thread; the served lines count the CPU time of the
// whole process (client and server threads), which a busy machine disturbs
// far less than their wall-clock time.
BENCHMARK(PlainMemcpy)->Name("Chunk/PlainMemcpy")->Apply(ChunkSizes);
BENCHMARK(ChannelChunkInProcess)->Name("Chunk/ChannelInProcess")->Apply(ChunkSizes);
BENCHMARK(PlainSocketChunk)->Name("Chunk/PlainSocket")->Apply(ChunkSizes)->MeasureProcessCPUTime();
BENCHMARK(ChannelChunkServed)->Name("Chunk/ChannelServed")->Apply(ChunkSizes)->MeasureProcessCPUTime();
BENCHMARK(PlainMemcpyExchange)->Name("Exchange/PlainMemcpy");
BENCHMARK(ChannelExchangeInProcess)->Name("Exchange/ChannelInProcess");
BENCHMARK(ChannelExchangeInProcessKeptBuffer)->Name("Exchange/ChannelInProcessKeptBuffer");
BENCHMARK(PlainSocketExchange)->Name("Exchange/PlainSocket")->MeasureProcessCPUTime();
BENCHMARK(ChannelExchangeServed)->Name("Exchange/ChannelServed")->MeasureProcessCPUTime();
BENCHMARK(ChannelExchangeServedKeptBuffer)->Name("Exchange/ChannelServedKeptBuffer")->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
