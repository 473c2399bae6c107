#pragma once
// A device of the host world served by another process over a Unix socket
// (the scanner simulator's executable), and the framing both ends speak.
//
// A served device is plugged in while the socket <world root>/devices/<X>.sock
// exists; RefreshServedDevices turns it into removable drive X: carrying a
// SocketDevice, and removing the socket unplugs it again.
//
// Frames, every field a little-endian 32-bit word:
//   request: magic "PWDQ", control code, input size, output size, then the input bytes
//   reply:   magic "PWDR", ok (0/1), error code, bytes returned, then that many output bytes
// The output bytes of a reply land at the start of the caller's output buffer;
// bytes past them are left as they were, as the I/O manager of Windows does for
// buffered I/O controls.
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "platform/hostworld/UniqueFd.h"
#include "platform/hostworld/UnixSocket.h"
#include "platform/hostworld/World.h"

namespace pw::hostworld {

namespace device_socket {
inline constexpr std::uint32_t kRequestMagic = 0x51445750u;  // "PWDQ" in file order
inline constexpr std::uint32_t kReplyMagic = 0x52445750u;    // "PWDR"
inline constexpr std::size_t kHeaderSize = 16;
// Largest input or output a frame may carry; a frame above it is a protocol error.
inline constexpr std::uint32_t kMaxPayload = 4u << 20;
// How long the caller waits for a reply to a request that names no time-out of
// its own before it reports the request as timed out.
inline constexpr int kReplyTimeoutSeconds = 10;
// A pass-through request is given its own TimeOutValue (seconds) plus this
// margin, as a port driver gives up on a device that does not answer in time.
inline constexpr int kPassThroughMarginMs = 250;
// Offset of TimeOutValue in the 32-bit SCSI_PASS_THROUGH header.
inline constexpr std::size_t kTimeOutValueOffset = 16;
inline constexpr std::size_t kPassThroughHeaderSize = 44;

// How long to wait for the reply to one request (milliseconds).
std::uint32_t ReplyTimeoutMs(std::uint32_t controlCode, std::span<const std::byte> input);

struct RequestHeader {
  std::uint32_t controlCode = 0;
  std::uint32_t inputSize = 0;
  std::uint32_t outputSize = 0;
};

struct ReplyHeader {
  bool ok = false;
  std::uint32_t error = 0;
  std::uint32_t bytesReturned = 0;
};

void EncodeRequest(const RequestHeader& header, std::byte (&out)[kHeaderSize]);
bool DecodeRequest(const std::byte (&in)[kHeaderSize], RequestHeader& header);
void EncodeReply(const ReplyHeader& header, std::byte (&out)[kHeaderSize]);
bool DecodeReply(const std::byte (&in)[kHeaderSize], ReplyHeader& header);

// Whole-buffer transfers (UnixSocket.h): a header and its payload go with one
// system call where they can.
using hostworld::ReceiveAll;
using hostworld::SendAll;

// <world root>/devices/<letter>.sock, the letter in upper case.
std::filesystem::path SocketPathFor(const std::filesystem::path& worldRoot, char letter);
}  // namespace device_socket

// The host side of a served device: forwards each I/O control over the socket.
// A connection that cannot be made or breaks reports ERROR_DEVICE_NOT_CONNECTED
// (the device is gone); a reply that does not come within ReplyTimeoutMs
// reports ERROR_SEM_TIMEOUT and drops the connection, so that a late reply can
// never be taken for the answer to a later request. A request cancelled from
// another thread while it waits (CancelSynchronousIo) ends at once with
// ERROR_OPERATION_ABORTED and drops the connection the same way.
class SocketDevice final : public Device {
 public:
  // broughtDrive: the drive letter existed only because of this device and
  // goes away with it.
  SocketDevice(std::filesystem::path socketPath, dev_t fileDevice, ino_t fileInode, bool broughtDrive);
  ~SocketDevice() override;
  SocketDevice(const SocketDevice&) = delete;
  SocketDevice& operator=(const SocketDevice&) = delete;

  platform::IoControlResult IoControl(std::uint32_t controlCode, std::span<const std::byte> input,
                                      std::span<std::byte> output) override;

  const std::filesystem::path& SocketPath() const { return socketPath_; }
  bool BroughtDrive() const { return broughtDrive_; }
  // The socket file this device was made for (a new socket at the same path is a new device).
  bool IsFile(dev_t fileDevice, ino_t fileInode) const { return fileDevice == fileDevice_ && fileInode == fileInode_; }

 private:
  bool ConnectLocked();
  void DisconnectLocked();

  const std::filesystem::path socketPath_;
  const dev_t fileDevice_;
  const ino_t fileInode_;
  const bool broughtDrive_;
  std::mutex mutex_;
  UniqueFd fd_;
};

struct ServedDeviceChanges {
  std::string arrived;  // drive letters whose served device was plugged in
  std::string removed;  // drive letters whose served device was unplugged
};

// Brings the world's drives in line with the sockets in <world root>/devices:
// a new socket X.sock attaches a SocketDevice to drive X: (mapping a removable
// drive when there is none; an existing removable drive without a device gets
// it; any other drive is left alone), and a socket that is gone or was
// replaced detaches its device and removes the drive it brought. Handles
// opened on an unplugged device fail from then on. Attaching and detaching
// broadcast WM_DEVICECHANGE (World::AttachDevice, DetachDevice). The
// storage-device calls run this before they look at the drives; a
// ServedDeviceWatcher runs it on a timer, as the system notices a plugged
// device without being asked.
ServedDeviceChanges RefreshServedDevices(World& world);

// Runs RefreshServedDevices every interval on a thread of its own while it lives.
class ServedDeviceWatcher {
 public:
  explicit ServedDeviceWatcher(World& world, std::chrono::milliseconds interval = std::chrono::milliseconds(100));
  ~ServedDeviceWatcher();
  ServedDeviceWatcher(const ServedDeviceWatcher&) = delete;
  ServedDeviceWatcher& operator=(const ServedDeviceWatcher&) = delete;

 private:
  World& world_;
  const std::chrono::milliseconds interval_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace pw::hostworld
