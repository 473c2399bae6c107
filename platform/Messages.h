#pragma once
// Threads, message queues and timers.

namespace pw::platform {

// PostQuitMessage: puts WM_QUIT with the exit code into the calling thread's queue.
void PostQuitMessage(int exitCode);

}  // namespace pw::platform
