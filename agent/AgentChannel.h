#pragma once
// The service's end of the agent channel: the named pipe's server. Agents
// connect on background threads, each with a reader and a writer thread of
// its own. Every message is checked by the strict decoder; a refused message
// closes its connection with an event-log entry and reaches nobody. Accepted
// messages wait in a queue for the service thread, which a posted thread
// message wakes. Sending never blocks the caller: each agent has a bounded
// queue of outgoing messages, and an agent that lets it fill up is dropped.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "agent/AgentProtocol.h"
#include "platform/Result.h"
#include "platform/Messages.h"
#include "platform/ThreadChecker.h"
#include "platform/ThreadSafety.h"

namespace pw::agent {

inline constexpr const char* kPipeName = "Pagewick";

using AgentId = std::uint64_t;

// A message from an agent, as the service thread takes it.
struct AgentMessage {
  AgentId agent = 0;
  std::uint32_t sessionId = 0;
  Message message;
  // For Apply: whether the agent's user may create folders and files in the
  // save location, found on the connection's thread by impersonating the
  // client. The service accepts the location only when this is ok.
  std::optional<platform::Result<void>> locationCheck;
};

// What a logged refusal refused: an agent's connection or message, or a
// save location an agent sent.
enum class RefusalKind { Connection, Location };

class AgentChannel {
 public:
  struct Options {
    std::string pipeName = kPipeName;
    // Posted (PostThreadMessageA) after a message was queued and after an
    // agent connected; 0: none.
    platform::ThreadId serviceThread = 0;
    std::uint32_t wakeMessage = 0;
    // Writes an error entry to the event log. Called on the channel's threads.
    std::function<void(const std::string&)> logError;
    // Writes a refusal (no failure of the service) to the event log; logError
    // when unset. Called on the channel's threads.
    std::function<void(RefusalKind, const std::string&)> logRefusal;
    std::size_t maxAgents = 16;
    // Connections of one session: its agent and a desktop start that finds it.
    // No session can take the places of the others.
    std::size_t maxAgentsPerSession = 2;
    // An agent told to end (SendExit) that is still connected after this is dropped.
    std::chrono::milliseconds exitGrace{5000};
    // Refusals written to the event log per minute; the rest are counted and
    // one line says how many were left out.
    std::size_t maxLoggedRefusalsPerMinute = 10;
    // The clock of the exit grace and the refusal limit; tests advance their own.
    std::function<std::chrono::steady_clock::time_point()> now = [] { return std::chrono::steady_clock::now(); };
    std::size_t maxOutgoingPerAgent = 32;
    std::size_t maxIncoming = 256;  // an agent that floods the queue beyond this is dropped
  };

  explicit AgentChannel(Options options);
  ~AgentChannel();
  AgentChannel(const AgentChannel&) = delete;
  AgentChannel& operator=(const AgentChannel&) = delete;

  // Creates the pipe (its first instance, so no other process owns the name)
  // and starts accepting agents. The service end's thread (checked), as are
  // TakeMessages and DropOverdue.
  platform::Result<void> Start();
  // Closes every connection and the pipe; returns when the channel's threads
  // have ended. Any thread, once the service end is done with the channel;
  // the destructor calls it.
  void Stop();

  // The messages that arrived since the last call, oldest first.
  std::vector<AgentMessage> TakeMessages();

  // Queues a message for every connected agent / for one. Never blocks; an
  // agent whose queue is full is dropped. Any thread.
  void Broadcast(const Message& message);
  bool Send(AgentId agent, const Message& message);
  // Closes one agent's connection. Any thread.
  void Drop(AgentId agent);
  // Tells an agent to end; one that is still connected exitGrace later is
  // dropped by DropOverdue. Any thread.
  void SendExit(AgentId agent);
  // Drops the agents that ignored their Exit beyond the grace. Once per pass
  // of the service thread's loop.
  void DropOverdue();
  // Whether an agent told to end is still awaited (DropOverdue has work once
  // its grace is over). Any thread.
  bool ExitsPending() const;
  // Whether a message waits to be taken, or an agent later than the given one
  // has connected. The service thread asks before it sleeps: the wake-up
  // message may have been taken off its queue by another part of its pass.
  // Any thread.
  bool WorkWaiting(AgentId lastSeen) const;
  // Writes a refusal to the event log within the per-minute limit. Any thread.
  void LogRefusal(const std::string& text, RefusalKind kind = RefusalKind::Connection);

  // Agents connected now. Any thread.
  std::size_t AgentCount() const;
  // Their ids, in the order they connected (ids only grow). Any thread.
  std::vector<AgentId> Agents() const;
  // The session of a connected agent's process; kNoSession when the agent is
  // gone (also when it has closed its end and the channel has not yet seen
  // it) or its session could not be had. Any thread.
  std::uint32_t SessionOf(AgentId agent) const;

 private:
  struct Connection;

  void AcceptLoop();
  void ReadLoop(const std::shared_ptr<Connection>& connection);
  void WriteLoop(const std::shared_ptr<Connection>& connection);
  void Refuse(Connection& connection, const std::string& why);
  bool Queue(Connection& connection, std::vector<std::byte> bytes);
  void ReapFinished() PW_EXCLUDES(mutex_);
  void WakeServiceThread() const;
  void Log(const std::string& text) const;
  void LogRefused(RefusalKind kind, const std::string& text) const;

  Options options_;
  mutable platform::Mutex mutex_;
  std::vector<std::shared_ptr<Connection>> connections_ PW_GUARDED_BY(mutex_);
  std::deque<AgentMessage> incoming_ PW_GUARDED_BY(mutex_);
  AgentId nextId_ PW_GUARDED_BY(mutex_) = 1;
  std::vector<std::pair<AgentId, std::chrono::steady_clock::time_point>> exitDeadlines_ PW_GUARDED_BY(mutex_);
  platform::Mutex refusalMutex_;
  std::chrono::steady_clock::time_point refusalWindowStart_ PW_GUARDED_BY(refusalMutex_){};
  std::size_t refusalsInWindow_ PW_GUARDED_BY(refusalMutex_) = 0;
  std::size_t refusalsLeftOut_ PW_GUARDED_BY(refusalMutex_) = 0;
  bool stopping_ PW_GUARDED_BY(mutex_) = false;
  struct Listener;
  std::unique_ptr<Listener> listener_;
  std::thread acceptThread_;
  // The service end: the thread that built the channel.
  [[no_unique_address]] platform::ThreadChecker serviceEnd_{"AgentChannel's service end"};
};

}  // namespace pw::agent
