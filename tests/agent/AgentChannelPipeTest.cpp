// The agent channel end to end over the platform's named pipes, in both
// builds: under Wine it runs over the real Win32 pipes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/AgentChannel.h"
#include "agent/ServiceConnection.h"
#include "platform/Messages.h"
#include "platform/NamedPipe.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/Waiting.h"

namespace pw::agent {
namespace {

constexpr auto kDeadline = std::chrono::seconds(10);

using pw::test::WaitUntil;

class AgentChannelPipeTest : public ::testing::Test {
 protected:
  AgentChannelPipeTest() {
    static std::atomic<unsigned> counter{0};
    options_.pipeName = "PagewickChannel" + std::to_string(platform::GetCurrentThreadId()) + "x" +
                        std::to_string(platform::GetTickCount()) + "x" + std::to_string(++counter);
    options_.logError = [this](const std::string& text) {
      std::scoped_lock lock(logMutex_);
      log_.push_back(text);
    };
  }
  std::size_t LogSize() {
    std::scoped_lock lock(logMutex_);
    return log_.size();
  }

  test::ScratchFolder scratch_;  // the host world, in the host build
  std::mutex logMutex_;
  std::vector<std::string> log_;
  AgentChannel::Options options_;
};

TEST_F(AgentChannelPipeTest, ApplyGoesUpStateComesDownAndStopEndsTheAgent) {
  AgentChannel channel(options_);
  const platform::Result<void> started = channel.Start();
  ASSERT_TRUE(started.ok()) << started.error();
  // The server runs as this process's user (under Wine no process runs as
  // LocalSystem): the machine's policy value lets the agent accept it.
  const test::MachinePolicyValue sameUserServer(kAllowServerOfSameUser, 1);
  ASSERT_TRUE(sameUserServer.ok());
  ServiceConnection agent(ServiceConnection::Options{options_.pipeName, 0, 0});
  const platform::Result<void> connected = agent.Connect();
  ASSERT_TRUE(connected.ok()) << connected.error();

  ASSERT_TRUE(agent.Send(ApplyMessage{1, scratch_.Path(), true}).ok());
  std::vector<AgentMessage> up;
  ASSERT_TRUE(WaitUntil([&] {
    up = channel.TakeMessages();
    return !up.empty();
  }));
  EXPECT_EQ(up[0].message, Message(ApplyMessage{1, scratch_.Path(), true}));
  ASSERT_TRUE(up[0].locationCheck.has_value());
  EXPECT_TRUE(up[0].locationCheck->ok()) << up[0].locationCheck->error();

  const Message state = StateMessage{1, scratch_.Path(), true, false};
  channel.Broadcast(state);
  std::vector<Message> down;
  ASSERT_TRUE(WaitUntil([&] {
    down = agent.TakeMessages();
    return !down.empty();
  }));
  EXPECT_EQ(down[0], state);

  auto stopped = std::async(std::launch::async, [&] { channel.Stop(); });
  ASSERT_EQ(stopped.wait_for(kDeadline), std::future_status::ready);
  EXPECT_TRUE(WaitUntil([&] { return !agent.Connected(); }));
  EXPECT_EQ(LogSize(), 0u);
}

TEST_F(AgentChannelPipeTest, GarbageClosesTheConnectionWithALogEntry) {
  AgentChannel channel(options_);
  ASSERT_TRUE(channel.Start().ok());
  platform::Result<platform::Pipe> client = platform::OpenPipeClient(options_.pipeName);
  ASSERT_TRUE(client.ok()) << client.error();
  const std::byte garbage[] = {std::byte{0xFF}, std::byte{0xFF}, std::byte{0xFF}, std::byte{0xFF},
                               std::byte{0xFF}, std::byte{0xFF}, std::byte{0xFF}, std::byte{0xFF}};
  ASSERT_TRUE(client->Write(garbage).ok);
  auto read = std::async(std::launch::async, [&] {
    std::byte buffer[64];
    return client->Read(buffer);
  });
  if (read.wait_for(kDeadline) != std::future_status::ready) {
    client->Cancel();
    FAIL() << "the service kept the connection";
  }
  EXPECT_EQ(read.get().error, platform::error::kBrokenPipe);
  EXPECT_TRUE(WaitUntil([&] { return LogSize() == 1; }));
  EXPECT_TRUE(channel.TakeMessages().empty());
}

}  // namespace
}  // namespace pw::agent
