#include "platform/NotifyIcon.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/IcoFile.h"
#include "platform/SystemInfo.h"
#include "platform/win32/Win32Ui.h"

namespace pw::platform {

void IconTraits::Close(RawHandle icon) noexcept { ::DestroyIcon(static_cast<HICON>(icon)); }

IconHandle CreateIconFromIco(std::span<const std::byte> ico, int size) {
  std::optional<IcoImage> image = FindIcoImage(ico, size);
  if (!image) return {};
  // CreateIconFromResourceEx wants a writable pointer but does not write.
  auto* bits = reinterpret_cast<PBYTE>(const_cast<std::byte*>(image->data.data()));
  HICON icon = ::CreateIconFromResourceEx(bits, static_cast<DWORD>(image->data.size()), TRUE, 0x00030000,
                                          image->width, image->height, LR_DEFAULTCOLOR);
  return IconHandle(icon);
}

int TrayIconSize() {
  // Windows 10 1607 and later give the metric for the system's DPI of a
  // DPI-aware process; before, GetSystemMetrics already follows it.
  using DpiForSystemFunction = UINT(WINAPI*)();
  using MetricsForDpiFunction = int(WINAPI*)(int, UINT);
  HMODULE user32 = ::GetModuleHandleA("user32.dll");
  const auto dpiForSystem =
      reinterpret_cast<DpiForSystemFunction>(reinterpret_cast<void*>(::GetProcAddress(user32, "GetDpiForSystem")));
  const auto metricsForDpi = reinterpret_cast<MetricsForDpiFunction>(
      reinterpret_cast<void*>(::GetProcAddress(user32, "GetSystemMetricsForDpi")));
  if (dpiForSystem != nullptr && metricsForDpi != nullptr) return metricsForDpi(SM_CXSMICON, dpiForSystem());
  return ::GetSystemMetrics(SM_CXSMICON);
}

PopupMenu::PopupMenu() : menu_(::CreatePopupMenu()) {}

PopupMenu::~PopupMenu() {
  if (menu_ != nullptr) ::DestroyMenu(static_cast<HMENU>(menu_));
}

void PopupMenu::Append(std::uint32_t commandId, std::string_view text) {
  std::string value(text);
  ::AppendMenuA(static_cast<HMENU>(menu_), MF_STRING, commandId, value.c_str());
  items_.push_back({commandId, std::move(value)});
}

void PopupMenu::Clear() {
  HMENU menu = static_cast<HMENU>(menu_);
  while (::GetMenuItemCount(menu) > 0) ::DeleteMenu(menu, 0, MF_BYPOSITION);
  items_.clear();
  defaultItem_ = 0;
}

void PopupMenu::SetDefaultItem(std::uint32_t commandId) {
  ::SetMenuDefaultItem(static_cast<HMENU>(menu_), commandId == 0 ? static_cast<UINT>(-1) : commandId, FALSE);
  defaultItem_ = commandId;
}

std::uint32_t TrackPopupMenu(const PopupMenu& menu, Point at, WindowHandle owner) {
  BOOL command = ::TrackPopupMenu(static_cast<HMENU>(menu.handle()), TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0,
                                  static_cast<HWND>(owner), nullptr);
  return command > 0 ? static_cast<std::uint32_t>(command) : 0;
}

namespace {

// Copies the text into the record's field, cut to the field, zero-terminated.
template <std::size_t N>
void CopyText(char (&field)[N], const std::string& text) {
  const std::size_t length = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), length);
  field[length] = '\0';
}

bool WindowsVistaOrLater() {
  OsVersionInfo version;
  version.size = kOsVersionInfoSize;
  return GetVersionEx(version) && version.majorVersion >= 6;
}

}  // namespace

bool ShellNotifyIcon(std::uint32_t action, const NotifyIconData& data) {
  NOTIFYICONDATAA nid{};
  if (!WindowsVistaOrLater()) {
    // The first layout of the record, which every shell accepts; it has no
    // notification, identity or version.
    if (action == nim::kSetVersion || (data.flags & (nif::kInfo | nif::kGuid)) != 0) return false;
    nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
  } else {
    nid.cbSize = sizeof nid;
  }
  nid.hWnd = static_cast<HWND>(data.window);
  nid.uID = data.id;
  nid.uFlags = data.flags;
  nid.uCallbackMessage = data.callbackMessage;
  nid.hIcon = static_cast<HICON>(data.icon);
  if (nid.cbSize == NOTIFYICONDATAA_V1_SIZE) {
    const std::size_t tipLength = std::min(data.tip.size(), std::size_t{63});
    std::memcpy(nid.szTip, data.tip.data(), tipLength);
    nid.szTip[tipLength] = '\0';
    return ::Shell_NotifyIconA(action, &nid) != FALSE;
  }
  CopyText(nid.szTip, data.tip);
  CopyText(nid.szInfo, data.info);
  CopyText(nid.szInfoTitle, data.infoTitle);
  nid.dwInfoFlags = data.infoFlags;
  if (action == nim::kSetVersion) nid.uVersion = data.version;
  nid.guidItem.Data1 = data.guid.data1;
  nid.guidItem.Data2 = data.guid.data2;
  nid.guidItem.Data3 = data.guid.data3;
  std::memcpy(nid.guidItem.Data4, data.guid.data4.data(), sizeof nid.guidItem.Data4);
  return ::Shell_NotifyIconA(action, &nid) != FALSE;
}

}  // namespace pw::platform
