#include "platform/Threads.h"
#include "platform/winapi/WindowsApi.h"
#include "platform/win32/Win32SystemLibrary.h"

#include <string>

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
                         THREAD_SUSPEND_RESUME | THREAD_QUERY_INFORMATION | THREAD_TERMINATE | SYNCHRONIZE, FALSE, 0)) {
    return ThreadHandle();
  }
  return ThreadHandle(real);
}

std::uint32_t SuspendThread(const ThreadHandle& thread) { return ::SuspendThread(static_cast<HANDLE>(thread.get())); }

std::uint32_t ResumeThread(const ThreadHandle& thread) { return ::ResumeThread(static_cast<HANDLE>(thread.get())); }

std::uint32_t ResumeThreadOnceSuspended(const ThreadHandle& thread) {
  const auto handle = static_cast<HANDLE>(thread.get());
  // Windows tells no one when a thread suspends itself. A ResumeThread at
  // count 0 changes nothing, so it is repeated, yielding the processor each
  // time, until it finds the suspension; the caller's promise that the thread
  // is on its way into SuspendThread makes the wait short.
  for (;;) {
    const DWORD previous = ::ResumeThread(handle);
    if (previous != 0) return previous;
    (void)::SwitchToThread();
  }
}

bool CancelSynchronousIo(const ThreadHandle& thread) {
  // Windows Vista and later; the handle needs THREAD_TERMINATE.
  using CancelFunction = BOOL(WINAPI*)(HANDLE);
  const auto cancel = KernelFunction<CancelFunction>("CancelSynchronousIo");
  return cancel != nullptr && cancel(static_cast<HANDLE>(thread.get())) != FALSE;
}

void NameCurrentThread(const char* name) {
  // Windows 10 1607 and later.
  using SetDescriptionFunction = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  const auto set = KernelFunction<SetDescriptionFunction>("SetThreadDescription");
  if (set == nullptr) return;
  const std::string text(name);
  const std::wstring wide(text.begin(), text.end());  // the names are ASCII
  (void)set(::GetCurrentThread(), wide.c_str());
}

}  // namespace pw::platform
