#pragma once
// How the scanner link tells the user about a pulled image. In the service
// process the main window does it on its own desktop; a process in the user's
// session may do it instead. Service thread only; both calls may run a modal
// loop that keeps dispatching the thread's messages.
#include <span>
#include <string>

namespace pw::scanner {

class UserNotifier {
 public:
  virtual ~UserNotifier() = default;
  // The image went to the scratch file because the disk was full: the
  // message box, unless one is open already.
  virtual void TellDiskFull() = 0;
  // Opens the folder in the file explorer, unless a top-level window titled
  // with one of the titles (the folder's name, its full path) shows it.
  virtual void ShowFolder(const std::string& folder, std::span<const std::string> titles) = 0;
  // A picture did not arrive whole: what arrived is kept at keptPath, and the
  // picture stays on the scanner. A box, unless one is open already.
  virtual void TellPictureIncomplete(const std::string& keptPath) = 0;
  // No fresh image name could be had below the save location: the picture
  // stays on the scanner. A box, unless one is open already.
  virtual void TellCannotSave(const std::string& location) = 0;
  // No image folder could be made below the chosen save location, so
  // pictures go to the default location from now on: where and why. Once per
  // switch (the window also writes it to the event log). A box, unless one is
  // open already.
  virtual void TellSwitchedToDefault(const std::string& chosen, const std::string& defaultFolder) = 0;
  // A scanner was found: the settings page comes up, so the user can choose
  // where its pictures go.
  virtual void ShowPage() = 0;
  // The disk-full box is open. Polls go on inside it; no pull starts
  // meanwhile, so the box never stands for more than the one picture it
  // speaks of. (The other notices hold nothing back: a user away from the
  // computer must not stop the pulls by leaving one open.)
  virtual bool DiskFullBoxOpen() const = 0;
};

}  // namespace pw::scanner
