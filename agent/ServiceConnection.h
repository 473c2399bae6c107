#pragma once
// The agent's end of the agent channel: a client of the service's pipe. A
// background thread reads and decodes the service's messages and queues them
// for the agent's thread, which a posted thread message wakes; the same
// message, with Connected() false, tells the agent that the service is gone.
// The agent thread is the one that builds the connection (checked).
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/AgentChannel.h"
#include "agent/AgentProtocol.h"
#include "platform/Result.h"
#include "platform/Messages.h"
#include "platform/ThreadChecker.h"

namespace pw::agent {

// The machine policy value (a DWORD under HKLM\SOFTWARE\Pagewick) that, set
// to 1, lets an agent talk to a server run by its own user: for test
// machines whose service cannot run as LocalSystem. The installer never sets it.
inline constexpr const char* kAllowServerOfSameUser = "AllowServerOfSameUser";
bool ServerOfSameUserAllowed();

class ServiceConnection {
 public:
  struct Options {
    std::string pipeName = kPipeName;
    platform::ThreadId agentThread = 0;  // posted to after each message and at the end; 0: none
    std::uint32_t wakeMessage = 0;
  };

  explicit ServiceConnection(Options options);
  ~ServiceConnection();
  ServiceConnection(const ServiceConnection&) = delete;
  ServiceConnection& operator=(const ServiceConnection&) = delete;

  // Opens the pipe and starts the reader. Fails with 2 when the service does
  // not serve the pipe, with 5 when its server does not run as LocalSystem
  // (nor, where the machine policy allows it, as the agent's own user) or who
  // runs it cannot be told. Agent thread.
  platform::Result<void> Connect();
  // Writes one message. Fails when the connection is closed. Agent thread.
  platform::Result<void> Send(const Message& message);
  // The messages that arrived since the last call, oldest first. Agent thread.
  std::vector<Message> TakeMessages();
  // False once the service closed the pipe or sent something the decoder
  // refused (Refused() says what). Any thread.
  bool Connected() const { return connected_.load(); }
  Refusal Refused() const;
  // Closes the pipe and ends the reader. Agent thread; the destructor calls it.
  void Close();

 private:
  void ReadLoop();
  void Wake();

  Options options_;
  std::unique_ptr<struct ServicePipe> pipe_;
  std::thread reader_;
  std::atomic<bool> connected_{false};
  mutable std::mutex mutex_;
  std::deque<Message> incoming_;
  Refusal refused_ = Refusal::None;
  [[no_unique_address]] platform::ThreadChecker agentThread_{"ServiceConnection's agent thread"};
};

}  // namespace pw::agent
