#pragma once
// Move-only owner of a native handle. Each handle kind supplies traits with its
// invalid value and its close call; closing keeps the thread's last error.
#include <utility>

namespace pw::platform {

// A native handle as the platform hands it out (HANDLE on Win32, an id of the
// simulated world on the host). Opaque above the platform layer.
using RawHandle = void*;

// A native top-level window (HWND on Win32). Opaque above the platform layer.
using WindowHandle = void*;

template <typename Traits>
class ScopedHandle {
 public:
  ScopedHandle() noexcept = default;
  explicit ScopedHandle(RawHandle handle) noexcept : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = Traits::Invalid(); }
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, Traits::Invalid()));
    return *this;
  }
  ~ScopedHandle() { reset(); }

  [[nodiscard]] bool valid() const noexcept { return handle_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }
  [[nodiscard]] RawHandle get() const noexcept { return handle_; }

  [[nodiscard]] RawHandle release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

  void reset(RawHandle handle = Traits::Invalid()) noexcept {
    if (handle_ != Traits::Invalid()) Traits::Close(handle_);
    handle_ = handle;
  }

 private:
  RawHandle handle_ = Traits::Invalid();
};

}  // namespace pw::platform
