#include "service/Service.h"

#include "platform/Dialogs.h"

#include <exception>

#include "platform/DebugTrace.h"
#include "platform/FileSystem.h"
#include "platform/Messages.h"
#include "platform/Windows.h"
#include "resources/MainFormLayout.h"
#include "service/AgentHost.h"
#include "service/ServiceApplication.h"
#include "ui/MainForm.h"

namespace pw::service {

TService1::TService1(TServiceApplication& owner) : owner_(owner) {
  Name = "Service1";
  DisplayName = "Pagewick";
  ServiceType = TServiceType::stWin32;
  Interactive = true;
  StartType = TStartType::stAuto;
  ErrorSeverity = TErrorSeverity::esNormal;
  // An interactive service runs as LocalSystem: no account, no password.
  ServiceStartName.clear();
  Password.clear();
  LoadGroup.clear();
  TagID = 0;
  Dependencies.clear();
  WaitHint = 5000;
  AllowStop = true;
  AllowPause = true;
  sessionAgents_ = UsesSessionAgents();
  AllowSessionChange = sessionAgents_;
  VolumeEvents = sessionAgents_;

  OnCreate = [this](TService& sender) { ServiceCreate(sender); };
  OnStart = [this](TService& sender, bool& started) { ServiceStart(sender, started); };
  OnExecute = [this](TService& sender) { ServiceExecute(sender); };
  OnStop = [this](TService& sender, bool& stopped) { ServiceStop(sender, stopped); };
  OnShutdown = [this](TService& sender) { ServiceShutdown(sender); };
  OnPause = [this](TService& sender, bool& paused) { ServicePause(sender, paused); };
  OnContinue = [this](TService& sender, bool& continued) { ServiceContinue(sender, continued); };
  OnDeviceEvent = [this](TService& sender, std::uint32_t eventType) { ServiceDeviceEvent(sender, eventType); };
  OnSessionChange = [this](TService& sender, std::uint32_t eventType, std::uint32_t sessionId) {
    ServiceSessionChange(sender, eventType, sessionId);
  };
  // A pull in progress ends between two requests once a stop, shutdown or
  // pause waits, so the request is acted on within the wait hint.
  PendingInterrupts = &owner_.Process().InterruptPull;
  // A stop inside a box of the main window (a pull's notice nobody answers)
  // closes the box, so the stop is acted on at once.
  OnStopWaitsInModalLoop = [this] {
    if (const ui::TMainForm* form = owner_.Process().MainForm.Get()) platform::CloseOwnedDialogs(form->Handle());
  };
}

TService1::~TService1() = default;

void TService1::ServiceCreate(TService&) {
  // From Windows Vista on a desktop start reaches the service through its
  // session agent, not through the marker.
  if (sessionAgents_) return;
  ui::TMainForm* form = nullptr;
  try {
    form = &owner_.CreateMainForm();
  } catch (const std::exception&) {
    platform::TraceCurrentException("Show-window marker: creating the main window");
    return;  // no window, no marker
  }
  form->WriteShowWindowMarker();
  try {
    owner_.DestroyMainForm();
  } catch (const std::exception&) {
    platform::TraceCurrentException("Show-window marker: destroying the main window");
    // The process goes on without the transient window either way.
  }
}

void TService1::ServiceStart(TService&, bool&) {
  CheckServiceThread();
  if (sessionAgents_) {
    try {
      agents_ = std::make_unique<AgentHost>(owner_);
      // Without the pipe the service still pulls pictures; the users see nothing.
      agents_->Start().IgnoreFailure();
      (void)agents_->MainWindow(true);
    } catch (const std::exception&) {
      // The service runs without a main window; an agent's connection creates one.
    }
    return;
  }
  try {
    // A marker from before (this process's own ServiceCreate wrote one a
    // moment ago) must not make the service's own start show the window.
    if (platform::FileExists(ui::kShowWindowMarkerPath)) platform::DeleteFile(ui::kShowWindowMarkerPath).IgnoreFailure();
    ui::TMainForm& form = owner_.CreateMainForm();
    // Showing activates the window, which scans the drives and applies the
    // settings (starting the poll timer); hiding leaves the tray icon.
    form.Show();
    form.Hide();
  } catch (const std::exception&) {
    platform::TraceCurrentException("Creating the main window");
    // The service runs without a main window; the next marker creates one.
  }
}

void TService1::ShowMainWindow() {
  CheckServiceThread();
  ui::TMainForm* form = owner_.Process().MainForm.Get();
  // Only the window the service holds is ever acted on: a window of the same
  // class and caption while the service holds none (the transient window of
  // another start running its ServiceCreate) counts as not found.
  const bool found = platform::FindWindow(resources::layout::kWindowClass, resources::layout::kWindowTitle) != nullptr && form != nullptr;
  if (found) {
    form->Show();
    if (form->Handle() != nullptr) platform::UpdateWindow(form->Handle()).IgnoreFailure();
    return;
  }
  ui::TMainForm& created = owner_.CreateMainForm();
  created.Show();
  if (created.Handle() != nullptr) platform::UpdateWindow(created.Handle()).IgnoreFailure();
  created.Hide();
}

void TService1::ServiceExecute(TService& sender) {
  CheckServiceThread();
  try {
    while (sender.ServiceThread() != nullptr && !sender.ServiceThread()->Terminated()) {
      WaitForWork();
      // A directory of the marker's name is no marker.
      if (agents_) {
        agents_->Pump();
      } else if (!sessionAgents_ && platform::FileExists(ui::kShowWindowMarkerPath)) {
        ShowMainWindow();
        // A delete that fails (the writer holds the file this moment) leaves
        // the marker for the next pass.
        platform::DeleteFile(ui::kShowWindowMarkerPath).IgnoreFailure();
      }
      sender.ProcessRequests();
      // The top of the loop: a window that asked to go (Exit) is inside none
      // of its handlers here.
      owner_.DestroyReleasedForms();
    }
  } catch (const std::exception&) {
    platform::TraceCurrentException("Service message loop");
    // A failure ends the loop; the service then stops.
  }
}

void TService1::WaitForWork() const {
  if (!sessionAgents_) {
    // Before Windows Vista the show-window marker is looked for on every pass.
    platform::Sleep(kExecutePassMs);
    return;
  }
  // Every request reaches the thread's queue: the control manager's requests
  // and device events, the poll timer, the agents' messages and connections.
  // Only an agent that was told to end needs a look at the clock.
  // The agents' wake-up message may have been taken off the queue by this
  // pass's message processing after Pump looked: what it announced still waits.
  if (agents_ != nullptr && agents_->WorkWaiting()) return;
  const bool exitsPending = agents_ != nullptr && agents_->ExitsPending();
  (void)platform::WaitForInput(exitsPending ? kExecutePassMs : platform::kInfinite);
}

void TService1::ServiceStop(TService&, bool& stopped) {
  CheckServiceThread();
  stopped = true;
  try {
    if (agents_) agents_->Stop();
    owner_.DestroyMainForm();
  } catch (const std::exception&) {
    platform::TraceCurrentException("Service stop");
    // The service stops all the same.
  }
}

void TService1::ServiceShutdown(TService&) {
  CheckServiceThread();
  try {
    if (agents_) agents_->Stop();
    owner_.DestroyMainForm();
  } catch (const std::exception&) {
    platform::TraceCurrentException("Service shutdown");
    // The system goes down all the same.
  }
}

void TService1::ServiceSessionChange(TService&, std::uint32_t eventType, std::uint32_t sessionId) {
  CheckServiceThread();
  if (agents_) agents_->SessionChanged(eventType, sessionId);
}

void TService1::ServiceDeviceEvent(TService&, std::uint32_t eventType) {
  CheckServiceThread();
  owner_.Process().PlainFieldsThread.Check();
  // As the window's device broadcasts: the rescan waits for the next poll.
  if (eventType == platform::kDbtDeviceArrival) {
    owner_.Process().PendingDeviceEvent = 1;
  } else if (eventType == platform::kDbtDeviceRemoveComplete) {
    owner_.Process().PendingDeviceEvent = 2;
  }
}

void TService1::ServicePause(TService&, bool& paused) {
  CheckServiceThread();
  paused = true;
}

void TService1::ServiceContinue(TService&, bool& continued) {
  CheckServiceThread();
  continued = true;
}

}  // namespace pw::service
