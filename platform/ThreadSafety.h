#pragma once
// Clang's thread-safety attributes, and a mutex and lock that carry them, so
// that the compiler checks which lock guards a member (-Wthread-safety, on in
// the clang builds). std::mutex is not annotated in libstdc++: code whose
// members are GUARDED_BY one of these uses Mutex and MutexLock throughout.
// Other compilers (GCC, mingw-w64) see empty macros and a plain mutex.
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define PW_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PW_THREAD_ANNOTATION(x)
#endif

#define PW_CAPABILITY(x) PW_THREAD_ANNOTATION(capability(x))
#define PW_SCOPED_CAPABILITY PW_THREAD_ANNOTATION(scoped_lockable)
// The member is read and written only with the mutex held.
#define PW_GUARDED_BY(x) PW_THREAD_ANNOTATION(guarded_by(x))
// The function is called with the mutex held / not held.
#define PW_REQUIRES(...) PW_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define PW_EXCLUDES(...) PW_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define PW_ACQUIRE(...) PW_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define PW_RELEASE(...) PW_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define PW_TRY_ACQUIRE(...) PW_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))

namespace pw::platform {

class PW_CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() PW_ACQUIRE() { mutex_.lock(); }
  void unlock() PW_RELEASE() { mutex_.unlock(); }
  bool try_lock() PW_TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  friend class MutexLock;
  std::mutex mutex_;
};

// Holds the mutex from construction to destruction, or to Unlock.
class PW_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) PW_ACQUIRE(mutex) : lock_(mutex.mutex_) {}
  ~MutexLock() PW_RELEASE() = default;
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  // Lets the mutex go before the scope ends.
  void Unlock() PW_RELEASE() { lock_.unlock(); }
  // Waits for a notification on `condition`, letting the mutex go meanwhile;
  // it is held again on return. The caller tests its condition in a loop.
  void Wait(std::condition_variable& condition) { condition.wait(lock_); }

 private:
  std::unique_lock<std::mutex> lock_;
};

}  // namespace pw::platform
