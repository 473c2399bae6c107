#include "platform/hostworld/FailureSink.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <string>

#include "platform/hostworld/DebugTraceLog.h"

namespace pw::hostworld {

namespace {

constinit std::atomic<FailureObserver*> gObserver{nullptr};

}  // namespace

FailureObserver* SetFailureObserver(FailureObserver* observer) noexcept { return gObserver.exchange(observer); }

void ReportFailure(std::string_view what) noexcept {
  if (FailureObserver* observer = gObserver.load()) {
    observer->UnhandledFailure(what);
    return;
  }
  AppendDebugTrace(what);
  std::fprintf(stderr, "pagewick: unhandled error: %.*s\n", static_cast<int>(what.size()), what.data());
}

void ReportCurrentFailure() noexcept {
  try {
    throw;
  } catch (const std::exception& failure) {
    ReportFailure(failure.what());
  } catch (...) {
    ReportFailure("Unknown exception");
  }
}

}  // namespace pw::hostworld
