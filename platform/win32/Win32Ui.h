#pragma once
// <windows.h> and the shell headers for the windowing side of the Win32
// backend, with the macros undone that would rename the portable layer's calls.
#include "platform/win32/WinApi.h"

#include <shellapi.h>
#include <shlobj.h>

#undef PostMessage
#undef PostThreadMessage
#undef PeekMessage
#undef GetMessage
#undef DispatchMessage
#undef IsDialogMessage
#undef SendMessage
#undef FindWindow
#undef SetWindowText
#undef GetWindowText
#undef RegisterWindowMessage
#undef MessageBoxEx
#undef ShellExecute
#undef CreateWindow
#undef RegisterClass
#undef DefWindowProc
#undef TrackPopupMenu
#undef Shell_NotifyIcon

#include "platform/Messages.h"

namespace pw::platform {
// A portable message as the MSG the window manager's calls take, stamped
// with the current message time.
MSG ToMsg(const Message& message);
}  // namespace pw::platform
