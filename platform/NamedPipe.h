#pragma once
// Named pipes in message mode (CreateNamedPipeA, ConnectNamedPipe, CreateFileA,
// SetNamedPipeHandleState, ReadFile, WriteFile, DisconnectNamedPipe), and the
// server's look at its client (GetNamedPipeClientSessionId,
// ImpersonateNamedPipeClient), and the client's look at its server
// (GetNamedPipeServerProcessId). Reads and writes block, but another thread may
// cancel them: the pipe then fails them with ERROR_OPERATION_ABORTED (995).
//
// The server's instances are created with a security descriptor that gives
// LocalSystem and Administrators full access and interactive users read and
// write of their connection (FILE_GENERIC_READ | FILE_WRITE_DATA, without
// FILE_CREATE_PIPE_INSTANCE: a user can neither add instances of the name nor
// serve it), and refuse remote clients.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/Errors.h"
#include "platform/Result.h"
#include "platform/ThreadChecker.h"

namespace pw::platform {

namespace error {
inline constexpr ErrorCode kBrokenPipe = 109;         // the other end closed
inline constexpr ErrorCode kPipeBusy = 231;           // every instance is taken
inline constexpr ErrorCode kNoData = 232;             // writing to a pipe being closed
inline constexpr ErrorCode kPipeNotConnected = 233;   // no client on this instance
inline constexpr ErrorCode kPipeConnected = 535;      // the client came before ConnectNamedPipe
inline constexpr ErrorCode kCallNotImplemented = 120;
}  // namespace error

// The full name of a local pipe: "\\.\pipe\" + name.
std::string LocalPipePath(std::string_view name);

struct [[nodiscard]] PipeTransfer {
  bool ok = false;
  std::size_t bytes = 0;  // also set with kMoreData: the part of the message read
  ErrorCode error = error::kSuccess;
};

// One end of a pipe: a server instance or a client. Move-only; closing it
// closes the handle. Thread rule: one thread reads and one thread writes at a
// time (checked: two roles, each held for one Read or Write); Cancel and the
// queries are for any thread.
class Pipe {
 public:
  Pipe();
  ~Pipe();
  Pipe(Pipe&&) noexcept;
  Pipe& operator=(Pipe&&) noexcept;
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  [[nodiscard]] bool valid() const;
  explicit operator bool() const { return valid(); }

  // Reads one message. A message larger than the buffer fills it and fails
  // with kMoreData (234); the next read returns the rest.
  PipeTransfer Read(std::span<std::byte> buffer);
  // Writes one whole message.
  PipeTransfer Write(std::span<const std::byte> message);
  // Makes a blocked and every later Connect, Read and Write fail with 995.
  // Any thread.
  void Cancel();
  void Close();

  // Server side. Waits for a client (a client that came first counts as success).
  Result<void> Connect();
  // DisconnectNamedPipe: the client's later calls fail; the instance may Connect again.
  Result<void> Disconnect();
  // The session of the connected client.
  Result<std::uint32_t> ClientSessionId() const;
  // Whether the other end has closed its end: a look that neither waits nor
  // reads (PeekNamedPipe failing with ERROR_BROKEN_PIPE). Not while the pipe
  // is being closed.
  [[nodiscard]] bool PeerClosed() const;
  // Whether the client's user may create a folder and a file in `path`: the
  // server impersonates the client and creates and deletes a uniquely named
  // folder and file there. error tells why not (5 access denied, 3 no such path).
  Result<void> ClientMayWriteIn(std::string_view path) const;

  // Client side: the process that serves the pipe (Vista and later; looked up
  // at run time, kCallNotImplemented before).
  Result<std::uint32_t> ServerProcessId() const;

  struct Impl;

 private:
  explicit Pipe(std::unique_ptr<Impl> impl);
  friend struct PipeFactory;
  // The two roles, free between calls; a moved pipe's are free.
  [[no_unique_address]] ThreadChecker reader_{"platform::Pipe's reading end", kUnowned};
  [[no_unique_address]] ThreadChecker writer_{"platform::Pipe's writing end", kUnowned};
  std::unique_ptr<Impl> impl_;
};
#if !defined(PAGEWICK_THREAD_CHECKS)
static_assert(sizeof(Pipe) == sizeof(std::unique_ptr<Pipe::Impl>));
#endif

// A new server instance of the local pipe `name` (without "\\.\pipe\"),
// duplex, message type and read mode. firstInstance: fail with 5 when the
// pipe exists already (FILE_FLAG_FIRST_PIPE_INSTANCE), so no other process can
// have created it first.
Result<Pipe> CreatePipeServer(std::string_view name, bool firstInstance, std::uint32_t maxMessageSize);

// Opens the local pipe `name` as a client in message read mode. Fails with
// 2 when there is no such pipe, 231 when every instance is taken.
Result<Pipe> OpenPipeClient(std::string_view name);

}  // namespace pw::platform
