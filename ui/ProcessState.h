#pragma once
// Values shared by the main window and the drive poll for the life of the
// process: the scanner's (owned by scanner/) and the main window reference.
// One instance is owned by the service host; tests make their own.
#include <atomic>

#include "platform/ThreadChecker.h"
#include "scanner/ScannerState.h"

namespace pw::ui {

class TMainForm;

// The reference to the one main window. The window's thread writes it: it
// names the window it built and clears it as the window goes. The service
// hands it over between threads this way: its main thread builds and ends
// the transient window of ServiceCreate, then each run's service thread
// builds its own. A write while another thread's window is named breaks
// that rule (checked). Read on any thread; what it names belongs to the
// window's thread.
class MainFormRef {
 public:
  MainFormRef() noexcept { writer_.DetachFromThread(); }
  MainFormRef(const MainFormRef&) = delete;
  MainFormRef& operator=(const MainFormRef&) = delete;

  TMainForm* Get() const noexcept { return form_.load(std::memory_order_acquire); }
  // Names a window, or none (which lets another thread name the next one).
  void Set(TMainForm* form) noexcept {
    writer_.Check();
    form_.store(form, std::memory_order_release);
    if (form == nullptr) writer_.DetachFromThread();
  }
  // Clears the reference when it names `form`.
  void ClearIf(const TMainForm* form) noexcept {
    if (form != nullptr && Get() == form) Set(nullptr);
  }

 private:
  std::atomic<TMainForm*> form_{nullptr};
  [[no_unique_address]] platform::ThreadChecker writer_{"ProcessState::MainForm's writer"};
};

struct ProcessState : scanner::ScannerState {
  MainFormRef MainForm;
};

}  // namespace pw::ui
