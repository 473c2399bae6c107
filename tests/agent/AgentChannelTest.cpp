// The service's and the agent's ends of the agent channel over the host
// world's named pipes, with well-behaved agents and hostile clients.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
#include "platform/hostworld/World.h"
#include "platform/hostworld/WorldSessions.h"
#include "tests/support/host/UserPipeServer.h"
#include "tests/support/Waiting.h"

namespace pw::agent {
namespace {

constexpr auto kDeadline = std::chrono::seconds(10);
constexpr std::uint32_t kWake = platform::wm::kUser + 77;

using pw::test::WaitUntil;

std::vector<std::byte> Raw(std::initializer_list<int> values) {
  std::vector<std::byte> bytes;
  for (int value : values) bytes.push_back(static_cast<std::byte>(value));
  return bytes;
}

class AgentChannelTest : public ::testing::Test {
 protected:
  AgentChannelTest() {
    static std::atomic<unsigned> counter{0};
    options_.pipeName = "PagewickChannelTest" + std::to_string(++counter);
    options_.logError = [this](const std::string& text) {
      std::scoped_lock lock(logMutex_);
      log_.push_back(text);
    };
    world_.MakeDirectories("C:\\Scans");
  }
  ~AgentChannelTest() override { ::unsetenv("PAGEWICK_SESSION"); }

  std::vector<std::string> Log() {
    std::scoped_lock lock(logMutex_);
    return log_;
  }
  bool Logged(std::string_view part) {
    return WaitUntil([&] {
      for (const std::string& entry : Log()) {
        if (entry.find(part) != std::string::npos) return true;
      }
      return false;
    });
  }

  std::unique_ptr<ServiceConnection> ConnectAgent() {
    auto agent = std::make_unique<ServiceConnection>(ServiceConnection::Options{options_.pipeName, 0, 0});
    const platform::Result<void> connected = agent->Connect();
    EXPECT_TRUE(connected.ok()) << connected.error();
    return agent;
  }

  // Whether the service closed a raw client's pipe: its read ends in 109.
  static bool ClosedByService(platform::Pipe& client) {
    auto read = std::async(std::launch::async, [&] {
      std::byte buffer[kMaxMessageSize];
      return client.Read(buffer);
    });
    if (read.wait_for(kDeadline) != std::future_status::ready) {
      client.Cancel();
      return false;
    }
    return read.get().error == platform::error::kBrokenPipe;
  }

  hostworld::World world_;
  std::mutex logMutex_;
  std::vector<std::string> log_;
  AgentChannel::Options options_;
};

TEST_F(AgentChannelTest, AgentMessageReachesTheServiceThreadWithAWakeUp) {
  options_.serviceThread = platform::GetCurrentThreadId();
  options_.wakeMessage = kWake;
  (void)platform::PeekMessage();  // gives this thread its message queue
  AgentChannel channel(options_);
  ASSERT_TRUE(channel.Start().ok());
  auto agent = ConnectAgent();
  ASSERT_TRUE(agent->Send(ApplyMessage{1, "C:\\Scans", true}).ok());

  std::vector<AgentMessage> taken;
  ASSERT_TRUE(WaitUntil([&] {
    auto more = channel.TakeMessages();
    taken.insert(taken.end(), more.begin(), more.end());
    return !taken.empty();
  }));
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].message, Message(ApplyMessage{1, "C:\\Scans", true}));
  EXPECT_EQ(taken[0].sessionId, 0u);
  ASSERT_TRUE(taken[0].locationCheck.has_value());
  EXPECT_TRUE(taken[0].locationCheck->ok()) << taken[0].locationCheck->error();

  const std::optional<platform::Message> woken = platform::PeekMessage();
  ASSERT_TRUE(woken.has_value());
  EXPECT_EQ(woken->message, kWake);
  EXPECT_TRUE(Log().empty());
}

TEST_F(AgentChannelTest, LocationCheckRunsAsTheAgentsUser) {
  world_.UserSessions().DenyUserWrites("C:\\Windows");
  const std::uint32_t session = world_.UserSessions().LogOn("ann");
  ::setenv("PAGEWICK_SESSION", std::to_string(session).c_str(), 1);
  AgentChannel channel(options_);
  ASSERT_TRUE(channel.Start().ok());
  auto agent = ConnectAgent();
  ASSERT_TRUE(agent->Send(ApplyMessage{1, "C:\\Windows\\System32", false}).ok());
  ASSERT_TRUE(agent->Send(ApplyMessage{1, "C:\\Scans", false}).ok());

  std::vector<AgentMessage> taken;
  ASSERT_TRUE(WaitUntil([&] {
    auto more = channel.TakeMessages();
    taken.insert(taken.end(), more.begin(), more.end());
    return taken.size() == 2;
  }));
  EXPECT_EQ(taken[0].sessionId, session);
  ASSERT_TRUE(taken[0].locationCheck && taken[1].locationCheck);
  EXPECT_FALSE(taken[0].locationCheck->ok());
  EXPECT_EQ(taken[0].locationCheck->error(), platform::error::kAccessDenied);
  EXPECT_TRUE(taken[1].locationCheck->ok());
}

TEST_F(AgentChannelTest, BroadcastReachesEveryAgentAndExitReachesOne) {
  options_.maxAgentsPerSession = 3;  // three agents of this process's session
  AgentChannel channel(options_);
  ASSERT_TRUE(channel.Start().ok());
  std::vector<std::unique_ptr<ServiceConnection>> agents;
  for (int i = 0; i < 3; ++i) agents.push_back(ConnectAgent());
  ASSERT_TRUE(WaitUntil([&] { return channel.AgentCount() == 3; }));

  const Message state = StateMessage{1, "C:\\Scans", true, true};
  channel.Broadcast(state);
  for (auto& agent : agents) {
    std::vector<Message> got;
    ASSERT_TRUE(WaitUntil([&] {
      auto more = agent->TakeMessages();
      got.insert(got.end(), more.begin(), more.end());
      return !got.empty();
    }));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], state);
  }

  // Exit to the first agent alone, then the service stops: every agent sees the end.
  ASSERT_TRUE(agents[0]->Send(ExitMessage{}).ok());
  std::vector<AgentMessage> fromAgents;
  ASSERT_TRUE(WaitUntil([&] {
    fromAgents = channel.TakeMessages();
    return !fromAgents.empty();
  }));
  ASSERT_TRUE(channel.Send(fromAgents[0].agent, ExitMessage{}));
  ASSERT_TRUE(WaitUntil([&] { return !agents[0]->TakeMessages().empty(); }));
  EXPECT_TRUE(agents[1]->TakeMessages().empty());
  channel.Stop();
  for (auto& agent : agents) EXPECT_TRUE(WaitUntil([&] { return !agent->Connected(); }));
}

TEST_F(AgentChannelTest, HostileMessagesCloseTheirConnectionAndReachNobody) {
  AgentChannel channel(options_);
  ASSERT_TRUE(channel.Start().ok());
  struct Case {
    const char* what;
    std::vector<std::byte> bytes;
    const char* logged;
  };
  std::vector<std::byte> oversized(kMaxMessageSize + 100, std::byte{0x41});
  const std::vector<Case> cases = {
      {"garbage", Raw({0xde, 0xad, 0xbe, 0xef, 0x01}), "shorter than its header"},
      {"huge length", Raw({2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F}), "too large"},
      // In message mode half a message is a short message of its own.
      {"half a message", Raw({2, 0, 0, 0, 20, 0, 0, 0, 1, 0}), "does not match"},
      {"more than the largest message", oversized, "too large"},
      {"a message only the service sends", Encode(StateMessage{}), "not expected"},
      {"a path over 128 characters", Encode(ApplyMessage{1, std::string(129, 'a'), false}), "longer than 128"},
      {"save type 7", Encode(ApplyMessage{7, "C:\\Scans", false}), "save type"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::Result<platform::Pipe> client = platform::OpenPipeClient(options_.pipeName);
    ASSERT_TRUE(client.ok()) << client.error();
    ASSERT_TRUE(client->Write(c.bytes).ok);
    EXPECT_TRUE(ClosedByService(*client));
    EXPECT_TRUE(Logged(c.logged));
  }
  // A client that sends half a message and hangs up is refused all the same.
  {
    platform::Result<platform::Pipe> client = platform::OpenPipeClient(options_.pipeName);
    ASSERT_TRUE(client.ok());
    ASSERT_TRUE(client->Write(Raw({6, 0, 0, 0, 9})).ok);
  }
  EXPECT_TRUE(WaitUntil([&] { return channel.AgentCount() == 0; }));
  EXPECT_TRUE(channel.TakeMessages().empty());

  // The channel still serves a well-behaved agent.
  auto agent = ConnectAgent();
  ASSERT_TRUE(agent->Send(ExitMessage{}).ok());
  EXPECT_TRUE(WaitUntil([&] { return channel.TakeMessages().size() == 1; }));
}

TEST_F(AgentChannelTest, ConnectionsBeyondTheLimitAreRefused) {
  options_.maxAgents = 3;
  AgentChannel channel(options_);
  ASSERT_TRUE(channel.Start().ok());
  std::vector<platform::Pipe> clients;
  for (int i = 0; i < 8; ++i) {
    // Each of its own session: the limit of all agents refuses them.
    ::setenv("PAGEWICK_SESSION", std::to_string(i + 1).c_str(), 1);
    platform::Result<platform::Pipe> client = platform::OpenPipeClient(options_.pipeName);
    ASSERT_TRUE(client.ok()) << client.error();
    clients.push_back(std::move(client).value());
  }
  EXPECT_TRUE(Logged("too many agents; a connection was refused"));
  EXPECT_TRUE(WaitUntil([&] { return channel.AgentCount() == 3; }));
  EXPECT_LE(channel.AgentCount(), 3u);
  auto stopped = std::async(std::launch::async, [&] { channel.Stop(); });
  EXPECT_EQ(stopped.wait_for(kDeadline), std::future_status::ready);
}

// One session holding connections cannot take the places of the others.
TEST_F(AgentChannelTest, ASessionHoldsAtMostItsShareOfConnections) {
  AgentChannel channel(options_);
  ASSERT_TRUE(channel.Start().ok());
  std::vector<platform::Pipe> held;
  ::setenv("PAGEWICK_SESSION", "1", 1);
  for (int i = 0; i < 16; ++i) {
    platform::Result<platform::Pipe> client = platform::OpenPipeClient(options_.pipeName);
    ASSERT_TRUE(client.ok()) << client.error();
    held.push_back(std::move(client).value());
  }
  EXPECT_TRUE(Logged("too many agents of session 1"));
  ::setenv("PAGEWICK_SESSION", "2", 1);
  auto other = ConnectAgent();
  EXPECT_TRUE(WaitUntil([&] { return channel.AgentCount() == 3; })) << "two of session 1, one of session 2";
  std::size_t ofOne = 0;
  std::size_t ofTwo = 0;
  for (AgentId id : channel.Agents()) {
    ofOne += channel.SessionOf(id) == 1;
    ofTwo += channel.SessionOf(id) == 2;
  }
  EXPECT_EQ(ofOne, 2u);
  EXPECT_EQ(ofTwo, 1u);
  EXPECT_TRUE(other->Send(ExitMessage{}).ok());
  EXPECT_TRUE(WaitUntil([&] { return channel.TakeMessages().size() == 1; })) << "the other session is served";
}

// A client that has closed its end holds no place, even before the channel's
// threads have seen it go: clients that come and go at once are never refused.
TEST_F(AgentChannelTest, AClosedConnectionHoldsNoPlace) {
  options_.maxAgents = 1;
  options_.maxAgentsPerSession = 1;
  AgentChannel channel(options_);
  ASSERT_TRUE(channel.Start().ok());
  ::setenv("PAGEWICK_SESSION", "1", 1);
  for (int i = 0; i < 100; ++i) {
    platform::Result<platform::Pipe> client = platform::OpenPipeClient(options_.pipeName);
    ASSERT_TRUE(client.ok()) << client.error();
  }
  auto agent = ConnectAgent();
  EXPECT_TRUE(agent->Send(ExitMessage{}).ok());
  EXPECT_TRUE(WaitUntil([&] { return channel.TakeMessages().size() == 1; })) << "the last one is served";
  for (const std::string& entry : Log()) EXPECT_EQ(entry.find("too many agents"), std::string::npos) << entry;
}

// An agent that writes its last message and goes at once, while the service
// is writing to it, has that message taken.
TEST_F(AgentChannelTest, WhatAnAgentSentBeforeItWentIsTaken) {
  AgentChannel channel(options_);
  ASSERT_TRUE(channel.Start().ok());
  constexpr int kAgents = 40;
  int taken = 0;
  for (int i = 0; i < kAgents; ++i) {
    platform::Result<platform::Pipe> client = platform::OpenPipeClient(options_.pipeName);
    ASSERT_TRUE(client.ok()) << client.error();
    ASSERT_TRUE(WaitUntil([&] { return channel.AgentCount() == 1; }));
    // The service's messages stay unread, as an agent that ends leaves them.
    for (int j = 0; j < 4; ++j) channel.Broadcast(StateMessage{});
    ASSERT_TRUE(client->Write(Encode(ExitMessage{})).ok);
    client->Close();
    for (int j = 0; j < 4; ++j) channel.Broadcast(StateMessage{});
    ASSERT_TRUE(WaitUntil([&] { return channel.AgentCount() == 0; }));
    taken += static_cast<int>(channel.TakeMessages().size());
  }
  EXPECT_EQ(taken, kAgents);
}

// An agent told to end that stays connected is dropped once the grace is
// over; one that ends in time is not reported.
TEST_F(AgentChannelTest, AnAgentThatIgnoresExitIsDroppedAfterTheGrace) {
  auto now = std::chrono::steady_clock::now();
  options_.now = [&now] { return now; };
  options_.exitGrace = std::chrono::seconds(5);
  AgentChannel channel(options_);
  ASSERT_TRUE(channel.Start().ok());
  platform::Result<platform::Pipe> stubborn = platform::OpenPipeClient(options_.pipeName);
  ASSERT_TRUE(stubborn.ok());
  auto polite = ConnectAgent();
  ASSERT_TRUE(WaitUntil([&] { return channel.AgentCount() == 2; }));
  for (AgentId id : channel.Agents()) channel.SendExit(id);
  polite->Close();
  ASSERT_TRUE(WaitUntil([&] { return channel.AgentCount() == 1; }));
  // The stubborn agent was told (the read waits for the channel's writer).
  std::byte exit[kMaxMessageSize];
  const platform::PipeTransfer told = stubborn->Read(exit);
  ASSERT_TRUE(told.ok);
  EXPECT_EQ(Decode(std::span(exit).first(told.bytes), Sender::Service).message, Message(ExitMessage{}));

  now += std::chrono::milliseconds(4900);
  channel.DropOverdue();
  EXPECT_EQ(channel.AgentCount(), 1u) << "within the grace";
  now += std::chrono::milliseconds(200);
  channel.DropOverdue();
  EXPECT_TRUE(WaitUntil([&] { return channel.AgentCount() == 0; }));
  EXPECT_TRUE(ClosedByService(*stubborn));
  const std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("ignored Exit"), std::string::npos) << log[0];
}

// However many refusals a user causes, the event log takes ten a minute and
// then one line that says how many were left out.
TEST_F(AgentChannelTest, RefusalsAreRateLimitedInTheEventLog) {
  auto now = std::chrono::steady_clock::now();
  options_.now = [&now] { return now; };
  AgentChannel channel(options_);
  for (int i = 0; i < 25; ++i) channel.LogRefusal("refusal " + std::to_string(i));
  EXPECT_EQ(Log().size(), 10u);
  now += std::chrono::seconds(59);
  channel.LogRefusal("still the same minute");
  EXPECT_EQ(Log().size(), 10u);
  now += std::chrono::seconds(2);
  channel.LogRefusal("next minute");
  const std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 12u);
  EXPECT_EQ(log[9], "refusal 9");
  EXPECT_NE(log[10].find("16 further refusals"), std::string::npos) << log[10];
  EXPECT_EQ(log[11], "next minute");
  for (int i = 0; i < 12; ++i) channel.LogRefusal("flood");
  channel.Stop();
  EXPECT_NE(Log().back().find("3 further refusals"), std::string::npos) << "told at the end too";
}

// Disabled in a test run: only UserPipeServer runs it, in a process of its own.
TEST(UserPipeServerProcess, DISABLED_CreatesAnInstanceAsAUser) { test::ServePipeAsAUser(); }

// A user can neither add an instance of the service's pipe nor take the name
// before the service starts: the service then cannot serve, and no agent
// talks to the user's server.
TEST_F(AgentChannelTest, AUsersServerOfThePipeIsRefused) {
  {
    AgentChannel channel(options_);
    ASSERT_TRUE(channel.Start().ok());
    const test::UserPipeServer added(world_, options_.pipeName, false);
    EXPECT_EQ(added.Result(), std::optional<platform::ErrorCode>(platform::error::kAccessDenied));
  }
  const test::UserPipeServer squatter(world_, options_.pipeName, true);
  ASSERT_EQ(squatter.Result(), std::optional<platform::ErrorCode>(0));
  AgentChannel late(options_);
  EXPECT_EQ(late.Start().error(), platform::error::kAccessDenied) << "the first instance is the user's";
  ServiceConnection agent(ServiceConnection::Options{options_.pipeName, 0, 0});
  const platform::Result<void> connected = agent.Connect();
  EXPECT_FALSE(connected.ok());
  EXPECT_EQ(connected.error(), platform::error::kAccessDenied) << "its server does not run as LocalSystem";
  EXPECT_FALSE(agent.Send(ApplyMessage{1, "C:\\Scans", false}).ok()) << "nothing reaches it";
}

TEST_F(AgentChannelTest, AnAgentThatDoesNotReadIsDroppedNotWaitedFor) {
  options_.maxOutgoingPerAgent = 4;
  AgentChannel channel(options_);
  ASSERT_TRUE(channel.Start().ok());
  platform::Result<platform::Pipe> silent = platform::OpenPipeClient(options_.pipeName);
  ASSERT_TRUE(silent.ok());
  ASSERT_TRUE(WaitUntil([&] { return channel.AgentCount() == 1; }));
  auto flood = std::async(std::launch::async, [&] {
    for (int i = 0; i < 100000 && channel.AgentCount() == 1; ++i) {
      channel.Broadcast(StateMessage{1, std::string(kMaxPathLength, 'x'), true, true});
    }
  });
  ASSERT_EQ(flood.wait_for(kDeadline), std::future_status::ready);
  EXPECT_TRUE(WaitUntil([&] { return channel.AgentCount() == 0; }));
  EXPECT_TRUE(Logged("does not read"));
}

TEST_F(AgentChannelTest, AgentWithoutAServiceFailsToConnect) {
  ServiceConnection agent(ServiceConnection::Options{options_.pipeName, 0, 0});
  const platform::Result<void> connected = agent.Connect();
  EXPECT_FALSE(connected.ok());
  EXPECT_EQ(connected.error(), platform::error::kFileNotFound);
  EXPECT_FALSE(agent.Send(ExitMessage{}).ok());
}

TEST_F(AgentChannelTest, SecondServiceCannotTakeThePipe) {
  AgentChannel first(options_);
  ASSERT_TRUE(first.Start().ok());
  AgentChannel second(options_);
  const platform::Result<void> started = second.Start();
  EXPECT_FALSE(started.ok());
  EXPECT_EQ(started.error(), platform::error::kAccessDenied);
}

}  // namespace
}  // namespace pw::agent
