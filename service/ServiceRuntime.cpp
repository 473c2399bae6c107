#include "service/ServiceRuntime.h"

#include <exception>
#include <stdexcept>
#include <thread>
#include <utility>

#include "platform/DebugTrace.h"
#include "platform/ErrorSink.h"
#include "platform/ScopeExit.h"
#include "platform/Sessions.h"
#include "platform/Windows.h"
#include "service/OsError.h"

namespace pw::service {
namespace {

namespace control = platform::service_control;
namespace accept = platform::service_accept;

// Requests that long work on the service thread should make way for.
bool IsInterruptingControl(std::uint32_t code) {
  return code == control::kStop || code == control::kShutdown || code == control::kPause;
}

// The word of an entry "Service failed on %s: %s" for codes 1 to 5.
const char* ActionWord(std::uint32_t code) {
  switch (code) {
    case control::kStop: return "stop";
    case control::kPause: return "pause";
    case control::kContinue: return "continue";
    case control::kInterrogate: return "interrogate";
    case control::kShutdown: return "shutdown";
    default: return nullptr;
  }
}

bool IsPending(ServiceState status) {
  return status == ServiceState::StartPending || status == ServiceState::StopPending ||
         status == ServiceState::ContinuePending || status == ServiceState::PausePending;
}

}  // namespace

// --- TServiceThread

class TServiceThread::Runner {
 public:
  std::thread thread;
};

TServiceThread::TServiceThread(TService& service) : service_(&service), runner_(std::make_unique<Runner>()) {}

TServiceThread::~TServiceThread() { WaitFor(); }

void TServiceThread::Start() {
  if (runner_->thread.joinable()) return;
  runner_->thread = std::thread([this] { service_->RunServiceThread(*this); });
}

void TServiceThread::WaitFor() {
  if (runner_->thread.joinable() && runner_->thread.get_id() != std::this_thread::get_id()) runner_->thread.join();
}

// --- The hidden window that takes control requests on the service thread

class TService::ControlWindow final : public platform::WindowHandler {
 public:
  explicit ControlWindow(TService& service) : service_(service) {
    const platform::Result<void> registered = platform::RegisterWindowClass(kControlWindowClass);
    if (!registered) throw OsError(registered.error());
    platform::WindowParams details;
    details.className = kControlWindowClass;
    details.title = "Service1 control";
    details.style = platform::style::kPopup;
    platform::Result<std::unique_ptr<platform::Window>> window = platform::Window::Create(details, *this);
    if (!window) throw OsError(window.error());
    window_ = std::move(window).value();
  }

  platform::WindowHandle Handle() const { return window_->handle(); }

  // Reached only through a loop other than ProcessRequests (a modal loop):
  // the request is kept for the next ProcessRequests.
  std::optional<std::intptr_t> HandleMessage(platform::WindowHandle, std::uint32_t message, std::uintptr_t wParam,
                                             std::intptr_t) override {
    service_.CheckServiceThread();
    if (message != kControlMessage) return std::nullopt;
    const auto code = static_cast<std::uint32_t>(wParam);
    service_.deferredControls_.push_back(code);
    if ((code == control::kStop || code == control::kShutdown) && service_.OnStopWaitsInModalLoop) {
      service_.OnStopWaitsInModalLoop();
    }
    return 0;
  }

 private:
  TService& service_;
  std::unique_ptr<platform::Window> window_;
};

// --- TService

TService::TService() {
  // Built on the main thread; each run's service thread takes it over.
  serviceThread_.DetachFromThread();
}

TService::~TService() {
  // A service thread still running here belongs to a process that is ending;
  // it is waited for so that it never outlives the object.
  thread_.reset();
}

std::uint32_t TService::NTServiceType() const {
  std::uint32_t type = 0;
  switch (ServiceType) {
    case TServiceType::stWin32: type = platform::service_type::kOwnProcess; break;
    case TServiceType::stDevice: type = 0x1; break;      // SERVICE_KERNEL_DRIVER
    case TServiceType::stFileSystem: type = 0x2; break;  // SERVICE_FILE_SYSTEM_DRIVER
  }
  if (Interactive && ServiceType == TServiceType::stWin32) type |= platform::service_type::kInteractiveProcess;
  return type;
}

std::uint32_t TService::NTStartType() const { return static_cast<std::uint32_t>(StartType); }

std::uint32_t TService::NTErrorSeverity() const { return static_cast<std::uint32_t>(ErrorSeverity); }

void TService::DoCreate() {
  if (OnCreate) OnCreate(*this);
}

void TService::LogMessage(const std::string& message) {
  TEventLogger* logger = nullptr;
  {
    platform::MutexLock lock(loggerMutex_);
    if (!eventLogger_) eventLogger_ = std::make_unique<TEventLogger>(Name);
    logger = eventLogger_.get();
  }
  logger->LogMessage(message);
}

void TService::Main(const std::vector<std::string>& arguments) {
  params_.insert(params_.end(), arguments.begin(), arguments.end());
  const platform::Result<platform::ServiceStatusHandle> registered =
      AllowSessionChange || VolumeEvents
          ? platform::RegisterServiceCtrlHandlerEx(Name, [this](const platform::ServiceControlEvent& event) { ControllerEx(event); })
          : platform::RegisterServiceCtrlHandler(Name, [this](std::uint32_t code) { Controller(code); });
  if (!registered) {
    LogMessage(SystemMessage(registered.error()));
    return;
  }
  statusHandle_ = *registered;
  if (VolumeEvents) {
    platform::Result<platform::DeviceNotification> volumes = platform::RegisterServiceVolumeNotification(statusHandle_);
    // Without it a scanner is still found through the drive walk of each poll.
    if (!volumes) LogMessage(SystemMessage(volumes.error()));
    volumeNotification_ = volumes ? std::move(volumes).value() : platform::DeviceNotification{};
  }
  try {
    SetStatus(ServiceState::StartPending);
    thread_ = std::make_unique<TServiceThread>(*this);
    thread_->Start();
    thread_->WaitFor();
  } catch (...) {
    LogMessage("Service failed on execute: " + CurrentExceptionMessage());
  }
  // The thread has ended: its object goes.
  thread_.reset();
  SetStatus(ServiceState::Stopped);
}

void TService::ControllerEx(const platform::ServiceControlEvent& event) {
  if (event.control == platform::session_change::kControl || event.control == platform::device_event::kControl) {
    platform::MutexLock lock(controlEventsMutex_);
    controlEvents_.push_back(event);
  }
  Controller(event.control);
}

void TService::Controller(std::uint32_t code) {
  // Counted before it is posted, so that a thread about to pause itself sees
  // that a request is on its way.
  {
    platform::MutexLock lock(suspendMutex_);
    pendingControls_.fetch_add(1);
  }
  const bool interrupting = IsInterruptingControl(code) && PendingInterrupts != nullptr;
  if (interrupting) PendingInterrupts->fetch_add(1);
  bool posted = false;
  if (platform::WindowHandle window = controlWindowHandle_.load()) {
    posted = platform::PostMessage(window, kControlMessage, code, 0).ok();
  }
  if (!posted) {
    if (platform::ThreadId thread = serviceThreadId_.load()) {
      posted = platform::PostThreadMessage(thread, kControlMessage, code, 0).ok();
    }
  }
  if (!posted) {
    pendingControls_.fetch_sub(1);
    if (interrupting) PendingInterrupts->fetch_sub(1);
    return;
  }
  // A device request the service thread waits in (a scanner that does not
  // answer holds each one for its time-out) ends at once, so that the thread
  // comes to the request within the wait hint. The thread looks at the count
  // above before each request, and sends no more in that poll.
  if (interrupting) {
    platform::MutexLock lock(threadHandleMutex_);
    if (serviceThreadHandle_) (void)platform::CancelSynchronousIo(serviceThreadHandle_);
  }
  // A paused service thread takes the request once it runs again. A thread
  // that decided to suspend itself before the request was counted does so
  // even if it has not got there yet; the one resume it needs waits for it.
  bool resume = false;
  {
    platform::MutexLock lock(suspendMutex_);
    resume = std::exchange(suspendDecided_, false);
  }
  if (!resume) return;
  platform::MutexLock lock(threadHandleMutex_);
  if (serviceThreadHandle_) (void)platform::ResumeThreadOnceSuspended(serviceThreadHandle_);
}

void TService::SuspendWhilePaused() {
  serviceThread_.Check();
  const platform::ThreadHandle* handle = nullptr;
  {
    platform::MutexLock lock(threadHandleMutex_);
    if (serviceThreadHandle_) handle = &serviceThreadHandle_;
  }
  if (handle == nullptr) return;
  // Frozen until a request arrives; one that only asks (interrogate, a code
  // of the service's own) is answered and the thread freezes again. A thread
  // marked terminated never freezes: its accepted stop must finish.
  for (;;) {
    {
      // Decided under the lock that counts requests: either a request counted
      // before this sees it, or the control handler that counts one after it
      // finds the decision and resumes the thread once it is suspended.
      platform::MutexLock lock(suspendMutex_);
      if (status_ != ServiceState::Paused || pendingControls_.load() != 0 || TerminatedNow()) return;
      suspendDecided_ = true;
    }
    // Cannot fail: the handle names this thread.
    (void)platform::SuspendThread(*handle);
  }
}

void TService::RunServiceThread(TServiceThread& thread) {
  // This run's thread becomes the owner; the last run's let go as it ended.
  serviceThread_.Check();
  platform::NameCurrentThread(kServiceThreadName);
  platform::EnsureMessageQueue();
  {
    platform::MutexLock lock(threadHandleMutex_);
    serviceThreadHandle_ = platform::OpenCurrentThread();
  }
  serviceThreadId_.store(platform::GetCurrentThreadId());
  try {
    controlWindow_ = std::make_unique<ControlWindow>(*this);
    controlWindowHandle_.store(controlWindow_->Handle());
  } catch (...) {
    platform::TraceCurrentException("Service control window");
    // Without the window, requests come as thread messages (lost only while
    // a modal loop runs).
    controlWindow_.reset();
  }
  ScopeExit cleanup([this] {
    if (OnServiceThreadEnd) {
      try {
        OnServiceThreadEnd();
      } catch (...) {
        platform::ReportCurrentException();
      }
    }
    controlWindowHandle_.store(nullptr);
    controlWindow_.reset();
    deferredControls_.clear();
    serviceThreadId_.store(0);
    pendingControls_.store(0);
    {
      platform::MutexLock lock(threadHandleMutex_);
      serviceThreadHandle_.reset();
    }
    serviceThread_.DetachFromThread();
  });

  try {
    SetStatus(ServiceState::StartPending);
    bool started = true;
    if (OnStart) OnStart(*this, started);
    if (!started) return;
  } catch (...) {
    LogMessage("Service failed on start: " + CurrentExceptionMessage());
    return;
  }
  try {
    SetStatus(ServiceState::Running);
    if (OnExecute) {
      OnExecute(*this);
    } else {
      // Without an execute handler the thread only serves requests.
      while (!thread.Terminated()) {
        ProcessRequests();
        if (!thread.Terminated()) platform::Sleep(100);
      }
    }
    ProcessRequests();
  } catch (...) {
    LogMessage("Service failed on execute: " + CurrentExceptionMessage());
  }
}

void TService::ProcessRequests() {
  serviceThread_.Check();
  for (;;) {
    if (!deferredControls_.empty()) {
      const std::uint32_t code = deferredControls_.front();
      deferredControls_.pop_front();
      DoControl(code);
      SuspendWhilePaused();
      continue;
    }
    std::optional<platform::Message> message = platform::PeekMessage();
    if (!message) return;
    const platform::WindowHandle controlWindow = controlWindowHandle_.load();
    if (message->message == kControlMessage && (message->window == nullptr || message->window == controlWindow)) {
      DoControl(static_cast<std::uint32_t>(message->wParam));
      SuspendWhilePaused();
      continue;
    }
    // The main window's keys (Tab, Enter, Esc) go to the dialog manager first.
    if (platform::IsDialogMessage(*message)) continue;
    (void)platform::DispatchMessage(*message);
  }
}

bool TService::TerminatedNow() const {
  const TServiceThread* thread = thread_.get();
  return thread != nullptr && thread->Terminated();
}

void TService::DoControl(std::uint32_t code) {
  pendingControls_.fetch_sub(1);
  if (IsInterruptingControl(code) && PendingInterrupts != nullptr) PendingInterrupts->fetch_sub(1);
  const ServiceState before = status_;
  TServiceThread* thread = thread_.get();
  // Once a stop or shutdown has been accepted the service is on its way out:
  // a pause or continue that was already queued behind it is not acted on, so
  // that it can neither report a state past STOP_PENDING nor freeze a thread
  // whose loop has to end.
  if ((code == control::kPause || code == control::kContinue) && TerminatedNow()) return;
  bool reply = true;
  try {
    switch (code) {
      case control::kStop: {
        SetStatus(ServiceState::StopPending);
        bool stopped = true;
        if (OnStop) OnStop(*this, stopped);
        if (stopped && thread != nullptr) thread->Terminate();
        reply = stopped;
        break;
      }
      case control::kPause: {
        SetStatus(ServiceState::PausePending);
        bool paused = true;
        if (OnPause) OnPause(*this, paused);
        // ProcessRequests suspends the thread once the request is done.
        if (paused) SetStatus(ServiceState::Paused);
        reply = paused;
        break;
      }
      case control::kContinue: {
        // The control handler has resumed the thread already.
        SetStatus(ServiceState::ContinuePending);
        bool continued = true;
        if (OnContinue) OnContinue(*this, continued);
        if (continued) SetStatus(ServiceState::Running);
        reply = continued;
        break;
      }
      case control::kInterrogate:
        ReportStatus();
        break;
      case control::kShutdown: {
        SetStatus(ServiceState::StopPending);
        ScopeExit terminate([thread] {
          if (thread != nullptr) thread->Terminate();
        });
        if (OnShutdown) OnShutdown(*this);
        break;
      }
      case platform::session_change::kControl:
      case platform::device_event::kControl: {
        std::optional<platform::ServiceControlEvent> event;
        {
          platform::MutexLock lock(controlEventsMutex_);
          if (!controlEvents_.empty()) {
            event = controlEvents_.front();
            controlEvents_.pop_front();
          }
        }
        if (!event) break;
        if (event->control == platform::session_change::kControl && OnSessionChange) {
          OnSessionChange(*this, event->eventType, event->sessionId);
        } else if (event->control == platform::device_event::kControl && OnDeviceEvent) {
          OnDeviceEvent(*this, event->eventType);
        }
        break;
      }
      default:
        // The service defines no codes of its own.
        break;
    }
    if (!reply) SetStatus(before);
  } catch (...) {
    const std::string message = CurrentExceptionMessage();
    if (code != control::kShutdown) SetStatus(before);
    if (const char* word = ActionWord(code)) {
      LogMessage(std::string("Service failed on ") + word + ": " + message);
    } else {
      LogMessage("Service failed in custom message(" + std::to_string(code) + "): " + message);
    }
  }
}

void TService::SetStatus(ServiceState status) {
  status_ = status;
  ReportStatus();
}

void TService::ReportStatus() {
  platform::ServiceStatus report;
  report.serviceType = NTServiceType();
  report.currentState = static_cast<std::uint32_t>(status_);
  if (status_ != ServiceState::StartPending) {
    if (AllowStop) report.controlsAccepted |= accept::kStop | accept::kShutdown;
    if (AllowPause) report.controlsAccepted |= accept::kPauseContinue;
    if (AllowSessionChange) report.controlsAccepted |= platform::session_change::kAccept;
  }
  // A pending status reported again right after itself counts on.
  checkPoint_ = IsPending(status_) && lastReported_ == status_ ? checkPoint_ + 1 : 0;
  lastReported_ = status_;
  report.checkPoint = checkPoint_;
  report.win32ExitCode = ErrCode != 0 ? platform::error::kServiceSpecificError : Win32ErrCode;
  report.serviceSpecificExitCode = ErrCode;
  report.waitHint = WaitHint;
  const platform::Result<void> reported = platform::SetServiceStatus(statusHandle_, report);
  if (!reported) LogMessage(SystemMessage(reported.error()));
}

}  // namespace pw::service
