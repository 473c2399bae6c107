#include "agent/AgentChannel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <utility>

#include "platform/DebugTrace.h"
#include "platform/NamedPipe.h"
#include "platform/Sessions.h"

namespace pw::agent {

struct AgentChannel::Connection {
  AgentId id = 0;
  std::uint32_t sessionId = 0;
  platform::Pipe pipe;
  platform::Mutex mutex;
  std::condition_variable wake;
  std::deque<std::vector<std::byte>> outgoing PW_GUARDED_BY(mutex);
  bool closing PW_GUARDED_BY(mutex) = false;
  std::atomic<int> running{2};  // the reader and the writer
  std::thread reader;
  std::thread writer;

  // Ends both threads' work: a blocked read or write fails at once. Any thread.
  void Close() {
    {
      platform::MutexLock lock(mutex);
      closing = true;
      pipe.Cancel();
    }
    wake.notify_all();
  }
  // A write failed. An agent that went away (232, 109) may have sent messages
  // before it went, its Exit as it ends among them: the reader still takes
  // them and ends at the pipe's end. Any other failure ends both threads.
  void WriteFailed(platform::ErrorCode error) {
    if (error != platform::error::kNoData && error != platform::error::kBrokenPipe) {
      Close();
      return;
    }
    platform::MutexLock lock(mutex);
    closing = true;
  }
  // Called by the reader and the writer as they end: the last one closes the
  // pipe, so the agent sees the connection end at once.
  void ThreadDone() {
    if (running.fetch_sub(1) != 1) return;
    platform::MutexLock lock(mutex);
    pipe.Close();
  }
  bool Finished() const { return running.load() == 0; }
  // The agent closed its end; the reader may not have seen it yet. Any thread.
  bool PeerGone() {
    platform::MutexLock lock(mutex);
    return closing || (pipe.valid() && pipe.PeerClosed());
  }
  // An agent still there: its threads run and it has not closed its end. A
  // connection whose agent has gone holds no place and is no session's agent,
  // though its threads may not have seen the end yet.
  bool AgentPresent() { return !Finished() && !PeerGone(); }
};

struct AgentChannel::Listener {
  platform::Pipe waiting;  // the instance waiting for the next agent
};

AgentChannel::AgentChannel(Options options) : options_(std::move(options)), listener_(std::make_unique<Listener>()) {}

AgentChannel::~AgentChannel() { Stop(); }

void AgentChannel::Log(const std::string& text) const {
  if (!options_.logError) return;
  try {
    options_.logError(text);
  } catch (...) {
    platform::TraceCurrentException("Agent channel: writing to the event log");
    // The event log is the last resort: nothing is left to tell.
  }
}

platform::Result<void> AgentChannel::Start() {
  serviceEnd_.Check();
  platform::MutexLock lock(mutex_);
  if (acceptThread_.joinable()) return platform::Failure(platform::error::kAlreadyExists);
  PW_TRY_ASSIGN(listener_->waiting, platform::CreatePipeServer(options_.pipeName, true, kMaxMessageSize));
  stopping_ = false;
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return platform::Success();
}

void AgentChannel::Stop() {
  std::vector<std::shared_ptr<Connection>> connections;
  {
    platform::MutexLock lock(mutex_);
    stopping_ = true;
    listener_->waiting.Cancel();
    connections = connections_;
  }
  for (const auto& connection : connections) connection->Close();
  if (acceptThread_.joinable()) acceptThread_.join();
  for (const auto& connection : connections) {
    if (connection->reader.joinable()) connection->reader.join();
    if (connection->writer.joinable()) connection->writer.join();
  }
  platform::MutexLock lock(mutex_);
  connections_.clear();
  listener_->waiting.Close();
  platform::MutexLock refusals(refusalMutex_);
  if (refusalsLeftOut_ != 0) {
    LogRefused(RefusalKind::Connection, "Agent channel: " + std::to_string(refusalsLeftOut_) +
                                            " further refusals in one minute were left out of the event log");
    refusalsLeftOut_ = 0;
  }
}

void AgentChannel::AcceptLoop() {
  for (;;) {
    ReapFinished();
    // Connect runs outside the lock; Stop cancels it through the same object.
    const platform::Result<void> connected = listener_->waiting.Connect();
    platform::MutexLock lock(mutex_);
    if (stopping_) {
      connected.IgnoreFailure();  // Stop cancelled the wait: nothing to tell
      return;
    }
    // The next instance exists before this one is handed on, so that the pipe
    // never vanishes and a client arriving meanwhile finds it.
    platform::Result<platform::Pipe> next = platform::CreatePipeServer(options_.pipeName, false, kMaxMessageSize);
    if (!next) Log("Agent channel: cannot create a pipe instance (error " + std::to_string(next.error()) + ")");
    platform::Pipe current = std::exchange(listener_->waiting, std::move(next).value_or(platform::Pipe()));
    const bool goOn = listener_->waiting.valid();
    // A client that came and went before Connect (232), or another failure:
    // its instance closes here.
    // A refused connection stays open until its refusal is logged.
    std::shared_ptr<Connection> connection;
    std::string refusal;
    bool accepted = false;
    if (connected) {
      connection = std::make_shared<Connection>();
      connection->pipe = std::move(current);
      // An agent that ends and one that starts at once are not two.
      const auto live = static_cast<std::size_t>(
          std::count_if(connections_.begin(), connections_.end(), [](const auto& c) { return c->AgentPresent(); }));
      connection->sessionId = connection->pipe.ClientSessionId().value_or(platform::kNoSession);
      const auto ofSession = static_cast<std::size_t>(std::count_if(
          connections_.begin(), connections_.end(),
          [&](const auto& c) { return c->AgentPresent() && c->sessionId == connection->sessionId; }));
      if (live >= options_.maxAgents) {
        refusal = "Agent channel: too many agents; a connection was refused";
      } else if (ofSession >= options_.maxAgentsPerSession) {
        refusal = "Agent channel: too many agents of session " + std::to_string(connection->sessionId) +
                  "; a connection was refused";
      } else {
        connection->id = nextId_++;
        connections_.push_back(connection);
        connection->reader = std::thread([this, connection] { ReadLoop(connection); });
        connection->writer = std::thread([this, connection] { WriteLoop(connection); });
        accepted = true;
      }
    }
    lock.Unlock();
    if (!refusal.empty()) LogRefusal(refusal);
    // The service greets a new agent at once, not at some later pass.
    if (accepted) WakeServiceThread();
    if (!goOn) return;
  }
}

void AgentChannel::Refuse(Connection& connection, const std::string& why) {
  LogRefusal("Agent channel: connection of session " + std::to_string(connection.sessionId) + " closed: " + why);
  connection.Close();
}

void AgentChannel::LogRefused(RefusalKind kind, const std::string& text) const {
  if (!options_.logRefusal) {
    Log(text);
    return;
  }
  try {
    options_.logRefusal(kind, text);
  } catch (...) {
    platform::TraceCurrentException("Agent channel: writing to the event log");
  }
}

void AgentChannel::LogRefusal(const std::string& text, RefusalKind kind) {
  std::string leftOut;
  {
    platform::MutexLock lock(refusalMutex_);
    const auto now = options_.now();
    if (refusalsInWindow_ == 0 || now - refusalWindowStart_ >= std::chrono::minutes(1)) {
      if (refusalsLeftOut_ != 0) {
        leftOut = "Agent channel: " + std::to_string(refusalsLeftOut_) +
                  " further refusals in one minute were left out of the event log";
      }
      refusalWindowStart_ = now;
      refusalsInWindow_ = 0;
      refusalsLeftOut_ = 0;
    }
    if (refusalsInWindow_ >= options_.maxLoggedRefusalsPerMinute) {
      ++refusalsLeftOut_;
      return;
    }
    ++refusalsInWindow_;
  }
  if (!leftOut.empty()) LogRefused(RefusalKind::Connection, leftOut);
  LogRefused(kind, text);
}

void AgentChannel::ReadLoop(const std::shared_ptr<Connection>& connection) {
  std::vector<std::byte> buffer(kMaxMessageSize);
  for (;;) {
    const platform::PipeTransfer read = connection->pipe.Read(buffer);
    if (!read.ok) {
      if (read.error == platform::error::kMoreData) {
        Refuse(*connection, std::string(RefusalText(Refusal::TooLarge)));
      } else {
        // The agent went away (109), or the channel closed it (995).
        connection->Close();
      }
      break;
    }
    Decoded decoded = Decode(std::span(buffer).first(read.bytes), Sender::Agent);
    if (!decoded) {
      Refuse(*connection, std::string(RefusalText(decoded.refusal)));
      break;
    }
    AgentMessage arrived{connection->id, connection->sessionId, std::move(decoded.message), std::nullopt};
    if (const auto* apply = std::get_if<ApplyMessage>(&arrived.message)) {
      arrived.locationCheck = connection->pipe.ClientMayWriteIn(apply->saveLocation);
    }
    bool flooded = false;
    {
      platform::MutexLock lock(mutex_);
      if (incoming_.size() >= options_.maxIncoming) {
        flooded = true;
      } else {
        incoming_.push_back(std::move(arrived));
      }
    }
    if (flooded) {
      Refuse(*connection, "too many messages waiting");
      break;
    }
    WakeServiceThread();
  }
  connection->ThreadDone();
}

void AgentChannel::WriteLoop(const std::shared_ptr<Connection>& connection) {
  for (;;) {
    std::vector<std::byte> next;
    {
      platform::MutexLock lock(connection->mutex);
      while (!connection->closing && connection->outgoing.empty()) lock.Wait(connection->wake);
      if (connection->closing) break;
      next = std::move(connection->outgoing.front());
      connection->outgoing.pop_front();
    }
    const platform::PipeTransfer written = connection->pipe.Write(next);
    if (!written.ok) {
      connection->WriteFailed(written.error);
      break;
    }
  }
  connection->ThreadDone();
}

bool AgentChannel::Queue(Connection& connection, std::vector<std::byte> bytes) {
  {
    platform::MutexLock lock(connection.mutex);
    if (connection.closing) return false;
    if (connection.outgoing.size() < options_.maxOutgoingPerAgent) {
      connection.outgoing.push_back(std::move(bytes));
      connection.wake.notify_one();
      return true;
    }
  }
  // An agent that does not read is dropped rather than waited for.
  Refuse(connection, "the agent does not read its messages");
  return false;
}

void AgentChannel::Broadcast(const Message& message) {
  const std::vector<std::byte> bytes = Encode(message);
  std::vector<std::shared_ptr<Connection>> connections;
  {
    platform::MutexLock lock(mutex_);
    connections = connections_;
  }
  for (const auto& connection : connections) {
    if (!connection->Finished()) Queue(*connection, bytes);
  }
}

bool AgentChannel::Send(AgentId agent, const Message& message) {
  std::shared_ptr<Connection> target;
  {
    platform::MutexLock lock(mutex_);
    for (const auto& connection : connections_) {
      if (connection->id == agent) target = connection;
    }
  }
  return target && Queue(*target, Encode(message));
}

void AgentChannel::SendExit(AgentId agent) {
  if (!Send(agent, ExitMessage{})) return;
  platform::MutexLock lock(mutex_);
  exitDeadlines_.emplace_back(agent, options_.now() + options_.exitGrace);
}

void AgentChannel::WakeServiceThread() const {
  if (options_.wakeMessage == 0) return;
  const platform::Result<void> posted = platform::PostThreadMessage(options_.serviceThread, options_.wakeMessage, 0, 0);
  if (!posted) Log("Agent channel: cannot wake the service thread (error " + std::to_string(posted.error()) + ")");
}

bool AgentChannel::ExitsPending() const {
  platform::MutexLock lock(mutex_);
  return !exitDeadlines_.empty();
}

bool AgentChannel::WorkWaiting(AgentId lastSeen) const {
  platform::MutexLock lock(mutex_);
  if (!incoming_.empty()) return true;
  return std::any_of(connections_.begin(), connections_.end(),
                     [lastSeen](const auto& c) { return c->id > lastSeen && !c->Finished(); });
}

void AgentChannel::DropOverdue() {
  serviceEnd_.Check();
  std::vector<AgentId> overdue;
  {
    platform::MutexLock lock(mutex_);
    const auto now = options_.now();
    std::erase_if(exitDeadlines_, [&](const auto& entry) PW_REQUIRES(mutex_) {
      const bool connected = std::any_of(connections_.begin(), connections_.end(), [&](const auto& c) {
        return c->id == entry.first && !c->Finished();
      });
      if (!connected) return true;
      if (now < entry.second) return false;
      overdue.push_back(entry.first);
      return true;
    });
  }
  for (AgentId agent : overdue) {
    LogRefusal("Agent channel: an agent of session " + std::to_string(SessionOf(agent)) +
               " ignored Exit and was dropped");
    Drop(agent);
  }
}

void AgentChannel::Drop(AgentId agent) {
  platform::MutexLock lock(mutex_);
  for (const auto& connection : connections_) {
    if (connection->id == agent) connection->Close();
  }
}

std::vector<AgentMessage> AgentChannel::TakeMessages() {
  serviceEnd_.Check();
  platform::MutexLock lock(mutex_);
  std::vector<AgentMessage> taken(std::make_move_iterator(incoming_.begin()), std::make_move_iterator(incoming_.end()));
  incoming_.clear();
  return taken;
}

std::size_t AgentChannel::AgentCount() const {
  platform::MutexLock lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(connections_.begin(), connections_.end(), [](const auto& c) { return !c->Finished(); }));
}

std::vector<AgentId> AgentChannel::Agents() const {
  platform::MutexLock lock(mutex_);
  std::vector<AgentId> ids;
  for (const auto& connection : connections_) {
    if (!connection->Finished()) ids.push_back(connection->id);
  }
  return ids;
}

std::uint32_t AgentChannel::SessionOf(AgentId agent) const {
  platform::MutexLock lock(mutex_);
  for (const auto& connection : connections_) {
    // A new agent of the session of one that has just closed its end is not a second one.
    if (connection->id == agent && connection->AgentPresent()) return connection->sessionId;
  }
  return platform::kNoSession;
}

void AgentChannel::ReapFinished() {
  std::vector<std::shared_ptr<Connection>> finished;
  {
    platform::MutexLock lock(mutex_);
    const auto split = std::stable_partition(connections_.begin(), connections_.end(),
                                             [](const auto& c) { return !c->Finished(); });
    finished.assign(split, connections_.end());
    connections_.erase(split, connections_.end());
  }
  for (const auto& connection : finished) {
    connection->reader.join();
    connection->writer.join();
  }
}

}  // namespace pw::agent
