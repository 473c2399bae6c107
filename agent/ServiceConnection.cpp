#include "agent/ServiceConnection.h"

#include <chrono>
#include <utility>

#include "platform/NamedPipe.h"
#include "platform/Security.h"
#include "platform/SystemInfo.h"

namespace pw::agent {

bool ServerOfSameUserAllowed() { return platform::ReadMachinePolicyDword(kAllowServerOfSameUser) == 1u; }

struct ServicePipe {
  platform::Pipe pipe;
};

ServiceConnection::ServiceConnection(Options options) : options_(std::move(options)) {}

ServiceConnection::~ServiceConnection() { Close(); }

platform::Result<void> ServiceConnection::Connect() {
  agentThread_.Check();
  if (pipe_) return platform::Failure(platform::error::kAlreadyExists);
  platform::Result<platform::Pipe> opened = platform::OpenPipeClient(options_.pipeName);
  // Every instance busy (231): the service makes the next one at once.
  for (int attempt = 0; !opened && opened.error() == platform::error::kPipeBusy && attempt < 40; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    opened = platform::OpenPipeClient(options_.pipeName);
  }
  if (!opened) return platform::Failure(opened.error());
  // The service runs as LocalSystem. Any other server is a squatter, and
  // learns nothing: nothing was sent. A server of the agent's own user is
  // taken only where an administrator allowed it (a test machine whose
  // service runs as that user).
  const platform::Result<std::uint32_t> server = opened->ServerProcessId();
  if (!server || (!platform::ProcessRunsAsLocalSystem(*server) &&
                  !(ServerOfSameUserAllowed() && platform::ProcessRunsAsThisUser(*server)))) {
    return platform::Failure(platform::error::kAccessDenied);
  }
  pipe_ = std::make_unique<ServicePipe>(ServicePipe{std::move(opened).value()});
  connected_ = true;
  reader_ = std::thread([this] { ReadLoop(); });
  return platform::Success();
}

platform::Result<void> ServiceConnection::Send(const Message& message) {
  agentThread_.Check();
  if (!pipe_ || !connected_) return platform::Failure(platform::error::kPipeNotConnected);
  const platform::PipeTransfer written = pipe_->pipe.Write(Encode(message));
  if (!written.ok) return platform::Failure(written.error);
  return platform::Success();
}

std::vector<Message> ServiceConnection::TakeMessages() {
  agentThread_.Check();
  std::scoped_lock lock(mutex_);
  std::vector<Message> taken(std::make_move_iterator(incoming_.begin()), std::make_move_iterator(incoming_.end()));
  incoming_.clear();
  return taken;
}

Refusal ServiceConnection::Refused() const {
  std::scoped_lock lock(mutex_);
  return refused_;
}

void ServiceConnection::Close() {
  agentThread_.Check();
  if (!pipe_) return;
  pipe_->pipe.Cancel();
  if (reader_.joinable()) reader_.join();
  pipe_.reset();
  connected_ = false;
}

void ServiceConnection::Wake() {
  if (options_.wakeMessage == 0) return;
  // A failed post leaves the messages queued; the agent finds them at its next look.
  platform::PostThreadMessage(options_.agentThread, options_.wakeMessage, 0, 0).IgnoreFailure();
}

void ServiceConnection::ReadLoop() {
  std::vector<std::byte> buffer(kMaxMessageSize);
  for (;;) {
    const platform::PipeTransfer read = pipe_->pipe.Read(buffer);
    if (!read.ok) {
      if (read.error == platform::error::kMoreData) {
        std::scoped_lock lock(mutex_);
        refused_ = Refusal::TooLarge;
      }
      break;
    }
    Decoded decoded = Decode(std::span(buffer).first(read.bytes), Sender::Service);
    if (!decoded) {
      std::scoped_lock lock(mutex_);
      refused_ = decoded.refusal;
      break;
    }
    {
      std::scoped_lock lock(mutex_);
      incoming_.push_back(std::move(decoded.message));
    }
    Wake();
  }
  connected_ = false;
  Wake();
}

}  // namespace pw::agent
