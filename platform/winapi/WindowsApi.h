#pragma once
// The one place that includes <windows.h> and the shell headers, for the
// Win32 backend and the win32 tests that call the real API beside the portable
// layer: the target version set here (mingw-w64 defaults it low), and the
// macros undone that would rename the portable layer's calls.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#undef WINVER
#define WINVER 0x0601
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

// Names of the portable layer that <windows.h> turns into macros.
#undef CreateFile
#undef DeleteFile
#undef CreateDirectory
#undef RemoveDirectory
#undef CreateHardLink
#undef GetFileAttributes
#undef SetFileAttributes
#undef GetCurrentDirectory
#undef SetCurrentDirectory
#undef GetWindowsDirectory
#undef GetModuleFileName
#undef GetDriveType
#undef GetVersionEx
#undef GetDiskFreeSpaceEx
#undef WriteProfileString
#undef OpenSCManager
#undef CreateService
#undef OpenService
#undef StartService
#undef QueryServiceConfig
#undef StartServiceCtrlDispatcher
#undef RegisterServiceCtrlHandler
#undef RegisterServiceCtrlHandlerEx
#undef RegisterEventSource
#undef ReportEvent
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
