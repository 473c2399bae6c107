#include "platform/Messages.h"

#include "platform/win32/Win32Ui.h"

namespace pw::platform {

namespace {

Message FromMsg(const MSG& msg) {
  return {msg.hwnd, msg.message, static_cast<std::uintptr_t>(msg.wParam), static_cast<std::intptr_t>(msg.lParam)};
}


}  // namespace

MSG ToMsg(const Message& message) {
  MSG msg{};
  msg.hwnd = static_cast<HWND>(message.window);
  msg.message = message.message;
  msg.wParam = static_cast<WPARAM>(message.wParam);
  msg.lParam = static_cast<LPARAM>(message.lParam);
  msg.time = static_cast<DWORD>(::GetMessageTime());
  return msg;
}

ThreadId GetCurrentThreadId() { return ::GetCurrentThreadId(); }

void EnsureMessageQueue() {
  MSG msg;
  ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
}

Result<void> PostMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (::PostMessageA(static_cast<HWND>(window), message, wParam, lParam)) return Success();
  return Failure(::GetLastError());
}

Result<void> PostThreadMessage(ThreadId thread, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (::PostThreadMessageA(thread, message, wParam, lParam)) return Success();
  return Failure(::GetLastError());
}

void PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

std::optional<Message> PeekMessage() {
  MSG msg;
  if (!::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return std::nullopt;
  return FromMsg(msg);
}

bool GetMessage(Message& message) {
  MSG msg;
  BOOL result = ::GetMessageA(&msg, nullptr, 0, 0);
  message = FromMsg(msg);
  if (result == -1) {
    message = {nullptr, wm::kQuit, 0, 0};
    return false;
  }
  return result != 0;
}

bool WaitForInput(std::uint32_t timeoutMs) {
  return ::MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0;
}

std::intptr_t DispatchMessage(const Message& message) {
  MSG msg = ToMsg(message);
  ::TranslateMessage(&msg);
  return ::DispatchMessageA(&msg);
}

TimerId SetTimer(WindowHandle window, TimerId id, std::uint32_t intervalMs) {
  return ::SetTimer(static_cast<HWND>(window), id, intervalMs, nullptr);
}

bool KillTimer(WindowHandle window, TimerId id) { return ::KillTimer(static_cast<HWND>(window), id) != FALSE; }

void Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

std::uint32_t GetTickCount() { return ::GetTickCount(); }

}  // namespace pw::platform
