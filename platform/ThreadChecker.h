#pragma once
// Holds an object's thread rule: the object is used only on the thread that
// owns it. The owner is the constructing thread, or, after DetachFromThread
// (an object handed to another thread once), the next thread that checks.
//
// Checked where PAGEWICK_THREAD_CHECKS is defined (debug and sanitizer
// builds): a use on another thread aborts with a message naming the object.
// Elsewhere the checker is an empty type and every call is free; members
// are declared [[no_unique_address]], so they add nothing to their owner's size.
//
// ThreadRole holds a checker for one call instead: for an object (a pipe's
// reading end, the imaging component) that any thread may use, one at a time.
#include <atomic>
#include <thread>
#include <type_traits>

namespace pw::platform {

#if defined(PAGEWICK_THREAD_CHECKS)
inline constexpr bool kThreadChecksEnabled = true;
#else
inline constexpr bool kThreadChecksEnabled = false;
#endif

// Builds a checker that no thread owns yet: the first thread that checks
// takes it, as after DetachFromThread.
struct UnownedTag {
  explicit UnownedTag() = default;
};
inline constexpr UnownedTag kUnowned{};

// Ends the process: "<what> used on a thread that does not own it". Never returns.
[[noreturn]] void ThreadRuleBroken(const char* what) noexcept;

#if defined(PAGEWICK_THREAD_CHECKS)

class ThreadChecker {
 public:
  // `what` names the object in the failure message; it must outlive the checker.
  explicit ThreadChecker(const char* what) noexcept : what_(what), owner_(std::this_thread::get_id()) {}
  ThreadChecker(const char* what, UnownedTag) noexcept : what_(what), owner_(std::thread::id()) {}
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
  friend class ThreadRole;
  // Check, and whether the call took a detached checker (rather than finding
  // it the caller's already).
  bool CheckAndTake() const noexcept {
    const bool wasDetached = owner_.load(std::memory_order_acquire) == std::thread::id();
    Check();
    return wasDetached;
  }

  const char* what_;
  mutable std::atomic<std::thread::id> owner_;
};

// Holds a role for the length of one call: the checker must be free
// (detached) or already the calling thread's; a checker this call took is
// free again when it ends. A second thread inside the role meanwhile breaks
// the rule. Nested roles on one thread are fine.
class [[nodiscard]] ThreadRole {
 public:
  explicit ThreadRole(ThreadChecker& checker) noexcept : checker_(checker), took_(checker.CheckAndTake()) {}
  ~ThreadRole() {
    if (took_) checker_.DetachFromThread();
  }
  ThreadRole(const ThreadRole&) = delete;
  ThreadRole& operator=(const ThreadRole&) = delete;

 private:
  ThreadChecker& checker_;
  bool took_;
};

#else

class ThreadChecker {
 public:
  explicit ThreadChecker(const char*) noexcept {}
  ThreadChecker(const char*, UnownedTag) noexcept {}
  ThreadChecker(const ThreadChecker&) = delete;
  ThreadChecker& operator=(const ThreadChecker&) = delete;
  bool CalledOnValidThread() const noexcept { return true; }
  void DetachFromThread() noexcept {}
  void Check() const noexcept {}
};

class [[nodiscard]] ThreadRole {
 public:
  explicit ThreadRole(ThreadChecker&) noexcept {}
  ThreadRole(const ThreadRole&) = delete;
  ThreadRole& operator=(const ThreadRole&) = delete;
};

#endif

#if !defined(PAGEWICK_THREAD_CHECKS)
// The shipped build: checker members cost their owner nothing. Two checkers
// in one object come before its other members: two empty members of one type
// cannot share an address, and placed last the second would need a byte.
namespace thread_checker_size {
struct Word {
  void* word;
};
struct OneChecker {
  void* word;
  [[no_unique_address]] ThreadChecker checker{"checker"};
};
struct TwoCheckers {
  [[no_unique_address]] ThreadChecker first{"first"};
  [[no_unique_address]] ThreadChecker second{"second"};
  void* word;
};
static_assert(std::is_empty_v<ThreadChecker>);
static_assert(sizeof(OneChecker) == sizeof(Word) && sizeof(TwoCheckers) == sizeof(Word));
}  // namespace thread_checker_size
#endif

}  // namespace pw::platform
