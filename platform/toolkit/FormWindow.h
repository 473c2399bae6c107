#pragma once
// The native side of a form: a top-level window with the form's identity, and
// peers that tie the toolkit's model components to native controls, timers and
// the tray icon. On Win32 every control is a real child window; on the host
// the model components are the controls' whole state. Owning thread only
// (checked): its window's messages come to the thread that created it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/ThreadChecker.h"
#include "platform/NotifyIcon.h"
#include "platform/Result.h"
#include "platform/Windows.h"
#include "platform/toolkit/Component.h"
#include "platform/toolkit/Timer.h"
#include "platform/toolkit/TrayIcon.h"

namespace pw::toolkit {

struct FormParams {
  std::string className;
  std::string title;
  platform::Point position;      // of the outer frame on the screen
  platform::Size client;         // the outer size follows from the frame's style
  std::uint32_t style = platform::style::kCaption | platform::style::kSysMenu;
  std::string fontName;
  int fontHeight = 0;
};

// How a control looks beyond its model properties.
struct ControlOptions {
  bool background = false;     // a picture that is the form's background, stretched over the client area
  int fontHeight = 0;          // 0: the form's font
  int itemHeight = 0;          // list items of a combo box
};

// The backend's child controls of one form window.
class NativeControls {
 public:
  virtual ~NativeControls() = default;
  virtual void Add(Control& control, const ControlOptions& options) = 0;
  // Puts a control right after another in the order that Tab walks (the
  // native Z-order); null: first.
  virtual void PlaceAfter(Control& control, const Control* after) = 0;
  // A message of the form window that belongs to its controls (commands,
  // colours, drawing, erasing the background, the focus on activation, the
  // dialog manager's default button); nullopt when it is not theirs.
  virtual std::optional<std::intptr_t> HandleMessage(std::uint32_t message, std::uintptr_t wParam,
                                                     std::intptr_t lParam) = 0;
};

std::unique_ptr<NativeControls> CreateNativeControls(platform::WindowHandle form, const FormParams& details);

class FormWindow final : private platform::WindowHandler {
 public:
  // Registers the class and creates the window, hidden; the error of the
  // registration or of the creation when either fails.
  [[nodiscard]] static platform::Result<std::unique_ptr<FormWindow>> Create(const FormParams& details);
  ~FormWindow() override;
  FormWindow(const FormWindow&) = delete;
  FormWindow& operator=(const FormWindow&) = delete;

  [[nodiscard]] platform::WindowHandle Handle() const { return window_ ? window_->handle() : nullptr; }

  // Tab walks the controls with a tab order (TabOrder() >= 0) by that order,
  // whatever the order in which they were added.
  void AddControl(Control& control, const ControlOptions& options = {});
  // The label's access key (the letter after '&' in its caption) moves the
  // focus to the target, as the dialog manager moves it to the control that
  // follows a label in the order Tab walks: the label is placed right before
  // the target there. Both are added already; the target is a tab stop.
  void SetFocusControl(Control& label, const Control& target);
  void AddTimer(Timer& timer);
  // The tray icon with the icon file's image for the notification area's size
  // at the system's scaling; added now, removed with the form.
  void AddTrayIcon(TrayIcon& trayIcon, std::span<const std::byte> ico);
  [[nodiscard]] bool TrayIconShown() const;

  // The window became visible (WM_SHOWWINDOW), became the active window
  // (WM_ACTIVATE), was asked to close (WM_CLOSE: the handler decides; the
  // window is not destroyed by it).
  Event OnShow;
  Event OnActivate;
  Event OnClose;
  // Any other message; nullopt for the default processing.
  std::function<std::optional<std::intptr_t>(std::uint32_t, std::uintptr_t, std::intptr_t)> OnMessage;

 private:
  class TimerPeer;
  class TrayPeer;

  FormWindow() = default;  // without its window until Create makes it

  std::optional<std::intptr_t> HandleMessage(platform::WindowHandle window, std::uint32_t message,
                                             std::uintptr_t wParam, std::intptr_t lParam) override;

  std::unique_ptr<platform::Window> window_;
  std::unique_ptr<NativeControls> controls_;
  std::vector<const Control*> tabStops_;  // by tab order
  std::vector<std::unique_ptr<TimerPeer>> timers_;
  std::unique_ptr<TrayPeer> tray_;
  [[no_unique_address]] platform::ThreadChecker thread_{"FormWindow"};
};

}  // namespace pw::toolkit
