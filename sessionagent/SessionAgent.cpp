#include "sessionagent/SessionAgent.h"

#include <chrono>
#include <exception>
#include <thread>
#include <type_traits>
#include <variant>
#include <vector>

#include "platform/DebugTrace.h"
#include "platform/Dialogs.h"
#include "platform/Messages.h"
#include "platform/Windows.h"
#include "platform/PathText.h"
#include "platform/ScopeExit.h"
#include "platform/Shell.h"
#include "platform/Windows.h"
#include "platform/LocationRules.h"
#include "ui/DesktopNotifier.h"
#include "ui/MainForm.h"
#include "ui/TextTable.h"

namespace pw::ui {
namespace {

agent::ServiceConnection::Options ConnectionOptions(const std::string& pipeName) {
  agent::ServiceConnection::Options options;
  options.pipeName = pipeName;
  platform::EnsureMessageQueue();
  options.agentThread = platform::GetCurrentThreadId();
  options.wakeMessage = kAgentWakeMessage;
  return options;
}

constexpr const char* kBurstWindowClass = "PagewickPictureBurst";
constexpr platform::TimerId kBurstTimer = 1;

}  // namespace

// Ends a burst when its timer fires: each landed picture sets the timer anew,
// so it fires once pictures have stopped arriving.
class SessionAgent::BurstWindow final : public platform::WindowHandler {
 public:
  explicit BurstWindow(SessionAgent& agent) : agent_(agent) {
    platform::RegisterWindowClass(kBurstWindowClass).IgnoreFailure();
    platform::WindowParams details;
    details.className = kBurstWindowClass;
    details.style = platform::style::kPopup;
    platform::Result<std::unique_ptr<platform::Window>> window = platform::Window::Create(details, *this);
    // Without it a burst ends only with the agent: pictures still land.
    if (!window) platform::DebugTrace("Session agent: CreateWindowExA failed with error " + std::to_string(window.error()));
    if (window) window_ = std::move(window).value();
  }
  ~BurstWindow() override { window_.reset(); }
  BurstWindow(const BurstWindow&) = delete;
  BurstWindow& operator=(const BurstWindow&) = delete;

  void Restart() {
    if (window_) (void)platform::SetTimer(window_->handle(), kBurstTimer, kPictureBurstQuietMs);
  }
  void Stop() {
    if (window_) (void)platform::KillTimer(window_->handle(), kBurstTimer);
  }

  std::optional<std::intptr_t> HandleMessage(platform::WindowHandle, std::uint32_t message, std::uintptr_t wParam,
                                             std::intptr_t) override {
    if (message != platform::wm::kTimer || wParam != kBurstTimer) return std::nullopt;
    Stop();
    agent_.TellBurst();
    return 0;
  }

 private:
  SessionAgent& agent_;
  std::unique_ptr<platform::Window> window_;
};

SessionAgent::SessionAgent(ProcessState& process, bool showPage, std::string pipeName)
    : process_(process), showPage_(showPage), connection_(ConnectionOptions(pipeName)) {}

SessionAgent::~SessionAgent() {
  thread_.Check();
  connection_.Close();
  burstWindow_.reset();
  form_.reset();
}

platform::Result<bool> SessionAgent::Run(std::uint32_t connectWaitMs) {
  thread_.Check();
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(connectWaitMs);
  while (!connection_.Connect()) {
    if (std::chrono::steady_clock::now() >= giveUp) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  PW_TRY_ASSIGN(form_, TMainForm::Create(process_, nullptr, this));
  // Linked before the start-up sequence: the agent's user neither walks the
  // drives nor writes the settings file; the service does both.
  form_->SetPageLink(this);
  process_.MainForm.Set(form_.get());
  form_->FormCreate();
  form_->CoolTrayIcon1.OnBalloonClick = [this] { OpenBurstFolder(); };
  burstWindow_ = std::make_unique<BurstWindow>(*this);

  platform::Message message;
  // A modal loop (a box, the folder browser) drops the wake-up; the queue is
  // looked at after every message, so nothing waits longer than the next one.
  while (!released_ && !ending_ && platform::GetMessage(message)) {
    // The page's keys (Tab, Enter, Esc) go to the dialog manager first.
    if ((message.window != nullptr || message.message != kAgentWakeMessage) && !platform::IsDialogMessage(message)) {
      (void)platform::DispatchMessage(message);
    }
    TakeMessages();
    if (!connection_.Connected()) break;
  }
  burstWindow_.reset();
  form_.reset();  // the tray icon goes with the window
  return true;
}

void SessionAgent::TakeMessages() {
  for (const agent::Message& message : connection_.TakeMessages()) {
    if (ending_ || released_) return;
    try {
      Handle(message);
    } catch (const std::exception&) {
      // A notice that cannot be shown is not worth the agent.
      platform::TraceCurrentException("session agent message");
    }
  }
}

void SessionAgent::Handle(const agent::Message& message) {
  std::visit(
      [this](const auto& body) {
        using T = std::decay_t<decltype(body)>;
        if constexpr (std::is_same_v<T, agent::StateMessage>) {
          form_->ShowSettings(body.saveType, body.saveLocation, body.autoRotate, body.mayChange);
          if (showPage_) {
            showPage_ = false;
            form_->Show();
          }
        } else if constexpr (std::is_same_v<T, agent::ShowPageMessage>) {
          form_->Show();
        } else if constexpr (std::is_same_v<T, agent::NotifyMessage>) {
          Tell(body);
        } else if constexpr (std::is_same_v<T, agent::OpenFolderMessage>) {
          // An explorer window of the folder is titled with its name or its full path.
          std::string folder = body.path;
          while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
          // Only a folder that could be a save location is opened (as this
          // user, with the "explore" verb): never a share, a device or a
          // relative path, whoever sent it.
          if (platform::CheckStoredLocation(folder) != platform::LocationProblem::None) {
            platform::DebugTrace("A folder that is no save location was not opened: " + folder);
            return;
          }
          const std::vector<std::string> titles{platform::ExtractFileName(folder), folder};
          DesktopNotifier(*form_).ShowFolder(folder, titles);
          CountPicture(folder);
        } else if constexpr (std::is_same_v<T, agent::ExitMessage>) {
          ending_ = true;
        }
        // Apply never comes from the service; the decoder refuses it.
      },
      message);
}

void SessionAgent::Tell(const agent::NotifyMessage& notice) {
  // The service holds its pulls until the disk-full box is answered; a box
  // not shown (another one is open, or it failed) counts as answered.
  ScopeExit answered([this, kind = notice.kind] { Send(agent::NoticeClosedMessage{kind}); });
  DesktopNotifier notifier(*form_);
  switch (notice.kind) {
    case agent::NoticeKind::DiskFull:
      notifier.TellDiskFull();
      break;
    case agent::NoticeKind::PictureIncomplete:
      notifier.TellPictureIncomplete(notice.path);
      break;
    case agent::NoticeKind::CannotSave:
      notifier.TellCannotSave(notice.path);
      break;
    case agent::NoticeKind::SwitchedToDefault:
      notifier.TellSwitchedToDefault({}, notice.path);
      break;
    case agent::NoticeKind::PathTooLong:
      ShowPathTooLong();
      break;
    case agent::NoticeKind::LocationRefused:
      ShowLocationRefused(static_cast<platform::LocationProblem>(notice.reason));
      break;
  }
}

void SessionAgent::ShowPathTooLong() { ShowLocationRefused(platform::LocationProblem::TooLong); }

void SessionAgent::ShowLocationRefused(platform::LocationProblem problem) {
  (void)platform::MessageBoxEx(form_->Handle(), form_->LoadText(platform::ProblemTextId(problem)),
                               form_->LoadText(text::kMessageCaption),
                               platform::mb::kOk | platform::mb::kIconInformation | platform::mb::kSystemModal, 0);
}

void SessionAgent::Send(const agent::Message& message) {
  // A closed connection ends the loop at its next turn.
  connection_.Send(message).IgnoreFailure();
}

bool SessionAgent::ApplyPage(std::uint32_t saveType, const std::string& saveLocation, bool autoRotate) {
  thread_.Check();
  // The browser gives at most 128 characters; a longer location came from the
  // settings file, and the service takes from an agent only what the browser
  // gives. The user is asked for a shorter folder, as the browser asks.
  // The same rules hold for every other location, in either save type; the
  // service checks again, since it cannot trust what an agent sends.
  const platform::LocationProblem problem = platform::CheckSaveLocation(saveLocation, agent::kMaxPathLength);
  if (problem != platform::LocationProblem::None) {
    ShowLocationRefused(problem);
    return false;
  }
  Send(agent::ApplyMessage{saveType, saveLocation, autoRotate});
  return true;
}

void SessionAgent::CountPicture(const std::string& folder) {
  if (burstPictures_ > 0 && folder != burstFolder_) TellBurst();
  burstFolder_ = folder;
  ++burstPictures_;
  if (burstWindow_) burstWindow_->Restart();
}

void SessionAgent::TellBurst() {
  thread_.Check();
  if (burstPictures_ == 0 || !form_) return;
  const std::string text =
      burstPictures_ == 1 ? WithInserts(LoadTableText(text::kOnePictureArrivedMessage), 1, burstFolder_)
                          : WithInserts(LoadTableText(text::kPicturesArrivedMessage), burstPictures_, burstFolder_);
  toldFolder_ = burstFolder_;
  burstPictures_ = 0;
  form_->CoolTrayIcon1.ShowBalloon(LoadTableText(text::kTrayIconTip), text);
}

void SessionAgent::OpenBurstFolder() {
  thread_.Check();
  // As the folder window of a new picture opens: explorer, as this user.
  if (toldFolder_.empty() || !form_) return;
  (void)platform::ShellExecute(form_->Handle(), kExploreVerb, toldFolder_, "", "", platform::kSwShow);
}

void SessionAgent::ExitChosen() {
  thread_.Check();
  // A user away from the console ends only their own agent: the service
  // would refuse their Exit.
  if (form_ && !form_->MayChangeSettings()) return;
  Send(agent::ExitMessage{});
}

void SessionAgent::ReleaseForm(TMainForm&) {
  thread_.Check();
  released_ = true;
}

}  // namespace pw::ui
