// The desktop's message queues: posting, sending, waiting and dispatching, and timers.
#include "platform/hostworld/Desktop.h"

#include <algorithm>
#include <stdexcept>

#include "platform/Shell.h"
#include "platform/hostworld/DesktopParts.h"
#include "platform/hostworld/FailureSink.h"

namespace pw::hostworld {

using namespace desktop_parts;

namespace {

constexpr std::uint32_t kUserTimerMinimum = 10;  // USER_TIMER_MINIMUM

}  // namespace

Desktop::ThreadState& Desktop::ThreadLocked(std::thread::id thread) {
  ThreadState& state = threads_[thread];
  if (state.id == 0) {
    state.id = nextThreadId_;
    nextThreadId_ += 4;
  }
  return state;
}

platform::ThreadId Desktop::CurrentThreadId() {
  std::scoped_lock lock(mutex_);
  return ThreadLocked(std::this_thread::get_id()).id;
}

void Desktop::EnsureQueue() {
  std::scoped_lock lock(mutex_);
  ThreadLocked(std::this_thread::get_id()).hasQueue = true;
}

void Desktop::PostLocked(const WindowRecord& record, Message message) {
  ThreadState& state = ThreadLocked(record.thread);
  state.hasQueue = true;
  state.posted.push_back(message);
}

Result<void> Desktop::Post(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  {
    std::scoped_lock lock(mutex_);
    const WindowRecord* record = FindLocked(window);
    if (record == nullptr) return Failure(platform::kErrorInvalidWindowHandle);
    // A window of another process takes the message into its own queue.
    if (record->foreign) return Success();
    PostLocked(*record, {window, message, wParam, lParam});
  }
  wake_.notify_all();
  return Success();
}

Result<void> Desktop::PostToThread(platform::ThreadId thread, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam) {
  {
    std::scoped_lock lock(mutex_);
    auto it = std::find_if(threads_.begin(), threads_.end(),
                           [thread](const auto& entry) { return entry.second.id == thread; });
    if (it == threads_.end() || !it->second.hasQueue) return Failure(platform::kErrorInvalidThreadId);
    it->second.posted.push_back({nullptr, message, wParam, lParam});
  }
  wake_.notify_all();
  return Success();
}

void Desktop::PostQuit(int exitCode) {
  {
    std::scoped_lock lock(mutex_);
    ThreadState& state = ThreadLocked(std::this_thread::get_id());
    state.hasQueue = true;
    state.quitCode = exitCode;
  }
  wake_.notify_all();
}

std::optional<Message> Desktop::TakeLocked(std::thread::id thread) {
  ThreadState& state = ThreadLocked(thread);
  state.hasQueue = true;
  if (!state.posted.empty()) {
    Message message = state.posted.front();
    state.posted.pop_front();
    return message;
  }
  // WM_QUIT comes once nothing is posted any more; timers come last.
  if (state.quitCode) {
    Message quit{nullptr, wm::kQuit, static_cast<std::uintptr_t>(*state.quitCode), 0};
    state.quitCode.reset();
    return quit;
  }
  std::uint64_t now = NowLocked();
  Timer* due = nullptr;
  for (Timer& timer : timers_) {
    if (timer.thread == thread && timer.due <= now && (due == nullptr || timer.due < due->due)) due = &timer;
  }
  if (due == nullptr) return std::nullopt;
  // One tick however late the reader is, as Windows does: missed ticks do not pile up.
  due->due = now + due->interval;
  return Message{due->window, wm::kTimer, due->id, 0};
}

std::optional<Message> Desktop::Take() {
  std::scoped_lock lock(mutex_);
  std::optional<Message> message = TakeLocked(std::this_thread::get_id());
  if (!message) ++ThreadLocked(std::this_thread::get_id()).emptyChecks;
  return message;
}

std::uint64_t Desktop::EmptyQueueChecks(platform::ThreadId thread) const {
  std::scoped_lock lock(mutex_);
  for (const auto& [key, state] : threads_) {
    if (state.id == thread) return state.emptyChecks;
  }
  return 0;
}

std::optional<Message> Desktop::TakeFrom(std::thread::id thread) {
  std::scoped_lock lock(mutex_);
  return TakeLocked(thread);
}

void Desktop::PostToThread(std::thread::id thread, Message message) {
  {
    std::scoped_lock lock(mutex_);
    ThreadState& state = ThreadLocked(thread);
    state.hasQueue = true;
    if (message.message == wm::kQuit && message.window == nullptr) {
      state.quitCode = static_cast<int>(message.wParam);
    } else {
      state.posted.push_back(message);
    }
  }
  wake_.notify_all();
}

Message Desktop::Wait() {
  const std::thread::id self = std::this_thread::get_id();
  Lock lock(mutex_);
  for (;;) {
    if (std::optional<Message> message = TakeLocked(self)) return *message;
    // Posts, AdvanceTime and a change of clock mode notify. In real time the
    // clock also moves by itself: then sleep until this thread's next timer.
    if (std::optional<std::uint64_t> nextDue = NextDueLocked(self)) {
      const std::uint64_t now = NowLocked();
      wake_.wait_for(lock, std::chrono::milliseconds(*nextDue > now ? *nextDue - now : 0));
    } else {
      wake_.wait(lock);
    }
  }
}

std::optional<std::uint64_t> Desktop::NextDueLocked(std::thread::id thread) const {
  std::optional<std::uint64_t> nextDue;
  if (!realTime_) return nextDue;
  for (const Timer& timer : timers_) {
    if (timer.thread == thread && (!nextDue || timer.due < *nextDue)) nextDue = timer.due;
  }
  return nextDue;
}

bool Desktop::HasInputLocked(std::thread::id thread) {
  ThreadState& state = ThreadLocked(thread);
  state.hasQueue = true;
  if (!state.posted.empty() || state.quitCode) return true;
  const std::uint64_t now = NowLocked();
  return std::any_of(timers_.begin(), timers_.end(),
                     [&](const Timer& timer) { return timer.thread == thread && timer.due <= now; });
}

bool Desktop::WaitForInput(std::uint32_t timeoutMs) {
  const std::thread::id self = std::this_thread::get_id();
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  Lock lock(mutex_);
  for (;;) {
    if (HasInputLocked(self)) return true;
    auto until = std::chrono::steady_clock::time_point::max();
    if (timeoutMs != platform::kInfinite) {
      if (std::chrono::steady_clock::now() >= end) return false;
      until = end;
    }
    if (std::optional<std::uint64_t> nextDue = NextDueLocked(self)) {
      const std::uint64_t now = NowLocked();
      until = std::min(until, std::chrono::steady_clock::now() +
                                  std::chrono::milliseconds(*nextDue > now ? *nextDue - now : 0));
    }
    if (until == std::chrono::steady_clock::time_point::max()) {
      wake_.wait(lock);
    } else {
      wake_.wait_until(lock, until);
    }
  }
}

std::vector<Message> Desktop::Pending(std::thread::id thread) const {
  std::scoped_lock lock(mutex_);
  auto it = threads_.find(thread);
  if (it == threads_.end()) return {};
  std::vector<Message> result(it->second.posted.begin(), it->second.posted.end());
  if (it->second.quitCode) {
    result.push_back({nullptr, wm::kQuit, static_cast<std::uintptr_t>(*it->second.quitCode), 0});
  }
  return result;
}

std::intptr_t Desktop::Dispatch(const Message& message) {
  if (message.window == nullptr) return 0;
  {
    std::scoped_lock lock(mutex_);
    const WindowRecord* record = FindLocked(message.window);
    if (record == nullptr || record->thread != std::this_thread::get_id()) return 0;
    if (message.message == wm::kTimer) {
      // A tick of a timer killed after it was generated is not delivered.
      bool live = std::any_of(timers_.begin(), timers_.end(), [&](const Timer& timer) {
        return timer.window == message.window && timer.id == message.wParam;
      });
      if (!live) return 0;
    }
  }
  return Deliver(message.window, message.message, message.wParam, message.lParam);
}

std::intptr_t Desktop::Send(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  {
    std::scoped_lock lock(mutex_);
    const WindowRecord* record = FindLocked(window);
    if (record == nullptr || record->foreign) return 0;
    if (record->thread != std::this_thread::get_id()) {
      throw std::logic_error("the host desktop sends only to windows of the calling thread");
    }
  }
  return Deliver(window, message, wParam, lParam);
}

std::intptr_t Desktop::Deliver(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                               std::intptr_t lParam) {
  platform::WindowHandler* handler = nullptr;
  {
    std::scoped_lock lock(mutex_);
    WindowRecord* record = FindLocked(window);
    if (record == nullptr || record->foreign) return 0;
    if (record->thread != std::this_thread::get_id()) {
      PostLocked(*record, {window, message, wParam, lParam});
      wake_.notify_all();
      return 0;
    }
    if (record->browseIndex && message == platform::kBffmSetSelectionA && wParam != 0 && lParam != 0) {
      browses_[*record->browseIndex].selectionSent = std::string(reinterpret_cast<const char*>(lParam));
      return 1;
    }
    handler = record->handler;
  }
  std::optional<std::intptr_t> result;
  if (handler != nullptr) {
    try {
      result = handler->HandleMessage(window, message, wParam, lParam);
    } catch (...) {
      ReportCurrentFailure();
      return 0;
    }
  }
  if (result) return *result;
  return DefaultProcessing(window, message);
}

std::intptr_t Desktop::DefaultProcessing(WindowHandle window, std::uint32_t message) {
  if (message == wm::kClose) (void)Destroy(window);
  return 0;
}

platform::TimerId Desktop::SetTimer(WindowHandle window, platform::TimerId id, std::uint32_t intervalMs) {
  std::scoped_lock lock(mutex_);
  const WindowRecord* record = FindLocked(window);
  if (record == nullptr || record->foreign || record->thread != std::this_thread::get_id() || id == 0) return 0;
  std::uint32_t interval = std::max(intervalMs, kUserTimerMinimum);
  std::uint64_t due = NowLocked() + interval;
  for (Timer& timer : timers_) {
    if (timer.window == window && timer.id == id) {
      timer.interval = interval;
      timer.due = due;
      return id;
    }
  }
  timers_.push_back({window, id, interval, due, record->thread});
  return id;
}

bool Desktop::KillTimer(WindowHandle window, platform::TimerId id) {
  std::scoped_lock lock(mutex_);
  auto it = std::find_if(timers_.begin(), timers_.end(),
                         [&](const Timer& timer) { return timer.window == window && timer.id == id; });
  if (it == timers_.end()) return false;
  timers_.erase(it);
  return true;
}

}  // namespace pw::hostworld
