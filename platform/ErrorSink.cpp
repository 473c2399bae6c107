#include "platform/ErrorSink.h"

#include "platform/DebugTrace.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace pw::platform {

namespace {

std::mutex& SinkMutex() {
  static std::mutex mutex;
  return mutex;
}

ErrorSink& Sink() {
  static ErrorSink sink;
  return sink;
}

}  // namespace

ErrorSink SetErrorSink(ErrorSink sink) {
  std::scoped_lock lock(SinkMutex());
  return std::exchange(Sink(), std::move(sink));
}

void ReportUnhandledError(std::string_view what) noexcept {
  DebugTrace(what);
  try {
    ErrorSink sink;
    {
      std::scoped_lock lock(SinkMutex());
      sink = Sink();
    }
    if (sink) {
      sink(what);
      return;
    }
  } catch (...) {
    // A sink that fails has nowhere further to report to; fall back below.
    TraceCurrentException("Error sink failed");
  }
  std::fprintf(stderr, "pagewick: unhandled error: %.*s\n", static_cast<int>(what.size()), what.data());
}

void ReportCurrentException() noexcept {
  try {
    ReportUnhandledError(CurrentExceptionMessage());
  } catch (...) {
    // No memory for the message.
    ReportUnhandledError("unknown exception");
  }
}

}  // namespace pw::platform
