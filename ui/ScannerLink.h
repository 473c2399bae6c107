#pragma once
// The main window's way into the drive walk and the scanner poll, which live in
// scanner/ (scanner::DrivePoll). A window given no link uses that one; tests
// may give it their own.
#include "scanner/ScannerRequestKind.h"

namespace pw::ui {

class TMainForm;

class ScannerLink {
 public:
  virtual ~ScannerLink() = default;
  // Walks the drives and attaches a scanner that is found.
  virtual void ScanDrives(TMainForm& form) = 0;
  // Runs one exchange of the given kind with the attached scanner.
  virtual void PollScanner(TMainForm& form, scanner::ScannerRequestKind kind) = 0;
};

}  // namespace pw::ui
