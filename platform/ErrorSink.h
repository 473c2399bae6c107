#pragma once
// Where failures go that reach a boundary no exception may cross: a window
// procedure, a shell callback, a timer. The application sets the sink (the
// service routes it to the event log); without one, the text goes to the
// standard error stream.
#include <exception>
#include <functional>
#include <string>
#include <string_view>

namespace pw::platform {

using ErrorSink = std::function<void(std::string_view what)>;

// Replaces the sink; an empty function restores the default. Returns the
// previous sink so that a test can put it back. Any thread.
ErrorSink SetErrorSink(ErrorSink sink);

// Hands a failure text to the sink. Never throws. Any thread.
void ReportUnhandledError(std::string_view what) noexcept;

// Hands the exception currently being handled to the sink (its what() text).
void ReportCurrentException() noexcept;

// Runs f and reports any exception it throws instead of letting it pass;
// returns fallback then.
template <typename F, typename R>
R CallGuarded(F&& f, R fallback) noexcept {
  try {
    return f();
  } catch (...) {
    ReportCurrentException();
    return fallback;
  }
}

}  // namespace pw::platform
