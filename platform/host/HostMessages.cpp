#include "platform/Messages.h"

#include <chrono>
#include <thread>

#include "platform/hostworld/Desktop.h"
#include "platform/hostworld/World.h"

namespace pw::platform {

namespace {
hostworld::Desktop& Desk() { return hostworld::World::Current().Desktop(); }
}  // namespace

ThreadId GetCurrentThreadId() { return Desk().CurrentThreadId(); }

void EnsureMessageQueue() { Desk().EnsureQueue(); }

Result<void> PostMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  return Desk().Post(window, message, wParam, lParam);
}

Result<void> PostThreadMessage(ThreadId thread, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  return Desk().PostToThread(thread, message, wParam, lParam);
}

void PostQuitMessage(int exitCode) { Desk().PostQuit(exitCode); }

std::optional<Message> PeekMessage() { return Desk().Take(); }

bool GetMessage(Message& message) {
  message = Desk().Wait();
  // WM_QUIT ends the loop also when it was posted to a window.
  return message.message != wm::kQuit;
}

bool WaitForInput(std::uint32_t timeoutMs) { return Desk().WaitForInput(timeoutMs); }

std::intptr_t DispatchMessage(const Message& message) { return Desk().Dispatch(message); }

TimerId SetTimer(WindowHandle window, TimerId id, std::uint32_t intervalMs) {
  return Desk().SetTimer(window, id, intervalMs);
}

bool KillTimer(WindowHandle window, TimerId id) { return Desk().KillTimer(window, id); }

void Sleep(std::uint32_t milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

std::uint32_t GetTickCount() { return static_cast<std::uint32_t>(Desk().Now()); }

}  // namespace pw::platform
