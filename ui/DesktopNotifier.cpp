#include "ui/DesktopNotifier.h"

#include <optional>

#include "platform/Dialogs.h"
#include "platform/Shell.h"
#include "platform/Windows.h"
#include "ui/MainForm.h"

namespace pw::ui {

void DesktopNotifier::TellDiskFull() {
  const std::string message = form_.LoadText(text::kDiskFullMessage);
  const std::string caption = form_.LoadText(text::kMessageCaption);
  if (platform::IsWindow(platform::FindWindow(std::nullopt, caption))) return;
  (void)platform::MessageBoxEx(form_.Handle(), message, caption, kDiskFullMessageStyle, 0);
}

void DesktopNotifier::ShowFolder(const std::string& folder, std::span<const std::string> titles) {
  // An explorer window already showing the folder is titled with its bare
  // name or with its full path. Every title is looked up before deciding.
  bool shown = false;
  for (const std::string& title : titles) {
    if (platform::IsWindow(platform::FindWindow(std::nullopt, title))) shown = true;
  }
  if (!shown) (void)platform::ShellExecute(form_.Handle(), kExploreVerb, folder, "", "", platform::kSwShow);
}

}  // namespace pw::ui
