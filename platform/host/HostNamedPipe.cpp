// Named pipes of the host world: one listening Unix socket (SOCK_SEQPACKET,
// which keeps message boundaries) per pipe name and world, shared by the
// pipe's server instances of this process. A client announces its session
// in a first packet that the server's Connect takes, as Windows knows the
// client's session without asking it.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "platform/NamedPipe.h"
#include "platform/Sessions.h"
#include "platform/WriteProbe.h"
#include "platform/hostworld/UniqueFd.h"
#include "platform/hostworld/UnixSocket.h"
#include "platform/hostworld/World.h"
#include "platform/hostworld/WorldSessions.h"

namespace pw::platform {
namespace {

constexpr std::uint32_t kHelloMagic = 0x4C454850u;  // "PHEL"
constexpr std::size_t kHelloSize = 8;
constexpr ErrorCode kFileNotFound = error::kFileNotFound;

ErrorCode ErrnoToError(int code) {
  switch (code) {
    case EPIPE:
    case ECONNRESET:
      return error::kNoData;
    case ENOENT:
    case ECONNREFUSED:
      return kFileNotFound;
    case EADDRINUSE:
    case EACCES:
      return error::kAccessDenied;
    case ENOMEM:
    case ENOBUFS:
      return error::kNotEnoughMemory;
    default:
      return error::kGenFailure;
  }
}

using Descriptor = hostworld::UniqueFd;

// The socket address of a pipe: abstract, named after the world's root and the
// pipe's name in lower case (pipe names ignore case).
hostworld::SocketAddress PipeAddress(std::string_view name) {
  std::string lowered(name);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::size_t world = std::hash<std::string>{}(hostworld::World::Current().Root().string());
  return hostworld::AbstractSocketAddress("pagewick-pipe-" + std::to_string(world) + "-" + lowered);
}

struct Listener {
  Descriptor socket;
  std::string key;
};

// The listeners of this process by address; an entry lives while an instance
// of its pipe does.
std::mutex g_listenersMutex;
std::map<std::string, std::weak_ptr<Listener>> g_listeners;

// Waits until `fd` is ready for `events` or the wake descriptor fires.
// False when woken (cancelled).
bool WaitFor(int fd, short events, int wake) {
  for (;;) {
    pollfd fds[2] = {{fd, events, 0}, {wake, POLLIN, 0}};
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents != 0) return false;
    if (fds[0].revents != 0) return true;
  }
}

}  // namespace

struct Pipe::Impl {
  Descriptor socket;                    // the connection, once there is one
  std::shared_ptr<Listener> listener;   // server instances only
  Descriptor wake{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
  std::atomic<bool> cancelled{false};
  std::vector<std::byte> rest;          // the unread part of a message read in part
  std::uint32_t clientSession = 0;
  bool disconnected = false;            // the server disconnected this instance
};

struct PipeFactory {
  static Pipe Make(std::unique_ptr<Pipe::Impl> impl) { return Pipe(std::move(impl)); }
};

Pipe::Pipe() = default;
Pipe::Pipe(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Pipe::~Pipe() { Close(); }
Pipe::Pipe(Pipe&& other) noexcept : impl_(std::move(other.impl_)) {}
Pipe& Pipe::operator=(Pipe&& other) noexcept {
  if (this != &other) {
    Close();
    impl_ = std::move(other.impl_);
  }
  return *this;
}

bool Pipe::valid() const { return impl_ != nullptr; }

bool Pipe::PeerClosed() const {
  if (!impl_ || impl_->socket.get() < 0) return false;
  pollfd fds{impl_->socket.get(), POLLRDHUP, 0};
  return ::poll(&fds, 1, 0) == 1 && (fds.revents & (POLLHUP | POLLRDHUP | POLLERR)) != 0;
}

void Pipe::Close() {
  if (!impl_) return;
  std::shared_ptr<Listener> listener = std::move(impl_->listener);
  impl_.reset();
  if (!listener) return;
  const std::string key = listener->key;
  listener.reset();
  // The last instance gone closed the listener: forget its entry.
  std::scoped_lock lock(g_listenersMutex);
  if (auto found = g_listeners.find(key); found != g_listeners.end() && found->second.expired()) g_listeners.erase(found);
}

void Pipe::Cancel() {
  if (!impl_) return;
  impl_->cancelled = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(impl_->wake.get(), &one, sizeof one);
}

PipeTransfer Pipe::Read(std::span<std::byte> buffer) {
  const ThreadRole reading(reader_);
  PipeTransfer result;
  if (!impl_) return {false, 0, error::kInvalidHandle};
  if (impl_->cancelled) return {false, 0, error::kOperationAborted};
  if (impl_->rest.empty()) {
    if (impl_->socket.get() < 0) return {false, 0, error::kPipeNotConnected};
    if (!WaitFor(impl_->socket.get(), POLLIN, impl_->wake.get())) return {false, 0, error::kOperationAborted};
    // The size of the waiting message first, so that none of it is lost.
    // A peer that closed with our messages unread is reported once as a
    // reset, ahead of what it wrote before it went, on whichever receive comes
    // next. A Windows pipe still gives those messages, then the broken pipe.
    const auto receive = [&](void* into, std::size_t length, int flags) {
      ssize_t got = ::recv(impl_->socket.get(), into, length, flags | MSG_DONTWAIT);
      if (got < 0 && errno == ECONNRESET) got = ::recv(impl_->socket.get(), into, length, flags | MSG_DONTWAIT);
      return got;
    };
    const ssize_t size = receive(nullptr, 0, MSG_PEEK | MSG_TRUNC);
    if (size < 0) return {false, 0, error::kBrokenPipe};
    if (size == 0) {
      // An orderly close reads as an empty packet too: the hang-up tells them apart.
      pollfd fds{impl_->socket.get(), POLLRDHUP, 0};
      if (::poll(&fds, 1, 0) == 1 && (fds.revents & (POLLHUP | POLLRDHUP)) != 0) {
        return {false, 0, error::kBrokenPipe};
      }
      char none = 0;
      if (receive(&none, 0, 0) < 0) return {false, 0, error::kBrokenPipe};
      return {true, 0, error::kSuccess};
    }
    impl_->rest.resize(static_cast<std::size_t>(size));
    const ssize_t got = receive(impl_->rest.data(), impl_->rest.size(), 0);
    if (got != size) {
      impl_->rest.clear();
      return {false, 0, error::kBrokenPipe};
    }
  }
  const std::size_t count = std::min(buffer.size(), impl_->rest.size());
  std::copy_n(impl_->rest.begin(), count, buffer.begin());
  impl_->rest.erase(impl_->rest.begin(), impl_->rest.begin() + static_cast<std::ptrdiff_t>(count));
  result.bytes = count;
  if (!impl_->rest.empty()) {
    result.error = error::kMoreData;
    return result;
  }
  result.ok = true;
  return result;
}

PipeTransfer Pipe::Write(std::span<const std::byte> message) {
  const ThreadRole writing(writer_);
  if (!impl_) return {false, 0, error::kInvalidHandle};
  if (impl_->cancelled) return {false, 0, error::kOperationAborted};
  if (impl_->socket.get() < 0) return {false, 0, impl_->disconnected ? error::kNoData : error::kPipeNotConnected};
  for (;;) {
    if (!WaitFor(impl_->socket.get(), POLLOUT, impl_->wake.get())) return {false, 0, error::kOperationAborted};
    const ssize_t sent = ::send(impl_->socket.get(), message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) return {true, static_cast<std::size_t>(sent), error::kSuccess};
    if (errno == EAGAIN || errno == EINTR) continue;
    return {false, 0, ErrnoToError(errno)};
  }
}

Result<void> Pipe::Connect() {
  if (!impl_ || !impl_->listener) return Failure(error::kInvalidHandle);
  if (impl_->socket.get() >= 0) return Failure(error::kPipeConnected);
  for (;;) {
    if (impl_->cancelled) return Failure(error::kOperationAborted);
    if (!WaitFor(impl_->listener->socket.get(), POLLIN, impl_->wake.get())) {
      return Failure(error::kOperationAborted);
    }
    // Several instances may wait on the one listener: the losers try again.
    Descriptor connection = hostworld::AcceptSocket(impl_->listener->socket.get(), SOCK_NONBLOCK);
    if (connection.get() < 0) {
      if (errno == EAGAIN || errno == EINTR || errno == ECONNABORTED) continue;
      return Failure(ErrnoToError(errno));
    }
    std::byte hello[kHelloSize];
    if (!WaitFor(connection.get(), POLLIN, impl_->wake.get())) return Failure(error::kOperationAborted);
    if (::recv(connection.get(), hello, sizeof hello, MSG_DONTWAIT) != static_cast<ssize_t>(sizeof hello)) continue;
    std::uint32_t words[2];
    std::memcpy(words, hello, sizeof words);
    if (words[0] != kHelloMagic) continue;
    impl_->clientSession = words[1];
    impl_->socket = std::move(connection);
    impl_->disconnected = false;
    impl_->rest.clear();
    return Success();
  }
}

Result<void> Pipe::Disconnect() {
  if (!impl_ || !impl_->listener) return Failure(error::kInvalidHandle);
  impl_->socket.reset();
  impl_->rest.clear();
  impl_->disconnected = true;
  return Success();
}

Result<std::uint32_t> Pipe::ClientSessionId() const {
  if (!impl_ || !impl_->listener) return Failure(error::kInvalidHandle);
  if (impl_->socket.get() < 0) return Failure(error::kPipeNotConnected);
  return impl_->clientSession;
}

Result<void> Pipe::ClientMayWriteIn(std::string_view path) const {
  PW_TRY_ASSIGN(const std::uint32_t session, ClientSessionId());
  // Session 0 is the services' own: a client there writes as LocalSystem.
  if (session != 0 && !hostworld::World::Current().UserSessions().UserMayWrite(path)) {
    return Failure(error::kAccessDenied);
  }
  return ProbeWriteAccess(path);
}

Result<std::uint32_t> Pipe::ServerProcessId() const {
  if (!impl_ || impl_->listener) return Failure(error::kInvalidHandle);
  if (impl_->socket.get() < 0) return Failure(error::kPipeNotConnected);
  // The credentials of a listening socket's peer are those of the process
  // that made it listen: the pipe's server.
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(impl_->socket.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
    return Failure(ErrnoToError(errno));
  }
  return static_cast<std::uint32_t>(credentials.pid);
}

Result<Pipe> CreatePipeServer(std::string_view name, bool firstInstance, std::uint32_t /*maxMessageSize*/) {
  const hostworld::SocketAddress address = PipeAddress(name);
  const std::string key(address.AbstractName());
  std::shared_ptr<Listener> listener;
  {
    std::scoped_lock lock(g_listenersMutex);
    if (auto found = g_listeners.find(key); found != g_listeners.end()) listener = found->second.lock();
    if (listener && firstInstance) return Failure(error::kAccessDenied);

    if (!listener) {
      listener = std::make_shared<Listener>();
      listener->key = key;
      listener->socket = hostworld::ListenSocket(SOCK_SEQPACKET | SOCK_NONBLOCK, address, 16);
      // Another process of the world serving the name holds its address: no
      // one else creates instances of it (the service's pipe grants users no
      // FILE_CREATE_PIPE_INSTANCE), and the service's first instance fails
      // when someone else took the name first.
      if (!listener->socket.valid()) {
        // Bound already: another process of the world holds the pipe.
        return Failure(ErrnoToError(errno));
      }
      g_listeners[key] = listener;
    }
  }
  auto impl = std::make_unique<Pipe::Impl>();
  impl->listener = std::move(listener);
  return PipeFactory::Make(std::move(impl));
}

Result<Pipe> OpenPipeClient(std::string_view name) {
  Descriptor socket = hostworld::ConnectSocket(SOCK_SEQPACKET, PipeAddress(name));
  if (!socket.valid()) return Failure(errno == EAGAIN ? error::kPipeBusy : ErrnoToError(errno));
  const std::uint32_t words[2] = {kHelloMagic, CurrentProcessSessionId().value_or(0u)};
  if (::send(socket.get(), words, sizeof words, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof words)) {
    return Failure(ErrnoToError(errno));
  }
  if (::fcntl(socket.get(), F_SETFL, O_NONBLOCK) != 0) return Failure(ErrnoToError(errno));
  auto impl = std::make_unique<Pipe::Impl>();
  impl->socket = std::move(socket);
  return PipeFactory::Make(std::move(impl));
}

}  // namespace pw::platform
