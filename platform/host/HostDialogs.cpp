#include "platform/Dialogs.h"

#include "platform/hostworld/Desktop.h"
#include "platform/hostworld/World.h"

namespace pw::platform {

int MessageBoxEx(WindowHandle owner, std::string_view text, std::string_view caption, std::uint32_t style,
                 std::uint16_t languageId) {
  return hostworld::World::Current().Desktop().RunMessageBox(owner, text, caption, style, languageId);
}

void CloseOwnedDialogs(WindowHandle owner) { hostworld::World::Current().Desktop().CloseOwnedDialogs(owner); }

}  // namespace pw::platform
