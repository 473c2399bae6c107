#pragma once
// Threads, message queues and timers with Windows semantics: every thread has
// its own queue (created by its first message call); posted messages wait in
// it; WM_TIMER is generated when the owning thread reads its queue and finds
// nothing posted; WM_QUIT ends a loop. Window procedures are in Windows.h.
#include <cstdint>
#include <optional>

#include "platform/Result.h"
#include "platform/Handle.h"

namespace pw::platform {

// Win32 message numbers the program and the platform layer use.
namespace wm {
inline constexpr std::uint32_t kNull = 0x0000;
inline constexpr std::uint32_t kCreate = 0x0001;
inline constexpr std::uint32_t kDestroy = 0x0002;
inline constexpr std::uint32_t kActivate = 0x0006;
inline constexpr std::uint32_t kPaint = 0x000F;
inline constexpr std::uint32_t kClose = 0x0010;
inline constexpr std::uint32_t kQuit = 0x0012;
inline constexpr std::uint32_t kShowWindow = 0x0018;
inline constexpr std::uint32_t kNcDestroy = 0x0082;
inline constexpr std::uint32_t kCommand = 0x0111;
inline constexpr std::uint32_t kTimer = 0x0113;
inline constexpr std::uint32_t kMouseMove = 0x0200;
inline constexpr std::uint32_t kLButtonDown = 0x0201;
inline constexpr std::uint32_t kLButtonUp = 0x0202;
inline constexpr std::uint32_t kLButtonDblClk = 0x0203;
inline constexpr std::uint32_t kRButtonDown = 0x0204;
inline constexpr std::uint32_t kRButtonUp = 0x0205;
inline constexpr std::uint32_t kRButtonDblClk = 0x0206;
inline constexpr std::uint32_t kDeviceChange = 0x0219;
inline constexpr std::uint32_t kUser = 0x0400;
inline constexpr std::uint32_t kApp = 0x8000;
}  // namespace wm

// WM_ACTIVATE's low word.
inline constexpr std::uintptr_t kWaInactive = 0;
inline constexpr std::uintptr_t kWaActive = 1;

// WM_DEVICECHANGE's wParam.
inline constexpr std::uintptr_t kDbtDeviceArrival = 0x8000;
inline constexpr std::uintptr_t kDbtDeviceRemoveComplete = 0x8004;

// ERROR_INVALID_THREAD_ID: the thread does not exist or has no queue yet.
inline constexpr ErrorCode kErrorInvalidThreadId = 1444;
// ERROR_INVALID_WINDOW_HANDLE.
inline constexpr ErrorCode kErrorInvalidWindowHandle = 1400;

using ThreadId = std::uint32_t;
using TimerId = std::uintptr_t;

struct Message {
  WindowHandle window = nullptr;  // nullptr: a thread message
  std::uint32_t message = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

// GetCurrentThreadId. Any thread.
ThreadId GetCurrentThreadId();

// Creates the calling thread's message queue if it has none yet (Windows does
// this at the thread's first message call; PeekMessageA with PM_NOREMOVE).
void EnsureMessageQueue();

// PostMessageA: the message waits in the queue of the thread that owns the
// window. Fails with 1400 for a window that does not exist. Any thread.
Result<void> PostMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

// PostThreadMessageA: a message without a window. Fails with 1444 when the
// thread has no message queue. A modal loop (message box, folder browser)
// that takes a thread message drops it. Any thread.
Result<void> PostThreadMessage(ThreadId thread, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

// PostQuitMessage: puts WM_QUIT with the exit code into the calling thread's queue.
void PostQuitMessage(int exitCode);

// PeekMessageA(PM_REMOVE) over all windows of the calling thread and its
// thread messages: the next message, or nullopt when nothing waits. Timers
// that are due produce WM_TIMER only when no posted message waits.
std::optional<Message> PeekMessage();

// GetMessageA: waits for the next message of the calling thread; false when it
// is WM_QUIT (then message holds it).
bool GetMessage(Message& message);

// MsgWaitForMultipleObjectsEx without handles (QS_ALLINPUT,
// MWMO_INPUTAVAILABLE): blocks until a message waits in the calling thread's
// queue or one of its timers is due, or timeoutMs has passed (kInfinite: no
// limit). Takes nothing from the queue. True when input waits.
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
bool WaitForInput(std::uint32_t timeoutMs);

// DispatchMessageA: runs the window procedure of the message's window and
// returns its result; a thread message or a message for a destroyed window is
// dropped (0). Calling thread only.
std::intptr_t DispatchMessage(const Message& message);

// SetTimer on a window of the calling thread: WM_TIMER with wParam = id every
// interval milliseconds. Setting an existing id replaces its interval. Returns
// the id, or 0 on failure.
TimerId SetTimer(WindowHandle window, TimerId id, std::uint32_t intervalMs);
// KillTimer: false when no such timer exists.
bool KillTimer(WindowHandle window, TimerId id);

// Sleep: blocks the calling thread.
void Sleep(std::uint32_t milliseconds);

// GetTickCount: milliseconds of the clock that timers run on.
std::uint32_t GetTickCount();

}  // namespace pw::platform
