#pragma once
// Waiting for what another thread or process does.
#include <chrono>
#include <functional>
#include <thread>

namespace pw::test {

inline constexpr std::chrono::milliseconds kWaitDeadline{10000};

// Looks at done() every poll until it holds (true) or the deadline passes (false).
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = kWaitDeadline,
                      std::chrono::milliseconds poll = std::chrono::milliseconds(2)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(poll);
  }
  return true;
}

}  // namespace pw::test
