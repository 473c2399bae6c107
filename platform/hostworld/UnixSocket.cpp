#include "platform/hostworld/UnixSocket.h"

#include <poll.h>
#include <sys/time.h>
#include <sys/uio.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace pw::hostworld {

std::string_view SocketAddress::AbstractName() const {
  const std::size_t start = offsetof(sockaddr_un, sun_path) + 1;
  const auto size = static_cast<std::size_t>(length);
  return size <= start ? std::string_view() : std::string_view(address.sun_path + 1, size - start);
}

SocketAddress AbstractSocketAddress(std::string_view name) {
  SocketAddress result;
  result.address.sun_family = AF_UNIX;
  const std::size_t size = std::min(name.size(), sizeof(result.address.sun_path) - 1);
  std::memcpy(result.address.sun_path + 1, name.data(), size);
  result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + size);
  return result;
}

std::optional<SocketAddress> FileSocketAddress(const std::string& path) {
  SocketAddress result;
  result.address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(result.address.sun_path)) return std::nullopt;
  std::memcpy(result.address.sun_path, path.c_str(), path.size() + 1);
  result.length = sizeof result.address;
  return result;
}

namespace {

const sockaddr* Raw(const SocketAddress& address) { return reinterpret_cast<const sockaddr*>(&address.address); }

}  // namespace

UniqueFd ConnectSocket(int type, const SocketAddress& address, std::optional<std::chrono::seconds> sendTimeout) {
  UniqueFd socket(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
  if (!socket.valid()) return socket;
  if (sendTimeout) {
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(sendTimeout->count());
    ::setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  }
  if (::connect(socket.get(), Raw(address), address.length) != 0) {
    const int error = errno;
    socket.reset();
    errno = error;
  }
  return socket;
}

UniqueFd ListenSocket(int type, const SocketAddress& address, int backlog) {
  UniqueFd socket(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
  if (!socket.valid()) return socket;
  if (::bind(socket.get(), Raw(address), address.length) != 0 || ::listen(socket.get(), backlog) != 0) {
    const int error = errno;
    socket.reset();
    errno = error;
  }
  return socket;
}

UniqueFd AcceptSocket(int listener, int flags) {
  for (;;) {
    const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | flags);
    if (connection < 0 && errno == EINTR) continue;
    return UniqueFd(connection);
  }
}

bool SendAll(int fd, std::span<const std::byte> first, std::span<const std::byte> second) {
  while (!first.empty() || !second.empty()) {
    std::array<iovec, 2> parts{};
    std::size_t count = 0;
    if (!first.empty()) parts[count++] = {const_cast<std::byte*>(first.data()), first.size()};
    if (!second.empty()) parts[count++] = {const_cast<std::byte*>(second.data()), second.size()};
    msghdr message{};
    message.msg_iov = parts.data();
    message.msg_iovlen = count;
    const ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    auto done = static_cast<std::size_t>(sent);
    const std::size_t fromFirst = std::min(done, first.size());
    first = first.subspan(fromFirst);
    second = second.subspan(done - fromFirst);
  }
  return true;
}

bool ReceiveAll(int fd, std::span<std::byte> data, std::optional<std::chrono::steady_clock::time_point> deadline) {
  while (!data.empty()) {
    if (deadline) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd entry{fd, POLLIN, 0};
      const int ready = ::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return false;
      if (ready == 0) continue;
    }
    const ssize_t got = ::recv(fd, data.data(), data.size(), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data = data.subspan(static_cast<std::size_t>(got));
  }
  return true;
}

}  // namespace pw::hostworld
