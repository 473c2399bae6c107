#include "platform/NotifyIcon.h"

#include <utility>

#include "platform/DebugTrace.h"

namespace pw::platform {

namespace {
// The class of the hidden top-level window that receives the icon's messages.
constexpr const char* kOwnerClass = "PagewickTrayIconOwner";
// WM_CONTEXTMENU.
constexpr std::uint32_t kContextMenu = 0x007B;
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
  RegisterWindowClass(kOwnerClass).IgnoreFailure();
  WindowParams details;
  details.className = kOwnerClass;
  details.style = style::kPopup;
  details.exStyle = style::kExToolWindow;
  Result<std::unique_ptr<Window>> window = Window::Create(details, *handler_);
  if (!window) {
    // Without its owner window the icon cannot be shown: it stays away.
    DebugTrace("Tray icon: CreateWindowExA failed with error " + std::to_string(window.error()));
    return;
  }
  window_ = std::move(window).value();
  taskbarCreated_ = RegisterWindowMessage("TaskbarCreated");
  Add();
}

TrayIcon::~TrayIcon() {
  thread_.Check();
  Remove();
  window_.reset();
}

NotifyIconData TrayIcon::Identity() const {
  NotifyIconData data;
  data.window = ownerWindow();
  data.id = kIconId;
  if (byGuid_) {
    data.flags = nif::kGuid;
    data.guid = kIconGuid;
  }
  return data;
}

bool TrayIcon::Add() {
  thread_.Check();
  if (!window_) return false;
  NotifyIconData data;
  data.window = ownerWindow();
  data.id = kIconId;
  data.flags = nif::kMessage | nif::kIcon | nif::kTip | nif::kGuid;
  data.callbackMessage = kCallbackMessage;
  data.icon = icon_;
  data.tip = tip_;
  data.guid = kIconGuid;
  // An icon that is still shown (a broadcast without a restart) is refreshed
  // instead. A shell that refuses the GUID gets the window and id.
  byGuid_ = true;
  added_ = ShellNotifyIcon(nim::kAdd, data) || ShellNotifyIcon(nim::kModify, data);
  if (!added_) {
    byGuid_ = false;
    data.flags &= ~nif::kGuid;
    added_ = ShellNotifyIcon(nim::kAdd, data) || ShellNotifyIcon(nim::kModify, data);
  }
  // The version is asked for after every add; it lasts as long as the icon.
  version_ = 0;
  if (added_) {
    NotifyIconData versioned = Identity();
    versioned.version = kNotifyIconVersion4;
    if (ShellNotifyIcon(nim::kSetVersion, versioned)) version_ = kNotifyIconVersion4;
  }
  return added_;
}

void TrayIcon::Remove() {
  if (!added_ || ownerWindow() == nullptr) return;
  (void)ShellNotifyIcon(nim::kDelete, Identity());
  added_ = false;
}

void TrayIcon::SetTip(std::string tip) {
  thread_.Check();
  tip_ = std::move(tip);
  if (!added_) return;
  NotifyIconData data = Identity();
  data.flags |= nif::kTip;
  data.tip = tip_;
  (void)ShellNotifyIcon(nim::kModify, data);
}

bool TrayIcon::ShowBalloon(const std::string& title, const std::string& text) {
  thread_.Check();
  if (!added_) return false;
  NotifyIconData data = Identity();
  data.flags |= nif::kInfo;
  data.infoTitle = title;
  data.info = text;
  data.infoFlags = kBalloonInfoIcon;
  return ShellNotifyIcon(nim::kModify, data);
}

// The events must not destroy this object: an owner that ends with a menu
// command (Exit) defers its own destruction to the top of its thread's loop.
// Each event is still the last thing a callback does.
void TrayIcon::OnCallback(std::uintptr_t wParam, std::intptr_t lParam) {
  thread_.Check();
  // Version 4 puts the event and the id into lParam (wParam holds the
  // anchor point); before it, wParam is the id and lParam the event.
  const auto packed = static_cast<std::uintptr_t>(lParam);
  const std::uintptr_t id = version_ >= kNotifyIconVersion4 ? (packed >> 16) & 0xFFFF : wParam;
  const std::uint32_t event = version_ >= kNotifyIconVersion4 ? static_cast<std::uint32_t>(packed & 0xFFFF)
                                                              : static_cast<std::uint32_t>(packed);
  if (id != kIconId) return;
  switch (event) {
    case wm::kLButtonDown:
      leftDown_ = true;
      break;
    case wm::kLButtonUp:
      if (leftDown_) {
        leftDown_ = false;
        if (events_.onClick) events_.onClick();
      }
      break;
    case nin::kKeySelect:
      // Enter or the space bar on the icon, as the keyboard reaches it.
      if (events_.onClick) events_.onClick();
      break;
    case wm::kRButtonDown:
      leftDown_ = false;
      menuFromMouse_ = true;
      OpenMenu();
      break;
    case kContextMenu:
      // Version 4: after the right button-up, and for the keyboard's menu key.
      if (menuFromMouse_) {
        menuFromMouse_ = false;
      } else {
        OpenMenu();
      }
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
    case nin::kBalloonUserClick:
      if (events_.onBalloonClick) events_.onBalloonClick();
      break;
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
  PostMessage(owner, wm::kNull, 0, 0).IgnoreFailure();
  if (command != 0 && events_.onCommand) {
    auto onCommand = events_.onCommand;
    onCommand(command);
  }
}

}  // namespace pw::platform
