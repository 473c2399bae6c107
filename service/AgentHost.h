#pragma once
// The service's side of the session agents (Windows Vista and later): starts
// an agent (this executable with /agent) in every interactive session as its
// user, serves the agent channel, applies what the agents' pages send to the
// service's hidden main window, and tells the user through the agents (the
// window's notifier). Service thread only (checked), unless a method says
// otherwise.
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "agent/AgentChannel.h"
#include "platform/Sessions.h"
#include "platform/ThreadChecker.h"
#include "scanner/UserNotifier.h"

namespace pw::ui {
class TMainForm;
}

namespace pw::service {

class TServiceApplication;

// Whether this system runs services in session 0 away from the users'
// desktops (NT 6.0, Windows Vista, and later).
bool UsesSessionAgents();

// The switch that makes a start of the executable a session agent.
inline constexpr const char* kAgentSwitch = "/agent";
// The thread message that wakes the service thread for the agent channel.
inline constexpr std::uint32_t kAgentChannelWakeMessage = 0x8000 + 72;

class AgentHost final : public scanner::UserNotifier {
 public:
  explicit AgentHost(TServiceApplication& owner);
  ~AgentHost() override;
  AgentHost(const AgentHost&) = delete;
  AgentHost& operator=(const AgentHost&) = delete;

  // Serves the pipe and starts an agent in each logged-on session.
  platform::Result<void> Start();
  // Tells every agent to end and closes the channel.
  void Stop();
  // One pass of the service's loop: acts on the agents' messages and sends
  // the settings to each agent that connected since the last pass.
  void Pump();
  // A session change from the control manager: an agent at logon.
  void SessionChanged(std::uint32_t eventType, std::uint32_t sessionId);

  // scanner::UserNotifier: the agents of the active console session (the
  // user at the scanner) tell their user. A notice
  // no agent can take goes to the event log; the two faults of a pull go
  // there in any case, for whoever looks after the machine.
  void TellDiskFull() override;
  void ShowFolder(const std::string& folder, std::span<const std::string> titles) override;
  void TellPictureIncomplete(const std::string& keptPath) override;
  void TellCannotSave(const std::string& location) override;
  // The console's agents are told where pictures go now.
  void TellSwitchedToDefault(const std::string& chosen, const std::string& defaultFolder) override;
  // The console session's agents show their page, with the settings and the
  // scanner attached.
  void ShowPage() override;
  // True while an agent that was told of a full disk has not answered that
  // its box closed (an agent that goes away counts as answered).
  bool DiskFullBoxOpen() const override;

  std::size_t AgentCount() const { return channel_.AgentCount(); }
  // An agent told to end is awaited: Pump has work once its grace is over.
  bool ExitsPending() const { return channel_.ExitsPending(); }
  // A message or a new agent waits for Pump.
  bool WorkWaiting() const { return started_ && channel_.WorkWaiting(lastGreeted_); }

  // The service's main window, created (and shown and hidden, which applies
  // the settings) when there is none; null when it cannot be built.
  ui::TMainForm* MainWindow(bool create);

 private:
  void StartAgentIn(std::uint32_t session);
  void Handle(const agent::AgentMessage& message);
  void Apply(const agent::AgentMessage& message, const agent::ApplyMessage& apply);
  void Exit();
  // A connected agent, older than `agent`, of the same session.
  std::optional<agent::AgentId> EarlierAgentOfSession(agent::AgentId agent) const;
  void Relay(const agent::NotifyMessage& notice);
  // An auto-rotate key edited in the settings file while the service runs is
  // taken before a page is shown; true when the switch changed.
  bool TakeSettingsEditedOutside();
  // The connected agents of the active console session (none told to end).
  std::vector<agent::AgentId> ConsoleAgents() const;
  void SendToConsole(const agent::Message& message);
  // Whether the session is the active console's: the only one whose agents
  // may change the settings in force or end the service's window.
  bool AtConsole(std::uint32_t session) const;
  agent::StateMessage State() const;
  // The state for one agent: whether it may change the settings is its own.
  agent::StateMessage StateFor(agent::AgentId agent) const;
  // Every agent (none told to end) gets its state.
  void SendStates();
  void Log(const std::string& text);

  TServiceApplication& owner_;
  agent::AgentChannel channel_;
  bool started_ = false;
  agent::AgentId lastGreeted_ = 0;
  std::uint32_t lastConsole_ = platform::kNoSession;
  std::set<agent::AgentId> diskFullUnanswered_;
  std::set<agent::AgentId> ending_;  // told to end by Exit
  [[no_unique_address]] platform::ThreadChecker thread_{"AgentHost"};
};

}  // namespace pw::service
