#pragma once
// Top-level windows with window procedures: registering a class, creating a
// window (always hidden at creation), showing, hiding, activating, finding and
// destroying it, and sending and broadcasting messages. A window's messages
// are handled on the thread that created it; exceptions never leave a window
// procedure (they go to the error sink, ErrorSink.h).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Result.h"
#include "platform/Handle.h"
#include "platform/Messages.h"
#include "platform/ThreadChecker.h"

namespace pw::platform {

// WS_* and WS_EX_* bits.
namespace style {
inline constexpr std::uint32_t kOverlapped = 0x00000000u;
inline constexpr std::uint32_t kPopup = 0x80000000u;
inline constexpr std::uint32_t kChild = 0x40000000u;
inline constexpr std::uint32_t kVisible = 0x10000000u;
inline constexpr std::uint32_t kClipChildren = 0x02000000u;
inline constexpr std::uint32_t kCaption = 0x00C00000u;  // border and title bar
inline constexpr std::uint32_t kSysMenu = 0x00080000u;
inline constexpr std::uint32_t kMinimizeBox = 0x00020000u;
inline constexpr std::uint32_t kMaximizeBox = 0x00010000u;
inline constexpr std::uint32_t kExToolWindow = 0x00000080u;
inline constexpr std::uint32_t kExWindowEdge = 0x00000100u;
inline constexpr std::uint32_t kGroup = 0x00020000u;    // of a child control
inline constexpr std::uint32_t kTabStop = 0x00010000u;  // of a child control
}  // namespace style

// The keyboard as the dialog manager reads it: WM_KEYDOWN's virtual keys, and
// what IsDialogMessageA sends the window (DM_GETDEFID, WM_COMMAND with IDOK,
// IDCANCEL or the default button's id and BN_CLICKED).
namespace keys {
inline constexpr std::uint32_t kKeyDown = 0x0100;
inline constexpr std::uint32_t kKeyUp = 0x0101;
inline constexpr std::uint32_t kChar = 0x0102;
inline constexpr std::uintptr_t kVkTab = 0x09;
inline constexpr std::uintptr_t kVkReturn = 0x0D;
inline constexpr std::uintptr_t kVkEscape = 0x1B;
inline constexpr std::uint32_t kDmGetDefId = 0x0400;
inline constexpr std::uint16_t kDcHasDefId = 0x534B;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr std::uint16_t kBnClicked = 0;
}  // namespace keys

// ShowWindow commands.
enum class ShowCommand : int {
  Hide = 0,
  ShowNormal = 1,
  Show = 5,
  ShowNoActivate = 8,
};

struct Point {
  int x = 0;
  int y = 0;
};

struct Size {
  int width = 0;
  int height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  [[nodiscard]] int Width() const { return right - left; }
  [[nodiscard]] int Height() const { return bottom - top; }
};

// The procedure of a window: the message's result, or nullopt for the
// system's default processing (DefWindowProcA: WM_CLOSE destroys the window).
class WindowHandler {
 public:
  virtual ~WindowHandler() = default;
  virtual std::optional<std::intptr_t> HandleMessage(WindowHandle window, std::uint32_t message,
                                                     std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

// RegisterClassA with the platform's window procedure, arrow cursor and the
// button-face background. Registering a class name again succeeds.
Result<void> RegisterWindowClass(std::string_view className);

struct WindowParams {
  std::string className;  // registered with RegisterWindowClass
  std::string title;
  std::uint32_t style = style::kOverlapped;
  std::uint32_t exStyle = 0;
  Rect bounds;  // outer rectangle on the screen
};

// The outer size a window of this style needs for the given client size
// (AdjustWindowRectEx without a menu).
Size OuterSizeForClient(std::uint32_t style, std::uint32_t exStyle, Size client);

class WindowBackend;

// Owns one top-level window of the calling thread. The window is created
// hidden (a visible style bit is ignored) and destroyed with the object.
// Messages reach handler until the window is destroyed: by the object, by
// DestroyWindow, or by the default processing of WM_CLOSE. Creating thread
// only (checked): the window's messages, and with them the end that clears
// the handle, come to that thread. Destroy and the destructor may also run on
// another thread (an owner that outlives the window's thread): DestroyWindow
// fails there, and the window is only cut loose from the object.
class Window {
 public:
  // Fails with CreateWindowExA's error code (0 when the window's WM_CREATE
  // refused it). The object stays where it was made: the window calls back
  // into it.
  static Result<std::unique_ptr<Window>> Create(const WindowParams& details, WindowHandler& handler);
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // nullptr once the window has been destroyed.
  [[nodiscard]] WindowHandle handle() const noexcept {
    thread_.Check();
    return handle_;
  }
  [[nodiscard]] bool alive() const noexcept {
    thread_.Check();
    return handle_ != nullptr;
  }
  void Destroy() noexcept;

 private:
  friend class WindowBackend;
  explicit Window(WindowHandler& handler) : handler_(&handler) {}
  WindowHandle handle_ = nullptr;
  WindowHandler* handler_ = nullptr;
  [[no_unique_address]] ThreadChecker thread_{"Window"};
};

// DestroyWindow: WM_DESTROY reaches the window procedure; the window is gone
// afterwards. Owning thread only: on another thread it fails (access denied),
// as on Windows.
Result<void> DestroyWindow(WindowHandle window);
// IsWindow. Any thread.
bool IsWindow(WindowHandle window);
bool IsWindowVisible(WindowHandle window);

// ShowWindow. Making a hidden window visible sends it WM_SHOWWINDOW (TRUE)
// first; Show and ShowNormal also activate it (WM_ACTIVATE). Hiding sends
// WM_SHOWWINDOW (FALSE) and deactivates it. Returns whether it was visible before.
bool ShowWindow(WindowHandle window, ShowCommand command);
// Makes the window visible and brings it to the front: ShowWindow(Show) and
// SetForegroundWindow.
void ShowAndBringToFront(WindowHandle window);
// UpdateWindow: paints the invalid part at once.
Result<void> UpdateWindow(WindowHandle window);
// SetForegroundWindow: activates the window (WM_ACTIVATE to it and, inactive,
// to the window that was active).
bool SetForegroundWindow(WindowHandle window);
WindowHandle GetForegroundWindow();

// FindWindowA over the desktop's top-level windows, visible or hidden, of any
// process: class and title (compared without regard to case) each match when
// not given. nullptr when none matches.
WindowHandle FindWindow(std::optional<std::string_view> className, std::optional<std::string_view> title);

Result<void> SetWindowText(WindowHandle window, std::string_view text);
std::string GetWindowText(WindowHandle window);
std::optional<Rect> GetWindowRect(WindowHandle window);
std::optional<Size> GetClientSize(WindowHandle window);
ThreadId GetWindowThreadId(WindowHandle window);

// SendMessageA to a window of the calling thread: runs its procedure now.
std::intptr_t SendMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
// PostMessageA(HWND_BROADCAST): posts to every top-level window of the desktop.
Result<void> PostBroadcast(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
// RegisterWindowMessageA: the same number for the same name (without regard to
// case) in every process, 0xC000 to 0xFFFF; 0 on failure.
std::uint32_t RegisterWindowMessage(std::string_view name);

// IsDialogMessageA for the top-level window of a keyboard message's window,
// when that window holds controls: Tab and Shift+Tab move the focus through
// the tab stops (WS_TABSTOP, visible and enabled) in their order, Enter asks
// the window for its default button (DM_GETDEFID) and clicks it when enabled,
// Esc sends IDCANCEL. True when the message was taken (not to be dispatched).
// Calling thread's messages only.
bool IsDialogMessage(const Message& message);
// GetFocus: the control (or window) of the calling thread with the keyboard focus.
WindowHandle GetFocus();

// GetCursorPos in screen coordinates.
Point GetCursorPos();

}  // namespace pw::platform
