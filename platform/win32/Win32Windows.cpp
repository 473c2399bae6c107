#include "platform/Windows.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ErrorSink.h"
#include "platform/win32/Win32Ui.h"

namespace pw::platform {

class WindowBackend {
 public:
  // The one window procedure of every window the platform creates. The
  // object comes from GWLP_USERDATA, set from the creation parameter at
  // WM_NCCREATE; it is cut loose at WM_NCDESTROY. No exception leaves here.
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
      auto* window = static_cast<Window*>(create->lpCreateParams);
      ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
      if (window != nullptr) window->handle_ = hwnd;
    }
    auto* window = reinterpret_cast<Window*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (message == WM_NCDESTROY) {
      ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
      if (window != nullptr) {
        window->thread_.Check();
        window->handle_ = nullptr;
      }
      window = nullptr;
    }
    if (window != nullptr && window->handler_ != nullptr) {
      try {
        std::optional<std::intptr_t> result = window->handler_->HandleMessage(hwnd, message, wParam, lParam);
        if (result) return *result;
      } catch (...) {
        ReportCurrentException();
        return 0;
      }
    }
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
  }

  static void Detach(Window& window) noexcept {
    if (window.handle_ != nullptr) ::SetWindowLongPtrA(static_cast<HWND>(window.handle_), GWLP_USERDATA, 0);
    window.handle_ = nullptr;
  }
};

namespace {

// The program's icon (the executable's first icon group, id 1) at the size
// a metric asks for; the system's metrics follow its scaling for a DPI-aware
// process. Null in a program without that icon: the system's default shows.
HICON ProgramIcon(int widthMetric, int heightMetric) {
  return static_cast<HICON>(::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1), IMAGE_ICON,
                                         ::GetSystemMetrics(widthMetric), ::GetSystemMetrics(heightMetric),
                                         LR_DEFAULTCOLOR | LR_SHARED));
}

}  // namespace

Result<void> RegisterWindowClass(std::string_view className) {
  std::string name(className);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &WindowBackend::Procedure;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  // The title bar and the taskbar show the program's icon, each at its size.
  wc.hIcon = ProgramIcon(SM_CXICON, SM_CYICON);
  wc.hIconSm = ProgramIcon(SM_CXSMICON, SM_CYSMICON);
  wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = name.c_str();
  if (::RegisterClassExA(&wc) != 0) return Success();
  DWORD error = ::GetLastError();
  if (error == ERROR_CLASS_ALREADY_EXISTS) return Success();
  return Failure(error);
}

// The frame comes from the system's metrics (dialog frame and caption height),
// so the client area is exact on every system and the outer size varies.
Size OuterSizeForClient(std::uint32_t windowStyle, std::uint32_t exStyle, Size client) {
  RECT rect{0, 0, client.width, client.height};
  ::AdjustWindowRectEx(&rect, windowStyle, FALSE, exStyle);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

Result<std::unique_ptr<Window>> Window::Create(const WindowParams& details, WindowHandler& handler) {
  std::unique_ptr<Window> window(new Window(handler));
  HWND hwnd = ::CreateWindowExA(details.exStyle, details.className.c_str(), details.title.c_str(),
                                details.style & ~style::kVisible, details.bounds.left, details.bounds.top,
                                details.bounds.Width(), details.bounds.Height(), nullptr, nullptr,
                                ::GetModuleHandleA(nullptr), window.get());
  if (hwnd == nullptr) {
    const DWORD error = ::GetLastError();
    window->handle_ = nullptr;
    return Failure(error);
  }
  window->handle_ = hwnd;
  return window;
}

Window::~Window() { Destroy(); }

void Window::Destroy() noexcept {
  if (handle_ == nullptr) return;
  // DestroyWindow fails on another thread; the window then must not call back
  // into this object any more.
  if (!::DestroyWindow(static_cast<HWND>(handle_))) WindowBackend::Detach(*this);
  handle_ = nullptr;
}

bool IsDialogMessage(const Message& message) {
  if (message.window == nullptr || message.message < WM_KEYFIRST || message.message > WM_KEYLAST) return false;
  HWND root = ::GetAncestor(static_cast<HWND>(message.window), GA_ROOT);
  // Only a window with controls is a dialog to the keyboard.
  if (root == nullptr || ::GetWindow(root, GW_CHILD) == nullptr) return false;
  MSG msg = ToMsg(message);
  return ::IsDialogMessageA(root, &msg) != FALSE;
}

WindowHandle GetFocus() { return ::GetFocus(); }

Result<void> DestroyWindow(WindowHandle window) {
  if (::DestroyWindow(static_cast<HWND>(window))) return Success();
  return Failure(::GetLastError());
}

bool IsWindow(WindowHandle window) { return window != nullptr && ::IsWindow(static_cast<HWND>(window)) != FALSE; }

bool IsWindowVisible(WindowHandle window) { return ::IsWindowVisible(static_cast<HWND>(window)) != FALSE; }

bool ShowWindow(WindowHandle window, ShowCommand command) {
  return ::ShowWindow(static_cast<HWND>(window), static_cast<int>(command)) != FALSE;
}

void ShowAndBringToFront(WindowHandle window) {
  HWND hwnd = static_cast<HWND>(window);
  ::ShowWindow(hwnd, SW_SHOW);
  ::BringWindowToTop(hwnd);
  ::SetForegroundWindow(hwnd);
}

Result<void> UpdateWindow(WindowHandle window) {
  if (::UpdateWindow(static_cast<HWND>(window))) return Success();
  return Failure(::GetLastError());
}

bool SetForegroundWindow(WindowHandle window) { return ::SetForegroundWindow(static_cast<HWND>(window)) != FALSE; }

WindowHandle GetForegroundWindow() { return ::GetForegroundWindow(); }

WindowHandle FindWindow(std::optional<std::string_view> className, std::optional<std::string_view> title) {
  std::string classText(className.value_or(""));
  std::string titleText(title.value_or(""));
  return ::FindWindowA(className ? classText.c_str() : nullptr, title ? titleText.c_str() : nullptr);
}

Result<void> SetWindowText(WindowHandle window, std::string_view text) {
  std::string value(text);
  if (::SetWindowTextA(static_cast<HWND>(window), value.c_str())) return Success();
  return Failure(::GetLastError());
}

std::string GetWindowText(WindowHandle window) {
  HWND hwnd = static_cast<HWND>(window);
  int length = ::GetWindowTextLengthA(hwnd);
  if (length <= 0) return {};
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
  int copied = ::GetWindowTextA(hwnd, buffer.data(), static_cast<int>(buffer.size()));
  return std::string(buffer.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

std::optional<Rect> GetWindowRect(WindowHandle window) {
  RECT rect;
  if (!::GetWindowRect(static_cast<HWND>(window), &rect)) return std::nullopt;
  return Rect{rect.left, rect.top, rect.right, rect.bottom};
}

std::optional<Size> GetClientSize(WindowHandle window) {
  RECT rect;
  if (!::GetClientRect(static_cast<HWND>(window), &rect)) return std::nullopt;
  return Size{rect.right - rect.left, rect.bottom - rect.top};
}

ThreadId GetWindowThreadId(WindowHandle window) {
  return ::GetWindowThreadProcessId(static_cast<HWND>(window), nullptr);
}

std::intptr_t SendMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  return ::SendMessageA(static_cast<HWND>(window), message, wParam, lParam);
}

Result<void> PostBroadcast(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (::PostMessageA(HWND_BROADCAST, message, wParam, lParam)) return Success();
  return Failure(::GetLastError());
}

std::uint32_t RegisterWindowMessage(std::string_view name) {
  std::string text(name);
  return ::RegisterWindowMessageA(text.c_str());
}

Point GetCursorPos() {
  POINT point{};
  ::GetCursorPos(&point);
  return {point.x, point.y};
}

}  // namespace pw::platform
