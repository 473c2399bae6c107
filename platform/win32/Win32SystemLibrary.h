#pragma once
// Entries and system DLLs looked up at run time. System DLLs come from
// System32 only: a DLL of the same name in the program's folder or the
// current directory is never taken.
#include <string>

#include "platform/winapi/WindowsApi.h"

namespace pw::platform {

// A kernel32 entry looked up at run time, for calls that older systems lack;
// null where this system has none.
template <typename Function>
Function KernelFunction(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), name)));
}

// LoadLibraryExA with LOAD_LIBRARY_SEARCH_SYSTEM32; where that flag is not
// understood (Windows 7 without KB2533623 and older, ERROR_INVALID_PARAMETER)
// the full path below GetSystemDirectoryA. Null when the DLL cannot be loaded.
inline HMODULE LoadSystemLibrary(const char* name) {
  if (HMODULE module = ::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
  if (::GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
  char folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::string path = std::string(folder, length) + "\\" + name;
  return ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace pw::platform
