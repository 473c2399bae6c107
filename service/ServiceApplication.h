#pragma once
// TServiceApplication: the service host, one per process. It owns the service
// object and every main window the service creates, decides from the command
// line whether the process installs, uninstalls or runs the service, and
// holds the application event logger (source: the executable's file name).
// TServiceStartThread: the dispatcher thread of a service run.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/ServiceControl.h"
#include "platform/ThreadChecker.h"
#include "platform/Windows.h"
#include "service/EventLogger.h"
#include "service/Installation.h"
#include "ui/FormOwner.h"
#include "ui/ProcessState.h"
#include "ui/WindowPresence.h"

namespace pw::scanner {
class ScannerLink;
}  // namespace pw::scanner

namespace pw::service {

class TService1;

// Calls StartServiceCtrlDispatcherA with the table on a thread of its own and
// keeps the call's outcome; its last act, whatever the outcome, is lastAct.
class TServiceStartThread {
 public:
  TServiceStartThread(std::vector<platform::ServiceTableEntry> table, std::function<void()> lastAct);
  ~TServiceStartThread();  // waits for the thread to end
  TServiceStartThread(const TServiceStartThread&) = delete;
  TServiceStartThread& operator=(const TServiceStartThread&) = delete;

  bool Finished() const noexcept { return finished_.load(); }
  // 0, or the error code of the failed dispatcher call; meaningful once Finished.
  platform::ErrorCode ReturnValue() const noexcept { return returnValue_.load(); }

 private:
  std::atomic<bool> finished_{false};
  std::atomic<platform::ErrorCode> returnValue_{0};
  std::thread thread_;
};

// Threads: the main thread builds the object and runs it (checked). The main
// windows change thread after the start: the main thread builds ServiceCreate's
// transient one, then each service run's thread builds its own and lets them go
// as it ends; the window calls check that one thread at a time has them.
class TServiceApplication final : public ui::FormOwner {
 public:
  // Initialises the application object: its hidden window, on the calling
  // (main) thread. Main windows get the scanner link (may be null).
  explicit TServiceApplication(scanner::ScannerLink* scannerLink);
  // Destroys what is still alive: main windows, the service object, the window.
  ~TServiceApplication() override;
  TServiceApplication(const TServiceApplication&) = delete;
  TServiceApplication& operator=(const TServiceApplication&) = delete;

  // Creates the service object from its stored definition, which runs its
  // creation handler (ServiceCreate). Main thread.
  TService1& CreateService1();
  TService1* Service() const { return service_.get(); }

  // Installs, uninstalls or runs the service as the arguments (those after
  // the program's name) say. Throws OsError when the control manager cannot
  // be opened for an install or uninstall. Returns the process's exit code:
  // 0, or for a failed install or uninstall its error code (the Windows one,
  // or kProgramFolderRefused). Main thread.
  int Run(std::span<const std::string> arguments);

  ui::ProcessState& Process() { return process_; }
  TEventLogger& EventLogger() { return eventLogger_; }
  platform::WindowHandle Handle() const { return window_ ? window_->handle() : nullptr; }

  // --- Main windows, all owned here.
  // Builds a main window on the calling thread, sets MainForm to it and runs
  // its start-up sequence. Throws OsError with the system's error when the
  // window cannot be built.
  ui::TMainForm& CreateMainForm(ui::WindowPresence presence = ui::WindowPresence::OnDesktop);
  // Destroys the window that MainForm names and clears the reference. The
  // calling thread is the one that created it.
  void DestroyMainForm();
  // Destroys every main window the calling thread created: a thread's windows
  // end with the thread.
  void DestroyMainFormsOfThisThread();
  std::size_t MainFormCount() const;
  // A main window asks to go (Exit): it is marked, and destroyed by the next
  // DestroyReleasedForms on its thread. Window's thread only.
  void ReleaseForm(ui::TMainForm& form) override;
  // A main window's entry for administrators goes to the event log.
  void RecordEvent(const std::string& text) override;
  // Destroys the calling thread's main windows that asked to go. Called from
  // the top of the thread's loop, where none of their handlers is running.
  void DestroyReleasedForms();

 private:
  class AppWindow;
  struct OwnedForm {
    std::unique_ptr<ui::TMainForm> form;
    std::thread::id thread;
    bool released = false;
  };

  void RunAsService();
  // Runs this start as the session agent of its session (Windows Vista and
  // later). A desktop start shows the page of an agent already running in
  // the session instead, or becomes the agent and shows its page.
  // A desktop start that finds no service running tells the user so: not
  // installed, stopped (it is started when the user may), or silent.
  void RunAgent(bool desktopStart);
  enum class OwnService { NotInstalled, Stopped, Running };
  // What the control manager says of this program's service; Running when
  // it cannot tell (the pipe decides then).
  OwnService OwnServiceState() const;
  // StartService with the user's own rights; false when refused or failed.
  bool StartOwnService() const;
  // The service main entry of the dispatcher's table.
  void ServiceMain(const std::vector<std::string>& arguments);
  std::unique_ptr<ui::TMainForm> TakeForm(const ui::TMainForm* form);

  // First among the members: two empty members of one type need no byte of
  // their own only there (platform/ThreadChecker.h).
  [[no_unique_address]] platform::ThreadChecker mainThread_{"TServiceApplication's main thread"};
  [[no_unique_address]] platform::ThreadChecker windowThread_{"TServiceApplication's main windows"};
  scanner::ScannerLink* scannerLink_;
  ui::ProcessState process_;
  TEventLogger eventLogger_;
  std::unique_ptr<AppWindow> windowHandler_;
  std::unique_ptr<platform::Window> window_;
  mutable std::mutex formsMutex_;
  std::vector<OwnedForm> forms_;
  std::unique_ptr<TService1> service_;
};

// How long a desktop start that started the service waits for its pipe.
inline constexpr std::uint32_t kServiceStartWaitMs = 30000;

}  // namespace pw::service
