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
#include <vector>

#include "platform/host/DeviceSocket.h"

namespace pw::sim {
namespace fs = std::filesystem;
namespace ds = host::device_socket;

namespace {

[[noreturn]] void ThrowErrno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

}  // namespace

SimulatorServer::SimulatorServer(std::shared_ptr<host::Device> device, fs::path socketPath)
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

  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) ThrowErrno("socket");
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) {
    ::close(listenFd_);
    ThrowErrno("eventfd");
  }
  if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 8) != 0) {
    const int saved = errno;
    ::close(listenFd_);
    ::close(wakeFd_);
    errno = saved;
    ThrowErrno("bind/listen");
  }
  thread_ = std::thread([this] { Serve(); });
}

SimulatorServer::~SimulatorServer() {
  stopping_ = true;
  Unplug();
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) ::close(listenFd_);
  ::close(wakeFd_);
}

void SimulatorServer::Unplug() {
  if (unplugged_.exchange(true)) return;
  std::error_code ignored;
  fs::remove(socketPath_, ignored);
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void SimulatorServer::Serve() {
  std::vector<int> clients;
  std::vector<pollfd> fds;
  while (!unplugged_.load()) {
    fds.clear();
    fds.push_back({wakeFd_, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    for (int fd : clients) fds.push_back({fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents != 0) break;
    std::vector<int> keep;
    if ((fds[1].revents & POLLIN) != 0) {
      const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client >= 0) keep.push_back(client);
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
      const bool ready = fds[i].revents != 0;
      if (!ready || (!unplugged_.load() && ServeOne(fds[i].fd))) {
        keep.push_back(fds[i].fd);
      } else {
        ::close(fds[i].fd);
      }
    }
    clients = std::move(keep);
  }
  // Unplugged: every connection goes, so the host side sees the device gone.
  for (int fd : clients) ::close(fd);
  ::close(listenFd_);
  listenFd_ = -1;
}

bool SimulatorServer::ServeOne(int fd) {
  std::byte frame[ds::kHeaderSize];
  ds::RequestHeader request;
  if (!ds::ReceiveAll(fd, frame) || !ds::DecodeRequest(frame, request)) return false;
  input_.resize(request.inputSize);
  if (!ds::ReceiveAll(fd, input_)) return false;
  // The device gets a zeroed output span, as the program's own buffer is.
  if (output_.size() < request.outputSize) output_.resize(request.outputSize);
  std::fill_n(output_.begin(), std::min(dirty_, output_.size()), std::byte{0});
  dirty_ = request.outputSize;

  const platform::IoControlResult result =
      device_->IoControl(request.controlCode, input_, std::span<std::byte>(output_.data(), request.outputSize));
  const std::uint32_t returned = std::min(result.bytesReturned, request.outputSize);
  ds::ReplyHeader reply{result.ok, result.ok ? 0u : result.error, returned};
  ds::EncodeReply(reply, frame);
  const bool sent = ds::SendAll(fd, frame, std::span<const std::byte>(output_.data(), returned));
  served_.fetch_add(1);
  return sent;
}

}  // namespace pw::sim
