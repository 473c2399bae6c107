#include "tools/scanner-sim/FifoPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <system_error>

#include "tools/scanner-driver/ScannerWire.h"
#include "tools/scanner-sim/DeviceOptions.h"

namespace pw::sim {
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorDeviceNotConnected = 1167;

[[noreturn]] void ThrowErrno(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

int OpenFifo(const fs::path& path) {
  if (::mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) ThrowErrno("mkfifo " + path.string());
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISFIFO(info.st_mode)) {
    throw std::runtime_error(path.string() + " exists and is not a FIFO");
  }
  // Read-write: the port is always a reader and a writer of its own FIFOs.
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) ThrowErrno("open " + path.string());
  // Larger pipes carry a whole chunk with fewer wake-ups; the default works too.
  (void)::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
  return fd;
}

const char* ModeName(ScannerSimulator::Mode mode) {
  switch (mode) {
    case ScannerSimulator::Mode::Card: return "card";
    case ScannerSimulator::Mode::Computer: return "computer";
    case ScannerSimulator::Mode::Unset: break;
  }
  return "unset";
}

}  // namespace

FifoPort::FifoPort(fs::path folder) : folder_(std::move(folder)) {
  fs::create_directories(folder_ / "images");
  request_ = OpenFifo(folder_ / PW_WIRE_REQUEST_FIFO);
  try {
    reply_ = OpenFifo(folder_ / PW_WIRE_REPLY_FIFO);
  } catch (...) {
    ::close(request_);
    throw;
  }
}

FifoPort::~FifoPort() {
  ::close(request_);
  ::close(reply_);
}

void FifoPort::Plug(std::shared_ptr<ScannerSimulator> device) {
  std::scoped_lock lock(mutex_);
  device_ = std::move(device);
  lastPullMicros_ = -1;
  pullStarted_.reset();
}

std::shared_ptr<ScannerSimulator> FifoPort::Device() const {
  std::scoped_lock lock(mutex_);
  return device_;
}

std::uint32_t FifoPort::SaveImage(const std::vector<std::byte>& bytes) {
  std::uint32_t number = 0;
  {
    std::scoped_lock lock(mutex_);
    number = ++imageNumber_;
  }
  char name[32];
  std::snprintf(name, sizeof name, "%04u.jpg", number);
  const fs::path path = folder_ / "images" / name;
  const fs::path partial = folder_ / "images" / (std::string(name) + ".part");
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + partial.string());
  }
  fs::rename(partial, path);  // a reader never sees half an image
  return number;
}

bool FifoPort::ReadExactly(std::byte* data, std::size_t size) {
  while (size > 0) {
    const ssize_t got = ::read(request_, data, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

bool FifoPort::WriteReply(std::uint32_t sequence, std::uint32_t status, const std::byte* data, std::uint32_t count) {
  unsigned char header[PW_WIRE_REPLY_HEADER_SIZE];
  PwWirePut(header, PW_WIRE_REPLY_MAGIC_AT, PW_WIRE_REPLY_MAGIC);
  PwWirePut(header, PW_WIRE_REPLY_SEQUENCE_AT, sequence);
  PwWirePut(header, PW_WIRE_REPLY_STATUS_AT, status);
  PwWirePut(header, PW_WIRE_REPLY_COUNT_AT, count);
  iovec parts[2] = {{header, sizeof header}, {const_cast<std::byte*>(data), count}};
  int first = 0;
  while (first < 2) {
    const ssize_t written = ::writev(reply_, parts + first, 2 - first);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    std::size_t left = static_cast<std::size_t>(written);
    while (first < 2 && left >= parts[first].iov_len) {
      left -= parts[first].iov_len;
      ++first;
    }
    if (first < 2) {
      parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + left;
      parts[first].iov_len -= left;
    }
  }
  return true;
}

void FifoPort::Serve() {
  std::vector<std::byte> input;
  std::vector<std::byte> output;
  unsigned char header[PW_WIRE_REQUEST_HEADER_SIZE];
  while (!stopping_.load()) {
    pollfd waiting{request_, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, 100);
    if (ready < 0 && errno != EINTR) return;
    if (ready <= 0) continue;
    if (!ReadExactly(reinterpret_cast<std::byte*>(header), sizeof header)) return;
    const std::uint32_t sequence = PwWireGet(header, PW_WIRE_REQUEST_SEQUENCE_AT);
    const std::uint32_t code = PwWireGet(header, PW_WIRE_REQUEST_CODE_AT);
    const std::uint32_t inputLength = PwWireGet(header, PW_WIRE_REQUEST_INPUT_AT);
    const std::uint32_t capacity = PwWireGet(header, PW_WIRE_REQUEST_CAPACITY_AT);
    if (PwWireGet(header, PW_WIRE_REQUEST_MAGIC_AT) != PW_WIRE_REQUEST_MAGIC || inputLength > PW_WIRE_MAX_PAYLOAD) {
      std::fprintf(stderr, "pagewick-scanner-sim: malformed request, the stream is lost\n");
      return;
    }
    input.resize(inputLength);
    if (!ReadExactly(input.data(), input.size())) return;
    served_.fetch_add(1);

    if (capacity > PW_WIRE_MAX_PAYLOAD) {
      if (!WriteReply(sequence, kErrorInvalidParameter, nullptr, 0)) return;
      continue;
    }
    if (code == PW_WIRE_SIMULATOR_CONTROL) {
      const std::string answer =
          Control(std::string_view(reinterpret_cast<const char*>(input.data()), input.size()));
      const bool fits = answer.size() <= capacity;
      const auto* bytes = reinterpret_cast<const std::byte*>(answer.data());
      if (!WriteReply(sequence, fits ? 0 : kErrorInsufficientBuffer, fits ? bytes : nullptr,
                      fits ? static_cast<std::uint32_t>(answer.size()) : 0)) {
        return;
      }
      continue;
    }

    Garble garble = Garble::None;
    std::shared_ptr<ScannerSimulator> device;
    {
      std::scoped_lock lock(mutex_);
      device = device_;
      std::swap(garble, garble_);
    }
    // The device gets a zeroed output, as the caller's buffer is.
    output.assign(capacity, std::byte{0});
    std::uint32_t status = kErrorDeviceNotConnected;
    std::uint32_t count = 0;
    if (device) {
      const bool chunkRead = code == platform::kIoctlScsiPassThrough && input.size() > 28 &&
                             input[28] == std::byte{0x53};
      if (chunkRead && !pullStarted_) pullStarted_ = std::chrono::steady_clock::now();
      const std::size_t deliveredBefore = device->ImagesDelivered();
      const platform::IoControlResult result = device->IoControl(code, input, output);
      if (device->ImagesDelivered() != deliveredBefore && pullStarted_) {
        const auto took = std::chrono::steady_clock::now() - *pullStarted_;
        std::scoped_lock lock(mutex_);
        lastPullMicros_ = std::chrono::duration_cast<std::chrono::microseconds>(took).count();
        pullStarted_.reset();
      }
      status = result.ok ? 0 : (result.error != 0 ? result.error : kErrorGenFailure);
      count = result.ok ? std::min(result.bytesReturned, capacity) : 0;
    }
    std::uint32_t replySequence = sequence;
    switch (garble) {
      case Garble::None: break;
      case Garble::Count:
        // More bytes than the caller's buffer holds: the driver must refuse them.
        status = 0;
        count = capacity + 16;
        output.resize(count, std::byte{0x5A});
        break;
      case Garble::Magic: break;
      case Garble::Sequence: replySequence = sequence + 1000; break;
      case Garble::Silence: continue;
    }
    if (garble == Garble::Magic) {
      unsigned char bad[PW_WIRE_REPLY_HEADER_SIZE] = {'b', 'a', 'd', '!'};
      PwWirePut(bad, PW_WIRE_REPLY_COUNT_AT, 0);
      if (::write(reply_, bad, sizeof bad) != static_cast<ssize_t>(sizeof bad)) return;
      continue;
    }
    if (!WriteReply(replySequence, status, output.data(), count)) return;
  }
}

std::string FifoPort::Control(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == '\0')) line.remove_suffix(1);
  std::vector<std::string> words;
  for (std::string& word : SplitText(line, ' ')) {
    if (!word.empty()) words.push_back(std::move(word));
  }
  if (words.empty()) return "error: empty control line";
  const std::string& command = words[0];
  try {
    if (command == "plug" || command == "queue") {
      std::shared_ptr<ScannerSimulator> device = command == "plug" ? std::make_shared<ScannerSimulator>() : Device();
      if (!device) return "error: nothing plugged";
      DescriptorConfig descriptor = device->Descriptor();
      std::string numbers;
      DeviceSetup setup{*device, descriptor, [&](std::vector<std::byte> bytes) {
                          numbers += " " + std::to_string(SaveImage(bytes));
                          device->QueueImage(std::move(bytes));
                        }};
      for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string option = words[i];
        auto next = [&]() -> std::string_view {
          if (i + 1 >= words.size()) throw std::invalid_argument("missing value for " + option);
          return words[++i];
        };
        if (!ApplyDeviceOption(setup, option, next, static_cast<std::uint32_t>(imageNumber_ + 1000 + i))) {
          return "error: unknown option " + option;
        }
      }
      device->SetDescriptor(descriptor);
      if (command == "plug") Plug(device);
      return "ok images" + numbers;
    }
    if (command == "unplug") {
      Plug(nullptr);
      return "ok";
    }
    if (command == "garble" && words.size() == 2) {
      Garble garble = Garble::None;
      if (words[1] == "count") garble = Garble::Count;
      else if (words[1] == "magic") garble = Garble::Magic;
      else if (words[1] == "sequence") garble = Garble::Sequence;
      else if (words[1] == "silence") garble = Garble::Silence;
      else return "error: unknown garble " + words[1];
      std::scoped_lock lock(mutex_);
      garble_ = garble;
      return "ok";
    }
    if (command == "status") {
      const std::shared_ptr<ScannerSimulator> device = Device();
      if (!device) return "ok plugged 0";
      std::int64_t pullMicros = 0;
      {
        std::scoped_lock lock(mutex_);
        pullMicros = lastPullMicros_;
      }
      std::string answer = "ok plugged 1 pull_us " + std::to_string(pullMicros) + " mode " + std::string(ModeName(device->CurrentMode())) + " queued " +
                           std::to_string(device->QueuedImages()) + " delivered " +
                           std::to_string(device->ImagesDelivered()) + " unplugged " +
                           std::to_string(device->Unplugged() ? 1 : 0);
      for (RequestKind kind : {RequestKind::StorageQuery, RequestKind::Inquiry, RequestKind::CardMode,
                               RequestKind::ComputerMode, RequestKind::LengthQuery, RequestKind::ChunkRead}) {
        answer += " " + std::string(RequestKindName(kind)) + " " + std::to_string(device->RequestsOf(kind).size());
      }
      return answer;
    }
    if (command == "forget") {  // drops the request records, which grow with every request
      if (const std::shared_ptr<ScannerSimulator> device = Device()) device->ClearRequests();
      return "ok";
    }
  } catch (const std::exception& e) {
    return std::string("error: ") + e.what();
  }
  return "error: unknown command " + command;
}

}  // namespace pw::sim
