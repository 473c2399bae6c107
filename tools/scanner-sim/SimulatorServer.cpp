#include "tools/scanner-sim/SimulatorServer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/hostworld/DeviceSocket.h"

namespace pw::sim {
namespace fs = std::filesystem;
namespace ds = hostworld::device_socket;

namespace {

[[noreturn]] void ThrowErrno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

// The header, its padding and the sense area of a pass-through reply.
constexpr std::size_t kZeroedPrefix = 80;

}  // namespace

SimulatorServer::SimulatorServer(std::shared_ptr<hostworld::Device> device, fs::path socketPath)
    : device_(std::move(device)), socketPath_(std::move(socketPath)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = socketPath_.string();
  if (path.size() >= sizeof(address.sun_path)) {
    throw std::system_error(std::make_error_code(std::errc::filename_too_long), "socket path " + path);
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  fs::create_directories(socketPath_.parent_path());
  std::error_code ignored;
  fs::remove(socketPath_, ignored);  // a socket left by a server that died

  listenFd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listenFd_.valid()) ThrowErrno("socket");
  wakeFd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wakeFd_.valid()) ThrowErrno("eventfd");
  if (::bind(listenFd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_.get(), 8) != 0) {
    ThrowErrno("bind/listen");
  }
  acceptor_ = std::thread([this] { Accept(); });
}

SimulatorServer::~SimulatorServer() {
  Unplug();
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<std::thread> threads;
  {
    std::scoped_lock lock(connectionsMutex_);
    threads = std::move(connectionThreads_);
  }
  for (std::thread& thread : threads) thread.join();
}

void SimulatorServer::Unplug() {
  if (unplugged_.exchange(true)) return;
  std::error_code ignored;
  fs::remove(socketPath_, ignored);
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakeFd_.get(), &one, sizeof one);
  // Ends every connection's wait for its next request; a reply being sent
  // right now still goes out.
  std::scoped_lock lock(connectionsMutex_);
  for (int fd : connections_) ::shutdown(fd, SHUT_RD);
}

void SimulatorServer::Accept() {
  std::array<pollfd, 2> fds{};
  while (!unplugged_.load()) {
    fds[0] = {wakeFd_.get(), POLLIN, 0};
    fds[1] = {listenFd_.get(), POLLIN, 0};
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents != 0) break;
    if ((fds[1].revents & POLLIN) == 0) continue;
    const int fd = ::accept4(listenFd_.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::scoped_lock lock(connectionsMutex_);
    if (unplugged_.load()) {
      ::close(fd);
      break;
    }
    connections_.push_back(fd);
    connectionThreads_.emplace_back([this, fd] { ServeConnection(fd); });
  }
}

void SimulatorServer::ServeConnection(int fd) {
  std::vector<std::byte> input;
  std::vector<std::byte> output;
  std::size_t dirty = 0;  // output bytes the last device call may have written
  std::byte frame[ds::kHeaderSize];
  ds::RequestHeader request;
  while (!unplugged_.load() && ds::ReceiveAll(fd, frame) && ds::DecodeRequest(frame, request)) {
    input.resize(request.inputSize);
    if (!ds::ReceiveAll(fd, input)) break;
    // The device gets the output span as the program's own buffer hands it
    // over: zeros up to the data area, which the device fills for every byte
    // it reports (zeroing the whole span would cost as much as the copy).
    if (output.size() < request.outputSize) output.resize(request.outputSize);
    std::fill_n(output.begin(), std::min({dirty, output.size(), kZeroedPrefix}), std::byte{0});
    dirty = request.outputSize;

    const platform::IoControlResult result =
        device_->IoControl(request.controlCode, input, std::span<std::byte>(output.data(), request.outputSize));
    const std::uint32_t returned = std::min(result.bytesReturned, request.outputSize);
    ds::EncodeReply({result.ok, result.ok ? 0u : result.error, returned}, frame);
    const bool sent = ds::SendAll(fd, frame, std::span<const std::byte>(output.data(), returned));
    served_.fetch_add(1);
    if (!sent) break;
  }
  std::scoped_lock lock(connectionsMutex_);
  connections_.erase(std::remove(connections_.begin(), connections_.end(), fd), connections_.end());
  ::close(fd);
}

}  // namespace pw::sim
