#pragma once
// Holds an object's thread rule: the object is used only on the thread that
// owns it. The owner is the constructing thread, or, after DetachFromThread
// (an object handed to another thread once), the next thread that checks.
//
// Checked where PAGEWICK_THREAD_CHECKS is defined (debug and sanitizer
// builds): a use on another thread aborts with a message naming the object.
// Elsewhere the checker is empty and every call is free.
#include <atomic>
#include <thread>

namespace pw::platform {

#if defined(PAGEWICK_THREAD_CHECKS)
inline constexpr bool kThreadChecksEnabled = true;
#else
inline constexpr bool kThreadChecksEnabled = false;
#endif

// Ends the process: "<what> used on a thread that does not own it". Never returns.
[[noreturn]] void ThreadRuleBroken(const char* what) noexcept;

#if defined(PAGEWICK_THREAD_CHECKS)

class ThreadChecker {
 public:
  // `what` names the object in the failure message; it must outlive the checker.
  explicit ThreadChecker(const char* what) noexcept : what_(what), owner_(std::this_thread::get_id()) {}
  ThreadChecker(const ThreadChecker&) = delete;
  ThreadChecker& operator=(const ThreadChecker&) = delete;

  // True on the owning thread; a detached checker takes the calling thread as
  // its owner. Any thread.
  bool CalledOnValidThread() const noexcept {
    const std::thread::id self = std::this_thread::get_id();
    std::thread::id owner = owner_.load(std::memory_order_acquire);
    if (owner == std::thread::id()) {
      // Detached: the first caller becomes the owner; of two racing callers
      // the loser sees the winner's id.
      if (owner_.compare_exchange_strong(owner, self, std::memory_order_acq_rel)) return true;
    }
    return owner == self;
  }

  // Forgets the owner; the next thread that checks owns the object. For an
  // object handed to another thread once (built on one, used on another).
  void DetachFromThread() noexcept { owner_.store(std::thread::id(), std::memory_order_release); }

  // Aborts, naming the object, unless called on the owning thread.
  void Check() const noexcept {
    if (!CalledOnValidThread()) ThreadRuleBroken(what_);
  }

 private:
  const char* what_;
  mutable std::atomic<std::thread::id> owner_;
};

#else

class ThreadChecker {
 public:
  explicit ThreadChecker(const char*) noexcept {}
  ThreadChecker(const ThreadChecker&) = delete;
  ThreadChecker& operator=(const ThreadChecker&) = delete;
  bool CalledOnValidThread() const noexcept { return true; }
  void DetachFromThread() noexcept {}
  void Check() const noexcept {}
};

#endif

}  // namespace pw::platform
