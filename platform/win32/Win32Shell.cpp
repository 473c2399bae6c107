#include "platform/Shell.h"

#include <string>

#include "platform/ErrorSink.h"
#include "platform/ScopeExit.h"
#include "platform/win32/Win32Ui.h"

namespace pw::platform {

namespace {

struct CallbackContext {
  BrowseCallback callback;
  std::intptr_t data;
};

int CALLBACK BrowseTrampoline(HWND dialog, UINT message, LPARAM param, LPARAM context) {
  auto* call = reinterpret_cast<CallbackContext*>(context);
  try {
    return call->callback(dialog, message, param, call->data);
  } catch (...) {
    ReportCurrentException();
    return 0;
  }
}

// The browser needs COM on its thread; released again when it was started here.
class ComScope {
 public:
  ComScope() : started_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComScope() {
    if (started_) ::CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool started_;
};

}  // namespace

void ItemIdListTraits::Close(RawHandle list) noexcept { ::CoTaskMemFree(list); }

ItemIdList GetSpecialFolderLocation(WindowHandle owner, int csidl) {
  LPITEMIDLIST list = nullptr;
  if (FAILED(::SHGetSpecialFolderLocation(static_cast<HWND>(owner), csidl, &list))) return {};
  return ItemIdList(list);
}

std::optional<std::string> GetPathFromIdList(const ItemIdList& list) {
  if (!list) return std::nullopt;
  char path[MAX_PATH] = {};
  if (!::SHGetPathFromIDListA(static_cast<LPCITEMIDLIST>(list.get()), path)) return std::nullopt;
  return std::string(path);
}

ItemIdList BrowseForFolder(const BrowseInfo& info) {
  ComScope com;
  std::string title = info.title;
  CallbackContext context{info.callback, info.data};
  BROWSEINFOA browse{};
  browse.hwndOwner = static_cast<HWND>(info.owner);
  browse.pidlRoot = info.root != nullptr ? static_cast<LPCITEMIDLIST>(info.root->get()) : nullptr;
  browse.pszDisplayName = nullptr;
  browse.lpszTitle = title.c_str();
  browse.ulFlags = info.flags;
  browse.lpfn = info.callback != nullptr ? &BrowseTrampoline : nullptr;
  browse.lParam = reinterpret_cast<LPARAM>(&context);
  return ItemIdList(::SHBrowseForFolderA(&browse));
}

std::intptr_t ShellExecute(WindowHandle owner, std::string_view verb, std::string_view file,
                           std::string_view parameters, std::string_view directory, int showCommand) {
  std::string verbText(verb);
  std::string fileText(file);
  std::string parameterText(parameters);
  std::string directoryText(directory);
  HINSTANCE result = ::ShellExecuteA(static_cast<HWND>(owner), verbText.empty() ? nullptr : verbText.c_str(),
                                     fileText.c_str(), parameterText.empty() ? nullptr : parameterText.c_str(),
                                     directoryText.empty() ? nullptr : directoryText.c_str(), showCommand);
  return reinterpret_cast<std::intptr_t>(result);
}

Result<std::uint32_t> RunElevatedAndWait(WindowHandle owner, std::string_view file, std::string_view parameters) {
  const std::string fileText(file);
  const std::string parameterText(parameters);
  SHELLEXECUTEINFOA execute{};
  execute.cbSize = sizeof execute;
  execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  execute.hwnd = static_cast<HWND>(owner);
  execute.lpVerb = "runas";
  execute.lpFile = fileText.c_str();
  execute.lpParameters = parameterText.empty() ? nullptr : parameterText.c_str();
  execute.nShow = SW_SHOWNORMAL;
  if (!::ShellExecuteExA(&execute)) {
    const DWORD failure = ::GetLastError();
    return Failure(failure != 0 ? failure : static_cast<DWORD>(error::kGenFailure));
  }
  // An executable always gives a process handle; without one there is no
  // outcome to wait for.
  if (execute.hProcess == nullptr) return Failure(error::kGenFailure);
  const HANDLE process = execute.hProcess;
  ScopeExit close([process] { ::CloseHandle(process); });
  // The thread's windows keep answering while the prompt and the program
  // run (a broadcast sent to them would wait otherwise); a quit message is
  // posted again for the caller's loop.
  bool quit = false;
  int quitCode = 0;
  DWORD waited = WAIT_FAILED;
  for (;;) {
    waited = ::MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
    if (waited != WAIT_OBJECT_0 + 1) break;
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = true;
        quitCode = static_cast<int>(message.wParam);
        continue;
      }
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
  }
  if (quit) ::PostQuitMessage(quitCode);
  DWORD exitCode = 0;
  const bool ended = waited == WAIT_OBJECT_0 && ::GetExitCodeProcess(process, &exitCode) != FALSE;
  const DWORD failure = ended ? 0 : ::GetLastError();
  if (!ended) return Failure(failure != 0 ? failure : static_cast<DWORD>(error::kGenFailure));
  return static_cast<std::uint32_t>(exitCode);
}

}  // namespace pw::platform
