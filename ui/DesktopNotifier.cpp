#include "ui/DesktopNotifier.h"

#include <optional>

#include "platform/Dialogs.h"
#include "platform/ScopeExit.h"
#include "platform/Shell.h"
#include "platform/Windows.h"
#include "ui/MainForm.h"

namespace pw::ui {

namespace {

// The text with its first "%s" replaced by the value.
std::string WithValue(std::string text, const std::string& value) {
  const std::size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, value);
  return text;
}

}  // namespace

void DesktopNotifier::ShowBox(const std::string& message, bool holdsPulls) {
  const std::string caption = form_.LoadText(text::kMessageCaption);
  if (platform::IsWindow(platform::FindWindow(std::nullopt, caption))) return;
  // Ticks go on inside the box; while it is the disk-full box, the pull
  // looks here and starts no image.
  const bool held = diskFullBoxOpen_;
  if (holdsPulls) diskFullBoxOpen_ = true;
  ScopeExit closed([this, held] { diskFullBoxOpen_ = held; });
  (void)platform::MessageBoxEx(form_.Handle(), message, caption, kDiskFullMessageStyle, 0);
}

void DesktopNotifier::TellDiskFull() {
  thread_.Check();
  ShowBox(form_.LoadText(text::kDiskFullMessage), true);
}

void DesktopNotifier::TellPictureIncomplete(const std::string& keptPath) {
  thread_.Check();
  ShowBox(WithValue(form_.LoadText(text::kPictureIncompleteMessage), keptPath), false);
}

bool DesktopNotifier::DiskFullBoxOpen() const {
  thread_.Check();
  return diskFullBoxOpen_;
}

void DesktopNotifier::ShowPage() {
  thread_.Check();
  if (form_.Handle() != nullptr) platform::ShowAndBringToFront(form_.Handle());
}

void DesktopNotifier::TellCannotSave(const std::string& location) {
  thread_.Check();
  ShowBox(WithValue(form_.LoadText(text::kCannotSaveMessage), location), false);
}

void DesktopNotifier::TellSwitchedToDefault(const std::string&, const std::string& defaultFolder) {
  thread_.Check();
  ShowBox(WithValue(form_.LoadText(text::kSwitchedToDefaultMessage), defaultFolder), false);
}

void DesktopNotifier::ShowFolder(const std::string& folder, std::span<const std::string> titles) {
  thread_.Check();
  // An explorer window already showing the folder is titled with its bare
  // name or with its full path. Every title is looked up before deciding.
  bool shown = false;
  for (const std::string& title : titles) {
    if (platform::IsWindow(platform::FindWindow(std::nullopt, title))) shown = true;
  }
  if (!shown) (void)platform::ShellExecute(form_.Handle(), kExploreVerb, folder, "", "", platform::kSwShow);
}

}  // namespace pw::ui
