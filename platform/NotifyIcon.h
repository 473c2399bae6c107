#pragma once
// Icons, popup menus and the notification-area (tray) icon.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Errors.h"
#include "platform/Handle.h"
#include "platform/ThreadChecker.h"
#include "platform/Windows.h"

namespace pw::platform {

struct IconTraits {
  static RawHandle Invalid() noexcept { return nullptr; }
  static void Close(RawHandle icon) noexcept;
};
using IconHandle = ScopedHandle<IconTraits>;

// Creates an icon from the bytes of a .ico file, taking the image of the
// requested size (or the closest one). Empty on malformed data.
IconHandle CreateIconFromIco(std::span<const std::byte> ico, int size);

// The size of the notification area's icons at the system's scaling: the
// small icon (SM_CXSMICON), 16 pixels at 96 DPI.
int TrayIconSize();

// A popup menu (CreatePopupMenu); items are appended in order.
class PopupMenu {
 public:
  PopupMenu();
  ~PopupMenu();
  PopupMenu(const PopupMenu&) = delete;
  PopupMenu& operator=(const PopupMenu&) = delete;

  void Append(std::uint32_t commandId, std::string_view text);
  void Clear();
  // The item that a double click on the tray icon runs (SetMenuDefaultItem);
  // 0 for none.
  void SetDefaultItem(std::uint32_t commandId);
  [[nodiscard]] std::uint32_t DefaultItem() const { return defaultItem_; }

  struct Item {
    std::uint32_t commandId = 0;
    std::string text;
  };
  [[nodiscard]] const std::vector<Item>& items() const { return items_; }
  // The native menu (HMENU on Win32; nullptr on the host, where the items are the menu).
  [[nodiscard]] RawHandle handle() const { return menu_; }

 private:
  RawHandle menu_ = nullptr;
  std::vector<Item> items_;
  std::uint32_t defaultItem_ = 0;
};

// TrackPopupMenu with TPM_RETURNCMD at a screen position, owned by a window
// of the calling thread: the chosen command, or 0 when the menu was dismissed.
// Modal: its loop keeps dispatching the thread's window messages.
std::uint32_t TrackPopupMenu(const PopupMenu& menu, Point at, WindowHandle owner);

// Shell_NotifyIconA.
namespace nim {
inline constexpr std::uint32_t kAdd = 0;
inline constexpr std::uint32_t kModify = 1;
inline constexpr std::uint32_t kDelete = 2;
inline constexpr std::uint32_t kSetVersion = 4;
}  // namespace nim
namespace nif {
inline constexpr std::uint32_t kMessage = 1;
inline constexpr std::uint32_t kIcon = 2;
inline constexpr std::uint32_t kTip = 4;
inline constexpr std::uint32_t kInfo = 0x10;
inline constexpr std::uint32_t kGuid = 0x20;
}  // namespace nif
// NOTIFYICON_VERSION_4 (Windows Vista and later): the callback carries the
// event in LOWORD(lParam) and the icon's id in HIWORD(lParam).
inline constexpr std::uint32_t kNotifyIconVersion4 = 4;
// Callback events of the shell (WM_USER based) besides the mouse messages.
namespace nin {
inline constexpr std::uint32_t kSelect = 0x400;
inline constexpr std::uint32_t kKeySelect = 0x401;
inline constexpr std::uint32_t kBalloonUserClick = 0x405;
}  // namespace nin
// NIIF_INFO: the notification's information icon.
inline constexpr std::uint32_t kBalloonInfoIcon = 1;

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};
  friend bool operator==(const Guid&, const Guid&) = default;
};

struct NotifyIconData {
  WindowHandle window = nullptr;
  std::uint32_t id = 0;
  std::uint32_t flags = 0;
  std::uint32_t callbackMessage = 0;
  RawHandle icon = nullptr;
  std::string tip;  // at most 127 characters are kept (63 before Windows Vista)
  Guid guid;        // the icon's identity instead of window and id, with nif::kGuid
  std::uint32_t version = 0;  // nim::kSetVersion's
  std::string infoTitle;      // nif::kInfo: the notification's title (63 characters) and
  std::string info;           // text (255 characters)
  std::uint32_t infoFlags = 0;
};

// Shell_NotifyIconA. Before Windows Vista the first layout of the record is
// used, which knows no notification, identity or version: such a request fails.
bool ShellNotifyIcon(std::uint32_t action, const NotifyIconData& data);

// The tray icon as the window uses it: its constructor adds the icon (id 1,
// callback message 0x800 to a hidden top-level window of its own, so that the
// "TaskbarCreated" broadcast reaches it), its destructor removes it, and it
// adds itself again when the taskbar is re-created. Mouse rules:
// - left button down then up: onClick at the button-up;
// - right button down: the owner window comes to the foreground, the menu
//   opens at the cursor, WM_NULL is posted to the owner afterwards so the
//   menu closes normally, and a chosen command goes to onCommand;
// - double click (left): the menu's default item, if any, goes to onCommand;
// - a click on the icon's notification: onBalloonClick.
// The icon has a fixed identity (kIconGuid) where the shell takes one, so
// Windows keeps the user's choice to show it; where the shell refuses the
// GUID (before Windows 7, or an executable that moved since Windows saw it
// with that GUID) the window and id identify it. It asks for the callbacks of
// NOTIFYICON_VERSION_4 where the shell has them.
// Creating thread only (checked): its messages are handled by that thread's
// loop. The events run inside the icon's own message handling and must not
// destroy it.
class TrayIcon {
 public:
  static constexpr std::uint32_t kIconId = 1;
  static constexpr std::uint32_t kCallbackMessage = 0x800;
  static constexpr Guid kIconGuid{0x9F3C2B7Au, 0x5D41u, 0x4E8Bu, {0xA6, 0x1D, 0x3C, 0x72, 0xE0, 0x94, 0xB5, 0x18}};

  struct Events {
    std::function<void()> onClick;
    std::function<void(std::uint32_t commandId)> onCommand;
    // Called before the menu opens so the owner can fill it.
    std::function<void(PopupMenu&)> onPrepareMenu;
    // Replaces the default-item rule of a double click when set.
    std::function<void()> onDoubleClick;
    // A click on the notification the icon showed.
    std::function<void()> onBalloonClick;
  };

  TrayIcon(RawHandle icon, Events events, std::string tip = {});
  ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Adds the icon again (after "TaskbarCreated"); false when the shell refused.
  bool Add();
  [[nodiscard]] bool added() const { return added_; }
  // The tooltip, which also names the icon in the notification-area settings
  // and to screen readers.
  void SetTip(std::string tip);
  // Shows a notification from the icon (Windows 10 and 11 show it as a
  // toast); false when the shell refused it.
  bool ShowBalloon(const std::string& title, const std::string& text);
  // Whether the shell took the icon's GUID and NOTIFYICON_VERSION_4.
  [[nodiscard]] bool identifiedByGuid() const { return byGuid_; }
  [[nodiscard]] std::uint32_t version() const { return version_; }
  [[nodiscard]] WindowHandle ownerWindow() const { return window_ ? window_->handle() : nullptr; }
  PopupMenu& menu() { return menu_; }

 private:
  class Handler;
  void Remove();
  void OnCallback(std::uintptr_t id, std::intptr_t mouseMessage);
  void OpenMenu();
  // The record that names this icon to the shell: its GUID, or window and id.
  NotifyIconData Identity() const;

  RawHandle icon_;
  Events events_;
  std::string tip_;
  PopupMenu menu_;
  std::unique_ptr<Handler> handler_;
  std::unique_ptr<Window> window_;
  std::uint32_t taskbarCreated_ = 0;
  bool leftDown_ = false;
  bool added_ = false;
  bool byGuid_ = false;
  std::uint32_t version_ = 0;
  // The menu opened at the right button-down; the WM_CONTEXTMENU of version 4
  // that follows the button-up opens no second one.
  bool menuFromMouse_ = false;
  [[no_unique_address]] ThreadChecker thread_{"TrayIcon"};
};

}  // namespace pw::platform
