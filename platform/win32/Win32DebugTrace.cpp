#include "platform/DebugTrace.h"

#include <string>

#include "platform/winapi/WindowsApi.h"

namespace pw::platform {

void DebugTrace(std::string_view text) noexcept {
  try {
    std::string line = "pagewick: ";
    line.append(text);
    line += '\n';
    OutputDebugStringA(line.c_str());
  } catch (...) {
    // No memory for the line: a trace has nowhere further to go.
  }
}

}  // namespace pw::platform
