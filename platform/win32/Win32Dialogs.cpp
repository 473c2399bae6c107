#include "platform/Dialogs.h"

#include <string>

#include "platform/win32/Win32Ui.h"

namespace pw::platform {

int MessageBoxEx(WindowHandle owner, std::string_view text, std::string_view caption, std::uint32_t style,
                 std::uint16_t languageId) {
  std::string textValue(text);
  std::string captionValue(caption);
  return ::MessageBoxExA(static_cast<HWND>(owner), textValue.c_str(), captionValue.c_str(), style, languageId);
}

namespace {

BOOL CALLBACK CloseIfOwnedBy(HWND window, LPARAM owner) {
  if (::GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(owner)) (void)::PostMessageA(window, WM_CLOSE, 0, 0);
  return TRUE;
}

}  // namespace

void CloseOwnedDialogs(WindowHandle owner) {
  if (owner == nullptr) return;
  (void)::EnumThreadWindows(::GetCurrentThreadId(), CloseIfOwnedBy, reinterpret_cast<LPARAM>(owner));
}

}  // namespace pw::platform
