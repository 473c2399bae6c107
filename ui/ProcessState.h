#pragma once
// Values shared by the main window and the drive poll for the life of the
// process: the scanner's (owned by scanner/) and the main window reference.
// One instance is owned by the service host; tests make their own.
#include "scanner/ScannerState.h"

namespace pw::ui {

class TMainForm;

struct ProcessState : scanner::ScannerState {
  // The one main window, or nullptr.
  TMainForm* MainForm = nullptr;
};

}  // namespace pw::ui
