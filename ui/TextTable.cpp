#include "ui/TextTable.h"

#include "platform/Dialogs.h"
#include "platform/PathText.h"
#include "platform/Profile.h"
#include "platform/SystemInfo.h"
#include "ui/MainForm.h"

namespace pw::ui {

std::string LoadTableText(std::int32_t id) {
  const std::string table = platform::ExtractFilePath(platform::GetModuleFileName()) + kTextTableFileName;
  return platform::ReadProfileString(kTextTableSection, std::to_string(id), "", table).text;
}

std::string WithInserts(std::string text, std::uint32_t count, const std::string& value) {
  if (const std::size_t at = text.find("%u"); at != std::string::npos) text.replace(at, 2, std::to_string(count));
  if (const std::size_t at = text.find("%s"); at != std::string::npos) text.replace(at, 2, value);
  return text;
}

void ShowTableMessage(platform::WindowHandle owner, std::int32_t id, std::uint32_t icon) {
  (void)platform::MessageBoxEx(owner, LoadTableText(id), LoadTableText(text::kMessageCaption),
                               platform::mb::kOk | icon, 0);
}

}  // namespace pw::ui
