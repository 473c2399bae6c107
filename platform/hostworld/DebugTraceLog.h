#pragma once
// The host backend's debug trace: the lines DebugTrace received in this
// process, oldest first, for tests to read and reset.
#include <string>
#include <vector>

namespace pw::host {

std::vector<std::string> DebugTraceLines();
void ClearDebugTrace();

}  // namespace pw::host
