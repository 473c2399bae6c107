// Named pipes over overlapped handles: every blocking call waits on its I/O
// and on the pipe's cancel event, so another thread can end it.
#include <algorithm>
#include <string>

#include "platform/NamedPipe.h"
#include "platform/ScopeExit.h"
#include "platform/WriteProbe.h"
#include "platform/winapi/WindowsApi.h"
#include <sddl.h>

namespace pw::platform {
namespace {

// LocalSystem and Administrators full access; interactive users
// FILE_GENERIC_READ | FILE_WRITE_DATA (0x12019b): GENERIC_WRITE would include
// FILE_CREATE_PIPE_INSTANCE. Nobody else; protected from inherited entries.
constexpr const char* kPipeSecurity = "D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x12019b;;;IU)";

class Event {
 public:
  explicit Event(bool manualReset) : handle_(::CreateEventA(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr)) {}
  ~Event() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
  }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

using GetClientSessionIdFunction = BOOL(WINAPI*)(HANDLE, PULONG);
using GetServerProcessIdFunction = BOOL(WINAPI*)(HANDLE, PULONG);

}  // namespace

struct Pipe::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
  Event cancel{true};
  bool server = false;

  ~Impl() {
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  }

  // Finishes an overlapped call that `started` reported on; the transferred
  // byte count goes to `bytes`. Returns the call's error (0 on success).
  DWORD Finish(BOOL started, OVERLAPPED& overlapped, DWORD& bytes) {
    DWORD error = started ? ERROR_SUCCESS : ::GetLastError();
    if (!started && error == ERROR_IO_PENDING) {
      const HANDLE waits[2] = {overlapped.hEvent, cancel.get()};
      const DWORD woken = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
      if (woken != WAIT_OBJECT_0) {
        // CancelIo ends the I/O this thread issued; wait for it to settle
        // before the OVERLAPPED goes out of scope.
        ::CancelIo(handle);
        ::GetOverlappedResult(handle, &overlapped, &bytes, TRUE);
        return ERROR_OPERATION_ABORTED;
      }
    } else if (!started && error != ERROR_MORE_DATA) {
      return error;
    }
    if (::GetOverlappedResult(handle, &overlapped, &bytes, FALSE)) return ERROR_SUCCESS;
    return ::GetLastError();
  }

  bool Cancelled() const { return ::WaitForSingleObject(cancel.get(), 0) == WAIT_OBJECT_0; }
};

struct PipeFactory {
  static Pipe Make(std::unique_ptr<Pipe::Impl> impl) { return Pipe(std::move(impl)); }
};

Pipe::Pipe() = default;
Pipe::Pipe(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Pipe::~Pipe() = default;
Pipe::Pipe(Pipe&& other) noexcept : impl_(std::move(other.impl_)) {}
Pipe& Pipe::operator=(Pipe&& other) noexcept {
  impl_ = std::move(other.impl_);
  return *this;
}

bool Pipe::valid() const { return impl_ != nullptr; }

bool Pipe::PeerClosed() const {
  if (!impl_ || impl_->handle == INVALID_HANDLE_VALUE) return false;
  if (::PeekNamedPipe(impl_->handle, nullptr, 0, nullptr, nullptr, nullptr)) return false;
  const DWORD error = ::GetLastError();
  return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
}
void Pipe::Close() { impl_.reset(); }

void Pipe::Cancel() {
  if (impl_) ::SetEvent(impl_->cancel.get());
}

PipeTransfer Pipe::Read(std::span<std::byte> buffer) {
  const ThreadRole reading(reader_);
  if (!impl_) return {false, 0, ERROR_INVALID_HANDLE};
  if (impl_->Cancelled()) return {false, 0, ERROR_OPERATION_ABORTED};
  Event done(true);
  OVERLAPPED overlapped{};
  overlapped.hEvent = done.get();
  const DWORD size = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), MAXDWORD));
  const BOOL started = ::ReadFile(impl_->handle, buffer.data(), size, nullptr, &overlapped);
  DWORD bytes = 0;
  const DWORD error = impl_->Finish(started, overlapped, bytes);
  return {error == ERROR_SUCCESS, bytes, error};
}

PipeTransfer Pipe::Write(std::span<const std::byte> message) {
  const ThreadRole writing(writer_);
  if (!impl_) return {false, 0, ERROR_INVALID_HANDLE};
  if (impl_->Cancelled()) return {false, 0, ERROR_OPERATION_ABORTED};
  Event done(true);
  OVERLAPPED overlapped{};
  overlapped.hEvent = done.get();
  const DWORD size = static_cast<DWORD>(std::min<std::size_t>(message.size(), MAXDWORD));
  const BOOL started = ::WriteFile(impl_->handle, message.data(), size, nullptr, &overlapped);
  DWORD bytes = 0;
  const DWORD error = impl_->Finish(started, overlapped, bytes);
  return {error == ERROR_SUCCESS, bytes, error};
}

Result<void> Pipe::Connect() {
  if (!impl_ || !impl_->server) return Failure(ERROR_INVALID_HANDLE);
  if (impl_->Cancelled()) return Failure(ERROR_OPERATION_ABORTED);
  Event done(true);
  OVERLAPPED overlapped{};
  overlapped.hEvent = done.get();
  const BOOL started = ::ConnectNamedPipe(impl_->handle, &overlapped);
  // A client that came between CreateNamedPipe and now is connected already.
  if (!started && ::GetLastError() == ERROR_PIPE_CONNECTED) return Success();
  DWORD bytes = 0;
  const DWORD error = impl_->Finish(started, overlapped, bytes);
  return error == ERROR_SUCCESS ? Success() : Failure(error);
}

Result<void> Pipe::Disconnect() {
  if (!impl_ || !impl_->server) return Failure(ERROR_INVALID_HANDLE);
  if (::DisconnectNamedPipe(impl_->handle)) return Success();
  return Failure(::GetLastError());
}

Result<std::uint32_t> Pipe::ClientSessionId() const {
  if (!impl_ || !impl_->server) return Failure(ERROR_INVALID_HANDLE);
  // Vista and later: looked up so the program still starts on older systems.
  const auto query = reinterpret_cast<GetClientSessionIdFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "GetNamedPipeClientSessionId")));
  if (query == nullptr) return Failure(ERROR_CALL_NOT_IMPLEMENTED);
  ULONG session = 0;
  if (!query(impl_->handle, &session)) return Failure(::GetLastError());
  return static_cast<std::uint32_t>(session);
}

Result<std::uint32_t> Pipe::ServerProcessId() const {
  if (!impl_ || impl_->server) return Failure(ERROR_INVALID_HANDLE);
  const auto query = reinterpret_cast<GetServerProcessIdFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "GetNamedPipeServerProcessId")));
  if (query == nullptr) return Failure(ERROR_CALL_NOT_IMPLEMENTED);
  ULONG process = 0;
  if (!query(impl_->handle, &process)) return Failure(::GetLastError());
  return static_cast<std::uint32_t>(process);
}

Result<void> Pipe::ClientMayWriteIn(std::string_view path) const {
  if (!impl_ || !impl_->server) return Failure(ERROR_INVALID_HANDLE);
  if (!::ImpersonateNamedPipeClient(impl_->handle)) return Failure(::GetLastError());
  // Never let this thread go on as the client, whatever the probe does.
  ScopeExit revert([] {
    if (!::RevertToSelf()) ::ExitProcess(ERROR_CANNOT_IMPERSONATE);
  });
  return ProbeWriteAccess(path);
}

Result<Pipe> CreatePipeServer(std::string_view name, bool firstInstance, std::uint32_t maxMessageSize) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kPipeSecurity, SDDL_REVISION_1, &descriptor, nullptr)) {
    return Failure(::GetLastError());
  }
  ScopeExit freeDescriptor([descriptor] { ::LocalFree(descriptor); });
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor;
  attributes.bInheritHandle = FALSE;

  const std::string path = LocalPipePath(name);
  DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
  if (firstInstance) openMode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
  auto impl = std::make_unique<Pipe::Impl>();
  impl->server = true;
  impl->handle = ::CreateNamedPipeA(path.c_str(), openMode,
                                    PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                    PIPE_UNLIMITED_INSTANCES, maxMessageSize, maxMessageSize, 0, &attributes);
  if (impl->handle == INVALID_HANDLE_VALUE) return Failure(::GetLastError());
  return PipeFactory::Make(std::move(impl));
}

Result<Pipe> OpenPipeClient(std::string_view name) {
  const std::string path = LocalPipePath(name);
  auto impl = std::make_unique<Pipe::Impl>();
  // SECURITY_IDENTIFICATION is the most a server learns of this client by
  // default; impersonation for the write probe needs SECURITY_IMPERSONATION.
  impl->handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IMPERSONATION, nullptr);
  if (impl->handle == INVALID_HANDLE_VALUE) return Failure(::GetLastError());
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!::SetNamedPipeHandleState(impl->handle, &mode, nullptr, nullptr)) return Failure(::GetLastError());
  return PipeFactory::Make(std::move(impl));
}

}  // namespace pw::platform
