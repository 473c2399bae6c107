#include "platform/Threads.h"
#include "platform/win32/WinApi.h"
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
                         THREAD_SUSPEND_RESUME | THREAD_QUERY_INFORMATION | SYNCHRONIZE, FALSE, 0)) {
    return ThreadHandle();
  }
  return ThreadHandle(real);
}

std::uint32_t SuspendThread(const ThreadHandle& thread) { return ::SuspendThread(static_cast<HANDLE>(thread.get())); }

std::uint32_t ResumeThread(const ThreadHandle& thread) { return ::ResumeThread(static_cast<HANDLE>(thread.get())); }

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
