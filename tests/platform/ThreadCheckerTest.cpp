// The thread checker holds an object's thread rule where checks are on, and
// costs nothing (always valid) where they are off.
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "platform/ThreadChecker.h"

namespace pw::test {
namespace {

using platform::ThreadChecker;

bool OnOtherThread(const std::function<bool()>& call) {
  bool result = false;
  std::thread other([&] { result = call(); });
  other.join();
  return result;
}

TEST(ThreadChecker, HoldsTheOwningThreadAndLetsGoWhenDetached) {
  struct Row {
    const char* what;
    bool detachFirst;
    bool firstUseOnOther;  // the first check after construction (or detach) is on another thread
    bool firstValid;
    bool thenHereValid;    // a check on this (the constructing) thread afterwards
  };
  const Row rows[] = {
      {"owner checks", false, false, true, true},
      {"another thread checks", false, true, false, true},
      // Detached, the next thread to check becomes the owner, even the old one.
      {"detached, another thread takes it", true, true, true, false},
      {"detached, the same thread takes it back", true, false, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ThreadChecker checker("Probe");
    if (row.detachFirst) checker.DetachFromThread();
    const bool first = row.firstUseOnOther ? OnOtherThread([&] { return checker.CalledOnValidThread(); })
                                           : checker.CalledOnValidThread();
    // Without checks every thread is valid.
    EXPECT_EQ(first, row.firstValid || !platform::kThreadChecksEnabled);
    EXPECT_EQ(checker.CalledOnValidThread(), row.thenHereValid || !platform::kThreadChecksEnabled);
    if (!row.firstValid && platform::kThreadChecksEnabled) {
      GTEST_FLAG_SET(death_test_style, "threadsafe");
      EXPECT_DEATH(OnOtherThread([&] {
                     checker.Check();
                     return true;
                   }),
                   "Thread rule broken: Probe used on a thread that does not own it");
    }
  }
}

}  // namespace
}  // namespace pw::test
