// The thread checker holds an object's thread rule where checks are on, and
// costs nothing (always valid) where they are off.
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/LocationRights.h"
#include "platform/Messages.h"
#include "platform/NamedPipe.h"
#include "platform/ThreadChecker.h"
#include "tests/support/TestEnvironment.h"

namespace pw::test {
namespace {

using platform::ThreadChecker;

bool OnOtherThread(const std::function<bool()>& call) {
  bool result = false;
  std::thread other([&] { result = call(); });
  other.join();
  return result;
}

TEST(ThreadChecker, HoldsTheOwningThreadAndLetsGoWhenDetached) {
  struct Row {
    const char* what;
    bool detachFirst;
    bool firstUseOnOther;  // the first check after construction (or detach) is on another thread
    bool firstValid;
    bool thenHereValid;    // a check on this (the constructing) thread afterwards
  };
  const Row rows[] = {
      {"owner checks", false, false, true, true},
      {"another thread checks", false, true, false, true},
      // Detached, the next thread to check becomes the owner, even the old one.
      {"detached, another thread takes it", true, true, true, false},
      {"detached, the same thread takes it back", true, false, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ThreadChecker checker("Probe");
    if (row.detachFirst) checker.DetachFromThread();
    const bool first = row.firstUseOnOther ? OnOtherThread([&] { return checker.CalledOnValidThread(); })
                                           : checker.CalledOnValidThread();
    // Without checks every thread is valid.
    EXPECT_EQ(first, row.firstValid || !platform::kThreadChecksEnabled);
    EXPECT_EQ(checker.CalledOnValidThread(), row.thenHereValid || !platform::kThreadChecksEnabled);
    if (!row.firstValid && platform::kThreadChecksEnabled) {
      GTEST_FLAG_SET(death_test_style, "threadsafe");
      EXPECT_DEATH(OnOtherThread([&] {
                     checker.Check();
                     return true;
                   }),
                   "Thread rule broken: Probe used on a thread that does not own it");
    }
  }
}

// The objects that hold a rule of their own: a wrong-thread use ends the
// process naming the object; a use within the rule goes through.
TEST(ThreadChecker, HoldsTheRulesOfTheObjectsThatUseIt) {
  // The host world the pipes live in.
  const ScratchFolder scratch;
  const auto pipeName = [] {
    static unsigned counter = 0;
    return "PagewickThreadRule" + std::to_string(platform::GetCurrentThreadId()) + "x" +
           std::to_string(platform::GetTickCount()) + "x" + std::to_string(++counter);
  };
  // A server instance with a client connected, and a message for each of `messages` reads.
  struct Pair {
    platform::Pipe server;
    platform::Pipe client;
  };
  const auto connected = [&](int messages) {
    Pair pair;
    const std::string name = pipeName();
    platform::Result<platform::Pipe> server = platform::CreatePipeServer(name, true, 64);
    platform::Result<platform::Pipe> client = platform::OpenPipeClient(name);
    EXPECT_TRUE(server && client);
    if (!server || !client) return pair;
    EXPECT_TRUE(server->Connect().ok());
    pair.server = std::move(server).value();
    pair.client = std::move(client).value();
    const std::byte message[] = {std::byte{1}};
    for (int i = 0; i < messages; ++i) EXPECT_TRUE(pair.client.Write(message).ok);
    return pair;
  };
  const auto readOne = [](platform::Pipe& pipe) {
    std::vector<std::byte> buffer(16);
    return pipe.Read(buffer).ok;
  };

  struct Row {
    const char* what;
    std::function<void()> use;
    const char* broken;  // the failure message, or nullptr: within the rule
  };
  const Row rows[] = {
      {"a pipe read on one thread and then on another: the reading end is free between reads",
       [&] {
         Pair pair = connected(2);
         EXPECT_TRUE(OnOtherThread([&] { return readOne(pair.server); }));
         EXPECT_TRUE(readOne(pair.server));
       },
       nullptr},
      {"a pipe written on one thread and then on another",
       [&] {
         Pair pair = connected(0);
         const std::byte message[] = {std::byte{2}};
         EXPECT_TRUE(OnOtherThread([&] { return pair.server.Write(message).ok; }));
         EXPECT_TRUE(pair.server.Write(message).ok);
         EXPECT_TRUE(readOne(pair.client) && readOne(pair.client));
       },
       nullptr},
      // Nothing arrives: whichever read comes second finds the first holding
      // the reading end.
      {"two threads reading one pipe at once",
       [&] {
         Pair pair = connected(0);
         std::thread other([&] { (void)readOne(pair.server); });
         (void)readOne(pair.server);
         other.join();
       },
       "Thread rule broken: platform::Pipe's reading end used on a thread that does not own it"},
      {"the process's own rights on any thread",
       [] {
         EXPECT_TRUE(OnOtherThread([] { return platform::LocationRights::ProcessOwn().CheckFolder("C:\\").ok(); }));
       },
       nullptr},
      {"a save location's rights switched to the console user on another thread",
       [] {
         platform::LocationRights rights;
         (void)OnOtherThread([&] {
           rights.SetActForConsoleUser(true);
           return true;
         });
       },
       "Thread rule broken: LocationRights used on a thread that does not own it"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.broken == nullptr) {
      row.use();
    } else if (platform::kThreadChecksEnabled) {
      GTEST_FLAG_SET(death_test_style, "threadsafe");
      EXPECT_DEATH(row.use(), row.broken);
    }
  }
}

}  // namespace
}  // namespace pw::test
