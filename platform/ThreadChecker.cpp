#include "platform/ThreadChecker.h"

#include <cstdio>
#include <cstdlib>

namespace pw::platform {

void ThreadRuleBroken(const char* what) noexcept {
  // Written straight to stderr: the process ends here, with no chance for a
  // trace to be read.
  std::fprintf(stderr, "Thread rule broken: %s used on a thread that does not own it\n",
               what != nullptr ? what : "an object");
  std::fflush(stderr);
  std::abort();
}

}  // namespace pw::platform
