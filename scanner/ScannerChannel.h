#pragma once
// The scanner's command channel: the five pass-through requests with their
// exact bytes, the decoding of the length reply, and RunScannerRequest, the
// one exchange (INQUIRY first) through which the poll talks to the scanner.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/Result.h"
#include "platform/StorageDevice.h"
#include "scanner/PassThroughBuffer.h"
#include "scanner/ScannerRequestKind.h"

namespace pw::scanner {

enum class ScannerCommand {
  InquiryRequest,       // standard INQUIRY, 80 data bytes (not examined)
  CardModeCommand,      // images stay on the scanner's card
  ComputerModeCommand,  // images are pulled to the computer
  LengthQueryCommand,   // argument: the offset; answers the next chunk's length or the end marker
  ChunkReadCommand,     // argument: the announced length N, 1 to 524288
};

// Header values every request carries.
namespace pass_through {
inline constexpr std::uint16_t kLength = 44;
inline constexpr std::uint8_t kTargetId = 1;
inline constexpr std::uint8_t kCdbLength = 6;
inline constexpr std::uint8_t kDataIn = 1;  // SCSI_IOCTL_DATA_IN, also for the commands that move no data
inline constexpr std::uint32_t kTimeOutSeconds = 2;
inline constexpr std::uint32_t kDataBufferOffset = 80;
inline constexpr std::uint32_t kSenseInfoOffset = 48;
inline constexpr std::uint32_t kInputSize = 44;  // the header alone

// Field offsets in the 32-bit SCSI_PASS_THROUGH.
inline constexpr std::size_t kLengthAt = 0;
inline constexpr std::size_t kScsiStatusAt = 2;
inline constexpr std::size_t kPathIdAt = 3;
inline constexpr std::size_t kTargetIdAt = 4;
inline constexpr std::size_t kLunAt = 5;
inline constexpr std::size_t kCdbLengthAt = 6;
inline constexpr std::size_t kSenseInfoLengthAt = 7;
inline constexpr std::size_t kDataInAt = 8;
inline constexpr std::size_t kDataTransferLengthAt = 12;
inline constexpr std::size_t kTimeOutValueAt = 16;
inline constexpr std::size_t kDataBufferOffsetAt = 20;
inline constexpr std::size_t kSenseInfoOffsetAt = 24;
inline constexpr std::size_t kCdbAt = 28;
inline constexpr std::size_t kCdbSize = 16;
}  // namespace pass_through

// What one request puts on the wire besides the common header.
struct CommandLayout {
  std::array<std::uint8_t, 6> cdb{};
  std::uint8_t senseInfoLength = 0;
  std::uint32_t dataTransferLength = 0;
  std::uint32_t OutputSize() const { return dataTransferLength + pass_through::kDataBufferOffset; }
};

CommandLayout LayoutOf(ScannerCommand command, std::uint32_t argument);

// Clears the buffer, fills the header and CDB of the request and sends it with
// IOCTL_SCSI_PASS_THROUGH: 44 input bytes, DataTransferLength + 80 output
// bytes, both in the buffer. Returns the I/O control's success flag and, on
// failure, its last error. A chunk read whose length is outside 1..524288
// would not fit the data area: it is not sent and fails with
// ERROR_INVALID_PARAMETER (87).
platform::Result<void> SendScannerCommand(const platform::DeviceHandle& device, PassThroughBuffer& buffer,
                                     ScannerCommand command, std::uint32_t argument = 0);

// The bytes CC DD EE FF: the image is complete.
inline constexpr std::array<std::byte, 4> kEndOfImageMarker{std::byte{0xCC}, std::byte{0xDD}, std::byte{0xEE},
                                                            std::byte{0xFF}};
inline constexpr std::int32_t kLargestChunk = static_cast<std::int32_t>(PassThroughBuffer::kDataSize);

// The answer of a length query, read from data bytes 0-3.
struct LengthReply {
  bool endOfImage = false;  // the bytes are EndOfImageMarker
  std::int32_t length = 0;  // the bytes as a big-endian signed length, marker or not
};
LengthReply ReadLengthReply(const PassThroughBuffer& buffer);

// A length that a chunk read can fetch: above 0 and no larger than the data area.
constexpr bool IsReadableChunkLength(std::int32_t length) { return length > 0 && length <= kLargestChunk; }

// The pull, plugged into RunScannerRequest for RequestPull. It runs after a
// successful INQUIRY on the same open device and returns its own result.
class ImagePuller {
 public:
  virtual ~ImagePuller() = default;
  virtual bool PullImage(const platform::DeviceHandle& device) = 0;
};

// One exchange: the INQUIRY, then, only when it succeeded, the card-mode or
// computer-mode command for RequestCardMode / RequestComputerMode, or the
// puller's PullImage for RequestPull (no puller: nothing more, false). Any
// other kind sends nothing after the INQUIRY. Returns the success flag of the
// last request sent, or the pull's result.
bool RunScannerRequest(const platform::DeviceHandle& device, ScannerRequestKind kind, ImagePuller* puller = nullptr);
// The same with the caller's buffer for the INQUIRY and the mode command, for
// a caller that keeps one buffer across exchanges (a fresh one costs a
// half-megabyte allocation). A pull brings its own. With `interrupt`, nothing
// is sent after the INQUIRY while it is above 0 (a stop, pause or shutdown
// waits): the exchange ends as after a failed request.
bool RunScannerRequest(const platform::DeviceHandle& device, ScannerRequestKind kind, PassThroughBuffer& buffer,
                       ImagePuller* puller = nullptr, const std::atomic<int>* interrupt = nullptr);

}  // namespace pw::scanner
