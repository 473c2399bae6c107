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
};

}  // namespace pw::scanner
