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

}  // namespace pw::platform
