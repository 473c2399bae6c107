#pragma once
// Thread handles for suspending and resuming a thread (SuspendThread,
// ResumeThread). Each thread has a suspend count; it runs while the count is 0.
// Resuming a thread that is not suspended does nothing and returns 0.
#include <cstdint>

#include "platform/Handle.h"

namespace pw::platform {

struct ThreadHandleTraits {
  static RawHandle Invalid() noexcept { return nullptr; }
  static void Close(RawHandle handle) noexcept;
};
using ThreadHandle = ScopedHandle<ThreadHandleTraits>;

// What SuspendThread and ResumeThread return when they fail ((DWORD)-1).
inline constexpr std::uint32_t kSuspendFailed = 0xFFFFFFFFu;

// A handle of the calling thread that other threads can use to resume it
// (DuplicateHandle of GetCurrentThread). Invalid when it cannot be made.
ThreadHandle OpenCurrentThread();

// SuspendThread: the previous suspend count. The host backend suspends only
// the calling thread (a thread that suspends itself, which is all the program
// does); for another thread it fails.
std::uint32_t SuspendThread(const ThreadHandle& thread);

// ResumeThread: the previous suspend count; the thread runs again when it
// drops to 0. Any thread.
std::uint32_t ResumeThread(const ThreadHandle& thread);

// Resumes a thread that has decided to suspend itself, once its suspension
// has taken effect: a plain ResumeThread that comes before the thread's own
// SuspendThread finds the count at 0 and is lost. Returns the previous
// suspend count (at least 1), or kSuspendFailed. Only for a thread that is
// sure to reach its SuspendThread without waiting for the caller. Any thread
// but `thread`.
std::uint32_t ResumeThreadOnceSuspended(const ThreadHandle& thread);

// CancelSynchronousIo: the device request the thread is blocked in ends at
// once with ERROR_OPERATION_ABORTED (995). False when the thread is in no
// request (a cancel is not kept for its next one) or the system has no such
// call (before Windows Vista; looked up at run time). Any thread but `thread`.
bool CancelSynchronousIo(const ThreadHandle& thread);

// Names the calling thread for debuggers and process tools (at most 15
// characters are kept on the host; SetThreadDescription where the system has
// it). Nothing happens where names are not supported.
void NameCurrentThread(const char* name);

}  // namespace pw::platform
