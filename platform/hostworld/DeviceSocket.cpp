#include "platform/hostworld/DeviceSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <system_error>
#include <utility>

#include "platform/ByteOrder.h"
#include "platform/hostworld/FailureSink.h"


namespace pw::hostworld {
namespace fs = std::filesystem;
namespace error = platform::error;
using platform::GetLe32;
using platform::PutLe32;

namespace device_socket {
namespace {

}  // namespace

void EncodeRequest(const RequestHeader& header, std::byte (&out)[kHeaderSize]) {
  PutLe32(out, kRequestMagic);
  PutLe32(out + 4, header.controlCode);
  PutLe32(out + 8, header.inputSize);
  PutLe32(out + 12, header.outputSize);
}

bool DecodeRequest(const std::byte (&in)[kHeaderSize], RequestHeader& header) {
  if (GetLe32(in) != kRequestMagic) return false;
  header.controlCode = GetLe32(in + 4);
  header.inputSize = GetLe32(in + 8);
  header.outputSize = GetLe32(in + 12);
  return header.inputSize <= kMaxPayload && header.outputSize <= kMaxPayload;
}

void EncodeReply(const ReplyHeader& header, std::byte (&out)[kHeaderSize]) {
  PutLe32(out, kReplyMagic);
  PutLe32(out + 4, header.ok ? 1u : 0u);
  PutLe32(out + 8, header.error);
  PutLe32(out + 12, header.bytesReturned);
}

bool DecodeReply(const std::byte (&in)[kHeaderSize], ReplyHeader& header) {
  if (GetLe32(in) != kReplyMagic) return false;
  const std::uint32_t ok = GetLe32(in + 4);
  if (ok > 1) return false;
  header.ok = ok == 1;
  header.error = GetLe32(in + 8);
  header.bytesReturned = GetLe32(in + 12);
  return header.bytesReturned <= kMaxPayload;
}

std::uint32_t ReplyTimeoutMs(std::uint32_t controlCode, std::span<const std::byte> input) {
  constexpr std::uint32_t kDefault = static_cast<std::uint32_t>(kReplyTimeoutSeconds) * 1000u;
  if (controlCode != platform::kIoctlScsiPassThrough || input.size() < kPassThroughHeaderSize) return kDefault;
  const std::uint32_t seconds = GetLe32(input.data() + kTimeOutValueOffset);
  // No time-out, or one beyond the fallback, leaves the fallback.
  if (seconds == 0 || seconds >= static_cast<std::uint32_t>(kReplyTimeoutSeconds)) return kDefault;
  return seconds * 1000u + static_cast<std::uint32_t>(kPassThroughMarginMs);
}

fs::path SocketPathFor(const fs::path& worldRoot, char letter) {
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  return worldRoot / "devices" / (std::string(1, upper) + ".sock");
}

}  // namespace device_socket

SocketDevice::SocketDevice(fs::path socketPath, dev_t fileDevice, ino_t fileInode, bool broughtDrive)
    : socketPath_(std::move(socketPath)), fileDevice_(fileDevice), fileInode_(fileInode), broughtDrive_(broughtDrive) {}

SocketDevice::~SocketDevice() { DisconnectLocked(); }

bool SocketDevice::ConnectLocked() {
  if (fd_.valid()) return true;
  const std::optional<SocketAddress> address = FileSocketAddress(socketPath_.string());
  if (!address) return false;
  UniqueFd fd = ConnectSocket(SOCK_STREAM, *address, std::chrono::seconds(device_socket::kReplyTimeoutSeconds));
  if (!fd.valid()) return false;
  fd_ = std::move(fd);
  return true;
}

void SocketDevice::DisconnectLocked() { fd_.reset(); }

platform::IoControlResult SocketDevice::IoControl(std::uint32_t controlCode, std::span<const std::byte> input,
                                                  std::span<std::byte> output) {
  using device_socket::kHeaderSize;
  std::scoped_lock lock(mutex_);
  if (input.size() > device_socket::kMaxPayload || output.size() > device_socket::kMaxPayload) {
    return {false, 0, error::kInvalidParameter};
  }
  if (!ConnectLocked()) return {false, 0, error::kDeviceNotConnected};
  // The reply is waited for as long as the request itself allows.
  const std::uint32_t waitMs = device_socket::ReplyTimeoutMs(controlCode, input);
  timeval timeout{};
  timeout.tv_sec = static_cast<time_t>(waitMs / 1000u);
  timeout.tv_usec = static_cast<suseconds_t>((waitMs % 1000u) * 1000u);
  ::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

  std::byte frame[kHeaderSize];
  device_socket::EncodeRequest({controlCode, static_cast<std::uint32_t>(input.size()),
                                static_cast<std::uint32_t>(output.size())},
                               frame);
  if (!device_socket::SendAll(fd_.get(), frame, input)) {
    DisconnectLocked();
    return {false, 0, error::kDeviceNotConnected};
  }

  // A request cancelled from another thread ends the wait for the reply at
  // once; the connection goes with it, so that the late reply is never read.
  if (SynchronousIo::Request* request = SynchronousIo::Current()) {
    const int cancelFd = request->CancelFd();
    pollfd waits[2] = {{fd_.get(), POLLIN, 0}, {cancelFd, POLLIN, 0}};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      const int ready = ::poll(waits, cancelFd >= 0 ? 2 : 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
      if (ready < 0 && errno == EINTR) continue;
      if (ready > 0 && (waits[1].revents & POLLIN) != 0) {
        DisconnectLocked();
        return {false, 0, error::kOperationAborted};
      }
      if (ready == 0) {
        DisconnectLocked();
        return {false, 0, error::kSemTimeout};
      }
      break;  // the reply (or the end of the connection) is there
    }
  }

  device_socket::ReplyHeader reply;
  std::byte replyFrame[kHeaderSize];
  if (!device_socket::ReceiveAll(fd_.get(), replyFrame)) {
    const bool timedOut = errno == EAGAIN || errno == EWOULDBLOCK;
    DisconnectLocked();
    return {false, 0, timedOut ? error::kSemTimeout : error::kDeviceNotConnected};
  }
  if (!device_socket::DecodeReply(replyFrame, reply) || reply.bytesReturned > output.size()) {
    DisconnectLocked();
    return {false, 0, error::kGenFailure};
  }
  if (!device_socket::ReceiveAll(fd_.get(), output.first(reply.bytesReturned))) {
    DisconnectLocked();
    return {false, 0, error::kDeviceNotConnected};
  }
  return {reply.ok, reply.bytesReturned, reply.ok ? error::kSuccess : reply.error};
}

ServedDeviceChanges RefreshServedDevices(World& world) {
  ServedDeviceChanges changes;
  const fs::path folder = world.Root() / "devices";

  // Sockets present now, by drive letter, with the file they are.
  struct SocketFile {
    fs::path path;
    dev_t device = 0;
    ino_t inode = 0;
  };
  std::map<char, SocketFile> sockets;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() != 6 || name.substr(1) != ".sock" || !std::isalpha(static_cast<unsigned char>(name[0]))) continue;
    struct stat info {};
    if (::stat(it->path().c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) continue;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    sockets[letter] = {it->path(), info.st_dev, info.st_ino};
  }

  // One refresh at a time, so that two callers never both plug in the same
  // socket. The world's own lock is not held across Attach/Detach, which
  // broadcast WM_DEVICECHANGE to the desktop.
  static std::mutex serial;
  std::scoped_lock lock(serial);
  for (const Drive& drive : world.Drives()) {
    auto* served = dynamic_cast<SocketDevice*>(drive.device.get());
    if (served == nullptr) continue;
    auto socket = sockets.find(drive.letter);
    if (socket != sockets.end() && served->IsFile(socket->second.device, socket->second.inode)) {
      sockets.erase(socket);  // still the same device
      continue;
    }
    world.DetachDevice(drive.letter);
    if (served->BroughtDrive()) world.UnmapDrive(drive.letter);
    changes.removed.push_back(drive.letter);
  }

  for (const auto& [letter, file] : sockets) {
    const std::optional<Drive> drive = world.FindDrive(letter);
    bool brought = false;
    if (!drive) {
      world.AddDrive(letter, platform::DriveType::Removable);
      brought = true;
    } else if (drive->type != platform::DriveType::Removable || drive->device) {
      continue;  // the letter is taken by something else
    }
    world.AttachDevice(letter, std::make_shared<SocketDevice>(file.path, file.device, file.inode, brought));
    changes.arrived.push_back(letter);
  }
  return changes;
}

ServedDeviceWatcher::ServedDeviceWatcher(World& world, std::chrono::milliseconds interval)
    : world_(world), interval_(interval) {
  thread_ = std::thread([this] {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      lock.unlock();
      // No exception may end the thread (and with it the process): the
      // failure is reported and the next round tries again.
      try {
        RefreshServedDevices(world_);
      } catch (const std::exception& failure) {
        ReportFailure(std::string("Served device watcher: ") + failure.what());
      } catch (...) {
        ReportFailure("Served device watcher: unknown failure");
      }
      lock.lock();
      wake_.wait_for(lock, interval_, [this] { return stopping_; });
    }
  });
}

ServedDeviceWatcher::~ServedDeviceWatcher() {
  {
    std::scoped_lock lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

}  // namespace pw::hostworld
