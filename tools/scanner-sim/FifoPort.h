#pragma once
// Serves the scanner to the scanner driver of the win32 build's tests over two
// FIFOs in one folder, in the wire format of tools/scanner-driver/ScannerWire.h.
//
// The port is where the scanner plugs in: with no device plugged, every
// request fails with ERROR_DEVICE_NOT_CONNECTED. Control lines, sent through
// the driver as the simulator-control I/O control, plug a fresh device
// (configured by the device options of the command line), unplug it, queue
// more pictures, add faults, read counters, and make the next reply malformed.
// Every queued image is also written to <folder>/images/NNNN.jpg (numbered
// over the port's life) so that tests can compare what arrives. "status"
// also tells how long the last whole pull took (pull_us), from its first
// chunk read to the end marker, so that a benchmark times every puller alike.
//
// Thread rule: Serve() runs on one thread; Plug() and Stop() from any thread.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/scanner-sim/ScannerSimulator.h"

namespace pw::sim {

class FifoPort {
 public:
  // Creates the folder and the FIFOs "request" and "reply" (when missing) and
  // holds both open for reading and writing, so that neither end ever sees an
  // end of file while the port lives. Throws std::system_error.
  explicit FifoPort(std::filesystem::path folder);
  ~FifoPort();
  FifoPort(const FifoPort&) = delete;
  FifoPort& operator=(const FifoPort&) = delete;

  // Plugs a device in place of the one plugged now (if any).
  void Plug(std::shared_ptr<ScannerSimulator> device);
  // Saves the image under the next number and returns that number.
  std::uint32_t SaveImage(const std::vector<std::byte>& bytes);
  std::shared_ptr<ScannerSimulator> Device() const;

  // Answers requests until Stop(); a broken request stream ends it too.
  void Serve();
  void Stop() { stopping_.store(true); }

  // Runs one control line and returns its answer ("ok ..." or "error: ...").
  std::string Control(std::string_view line);

  std::uint64_t Served() const { return served_.load(); }

 private:
  enum class Garble { None, Count, Magic, Sequence, Silence };

  bool ReadExactly(std::byte* data, std::size_t size);
  bool WriteReply(std::uint32_t sequence, std::uint32_t status, const std::byte* data, std::uint32_t count);

  std::filesystem::path folder_;
  int request_ = -1;
  int reply_ = -1;
  std::atomic<bool> stopping_{false};
  std::atomic<std::uint64_t> served_{0};
  mutable std::mutex mutex_;
  std::shared_ptr<ScannerSimulator> device_;
  std::uint32_t imageNumber_ = 0;
  Garble garble_ = Garble::None;
  // Timing of the last whole pull: from its first chunk read to the reply
  // that completed the image (Serve's thread only, read under the lock).
  std::optional<std::chrono::steady_clock::time_point> pullStarted_;
  std::int64_t lastPullMicros_ = -1;
};

}  // namespace pw::sim
