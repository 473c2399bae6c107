// Named pipes in message mode and the session queries, in both builds: what
// the channel between the service and its session agents relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Messages.h"
#include "platform/NamedPipe.h"
#include "platform/Security.h"
#include "platform/Sessions.h"
#include "tests/support/TestEnvironment.h"

namespace pw::platform {
namespace {

constexpr auto kDeadline = std::chrono::seconds(10);

std::vector<std::byte> Bytes(std::string_view text) {
  std::vector<std::byte> bytes;
  for (char c : text) bytes.push_back(static_cast<std::byte>(c));
  return bytes;
}

std::string Text(std::span<const std::byte> bytes) {
  std::string text;
  for (std::byte b : bytes) text += static_cast<char>(b);
  return text;
}

class NamedPipeTest : public ::testing::Test {
 protected:
  NamedPipeTest() {
    static std::atomic<unsigned> counter{0};
    name_ = "PagewickTest" + std::to_string(GetCurrentThreadId()) + "x" + std::to_string(GetTickCount()) + "x" +
            std::to_string(++counter);
  }

  // A server instance and a client connected to it.
  struct Pair {
    Pipe server;
    Pipe client;
  };
  Pair Connected(bool firstInstance = true) {
    Pair pair;
    Result<Pipe> server = CreatePipeServer(name_, firstInstance, 4096);
    EXPECT_TRUE(server.ok()) << server.error();
    Result<Pipe> client = OpenPipeClient(name_);
    EXPECT_TRUE(client.ok()) << client.error();
    if (!server || !client) return pair;
    const Result<void> connected = server->Connect();
    EXPECT_TRUE(connected.ok()) << connected.error();
    pair.server = std::move(server).value();
    pair.client = std::move(client).value();
    return pair;
  }

  std::string ReadText(Pipe& pipe) {
    std::vector<std::byte> buffer(512);
    const PipeTransfer read = pipe.Read(buffer);
    EXPECT_TRUE(read.ok) << read.error;
    return Text(std::span(buffer).first(read.bytes));
  }

  // ScratchFolder makes the host world the pipes live in.
  test::ScratchFolder scratch_;
  std::string name_;
};

TEST_F(NamedPipeTest, MessagesKeepTheirBoundariesBothWays) {
  Pair pair = Connected();
  ASSERT_TRUE(pair.server && pair.client);
  ASSERT_TRUE(pair.client.Write(Bytes("abc")).ok);
  ASSERT_TRUE(pair.client.Write(Bytes("defgh")).ok);
  EXPECT_EQ(ReadText(pair.server), "abc");
  EXPECT_EQ(ReadText(pair.server), "defgh");
  const PipeTransfer written = pair.server.Write(Bytes("reply"));
  EXPECT_TRUE(written.ok);
  EXPECT_EQ(written.bytes, 5u);
  EXPECT_EQ(ReadText(pair.client), "reply");
}

TEST_F(NamedPipeTest, MessageLargerThanTheBufferComesInPartsWithMoreData) {
  Pair pair = Connected();
  ASSERT_TRUE(pair.server && pair.client);
  ASSERT_TRUE(pair.client.Write(Bytes("0123456789")).ok);
  ASSERT_TRUE(pair.client.Write(Bytes("next")).ok);
  std::byte part[4];
  std::string whole;
  PipeTransfer read = pair.server.Read(part);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, error::kMoreData);
  EXPECT_EQ(read.bytes, 4u);
  whole += Text(std::span(part).first(read.bytes));
  read = pair.server.Read(part);
  EXPECT_EQ(read.error, error::kMoreData);
  whole += Text(std::span(part).first(read.bytes));
  read = pair.server.Read(part);
  EXPECT_TRUE(read.ok);
  EXPECT_EQ(read.bytes, 2u);
  whole += Text(std::span(part).first(read.bytes));
  EXPECT_EQ(whole, "0123456789");
  // The rest of a message never runs into the next one.
  EXPECT_EQ(ReadText(pair.server), "next");
}

TEST_F(NamedPipeTest, SecondInstanceServesASecondClient) {
  Pair first = Connected(true);
  ASSERT_TRUE(first.server && first.client);
  {
    // FILE_FLAG_FIRST_PIPE_INSTANCE on a pipe that exists fails with 5. The
    // instance closes again at once, so the next client cannot land on it.
    const Result<Pipe> another = CreatePipeServer(name_, true, 4096);
    if (!another.ok() ||
        !test::KnownWineDifference("FILE_FLAG_FIRST_PIPE_INSTANCE does not refuse a second instance")) {
      EXPECT_FALSE(another.ok());
      EXPECT_EQ(another.error(), error::kAccessDenied);
    }
  }

  Pair second = Connected(false);
  ASSERT_TRUE(second.server && second.client);
  ASSERT_TRUE(second.client.Write(Bytes("two")).ok);
  ASSERT_TRUE(first.client.Write(Bytes("one")).ok);
  EXPECT_EQ(ReadText(first.server), "one");
  EXPECT_EQ(ReadText(second.server), "two");
}

TEST_F(NamedPipeTest, ClientGoneBreaksTheServersReadsAndWrites) {
  Pair pair = Connected();
  ASSERT_TRUE(pair.server && pair.client);
  // What the client wrote before it went is still read, even when it left
  // the server's message unread; then the pipe is broken.
  ASSERT_TRUE(pair.server.Write(Bytes("never read")).ok);
  ASSERT_TRUE(pair.client.Write(Bytes("last words")).ok);
  pair.client.Close();
  EXPECT_EQ(ReadText(pair.server), "last words");
  std::byte buffer[16];
  const PipeTransfer read = pair.server.Read(buffer);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, error::kBrokenPipe);
  const PipeTransfer written = pair.server.Write(Bytes("late"));
  EXPECT_FALSE(written.ok);
  EXPECT_EQ(written.error, error::kNoData);
}

TEST_F(NamedPipeTest, ServerGoneBreaksTheClientsRead) {
  Pair pair = Connected();
  ASSERT_TRUE(pair.server && pair.client);
  pair.server.Close();
  std::byte buffer[16];
  const PipeTransfer read = pair.client.Read(buffer);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, error::kBrokenPipe);
}

TEST_F(NamedPipeTest, DisconnectedInstanceAcceptsTheNextClient) {
  Pair pair = Connected();
  ASSERT_TRUE(pair.server && pair.client);
  ASSERT_TRUE(pair.server.Disconnect().ok());
  std::byte buffer[16];
  EXPECT_FALSE(pair.client.Read(buffer).ok);
  // A disconnected instance listens again only once Connect runs.
  auto connect = std::async(std::launch::async, [&] { return pair.server.Connect(); });
  Result<Pipe> next = OpenPipeClient(name_);
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (!next && next.error() == error::kPipeBusy && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    next = OpenPipeClient(name_);
  }
  ASSERT_TRUE(next.ok()) << next.error();
  ASSERT_EQ(connect.wait_for(kDeadline), std::future_status::ready);
  ASSERT_TRUE(connect.get().ok());
  ASSERT_TRUE(next->Write(Bytes("again")).ok);
  EXPECT_EQ(ReadText(pair.server), "again");
}

TEST_F(NamedPipeTest, NoSuchPipeIsFileNotFound) {
  const Result<Pipe> client = OpenPipeClient(name_ + "Missing");
  EXPECT_FALSE(client.ok());
  EXPECT_EQ(client.error(), error::kFileNotFound);
}

TEST_F(NamedPipeTest, CancelEndsABlockedReadAndConnect) {
  Result<Pipe> waiting = CreatePipeServer(name_ + "Idle", true, 4096);
  ASSERT_TRUE(waiting.ok()) << waiting.error();
  auto connect = std::async(std::launch::async, [&] { return waiting->Connect(); });
  Pair pair = Connected();
  ASSERT_TRUE(pair.server && pair.client);
  auto read = std::async(std::launch::async, [&] {
    std::byte buffer[16];
    return pair.server.Read(buffer);
  });
  EXPECT_EQ(read.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  pair.server.Cancel();
  waiting->Cancel();
  ASSERT_EQ(read.wait_for(kDeadline), std::future_status::ready);
  ASSERT_EQ(connect.wait_for(kDeadline), std::future_status::ready);
  const PipeTransfer readResult = read.get();
  EXPECT_FALSE(readResult.ok);
  EXPECT_EQ(readResult.error, error::kOperationAborted);
  const Result<void> connectResult = connect.get();
  EXPECT_FALSE(connectResult.ok());
  EXPECT_EQ(connectResult.error(), error::kOperationAborted);
}

TEST_F(NamedPipeTest, ServerSeesTheClientsSession) {
  Pair pair = Connected();
  ASSERT_TRUE(pair.server && pair.client);
  const Result<std::uint32_t> own = CurrentProcessSessionId();
  ASSERT_TRUE(own.ok()) << own.error();
  const Result<std::uint32_t> client = pair.server.ClientSessionId();
  if (!client.ok() && test::KnownWineDifference("GetNamedPipeClientSessionId is not implemented")) return;
  ASSERT_TRUE(client.ok()) << client.error();
  EXPECT_EQ(*client, *own);
}

// An agent checks who serves the pipe before it says anything.
TEST_F(NamedPipeTest, ClientLearnsWhichProcessServesThePipe) {
  Pair pair = Connected();
  ASSERT_TRUE(pair.server && pair.client);
  EXPECT_FALSE(pair.server.ServerProcessId().ok()) << "only a client asks";
  const Result<std::uint32_t> server = pair.client.ServerProcessId();
  if (!server.ok() && test::KnownWineDifference("GetNamedPipeServerProcessId is not implemented")) return;
  ASSERT_TRUE(server.ok()) << server.error();
  EXPECT_NE(*server, 0u);
  EXPECT_FALSE(ProcessRunsAsLocalSystem(0));
  EXPECT_FALSE(ProcessRunsAsThisUser(0));
  EXPECT_TRUE(ProcessRunsAsThisUser(*server)) << "this process serves the pipe";
  // The tests run as the service does (outside every user's session); under
  // Wine every process runs as the one Wine user.
  if (!ProcessRunsAsLocalSystem(*server) &&
      test::KnownWineDifference("no process runs as LocalSystem (S-1-5-18)")) {
    return;
  }
  EXPECT_TRUE(ProcessRunsAsLocalSystem(*server));
}

TEST_F(NamedPipeTest, ServerProbesWhereTheClientMayWrite) {
  Pair pair = Connected();
  ASSERT_TRUE(pair.server && pair.client);
  const Result<void> writable = pair.server.ClientMayWriteIn(scratch_.Path());
  EXPECT_TRUE(writable.ok()) << writable.error();
  const Result<void> missing = pair.server.ClientMayWriteIn(scratch_ / "no such folder");
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.error(), error::kPathNotFound);
  // The probe leaves nothing behind.
  EXPECT_TRUE(FindFiles(scratch_ / "*").value_or(FindEntries()).empty());
}

TEST(Sessions, ThisProcessHasASessionAndTheQueriesAnswer) {
  test::ScratchFolder world;
  const Result<std::uint32_t> own = CurrentProcessSessionId();
  ASSERT_TRUE(own.ok()) << own.error();
  EXPECT_NE(*own, kNoSession);
  const Result<std::vector<std::uint32_t>> sessions = EnumerateInteractiveSessions();
  EXPECT_TRUE(sessions.ok() || sessions.error() == error::kCallNotImplemented) << sessions.error();
  // A process outside session 0 runs in a session a user is logged on to.
  if (sessions.ok() && *own != 0) {
    const bool listed = std::find(sessions->begin(), sessions->end(), *own) != sessions->end();
    if (!listed && test::KnownWineDifference("WTSEnumerateSessions lists no session")) return;
    EXPECT_TRUE(listed) << "session " << *own;
  }
}

}  // namespace
}  // namespace pw::platform
