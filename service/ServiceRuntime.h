#pragma once
// The service runtime: TService, the service object with its stored
// definition, status and handlers, and TServiceThread, the thread on which the
// service's handlers and control requests run.
//
// Threads: the control manager calls Main on a thread of its own and
// Controller on the dispatcher thread; everything else runs on the service
// thread that Main starts, which also handles the messages of every window it
// creates.
//
// Control requests travel from Controller to the service thread as message
// WM_USER + 1 with the control code. They are posted to a hidden window that
// the service thread owns rather than to the thread itself: a modal loop on
// the service thread (a message box, the folder browser) drops thread
// messages but dispatches window messages, so a request that arrives while a
// box is open reaches that window's procedure, which keeps it for the next
// ProcessRequests instead of losing it. It is not acted on inside the modal
// loop: a stop there would destroy the main window under the open box.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Messages.h"
#include "platform/ServiceControl.h"
#include "platform/ThreadChecker.h"
#include "platform/ThreadSafety.h"
#include "platform/Threads.h"
#include "platform/Windows.h"
#include "service/EventLogger.h"

namespace pw::service {

// The service's status; the values are the control manager's dwCurrentState.
enum class ServiceState : std::uint32_t {
  Stopped = 1,
  StartPending = 2,
  StopPending = 3,
  Running = 4,
  ContinuePending = 5,
  PausePending = 6,
  Paused = 7,
};

// The control message: posted with the control code as wParam.
inline constexpr std::uint32_t kControlMessage = platform::wm::kUser + 1;
// The service thread's name, as process tools show it.
inline constexpr const char* kServiceThreadName = "pw-service";
// The class of the hidden window on the service thread that takes control messages.
inline constexpr const char* kControlWindowClass = "PagewickServiceControl";

enum class TServiceType { stWin32, stDevice, stFileSystem };
enum class TStartType { stBoot, stSystem, stAuto, stManual, stDisabled };
enum class TErrorSeverity { esIgnore, esNormal, esSevere, esCritical };

class TService;

// The service thread. Created and started by TService::Main at each start of
// the service; its object goes when the thread has ended.
class TServiceThread {
 public:
  explicit TServiceThread(TService& service);
  ~TServiceThread();  // waits for the thread
  // Starts the thread; Start once.
  void Start();
  TServiceThread(const TServiceThread&) = delete;
  TServiceThread& operator=(const TServiceThread&) = delete;

  // Set by the stop and shutdown actions; the execute loop tests it. Any thread.
  bool Terminated() const noexcept { return terminated_.load(); }
  void Terminate() noexcept { terminated_.store(true); }

  // Blocks until the thread has ended. Any thread but the service thread.
  void WaitFor();

 private:
  class Runner;
  TService* service_ = nullptr;
  std::atomic<bool> terminated_{false};
  std::unique_ptr<Runner> runner_;
};

class TService {
 public:
  TService();
  virtual ~TService();
  TService(const TService&) = delete;
  TService& operator=(const TService&) = delete;

  // --- The stored definition: what the control manager receives at install.
  std::string Name;
  std::string DisplayName;
  TServiceType ServiceType = TServiceType::stWin32;
  bool Interactive = false;
  TStartType StartType = TStartType::stAuto;
  TErrorSeverity ErrorSeverity = TErrorSeverity::esNormal;
  std::string ServiceStartName;
  std::string Password;
  std::string LoadGroup;
  std::uint32_t TagID = 0;
  std::vector<std::string> Dependencies;
  std::uint32_t WaitHint = 5000;
  bool AllowStop = true;
  bool AllowPause = true;
  // Accepts SERVICE_CONTROL_SESSIONCHANGE: the control handler is registered
  // with the Ex form and logons and logoffs reach OnSessionChange.
  bool AllowSessionChange = false;
  // Registers for volume arrivals and removals through the control handler
  // (with the Ex form); they reach OnDeviceEvent.
  bool VolumeEvents = false;
  // A service-specific exit code (none is ever set) and a Win32 exit code.
  std::uint32_t ErrCode = 0;
  std::uint32_t Win32ErrCode = 0;

  // dwServiceType: 0x10 for an own-process service, 0x100 added when interactive.
  std::uint32_t NTServiceType() const;
  std::uint32_t NTStartType() const;
  std::uint32_t NTErrorSeverity() const;

  // --- Handlers. Each gets the service; the flag, preset to true, says whether
  // the request succeeds.
  using Handler = std::function<void(TService& sender)>;
  using FlagHandler = std::function<void(TService& sender, bool& flag)>;
  Handler OnCreate;
  FlagHandler OnStart;
  Handler OnExecute;
  FlagHandler OnStop;
  FlagHandler OnPause;
  FlagHandler OnContinue;
  Handler OnShutdown;
  // A user logged on to or off a session (WTS_SESSION_LOGON / _LOGOFF and
  // the other event types). Service thread.
  std::function<void(TService& sender, std::uint32_t eventType, std::uint32_t sessionId)> OnSessionChange;
  // A volume arrived or went (DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE, ...). Service thread.
  std::function<void(TService& sender, std::uint32_t eventType)> OnDeviceEvent;
  Handler BeforeInstall;
  Handler AfterInstall;
  Handler BeforeUninstall;
  Handler AfterUninstall;
  // Runs on the service thread as it ends, after the last request.
  std::function<void()> OnServiceThreadEnd;
  // Runs on the service thread when a stop or shutdown arrives inside a
  // modal loop that a window handler runs (a message box, the folder
  // browser): the request waits until that loop has ended, so the handler
  // may end it (a box nobody answers must not hold the service up).
  std::function<void()> OnStopWaitsInModalLoop;
  // Counts the stop, shutdown and pause requests that wait for the service
  // thread: the control handler adds one as it posts such a request, the
  // service thread takes it away as it acts on it. Long work on the service
  // thread (an image pull) looks at it to end early. Set before the run.
  std::atomic<int>* PendingInterrupts = nullptr;

  // Runs OnCreate: the object has been created. Creating thread.
  void DoCreate();

  // --- State.
  ServiceState Status() const noexcept { return status_; }
  // The start arguments received by Main, the service's name first.
  const std::vector<std::string>& Params() const noexcept { return params_; }
  // The current service thread, or nullptr outside a run.
  TServiceThread* ServiceThread() const noexcept { return thread_.get(); }
  // The service's event logger (source Name), created at its first entry.
  void LogMessage(const std::string& message);

  // --- The runtime.
  // The service main entry. Control manager's thread.
  void Main(const std::vector<std::string>& arguments);
  // The control handler: posts the control code to the service thread,
  // cancels the device request the thread waits in for a stop, shutdown or
  // pause, and resumes the thread when it is paused. Dispatcher thread.
  void Controller(std::uint32_t code);
  // The Ex control handler: keeps a session change's or device event for the service
  // thread, then as Controller. Dispatcher thread.
  void ControllerEx(const platform::ServiceControlEvent& event);
  // Takes every waiting message of the service thread without waiting: acts
  // on control requests, dispatches everything else. Service thread only
  // (checked).
  void ProcessRequests();

 protected:
  // Aborts in checked builds unless called on the service thread of the
  // current run.
  void CheckServiceThread() const { serviceThread_.Check(); }

 private:
  friend class TServiceThread;
  class ControlWindow;

  // The service thread's body; the thread owns the service thread's side of
  // the object until it ends.
  void RunServiceThread(TServiceThread& thread);
  void DoControl(std::uint32_t code);
  // The service thread is marked terminated (a stop or shutdown was accepted).
  bool TerminatedNow() const;
  void SetStatus(ServiceState status);
  void ReportStatus();
  // While the status is paused and no request waits, the thread suspends
  // itself. Service thread only (checked).
  void SuspendWhilePaused();

  std::vector<std::string> params_;
  ServiceState status_ = ServiceState::Stopped;
  std::optional<ServiceState> lastReported_;
  std::uint32_t checkPoint_ = 0;
  platform::ServiceStatusHandle statusHandle_ = nullptr;
  std::unique_ptr<TServiceThread> thread_;
  platform::Mutex loggerMutex_;
  std::unique_ptr<TEventLogger> eventLogger_ PW_GUARDED_BY(loggerMutex_);

  // Shared with the dispatcher thread.
  std::atomic<platform::WindowHandle> controlWindowHandle_{nullptr};
  std::atomic<platform::ThreadId> serviceThreadId_{0};
  std::atomic<int> pendingControls_{0};  // posted and not yet acted on
  // Counting a request and the service thread's decision to suspend itself
  // happen under this lock, so no request slips between the decision and
  // the suspension unseen.
  platform::Mutex suspendMutex_;
  // The service thread decided to suspend itself and no control handler has
  // taken on resuming it yet.
  bool suspendDecided_ PW_GUARDED_BY(suspendMutex_) = false;
  platform::Mutex threadHandleMutex_;
  platform::ThreadHandle serviceThreadHandle_ PW_GUARDED_BY(threadHandleMutex_);

  // Session changes and device events in the order they came, one per posted control.
  platform::Mutex controlEventsMutex_;
  std::deque<platform::ServiceControlEvent> controlEvents_ PW_GUARDED_BY(controlEventsMutex_);
  platform::DeviceNotification volumeNotification_;

  // Service thread only.
  std::deque<std::uint32_t> deferredControls_;
  std::unique_ptr<ControlWindow> controlWindow_;
  // Owned by each run's service thread in turn.
  [[no_unique_address]] platform::ThreadChecker serviceThread_{"the service thread's side of TService"};
};

}  // namespace pw::service
