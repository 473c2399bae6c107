#pragma once
// Tells the user about pulled images on the desktop of the process that owns
// the main window: the disk-full message box, owned by the window, and the
// image folder in the file explorer.
#include <cstdint>
#include <span>
#include <string>

#include "platform/ThreadChecker.h"
#include "scanner/UserNotifier.h"

namespace pw::ui {

class TMainForm;

// Message box of the disk-full notice: MB_OK | MB_ICONINFORMATION | MB_SYSTEMMODAL.
inline constexpr std::uint32_t kDiskFullMessageStyle = 0x1040;
inline constexpr const char* kExploreVerb = "explore";

// Window's thread only (checked): the boxes are owned by the window, and the
// polls that look at the open box run inside its modal loop.
class DesktopNotifier final : public scanner::UserNotifier {
 public:
  explicit DesktopNotifier(const TMainForm& form) : form_(form) {}

  // The box with texts 40000 and 10010, owned by the window; while one box is
  // open (polls go on inside it) a further notice shows no second.
  void TellDiskFull() override;
  // ShellExecute "explore" on the folder, owned by the window, unless a
  // top-level window carries one of the titles.
  void ShowFolder(const std::string& folder, std::span<const std::string> titles) override;
  // The box with text 40002 (its %s the kept file), as the disk-full box.
  void TellPictureIncomplete(const std::string& keptPath) override;
  // The box with text 40003 (its %s the save location), as the disk-full box.
  void TellCannotSave(const std::string& location) override;
  // The box with text 40021 (its %s the default location), as the disk-full
  // box. (The window writes the event log's entry.)
  void TellSwitchedToDefault(const std::string& chosen, const std::string& defaultFolder) override;
  // Shows the window and brings it to the front.
  void ShowPage() override;
  bool DiskFullBoxOpen() const override;

 private:
  // A box owned by the window, unless a window with the caption is open;
  // holdsPulls marks it as the disk-full box while it is open.
  void ShowBox(const std::string& message, bool holdsPulls);

  const TMainForm& form_;
  bool diskFullBoxOpen_ = false;
  [[no_unique_address]] platform::ThreadChecker thread_{"DesktopNotifier"};
};

}  // namespace pw::ui
