// Message queues and timers behave as on Windows in both builds.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/platform/DesktopFixture.h"

namespace pw::test {
namespace {

using platform::Message;
namespace wm = platform::wm;
constexpr std::uint32_t kProbe = wm::kUser + 7;

using MessageQueueTest = DesktopTest;

TEST_F(MessageQueueTest, PostedMessageReachesTheWindowProcedureWhenDispatched) {
  RecordingHandler handler;
  auto window = MakeWindow(handler, "Queue probe");
  ASSERT_TRUE(platform::PostMessage(window->handle(), kProbe, 11, -22).ok());
  EXPECT_EQ(handler.Count(kProbe), 0u) << "posting must not call the procedure";

  std::vector<Message> taken = Drain();
  ASSERT_EQ(handler.Count(kProbe), 1u);
  bool seen = false;
  for (const auto& message : taken) seen |= message.message == kProbe && message.window == window->handle();
  EXPECT_TRUE(seen);
  for (const auto& entry : handler.received) {
    if (entry.message != kProbe) continue;
    EXPECT_EQ(entry.wParam, 11u);
    EXPECT_EQ(entry.lParam, -22);
  }
}

TEST_F(MessageQueueTest, PostingToADestroyedWindowFails) {
  RecordingHandler handler;
  auto window = MakeWindow(handler, "Soon gone");
  platform::WindowHandle handle = window->handle();
  window.reset();
  platform::Result<void> outcome = platform::PostMessage(handle, kProbe, 0, 0);
  EXPECT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.error(), platform::kErrorInvalidWindowHandle);
}

TEST_F(MessageQueueTest, ThreadMessageArrivesWithoutAWindowAndDispatchesToNothing) {
  ASSERT_TRUE(platform::PostThreadMessage(platform::GetCurrentThreadId(), wm::kUser + 1, 4, 0).ok());
  std::optional<Message> message = platform::PeekMessage();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->window, nullptr);
  EXPECT_EQ(message->message, wm::kUser + 1);
  EXPECT_EQ(message->wParam, 4u);
  EXPECT_EQ(platform::DispatchMessage(*message), 0);
  EXPECT_FALSE(platform::PeekMessage());
}

TEST_F(MessageQueueTest, ThreadWithoutQueueRefusesThreadMessagesUntilItMakesOne) {
  std::mutex mutex;
  std::condition_variable changed;
  int stage = 0;
  platform::ThreadId id = 0;
  auto advance = [&](int to) {
    std::scoped_lock lock(mutex);
    stage = to;
    changed.notify_all();
  };
  auto waitFor = [&](int at) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return stage >= at; });
  };
  std::thread worker([&] {
    id = platform::GetCurrentThreadId();
    advance(1);
    waitFor(2);
    platform::EnsureMessageQueue();
    advance(3);
    waitFor(4);
  });
  ASSERT_TRUE(waitFor(1));
  platform::Result<void> before = platform::PostThreadMessage(id, kProbe, 0, 0);
  advance(2);
  ASSERT_TRUE(waitFor(3));
  platform::Result<void> after = platform::PostThreadMessage(id, kProbe, 0, 0);
  advance(4);
  worker.join();
  EXPECT_FALSE(before.ok());
  EXPECT_EQ(before.error(), platform::kErrorInvalidThreadId);
  EXPECT_TRUE(after.ok());
}

TEST_F(MessageQueueTest, QuitComesAfterPostedMessagesAndEndsGetMessage) {
  RecordingHandler handler;
  auto window = MakeWindow(handler, "Quit probe");
  platform::PostQuitMessage(3);
  ASSERT_TRUE(platform::PostMessage(window->handle(), kProbe, 0, 0).ok());

  Message message;
  ASSERT_TRUE(platform::GetMessage(message));
  EXPECT_EQ(message.message, kProbe) << "a posted message waits before WM_QUIT";
  while (platform::GetMessage(message)) {
  }
  EXPECT_EQ(message.message, wm::kQuit);
  EXPECT_EQ(message.wParam, 3u);
}

TEST_F(MessageQueueTest, TimerTicksArriveThroughTheQueueUntilKilled) {
  RecordingHandler handler;
  auto window = MakeWindow(handler, "Timer probe");
  ASSERT_EQ(platform::SetTimer(window->handle(), 9, 50), 9u);
  EXPECT_EQ(handler.Count(wm::kTimer), 0u);
  ASSERT_TRUE(PumpUntil([&] { return handler.Count(wm::kTimer) >= 2; }));
  for (const auto& entry : handler.received) {
    if (entry.message == wm::kTimer) {
      EXPECT_EQ(entry.wParam, 9u);
    }
  }
  ASSERT_TRUE(platform::KillTimer(window->handle(), 9));
  EXPECT_FALSE(platform::KillTimer(window->handle(), 9));
  std::size_t ticks = handler.Count(wm::kTimer);
  AdvanceClock(120);
  Drain();
  EXPECT_EQ(handler.Count(wm::kTimer), ticks);
}

TEST_F(MessageQueueTest, PostedMessagesComeBeforeADueTimer) {
  RecordingHandler handler;
  auto window = MakeWindow(handler, "Order probe");
  ASSERT_NE(platform::SetTimer(window->handle(), 1, 20), 0u);
  AdvanceClock(40);
  ASSERT_TRUE(platform::PostMessage(window->handle(), kProbe, 0, 0).ok());
  std::optional<Message> first = platform::PeekMessage();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->message, kProbe);
  std::optional<Message> second = platform::PeekMessage();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->message, wm::kTimer);
  platform::KillTimer(window->handle(), 1);
}

}  // namespace
}  // namespace pw::test
