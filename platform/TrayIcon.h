#pragma once
// Icons, popup menus and the notification-area (tray) icon.
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
}  // namespace nim
namespace nif {
inline constexpr std::uint32_t kMessage = 1;
inline constexpr std::uint32_t kIcon = 2;
inline constexpr std::uint32_t kTip = 4;
}  // namespace nif

struct NotifyIconData {
  WindowHandle window = nullptr;
  std::uint32_t id = 0;
  std::uint32_t flags = 0;
  std::uint32_t callbackMessage = 0;
  RawHandle icon = nullptr;
  std::string tip;  // at most 63 characters are kept
};

bool ShellNotifyIcon(std::uint32_t action, const NotifyIconData& data);

// The tray icon as the window uses it: its constructor adds the icon (id 1,
// callback message 0x800 to a hidden top-level window of its own, so that the
// "TaskbarCreated" broadcast reaches it), its destructor removes it, and it
// adds itself again when the taskbar is re-created. Mouse rules:
// - left button down then up: onClick at the button-up;
// - right button down: the owner window comes to the foreground, the menu
//   opens at the cursor, WM_NULL is posted to the owner afterwards so the
//   menu closes normally, and a chosen command goes to onCommand;
// - double click (left): the menu's default item, if any, goes to onCommand.
// Creating thread only; its messages are handled by that thread's loop. The
// events run inside the icon's own message handling and must not destroy it.
class TrayIcon {
 public:
  static constexpr std::uint32_t kIconId = 1;
  static constexpr std::uint32_t kCallbackMessage = 0x800;

  struct Events {
    std::function<void()> onClick;
    std::function<void(std::uint32_t commandId)> onCommand;
    // Called before the menu opens so the owner can fill it.
    std::function<void(PopupMenu&)> onPrepareMenu;
    // Replaces the default-item rule of a double click when set.
    std::function<void()> onDoubleClick;
  };

  TrayIcon(RawHandle icon, Events events, std::string tip = {});
  ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Adds the icon again (after "TaskbarCreated"); false when the shell refused.
  bool Add();
  [[nodiscard]] bool added() const { return added_; }
  [[nodiscard]] WindowHandle ownerWindow() const { return window_ ? window_->handle() : nullptr; }
  PopupMenu& menu() { return menu_; }

 private:
  class Handler;
  void Remove();
  void OnCallback(std::uintptr_t id, std::intptr_t mouseMessage);
  void OpenMenu();

  RawHandle icon_;
  Events events_;
  std::string tip_;
  PopupMenu menu_;
  std::unique_ptr<Handler> handler_;
  std::unique_ptr<Window> window_;
  std::uint32_t taskbarCreated_ = 0;
  bool leftDown_ = false;
  bool added_ = false;
};

}  // namespace pw::platform
