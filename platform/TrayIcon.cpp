#include "platform/TrayIcon.h"

#include <utility>

namespace pw::platform {

namespace {
// The class of the hidden top-level window that receives the icon's messages.
constexpr const char* kOwnerClass = "PagewickTrayIconOwner";
}  // namespace

class TrayIcon::Handler final : public WindowHandler {
 public:
  explicit Handler(TrayIcon& icon) : icon_(icon) {}

  std::optional<std::intptr_t> HandleMessage(WindowHandle, std::uint32_t message, std::uintptr_t wParam,
                                             std::intptr_t lParam) override {
    if (message == kCallbackMessage) {
      icon_.OnCallback(wParam, lParam);
      return 0;
    }
    if (icon_.taskbarCreated_ != 0 && message == icon_.taskbarCreated_) {
      // The shell started again and knows no icons any more.
      icon_.Add();
      return 0;
    }
    return std::nullopt;
  }

 private:
  TrayIcon& icon_;
};

TrayIcon::TrayIcon(RawHandle icon, Events events, std::string tip)
    : icon_(icon), events_(std::move(events)), tip_(std::move(tip)), handler_(std::make_unique<Handler>(*this)) {
  (void)RegisterWindowClass(kOwnerClass);
  WindowParams details;
  details.className = kOwnerClass;
  details.style = style::kPopup;
  details.exStyle = style::kExToolWindow;
  window_ = std::make_unique<Window>(details, *handler_);
  taskbarCreated_ = RegisterWindowMessage("TaskbarCreated");
  Add();
}

TrayIcon::~TrayIcon() {
  Remove();
  window_.reset();
}

bool TrayIcon::Add() {
  NotifyIconData data;
  data.window = ownerWindow();
  data.id = kIconId;
  data.flags = nif::kMessage | nif::kIcon | nif::kTip;
  data.callbackMessage = kCallbackMessage;
  data.icon = icon_;
  data.tip = tip_;
  // An icon that is still shown (a broadcast without a restart) is refreshed instead.
  added_ = ShellNotifyIcon(nim::kAdd, data) || ShellNotifyIcon(nim::kModify, data);
  return added_;
}

void TrayIcon::Remove() {
  if (!added_ || ownerWindow() == nullptr) return;
  NotifyIconData data;
  data.window = ownerWindow();
  data.id = kIconId;
  (void)ShellNotifyIcon(nim::kDelete, data);
  added_ = false;
}

// The events must not destroy this object: an owner that ends with a menu
// command (Exit) defers its own destruction to the top of its thread's loop.
// Each event is still the last thing a callback does.
void TrayIcon::OnCallback(std::uintptr_t id, std::intptr_t mouseMessage) {
  if (id != kIconId) return;
  switch (static_cast<std::uint32_t>(mouseMessage)) {
    case wm::kLButtonDown:
      leftDown_ = true;
      break;
    case wm::kLButtonUp:
      if (leftDown_) {
        leftDown_ = false;
        if (events_.onClick) events_.onClick();
      }
      break;
    case wm::kRButtonDown:
      leftDown_ = false;
      OpenMenu();
      break;
    case wm::kLButtonDblClk: {
      leftDown_ = false;
      if (events_.onDoubleClick) {
        events_.onDoubleClick();
        break;
      }
      std::uint32_t item = menu_.DefaultItem();
      if (item != 0 && events_.onCommand) events_.onCommand(item);
      break;
    }
    default:
      break;
  }
}

void TrayIcon::OpenMenu() {
  if (events_.onPrepareMenu) events_.onPrepareMenu(menu_);
  WindowHandle owner = ownerWindow();
  // Without the foreground the menu would not close when the user clicks
  // elsewhere; WM_NULL afterwards lets it close normally.
  (void)SetForegroundWindow(owner);
  std::uint32_t command = TrackPopupMenu(menu_, GetCursorPos(), owner);
  (void)PostMessage(owner, wm::kNull, 0, 0);
  if (command != 0 && events_.onCommand) {
    auto onCommand = events_.onCommand;
    onCommand(command);
  }
}

}  // namespace pw::platform
