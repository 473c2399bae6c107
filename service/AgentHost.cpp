#include "service/AgentHost.h"

#include <exception>
#include <variant>
#include <vector>

#include "platform/SystemInfo.h"
#include "platform/Windows.h"
#include "service/OsError.h"
#include "service/ServiceApplication.h"
#include "platform/LocationRules.h"
#include "ui/MainForm.h"

namespace pw::service {
namespace {

agent::AgentChannel::Options ChannelOptions(TServiceApplication& owner) {
  agent::AgentChannel::Options options;
  // The service thread (which builds the host) waits for its queue; an
  // agent's message or connection wakes it.
  options.serviceThread = platform::GetCurrentThreadId();
  options.wakeMessage = kAgentChannelWakeMessage;
  options.logError = [&owner](const std::string& text) { owner.EventLogger().LogMessage(text); };
  // Refusals are no failures: warnings, with an event id for each kind.
  options.logRefusal = [&owner](agent::RefusalKind kind, const std::string& text) {
    owner.EventLogger().LogEntry(platform::event_type::kWarning,
                                 kind == agent::RefusalKind::Location ? event_id::kLocationRefused
                                                                      : event_id::kConnectionRefused,
                                 text);
  };
  return options;
}

}  // namespace

bool UsesSessionAgents() {
  platform::OsVersionInfo version{};
  version.size = platform::kOsVersionInfoSize;
  if (!platform::GetVersionEx(version)) return false;
  return version.platformId == platform::kPlatformNt && version.majorVersion >= 6;
}

AgentHost::AgentHost(TServiceApplication& owner) : owner_(owner), channel_(ChannelOptions(owner)) {}

AgentHost::~AgentHost() {
  // The service object, and with it this one, may end on the main thread
  // after the service thread has gone: Stop's work without its thread rule,
  // the channel closing itself as it goes.
  if (started_) channel_.Broadcast(agent::ExitMessage{});
}

platform::Result<void> AgentHost::Start() {
  thread_.Check();
  const platform::Result<void> served = channel_.Start();
  if (!served) {
    Log("The session agents' pipe could not be created: " + SystemMessage(served.error()));
    return served;
  }
  started_ = true;
  lastConsole_ = platform::ActiveConsoleSessionId();
  const platform::Result<std::vector<std::uint32_t>> sessions = platform::EnumerateInteractiveSessions();
  if (!sessions) {
    Log("The interactive sessions could not be listed: " + SystemMessage(sessions.error()));
    return served;
  }
  for (std::uint32_t session : *sessions) StartAgentIn(session);
  return served;
}

void AgentHost::Stop() {
  thread_.Check();
  if (!started_) return;
  started_ = false;
  // An agent also ends when the pipe closes; Exit first lets it end at once.
  channel_.Broadcast(agent::ExitMessage{});
  channel_.Stop();
}

void AgentHost::SessionChanged(std::uint32_t eventType, std::uint32_t sessionId) {
  thread_.Check();
  // At logoff the session's processes end with it, the agent among them; its
  // connection closes and the channel forgets it.
  if (started_ && eventType == platform::session_change::kLogon) StartAgentIn(sessionId);
  // A change may have moved the console: whose page may change the settings follows.
  if (started_) {
    lastConsole_ = platform::ActiveConsoleSessionId();
    SendStates();
  }
}

void AgentHost::StartAgentIn(std::uint32_t session) {
  std::string path = platform::GetModuleFileName();
  if (path.find(' ') != std::string::npos) path = "\"" + path + "\"";
  const platform::Result<std::uint32_t> started = platform::StartProcessInSession(session, path + " " + kAgentSwitch);
  if (!started) {
    Log("The session agent could not be started in session " + std::to_string(session) + ": " +
        SystemMessage(started.error()));
  }
}

void AgentHost::Pump() {
  thread_.Check();
  if (!started_) return;
  channel_.DropOverdue();
  for (const agent::AgentMessage& message : channel_.TakeMessages()) {
    Handle(message);
    // An Apply refused on other grounds (a location the rules refuse, a
    // session not at the console) never needs the user's own check.
    if (message.locationCheck) message.locationCheck->IgnoreFailure();
  }
  for (agent::AgentId id : channel_.Agents()) {
    if (id <= lastGreeted_) continue;
    lastGreeted_ = id;
    // One agent per session. A second one is a start from the user's desktop
    // that did not find the first one's page: the first shows it, and the
    // second ends before it shows anything but a passing icon.
    if (const std::optional<agent::AgentId> first = EarlierAgentOfSession(id)) {
      if (TakeSettingsEditedOutside()) (void)channel_.Send(*first, StateFor(*first));
      (void)channel_.Send(*first, agent::ShowPageMessage{});
      channel_.SendExit(id);
      continue;
    }
    // An agent that connects after Exit brings the main window back, as the
    // show-window marker does before Windows Vista.
    (void)MainWindow(true);
    (void)TakeSettingsEditedOutside();
    (void)channel_.Send(id, StateFor(id));
  }
  // The console moved to another session (a session change the control
  // manager may tell late or not at all): each page learns whether it may
  // change the settings now.
  const std::uint32_t console = platform::ActiveConsoleSessionId();
  if (console != lastConsole_) {
    lastConsole_ = console;
    SendStates();
  }
}

std::optional<agent::AgentId> AgentHost::EarlierAgentOfSession(agent::AgentId agent) const {
  const std::uint32_t session = channel_.SessionOf(agent);
  if (session == platform::kNoSession) return std::nullopt;
  for (agent::AgentId other : channel_.Agents()) {
    // Agents told to end (Exit) no longer count, though their connections
    // may not have closed yet.
    if (other < agent && !ending_.contains(other) && channel_.SessionOf(other) == session) return other;
  }
  return std::nullopt;
}

void AgentHost::Handle(const agent::AgentMessage& message) {
  const bool apply = std::holds_alternative<agent::ApplyMessage>(message.message);
  const bool exit = std::holds_alternative<agent::ExitMessage>(message.message);
  // The settings in force and the service's window belong to the user at the
  // console, whose pictures they steer: another session's agent only shows them.
  if ((apply || exit) && !AtConsole(message.sessionId)) {
    channel_.LogRefusal(std::string(apply ? "Settings" : "An Exit") + " from session " +
                        std::to_string(message.sessionId) + (apply ? " were" : " was") +
                        " refused: only the console session's agent may apply settings or choose Exit");
    (void)channel_.Send(message.agent, StateFor(message.agent));
    return;
  }
  if (apply) {
    Apply(message, std::get<agent::ApplyMessage>(message.message));
  } else if (exit) {
    Exit();
  } else if (const auto* closed = std::get_if<agent::NoticeClosedMessage>(&message.message)) {
    if (closed->kind == agent::NoticeKind::DiskFull) diskFullUnanswered_.erase(message.agent);
  }
  // The decoder lets no other type from an agent through.
}

// Every problem the rules can name travels as a notice's reason.
static_assert(static_cast<std::uint32_t>(platform::LocationProblem::NotAbsolute) == agent::kMinLocationReason &&
              static_cast<std::uint32_t>(platform::LocationProblem::DroppedNameEnd) == agent::kMaxLocationReason);

void AgentHost::Apply(const agent::AgentMessage& message, const agent::ApplyMessage& apply) {
  // A location that fails the rules is refused in either save type, before
  // anything changes; the agent tells its user why.
  const platform::LocationProblem problem = platform::CheckSaveLocation(apply.saveLocation, agent::kMaxPathLength);
  if (problem != platform::LocationProblem::None) {
    channel_.LogRefusal("A save location from session " + std::to_string(message.sessionId) +
                            " was refused: " + std::string(platform::ProblemText(problem)),
                        agent::RefusalKind::Location);
    (void)channel_.Send(message.agent, agent::NotifyMessage{agent::NoticeKind::LocationRefused, {},
                                                            static_cast<std::uint32_t>(problem)});
    (void)channel_.Send(message.agent, StateFor(message.agent));
    return;
  }
  ui::TMainForm* form = MainWindow(true);
  if (form == nullptr) return;
  // The location is only taken when this agent's user may create folders and
  // files there, in either save type: card mode saves nothing there now, but
  // stores the location for the next computer-mode pull.
  if (!message.locationCheck || !message.locationCheck->ok()) {
    const platform::ErrorCode error = message.locationCheck ? message.locationCheck->error() : 0;
    channel_.LogRefusal("A save location from session " + std::to_string(message.sessionId) +
                            " was refused: its user could not create a folder and a file there (" +
                            apply.saveLocation + "): " + SystemMessage(error),
                        agent::RefusalKind::Location);
    // The agent tells its user why; the page goes back to the settings in effect.
    constexpr auto kNotWritable = static_cast<std::uint32_t>(platform::LocationProblem::NotWritable);
    (void)channel_.Send(message.agent, agent::NotifyMessage{agent::NoticeKind::LocationRefused, {}, kNotWritable});
    (void)channel_.Send(message.agent, StateFor(message.agent));
    return;
  }
  try {
    form->SaveComboBx.SetItemIndex(apply.saveType == ui::SaveModeCard ? 0 : 1);
    form->SaveComboBxChange();
    form->PathEdit.SetText(apply.saveLocation);
    form->AutoRCheckBx.SetChecked(apply.autoRotate);
    form->ApplyBtnClick();
  } catch (const std::exception& failure) {
    Log(std::string("The settings from a session agent could not be applied: ") + failure.what());
  }
  SendStates();
}

void AgentHost::Exit() {
  ui::TMainForm* form = MainWindow(false);
  if (form != nullptr) form->ExitItemClick();
  // Every agent removes its icon and ends; a later desktop start brings one back.
  for (agent::AgentId id : channel_.Agents()) {
    ending_.insert(id);
    channel_.SendExit(id);
  }
}

ui::TMainForm* AgentHost::MainWindow(bool create) {
  thread_.Check();
  ui::TMainForm* form = owner_.Process().MainForm.Get();
  if (form != nullptr || !create) return form;
  try {
    // The window lives in session 0, where nobody sees it: no tray icon, and
    // what it would show goes to the agents.
    ui::TMainForm& created = owner_.CreateMainForm(ui::WindowPresence::Unseen);
    created.SetNotifier(this);
    created.SetActsForConsoleUser(true);
    // What activation does: scan the drives and apply the settings (the poll timer).
    created.FormActivate();
    return &created;
  } catch (const std::exception& failure) {
    Log(std::string("The main window could not be created: ") + failure.what());
    return nullptr;
  }
}

bool AgentHost::AtConsole(std::uint32_t session) const {
  return session != platform::kNoSession && session == platform::ActiveConsoleSessionId();
}

agent::StateMessage AgentHost::StateFor(agent::AgentId agent) const {
  agent::StateMessage state = State();
  state.mayChange = AtConsole(channel_.SessionOf(agent));
  return state;
}

void AgentHost::SendStates() {
  for (agent::AgentId id : channel_.Agents()) {
    if (!ending_.contains(id)) (void)channel_.Send(id, StateFor(id));
  }
}

agent::StateMessage AgentHost::State() const {
  agent::StateMessage state;
  const ui::TMainForm* form = owner_.Process().MainForm.Get();
  if (form == nullptr) return state;
  state.saveType = form->SaveComboBx.ItemIndex() == 0 ? ui::SaveModeCard : ui::SaveModeComputer;
  // Longer than any Windows path: the page shows its start, and the agent
  // never applies a location over 128 characters, so it cannot come back cut.
  state.saveLocation = form->PathEdit.Text().substr(0, agent::kMaxServicePathLength);
  state.autoRotate = form->AutoRCheckBx.Checked();
  state.scannerAttached = owner_.Process().ScannerAttached != 0;
  return state;
}

std::vector<agent::AgentId> AgentHost::ConsoleAgents() const {
  // The person at the console is the one at the scanner; other sessions'
  // users are told nothing of it.
  const std::uint32_t console = platform::ActiveConsoleSessionId();
  std::vector<agent::AgentId> agents;
  if (console == platform::kNoSession) return agents;
  for (agent::AgentId id : channel_.Agents()) {
    if (!ending_.contains(id) && channel_.SessionOf(id) == console) agents.push_back(id);
  }
  return agents;
}

void AgentHost::SendToConsole(const agent::Message& message) {
  for (agent::AgentId id : ConsoleAgents()) (void)channel_.Send(id, message);
}

void AgentHost::TellDiskFull() {
  thread_.Check();
  const std::vector<agent::AgentId> agents = ConsoleAgents();
  if (agents.empty()) {
    Log("The drive of the save location is full: the picture went to the scratch file. No user session could be told.");
    return;
  }
  SendToConsole(agent::NotifyMessage{agent::NoticeKind::DiskFull, {}});
  diskFullUnanswered_.insert(agents.begin(), agents.end());
}

bool AgentHost::DiskFullBoxOpen() const {
  thread_.Check();
  if (diskFullUnanswered_.empty()) return false;
  for (agent::AgentId id : channel_.Agents()) {
    if (diskFullUnanswered_.contains(id)) return true;
  }
  return false;
}

void AgentHost::ShowFolder(const std::string& folder, std::span<const std::string>) {
  thread_.Check();
  // Each agent looks for an explorer window of the folder on its own desktop.
  if (folder.empty() || folder.size() > agent::kMaxServicePathLength) {
    Log("A folder too long for the session agents was not opened: " + folder);
    return;
  }
  SendToConsole(agent::OpenFolderMessage{folder});
}

void AgentHost::TellPictureIncomplete(const std::string& keptPath) {
  thread_.Check();
  Log("A picture from the scanner did not arrive completely. What arrived is kept in " + keptPath +
      ". The picture stays on the scanner and is transferred again.");
  Relay(agent::NotifyMessage{agent::NoticeKind::PictureIncomplete, keptPath});
}

void AgentHost::TellCannotSave(const std::string& location) {
  thread_.Check();
  Log("Scanned pictures cannot be saved in " + location + ". The picture stays on the scanner.");
  Relay(agent::NotifyMessage{agent::NoticeKind::CannotSave, location});
}

void AgentHost::ShowPage() {
  thread_.Check();
  (void)TakeSettingsEditedOutside();
  // The drive walk marks the scanner attached only once the page is up. The
  // scanner is the console user's: only their page comes up.
  for (agent::AgentId id : ConsoleAgents()) {
    agent::StateMessage state = StateFor(id);
    state.scannerAttached = true;
    (void)channel_.Send(id, state);
    (void)channel_.Send(id, agent::ShowPageMessage{});
  }
}

void AgentHost::TellSwitchedToDefault(const std::string&, const std::string& defaultFolder) {
  thread_.Check();
  // The window has written the event log's entry.
  Relay(agent::NotifyMessage{agent::NoticeKind::SwitchedToDefault, defaultFolder});
  // The pages show the location in force.
  SendStates();
}

void AgentHost::Relay(const agent::NotifyMessage& notice) {
  // A path the agents would refuse is left to the event log entry.
  if (agent::Validate(notice) == agent::Refusal::None) SendToConsole(notice);
}

bool AgentHost::TakeSettingsEditedOutside() {
  ui::TMainForm* form = owner_.Process().MainForm.Get();
  if (form == nullptr) return false;
  const bool before = form->AutoRCheckBx.Checked();
  form->TakeAutoRotateEditedOutside();
  return form->AutoRCheckBx.Checked() != before;
}

void AgentHost::Log(const std::string& text) { owner_.EventLogger().LogMessage(text); }

}  // namespace pw::service
