// The host backend's debug trace, kept by the world for tests to read, and the
// way the world's failures reach the program's error sink.
#include "platform/DebugTrace.h"
#include "platform/ErrorSink.h"
#include "platform/hostworld/DebugTraceLog.h"
#include "platform/hostworld/FailureSink.h"

namespace pw::platform {

void DebugTrace(std::string_view text) noexcept { hostworld::AppendDebugTrace(text); }

namespace {

// A failure that a window procedure, a service entry or a watcher of the world
// swallowed goes where the program's own boundaries send theirs.
class ErrorSinkObserver final : public hostworld::FailureObserver {
 public:
  void UnhandledFailure(std::string_view what) noexcept override { ReportUnhandledError(what); }
};

constinit ErrorSinkObserver gErrorSinkObserver;

// Plugged in when the program starts. This file is linked wherever the error
// sink is (ReportUnhandledError traces through DebugTrace), so a program that
// can set a sink has the world report to it; a test may replace the observer
// and put this one back (SetFailureObserver returns it).
[[maybe_unused]] const bool gObserverPlugged = (hostworld::SetFailureObserver(&gErrorSinkObserver), true);

}  // namespace

}  // namespace pw::platform
