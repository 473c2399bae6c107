#pragma once
// Unix sockets of the host world, each owned by a UniqueFd: the control
// manager's control socket, the named pipes and the scanner's device socket.
// Every socket is close-on-exec; sends never raise SIGPIPE; a call cut short
// by a signal is repeated.
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/hostworld/UniqueFd.h"

namespace pw::hostworld {

struct SocketAddress {
  sockaddr_un address{};
  socklen_t length = 0;

  // The abstract name (Linux): no file is left behind.
  std::string_view AbstractName() const;
};

// An abstract address, its name cut to what the address holds.
SocketAddress AbstractSocketAddress(std::string_view name);
// The address of a socket file; nullopt when the path is too long for one.
std::optional<SocketAddress> FileSocketAddress(const std::string& path);

// A socket of the type (SOCK_STREAM, SOCK_SEQPACKET, optionally with
// SOCK_NONBLOCK) connected to the address; invalid with errno set when it is
// not. A send time-out, when given, bounds a connect to a full listener too.
UniqueFd ConnectSocket(int type, const SocketAddress& address,
                       std::optional<std::chrono::seconds> sendTimeout = std::nullopt);
// A socket of the type listening at the address; invalid with errno set when
// the address is taken or the socket cannot be made.
UniqueFd ListenSocket(int type, const SocketAddress& address, int backlog);
// The next connection of a listener, close-on-exec plus the flags given
// (SOCK_NONBLOCK); invalid with errno set when there is none.
UniqueFd AcceptSocket(int listener, int flags = 0);

// Sends the parts whole, in order; false when the peer went or an error came.
bool SendAll(int fd, std::span<const std::byte> first, std::span<const std::byte> second = {});
// Receives exactly data.size() bytes; false when the peer went, an error came
// or the deadline, if any, passed first.
bool ReceiveAll(int fd, std::span<std::byte> data,
                std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);

}  // namespace pw::hostworld
