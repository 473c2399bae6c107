#pragma once
// What a process of the program sets up before its first platform call and
// tears down after its last. On Win32 there is nothing to do. On the host the
// process runs in a world: the one that exists already (a test running the
// program in-process), or the world whose folder the host layer's environment
// variable PAGEWICK_WORLD names (a fresh temporary world without it), with
// its clock following real time.
#include <memory>

namespace pw::platform {

class ProcessPlatform {
 public:
  ProcessPlatform();
  ~ProcessPlatform();
  ProcessPlatform(const ProcessPlatform&) = delete;
  ProcessPlatform& operator=(const ProcessPlatform&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace pw::platform
