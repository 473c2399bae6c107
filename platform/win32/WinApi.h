#pragma once
// The one place that includes <windows.h>, with the target version set here
// because mingw-w64 defaults it low.
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
// The shell's special folders (SHGetSpecialFolderPathA).
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
