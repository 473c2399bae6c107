#include <memory>

#include "platform/Windows.h"
#include "platform/hostworld/Desktop.h"
#include "platform/hostworld/World.h"

namespace pw::platform {

namespace {
hostworld::Desktop& Desk() { return hostworld::World::Current().Desktop(); }
}  // namespace

class WindowBackend {
 public:
  // The desktop destroys a window only on its own thread.
  static void Forget(Window& window) noexcept {
    window.thread_.Check();
    window.handle_ = nullptr;
  }
};

namespace {

// Makes a Window forget its handle when the desktop destroys the window.
class HandleForgetter final : public hostworld::WindowObserver {
 public:
  void WindowDestroyed(Window& object) noexcept override { WindowBackend::Forget(object); }
};

constinit HandleForgetter gHandleForgetter;

}  // namespace

Result<std::unique_ptr<Window>> Window::Create(const WindowParams& details, WindowHandler& handler) {
  std::unique_ptr<Window> window(new Window(handler));
  PW_TRY_ASSIGN(window->handle_, Desk().CreateWindow(details, window.get(), &gHandleForgetter, window->handler_));
  if (Desk().Send(window->handle_, wm::kCreate, 0, 0) == -1) {
    // CreateWindowExA sets no error for a window that refused WM_CREATE.
    window->Destroy();
    return Failure(error::kSuccess);
  }
  return window;
}

Window::~Window() { Destroy(); }

void Window::Destroy() noexcept {
  if (handle_ == nullptr) return;
  WindowHandle handle = handle_;
  hostworld::World* world = hostworld::World::CurrentOrNull();
  if (world == nullptr) {
    handle_ = nullptr;
  } else if (!world->Desktop().Destroy(handle)) {
    world->Desktop().DetachObject(handle);
    handle_ = nullptr;
  }
}

Result<void> RegisterWindowClass(std::string_view className) { return Desk().RegisterClass(className); }

Size OuterSizeForClient(std::uint32_t windowStyle, std::uint32_t exStyle, Size client) {
  (void)exStyle;
  const Size frame = Desk().FrameAround(windowStyle);
  return {client.width + frame.width, client.height + frame.height};
}

bool IsDialogMessage(const Message& message) { return Desk().IsDialogMessage(message); }
WindowHandle GetFocus() { return Desk().Focus(); }

Result<void> DestroyWindow(WindowHandle window) { return Desk().Destroy(window); }
bool IsWindow(WindowHandle window) { return window != nullptr && Desk().IsWindow(window); }
bool IsWindowVisible(WindowHandle window) { return Desk().IsVisible(window); }
bool ShowWindow(WindowHandle window, ShowCommand command) { return Desk().Show(window, command); }

void ShowAndBringToFront(WindowHandle window) {
  Desk().Show(window, ShowCommand::Show);
  Desk().SetForeground(window);
}

Result<void> UpdateWindow(WindowHandle window) {
  // Nothing is painted in the simulated world; the call succeeds for a live window.
  return Desk().IsWindow(window) ? Success() : Failure(kErrorInvalidWindowHandle);
}

bool SetForegroundWindow(WindowHandle window) { return Desk().SetForeground(window); }
WindowHandle GetForegroundWindow() { return Desk().Foreground(); }

WindowHandle FindWindow(std::optional<std::string_view> className, std::optional<std::string_view> title) {
  return Desk().Find(className, title);
}

Result<void> SetWindowText(WindowHandle window, std::string_view text) { return Desk().SetText(window, text); }
std::string GetWindowText(WindowHandle window) { return Desk().Text(window); }
std::optional<Rect> GetWindowRect(WindowHandle window) { return Desk().Bounds(window); }
std::optional<Size> GetClientSize(WindowHandle window) { return Desk().ClientSize(window); }
ThreadId GetWindowThreadId(WindowHandle window) { return Desk().WindowThread(window); }

std::intptr_t SendMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  return Desk().Send(window, message, wParam, lParam);
}

Result<void> PostBroadcast(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  Desk().Broadcast(message, wParam, lParam);
  return Success();
}

std::uint32_t RegisterWindowMessage(std::string_view name) { return Desk().RegisterMessage(name); }

Point GetCursorPos() { return Desk().CursorPos(); }

}  // namespace pw::platform
