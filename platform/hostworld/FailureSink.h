#pragma once
// Where the world sends a failure that reaches a boundary no exception may
// cross: a window procedure it calls, a service's entry or control handler, the
// served-device watcher's thread. The host adapters plug the program's error
// sink in (an observer the world calls, so that the world calls nothing of the
// platform library); without one, the text goes to the world's debug trace and
// the standard error stream, as the program's error sink does by default.
#include <string_view>

namespace pw::hostworld {

class FailureObserver {
 public:
  // Never throws.
  virtual void UnhandledFailure(std::string_view what) noexcept = 0;

 protected:
  ~FailureObserver() = default;
};

// Replaces the observer; nullptr restores the default. Returns the previous
// one so that a test can put it back. The observer must outlive its use. Any thread.
FailureObserver* SetFailureObserver(FailureObserver* observer) noexcept;

// Hands a failure text to the observer. Never throws. Any thread.
void ReportFailure(std::string_view what) noexcept;

// Hands the exception being handled to the observer (its what() text, or
// "Unknown exception"); call it inside a catch block.
void ReportCurrentFailure() noexcept;

}  // namespace pw::hostworld
