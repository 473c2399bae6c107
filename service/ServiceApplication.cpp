#include "service/ServiceApplication.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

#include "platform/Dialogs.h"
#include "platform/ErrorSink.h"
#include "platform/FileSystem.h"
#include "platform/Messages.h"
#include "platform/PathText.h"
#include "platform/ScopeExit.h"
#include "platform/Security.h"
#include "platform/SystemInfo.h"
#include "service/OsError.h"
#include "platform/TextCompare.h"
#include "platform/Windows.h"
#include "resources/MainFormLayout.h"
#include "service/AgentHost.h"
#include "service/Elevation.h"
#include "service/Installation.h"
#include "service/Service.h"
#include "service/Switches.h"
#include "ui/MainForm.h"
#include "sessionagent/SessionAgent.h"
#include "ui/TextTable.h"

namespace pw::service {
namespace {

constexpr const char* kAppWindowClass = "PagewickServiceApplication";
// WM_ENDSESSION: a user's logon is ending.
constexpr std::uint32_t kEndSession = 0x0016;

}  // namespace

// --- TServiceStartThread

TServiceStartThread::TServiceStartThread(std::vector<platform::ServiceTableEntry> table, std::function<void()> lastAct)
    : thread_([this, table = std::move(table), lastAct = std::move(lastAct)] {
        platform::ErrorCode outcome = platform::error::kSuccess;
        try {
          const platform::Result<void> dispatched = platform::StartServiceCtrlDispatcher(table);
          if (!dispatched) outcome = dispatched.error();
        } catch (...) {
          platform::ReportCurrentException();
          outcome = platform::error::kGenFailure;
        }
        returnValue_.store(outcome);
        finished_.store(true);
        if (lastAct) lastAct();
      }) {}

TServiceStartThread::~TServiceStartThread() {
  if (thread_.joinable()) thread_.join();
}

// --- The application's hidden window

// Consumes WM_ENDSESSION so that the end of a user's logon never ends the
// application's loop; everything else gets the default processing.
class TServiceApplication::AppWindow final : public platform::WindowHandler {
 public:
  std::optional<std::intptr_t> HandleMessage(platform::WindowHandle, std::uint32_t message, std::uintptr_t,
                                             std::intptr_t) override {
    if (message == kEndSession) return 0;
    return std::nullopt;
  }
};

// --- TServiceApplication

TServiceApplication::TServiceApplication(scanner::ScannerLink* scannerLink)
    : scannerLink_(scannerLink),
      eventLogger_(platform::ExtractFileName(platform::GetModuleFileName())),
      windowHandler_(std::make_unique<AppWindow>()) {
  const platform::Result<void> registered = platform::RegisterWindowClass(kAppWindowClass);
  if (!registered) throw OsError(registered.error());
  platform::WindowParams details;
  details.className = kAppWindowClass;
  details.title = platform::ExtractFileName(platform::GetModuleFileName());
  details.style = platform::style::kPopup;
  platform::Result<std::unique_ptr<platform::Window>> window = platform::Window::Create(details, *windowHandler_);
  if (!window) throw OsError(window.error());
  window_ = std::move(window).value();
}

TServiceApplication::~TServiceApplication() {
  std::vector<OwnedForm> forms;
  {
    std::scoped_lock lock(formsMutex_);
    forms.swap(forms_);
  }
  process_.MainForm.Set(nullptr);
  forms.clear();
  service_.reset();
  window_.reset();
}

TService1& TServiceApplication::CreateService1() {
  mainThread_.Check();
  service_ = std::make_unique<TService1>(*this);
  service_->OnServiceThreadEnd = [this] { DestroyMainFormsOfThisThread(); };
  service_->DoCreate();
  return *service_;
}

int TServiceApplication::Run(std::span<const std::string> arguments) {
  mainThread_.Check();
  const CommandLine line = ParseCommandLine(arguments);
  switch (line.mode) {
    case RunMode::Install: return static_cast<int>(InstallService(service_.get(), line.silent));
    case RunMode::Uninstall: return static_cast<int>(UninstallService(service_.get(), line.silent));
    case RunMode::Service: RunAsService(); break;
    case RunMode::Agent: RunAgent(false); break;
  }
  return 0;
}

void TServiceApplication::RunAsService() {
  // Exceptions that escape a window procedure go to the application's log.
  platform::ErrorSink previous =
      platform::SetErrorSink([this](std::string_view what) { eventLogger_.LogMessage(std::string(what)); });
  ScopeExit restore([&previous] { platform::SetErrorSink(std::move(previous)); });
  // Windows 11 22H2 and later: links that standard users made are not
  // followed by this process, whatever path leads through them.
  if (UsesSessionAgents()) (void)platform::EnableRedirectionTrust();

  std::vector<platform::ServiceTableEntry> table;
  if (service_) {
    table.push_back({service_->Name, [this](const std::vector<std::string>& arguments) { ServiceMain(arguments); }});
  }
  const platform::WindowHandle window = Handle();
  // The application changes thread here: from now on the main windows are
  // built by the service runs' threads, not by this one (ServiceCreate's
  // transient window is gone). The first run's thread takes them.
  windowThread_.DetachFromThread();
  TServiceStartThread startThread(std::move(table), [window] {
    platform::PostMessage(window, platform::wm::kQuit, 0, 0).IgnoreFailure();
  });
  platform::Message message;
  while (platform::GetMessage(message)) (void)platform::DispatchMessage(message);
  const bool desktopStart =
      startThread.Finished() && startThread.ReturnValue() == platform::error::kFailedServiceControllerConnect;
  if (desktopStart && UsesSessionAgents()) {
    RunAgent(true);
    return;
  }
  if (startThread.Finished() && startThread.ReturnValue() != platform::error::kSuccess) {
    eventLogger_.LogMessage(SystemMessage(startThread.ReturnValue()));
  }
  // Leaving the scope waits for the dispatcher thread, and with it for a
  // service that still runs.
}

void TServiceApplication::RunAgent(bool desktopStart) {
  if (desktopStart) {
    // FindWindow sees the windows of this session's desktop only.
    const platform::WindowHandle page =
        platform::FindWindow(resources::layout::kWindowClass, resources::layout::kWindowTitle);
    if (page != nullptr) {
      platform::ShowAndBringToFront(page);
      return;
    }
  }
  ui::SessionAgent agent(process_, desktopStart);
  // An agent without its window is reported in the application's error box.
  const auto run = [&agent](std::uint32_t connectWaitMs) {
    const platform::Result<bool> ran = agent.Run(connectWaitMs);
    if (!ran) throw OsError(ran.error());
    return *ran;
  };
  if (!desktopStart) {
    // Started by the service: without it there is nothing to show.
    (void)run(0);
    return;
  }
  // A start from the desktop never ends without a word: the control manager
  // says at once whether the service is missing or stopped.
  std::uint32_t waitForService = 0;
  switch (OwnServiceState()) {
    case OwnService::NotInstalled:
      // The box offers the install through the administrator prompt.
      (void)OfferElevatedRun(ui::text::kServiceNotInstalledMessage, "/install");
      return;
    case OwnService::Stopped:
      if (!StartOwnService()) {
        ui::ShowTableMessage(nullptr, ui::text::kServiceStoppedMessage, platform::mb::kIconInformation);
        return;
      }
      // Its pipe comes up while the service starts.
      waitForService = kServiceStartWaitMs;
      break;
    case OwnService::Running:
      break;
  }
  if (!run(waitForService)) {
    ui::ShowTableMessage(nullptr, ui::text::kServiceSilentMessage, platform::mb::kIconInformation);
  }
}

TServiceApplication::OwnService TServiceApplication::OwnServiceState() const {
  if (!service_) return OwnService::Running;
  // Any user may connect to the manager and query a service's status.
  const platform::Result<platform::ServiceHandle> manager =
      platform::OpenSCManager(std::nullopt, std::nullopt, platform::manager_access::kConnect);
  if (!manager) return OwnService::Running;
  const platform::Result<platform::ServiceHandle> opened =
      platform::OpenService(*manager, service_->Name, platform::service_access::kQueryStatus);
  if (!opened) {
    return opened.error() == platform::error::kServiceDoesNotExist ? OwnService::NotInstalled : OwnService::Running;
  }
  const platform::ServiceStatusResult status = platform::QueryServiceStatus(*opened);
  // Anything but stopped (starting, stopping, running) is left to the pipe.
  if (status.ok && status.status.currentState == platform::service_state::kStopped) return OwnService::Stopped;
  return OwnService::Running;
}

bool TServiceApplication::StartOwnService() const {
  if (!service_) return false;
  const platform::Result<platform::ServiceHandle> manager =
      platform::OpenSCManager(std::nullopt, std::nullopt, platform::manager_access::kConnect);
  if (!manager) return false;
  // Standard users hold no start right on a service by default: the open fails
  // with 5 and the user is told how to have it started.
  const platform::Result<platform::ServiceHandle> opened =
      platform::OpenService(*manager, service_->Name, platform::service_access::kStart);
  if (!opened) return false;
  return static_cast<bool>(platform::StartService(*opened, {}));
}

void TServiceApplication::ServiceMain(const std::vector<std::string>& arguments) {
  if (arguments.empty() || !service_ || !platform::SameTextIgnoringCase(service_->Name, arguments.front())) return;
  service_->Main(arguments);
}

ui::TMainForm& TServiceApplication::CreateMainForm(ui::WindowPresence presence) {
  windowThread_.Check();
  // The tray menu's Exit asks this owner to destroy the window.
  platform::Result<std::unique_ptr<ui::TMainForm>> made = ui::TMainForm::Create(process_, scannerLink_, this, presence);
  // Its callers trace or log the failure as any other of the window's start.
  if (!made) throw OsError(made.error());
  std::unique_ptr<ui::TMainForm> form = std::move(made).value();
  ui::TMainForm& created = *form;
  created.SetEventLog([this](const std::string& text) { eventLogger_.LogMessage(text); });
  {
    std::scoped_lock lock(formsMutex_);
    forms_.push_back({std::move(form), std::this_thread::get_id()});
  }
  process_.MainForm.Set(&created);
  created.FormCreate();
  return created;
}

std::unique_ptr<ui::TMainForm> TServiceApplication::TakeForm(const ui::TMainForm* form) {
  std::scoped_lock lock(formsMutex_);
  auto it = std::find_if(forms_.begin(), forms_.end(), [form](const OwnedForm& owned) { return owned.form.get() == form; });
  if (it == forms_.end()) return nullptr;
  std::unique_ptr<ui::TMainForm> taken = std::move(it->form);
  forms_.erase(it);
  return taken;
}

void TServiceApplication::DestroyMainForm() {
  windowThread_.Check();
  ui::TMainForm* form = process_.MainForm.Get();
  if (form == nullptr) return;
  process_.MainForm.Set(nullptr);
  TakeForm(form).reset();
}

void TServiceApplication::DestroyMainFormsOfThisThread() {
  windowThread_.Check();
  std::vector<OwnedForm> ending;
  {
    std::scoped_lock lock(formsMutex_);
    auto mine = std::stable_partition(forms_.begin(), forms_.end(), [](const OwnedForm& owned) {
      return owned.thread != std::this_thread::get_id();
    });
    std::move(mine, forms_.end(), std::back_inserter(ending));
    forms_.erase(mine, forms_.end());
  }
  for (const OwnedForm& owned : ending) {
    process_.MainForm.ClearIf(owned.form.get());
  }
  ending.clear();
  // The thread ends: the next run's thread takes the windows and the
  // scanner's fields.
  process_.PlainFieldsThread.DetachFromThread();
  windowThread_.DetachFromThread();
}

void TServiceApplication::RecordEvent(const std::string& text) {
  eventLogger_.LogEntry(platform::event_type::kWarning, event_id::kUntrustedFile, text);
}

void TServiceApplication::ReleaseForm(ui::TMainForm& form) {
  windowThread_.Check();
  std::scoped_lock lock(formsMutex_);
  for (OwnedForm& owned : forms_) {
    if (owned.form.get() == &form) owned.released = true;
  }
}

void TServiceApplication::DestroyReleasedForms() {
  windowThread_.Check();
  std::vector<OwnedForm> ending;
  {
    std::scoped_lock lock(formsMutex_);
    auto released = std::stable_partition(forms_.begin(), forms_.end(), [](const OwnedForm& owned) {
      return !owned.released || owned.thread != std::this_thread::get_id();
    });
    std::move(released, forms_.end(), std::back_inserter(ending));
    forms_.erase(released, forms_.end());
  }
  // Each window clears the MainForm reference as it goes.
  ending.clear();
}

std::size_t TServiceApplication::MainFormCount() const {
  std::scoped_lock lock(formsMutex_);
  return forms_.size();
}

}  // namespace pw::service
