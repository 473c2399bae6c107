#include <cstddef>
#include <mutex>

#include "platform/DebugTrace.h"
#include "platform/hostworld/DebugTraceLog.h"

namespace pw {

namespace {

// Enough for any test; a long-running process keeps only the latest lines.
constexpr std::size_t kMaxLines = 4096;

struct TraceLog {
  std::mutex mutex;
  std::vector<std::string> lines;
};

TraceLog& Log() {
  static TraceLog log;
  return log;
}

}  // namespace

void platform::DebugTrace(std::string_view text) noexcept {
  try {
    TraceLog& log = Log();
    std::scoped_lock lock(log.mutex);
    if (log.lines.size() >= kMaxLines) log.lines.erase(log.lines.begin());
    log.lines.emplace_back(text);
  } catch (...) {
    // No memory for the line: a trace has nowhere further to go.
  }
}

std::vector<std::string> host::DebugTraceLines() {
  TraceLog& log = Log();
  std::scoped_lock lock(log.mutex);
  return log.lines;
}

void host::ClearDebugTrace() {
  TraceLog& log = Log();
  std::scoped_lock lock(log.mutex);
  log.lines.clear();
}

}  // namespace pw
