#pragma once
// What the drive walk and the poll need from the application: the
// process-wide scanner values, the save type on the page, the main window,
// the scratch file and everything a pull needs. The main window implements
// it. Service thread only.
#include <cstdint>
#include <string>

#include "scanner/PullHost.h"
#include "scanner/ScannerRequestKind.h"
#include "scanner/ScannerState.h"
#include "scanner/UserNotifier.h"

namespace pw::scanner {

class PollHost {
 public:
  virtual ~PollHost() = default;

  virtual ScannerState& Scanner() = 0;
  // The save type selected on the page (applied or not), -1 for none.
  virtual int SelectedSaveType() const = 0;
  virtual void SetSaveMode(std::uint32_t mode) = 0;
  // A scanner was recognised: the main window is shown, Apply enabled.
  virtual void ShowForScanner() = 0;
  // The scratch file a pull without room wrote; the poll deletes it.
  virtual std::string FallbackImagePath() const = 0;
  virtual PullHost& Pull() = 0;
  virtual UserNotifier& Notifier() = 0;
};

// The window's way into the drive walk and the poll (DrivePoll in the
// program; tests may give the window another one).
class ScannerLink {
 public:
  virtual ~ScannerLink() = default;
  // Walks the drives and attaches a scanner that is found.
  virtual void ScanDrives(PollHost& host) = 0;
  // Runs one exchange of the given kind with the attached scanner.
  virtual void PollScanner(PollHost& host, ScannerRequestKind kind) = 0;
};

}  // namespace pw::scanner
