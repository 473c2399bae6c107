#pragma once
// Wake-ups of one thread of this process, from Linux's per-thread counters.
#include <sys/types.h>

#include <cstdint>
#include <fstream>
#include <string>

namespace pw::test {

// Context switches of the thread so far: each is a wake-up.
inline std::uint64_t ThreadSwitches(pid_t thread) {
  std::ifstream status("/proc/self/task/" + std::to_string(thread) + "/status");
  std::uint64_t switches = 0;
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("voluntary_ctxt_switches:") || line.starts_with("nonvoluntary_ctxt_switches:")) {
      switches += std::stoull(line.substr(line.find(':') + 1));
    }
  }
  return switches;
}

}  // namespace pw::test
