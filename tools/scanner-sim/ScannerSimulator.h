#pragma once
// The scanner simulator: a device of the host world that answers the storage
// descriptor query and the scanner's SCSI requests as they arrive over
// IOCTL_SCSI_PASS_THROUGH, holds a queue of images, chunks them, injects
// faults and records every request it received.
//
// The device side of the wire format:
// - INQUIRY (12): 36 bytes of standard inquiry data at byte 80.
// - Card mode (55), computer mode (54): accepted, no data. Images are
//   announced only in computer mode.
// - Length query (52, offset in CDB bytes 1-4): 00 00 00 00 while nothing
//   waits; otherwise the length of the next chunk from that offset, big-endian,
//   by the chunk policy and never beyond the image's end; CC DD EE FF once the
//   offset reaches the end. The image leaves the queue when the end marker has
//   been delivered for an offset above 0; an empty image (whose very first
//   answer is the marker) leaves at its second marker, since the first length
//   query of a pull does not look for the marker.
// - Chunk read (53): the bytes from the offset of the last length query on,
//   as many as DataTransferLength asks for and the image still has.
// - Requests the driver would reject (short header, buffers that do not hold
//   the data or sense area) fail with ERROR_INVALID_PARAMETER; an unknown
//   operation code or a chunk read with nothing announced completes with
//   CHECK CONDITION status and sense data, as a successful I/O control.
//
// Thread rule: any thread; every method takes the simulator's lock, and the
// unplug handler runs outside it.
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/StorageDevice.h"
#include "platform/hostworld/World.h"

namespace pw::sim {

enum class RequestKind {
  StorageQuery,
  Inquiry,
  CardMode,
  ComputerMode,
  LengthQuery,
  ChunkRead,
  Other,  // another control code or operation code
  Any,    // in fault rules: every request
};

const char* RequestKindName(RequestKind kind);
std::optional<RequestKind> ParseRequestKind(std::string_view name);

// One string of the storage descriptor and where it is put.
struct DescriptorString {
  enum class Placement {
    Normal,        // inside the returned bytes, zero-terminated
    Absent,        // offset 0
    PastReturned,  // written after the bytes the call reports as returned, the offset pointing there
    Unterminated,  // the last text of the returned bytes, which end right after it with no zero
  };
  std::string text;
  Placement placement = Placement::Normal;
};

struct DescriptorConfig {
  DescriptorString vendor{"USB", DescriptorString::Placement::Normal};
  DescriptorString product{"SCAN", DescriptorString::Placement::Normal};
  DescriptorString revision{"1000", DescriptorString::Placement::Normal};
  bool removableMedia = true;
  // Fill the output past the returned bytes with non-zero bytes, so that a
  // reader that does not stop at the returned count reads rubbish.
  bool junkAfterReturned = false;
};

struct ChunkPolicy {
  enum class Kind { Fixed, Random, Script };
  Kind kind = Kind::Fixed;
  std::uint32_t fixed = 65536;
  std::uint32_t randomMin = 1;
  std::uint32_t randomMax = 524288;
  std::uint64_t seed = 1;
  // Lengths in turn, one per announcement (0 announces "nothing yet"); the
  // last one repeats.
  std::vector<std::uint32_t> script;

  static ChunkPolicy Fixed(std::uint32_t length);
  static ChunkPolicy Random(std::uint64_t seed, std::uint32_t min, std::uint32_t max);
  static ChunkPolicy Script(std::vector<std::uint32_t> lengths);
};

inline constexpr std::uint32_t kForever = 0xFFFFFFFFu;

// Requests number first, first+1, ... (counted per kind from 0, or over all
// requests for Any) fail with error before they reach the device's logic: a
// failed request has no effect on the device.
struct FaultRule {
  RequestKind kind = RequestKind::Any;
  std::uint32_t first = 0;
  std::uint32_t count = 1;  // kForever: this one and every later one
  platform::ErrorCode error = platform::error::kSemTimeout;
  // A hung device: the request gets no answer until the caller has given up
  // on it (its own time-out: in a world's thread, until its time-out passes
  // or the request is cancelled; served, a second past it), then fails.
  bool hold = false;
};

// Each request of the kind fails with the probability, from a seeded generator.
struct RandomFault {
  RequestKind kind = RequestKind::Any;
  double probability = 0.0;
  std::uint64_t seed = 1;
  platform::ErrorCode error = platform::error::kSemTimeout;
};

// Length query number `query` (0-based, counted over all length queries)
// answers these four bytes (big-endian) instead of its normal answer.
struct LengthOverride {
  std::uint32_t query = 0;
  std::uint32_t value = 0;
};

struct UnplugPlan {
  RequestKind kind = RequestKind::ChunkRead;
  std::uint32_t after = 0;  // unplug once this many requests of the kind were answered
};

struct RecordedRequest {
  std::uint32_t index = 0;  // over all requests
  RequestKind kind = RequestKind::Other;
  std::uint32_t controlCode = 0;
  std::vector<std::byte> input;           // the input bytes as received
  std::array<std::uint8_t, 16> cdb{};     // a pass-through request's CDB
  std::uint32_t inputSize = 0;
  std::uint32_t outputSize = 0;
  // The output bytes past the input were all zero on arrival (checked when
  // SimulatorOptions::checkOutputZeroed is on; true otherwise).
  bool outputWasZero = true;
  platform::IoControlResult result;
};

// What the device did, reported to an observer (a log of what was delivered).
struct SimulatorEvent {
  enum class Kind {
    ChunkAnswered,   // a chunk read delivered `length` bytes from `offset`
    ImageDelivered,  // image number `image` (0-based, in queue order) left with its end marker
  };
  Kind kind = Kind::ChunkAnswered;
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
  std::size_t image = 0;
  std::vector<std::byte> bytes;  // ImageDelivered: the whole image
};

struct SimulatorOptions {
  bool recordRequests = true;
  bool checkOutputZeroed = true;
};

class ScannerSimulator final : public hostworld::Device {
 public:
  enum class Mode { Unset, Card, Computer };

  ScannerSimulator();
  explicit ScannerSimulator(SimulatorOptions options);

  platform::IoControlResult IoControl(std::uint32_t controlCode, std::span<const std::byte> input,
                                      std::span<std::byte> output) override;

  // Identity.
  void SetDescriptor(DescriptorConfig config);
  DescriptorConfig Descriptor() const;

  // Images.
  void QueueImage(std::vector<std::byte> bytes);
  void QueueImageFile(const std::filesystem::path& path);  // throws std::runtime_error when unreadable
  void QueueGeneratedImage(std::size_t size, std::uint32_t seed);
  std::size_t QueuedImages() const;
  std::size_t ImagesDelivered() const;  // images that left the queue with their end marker
  // While held, nothing is announced (length 0) even in computer mode.
  void HoldImages(bool hold);

  // Mode the scanner is in; it starts Unset, like a freshly plugged scanner.
  Mode CurrentMode() const;
  void SetMode(Mode mode);

  void SetChunkPolicy(ChunkPolicy policy);

  // Faults.
  void AddFault(FaultRule rule);
  void AddRandomFault(RandomFault fault);
  void AddLengthOverride(LengthOverride override);
  void PlanUnplug(UnplugPlan plan);
  void ClearFaults();
  // Every request from now on fails with ERROR_DEVICE_NOT_CONNECTED.
  void Unplug();
  bool Unplugged() const;
  // Plugged in again (under whatever letter): it answers again, its pictures kept.
  void Replug();
  // Runs (outside the lock) when the device unplugs itself by its plan or by Unplug().
  void SetUnplugHandler(std::function<void()> handler);

  // Every request of the kind is answered only after the delay, as a slow
  // device would; the delay is spent outside the lock.
  void SetDelay(RequestKind kind, std::chrono::milliseconds delay);
  // Runs (outside the lock, on the requesting thread) for each event.
  void SetEventHandler(std::function<void(const SimulatorEvent&)> handler);

  // Records.
  std::vector<RecordedRequest> Requests() const;
  std::vector<RecordedRequest> RequestsOf(RequestKind kind) const;
  std::size_t RequestCount() const;
  void ClearRequests();

 private:
  struct Image {
    std::vector<std::byte> bytes;
    bool markerSeenAtZero = false;
    std::size_t number = 0;  // position in queue order
  };

  platform::IoControlResult StorageQuery(std::span<const std::byte> input, std::span<std::byte> output);
  platform::IoControlResult PassThrough(RequestKind kind, std::span<const std::byte> input, std::span<std::byte> output);
  std::optional<platform::ErrorCode> InjectedFault(RequestKind kind, std::uint32_t kindIndex, std::uint32_t index);
  std::uint32_t NextChunkLength();
  bool Announcing() const;

  SimulatorOptions options_;
  mutable std::mutex mutex_;
  DescriptorConfig descriptor_;
  std::deque<Image> images_;
  std::size_t imagesDelivered_ = 0;
  bool hold_ = false;
  Mode mode_ = Mode::Unset;
  ChunkPolicy policy_;
  std::mt19937_64 chunkRandom_{1};
  std::size_t scriptPosition_ = 0;
  // The offset of the last length query that found an image; chunk reads deliver from here.
  std::optional<std::uint32_t> pendingOffset_;

  std::vector<FaultRule> faults_;
  struct RandomFaultState {
    RandomFault fault;
    std::mt19937_64 generator;
  };
  std::vector<RandomFaultState> randomFaults_;
  std::map<std::uint32_t, std::uint32_t> lengthOverrides_;
  std::optional<UnplugPlan> unplugPlan_;
  bool unplugged_ = false;
  std::function<void()> unplugHandler_;

  std::uint32_t requestCount_ = 0;
  static constexpr std::size_t kKinds = static_cast<std::size_t>(RequestKind::Any) + 1;
  std::array<std::uint32_t, kKinds> kindCounts_{};    // requests received, per kind
  std::array<std::uint32_t, kKinds> kindAnswered_{};  // requests answered without an injected failure
  std::vector<RecordedRequest> records_;

  std::size_t imagesQueued_ = 0;
  std::map<RequestKind, std::chrono::milliseconds> delays_;
  std::function<void(const SimulatorEvent&)> eventHandler_;
  std::vector<SimulatorEvent> pendingEvents_;  // gathered under the lock, reported after it
};

}  // namespace pw::sim
