#pragma once
// The debug trace of the simulated Windows: the lines the program traced in
// this process (the host adapter's platform::DebugTrace appends them), oldest
// first, for tests to read and reset. Any thread.
#include <string>
#include <string_view>
#include <vector>

namespace pw::hostworld {

// Never throws: a line that cannot be kept (no memory) is dropped.
void AppendDebugTrace(std::string_view text) noexcept;
std::vector<std::string> DebugTraceLines();
void ClearDebugTrace();

}  // namespace pw::hostworld
