#include "platform/Threads.h"
#include "platform/win32/WinApi.h"

namespace pw::platform {

void ThreadHandleTraits::Close(RawHandle handle) noexcept {
  const DWORD error = ::GetLastError();
  ::CloseHandle(static_cast<HANDLE>(handle));
  ::SetLastError(error);
}

ThreadHandle OpenCurrentThread() {
  HANDLE real = nullptr;
  // GetCurrentThread is a pseudo handle that means "the caller" to whoever
  // uses it; the duplicate names this thread from any thread.
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &real,
                         THREAD_SUSPEND_RESUME | THREAD_QUERY_INFORMATION | SYNCHRONIZE, FALSE, 0)) {
    return ThreadHandle();
  }
  return ThreadHandle(real);
}

std::uint32_t SuspendThread(const ThreadHandle& thread) { return ::SuspendThread(static_cast<HANDLE>(thread.get())); }

std::uint32_t ResumeThread(const ThreadHandle& thread) { return ::ResumeThread(static_cast<HANDLE>(thread.get())); }

}  // namespace pw::platform
