#include "platform/DebugTrace.h"

#include <exception>

namespace pw::platform {

std::string CurrentExceptionMessage() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown exception";
  }
}

void TraceCurrentException(std::string_view where) noexcept {
  try {
    std::string line(where);
    line += ": ";
    line += CurrentExceptionMessage();
    DebugTrace(line);
  } catch (...) {
    // Building the line failed (no memory): the bare place is still worth a line.
    DebugTrace(where);
  }
}

}  // namespace pw::platform
