#pragma once
// A trace for diagnosis: failures that a boundary swallows (so the user sees
// nothing) still leave a line here. On Windows it is the debugger output
// (OutputDebugStringA, visible in a debugger or DebugView); on the host it is
// a list in the process that tests read (platform/hostworld/DebugTraceLog.h).
// Never throws. Any thread.
#include <string>
#include <string_view>

namespace pw::platform {

void DebugTrace(std::string_view text) noexcept;

// The message of the exception being handled (its what() text, or
// "Unknown exception"); call it inside a catch block.
std::string CurrentExceptionMessage();

// Traces "<where>: <message of the exception being handled>"; call it inside
// a catch block.
void TraceCurrentException(std::string_view where) noexcept;

}  // namespace pw::platform
