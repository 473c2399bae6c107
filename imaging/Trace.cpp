#include "imaging/Trace.h"

#include <atomic>
#include <exception>
#include <string>

#include "imaging/pwimaging.h"

namespace pw::imaging {
namespace {

std::atomic<PwImgTraceHook> gTraceHook{nullptr};

}  // namespace

void TraceCurrentException(const char* where) noexcept {
  const PwImgTraceHook hook = gTraceHook.load(std::memory_order_acquire);
  if (hook == nullptr) return;
  try {
    std::string line(where);
    line += ": ";
    try {
      throw;
    } catch (const std::exception& e) {
      line += e.what();
    } catch (...) {
      line += "Unknown exception";
    }
    hook(line.c_str());
  } catch (...) {
    // Building the line failed (no memory): the bare place is still worth a line.
    hook(where);
  }
}

}  // namespace pw::imaging

extern "C" void PwImgSetTraceHook(PwImgTraceHook hook) {
  pw::imaging::gTraceHook.store(hook, std::memory_order_release);
}
