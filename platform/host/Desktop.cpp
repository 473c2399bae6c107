#include "platform/host/Desktop.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <stdexcept>

#include "platform/Dialogs.h"
#include "platform/ErrorSink.h"
#include "platform/ScopeExit.h"
#include "platform/Shell.h"
#include "platform/TrayIcon.h"
#include "platform/host/HostWindowBackend.h"
#include "platform/host/World.h"

namespace pw::host {

using platform::Message;
using platform::Result;
using platform::Success;
using platform::Failure;
using platform::WindowHandle;
namespace wm = platform::wm;

namespace {

constexpr std::uint32_t kUserTimerMinimum = 10;  // USER_TIMER_MINIMUM
constexpr platform::ErrorCode kErrorAccessDenied = 5;
constexpr platform::ErrorCode kErrorCannotFindWindowClass = 1407;
constexpr std::intptr_t kShellExecuteOk = 42;
constexpr std::intptr_t kSeErrFileNotFound = 2;
constexpr std::intptr_t kSeErrNoAssociation = 31;
const char* const kDialogClass = "#32770";

std::uintptr_t Key(WindowHandle window) { return reinterpret_cast<std::uintptr_t>(window); }
WindowHandle HandleOf(std::uintptr_t key) { return reinterpret_cast<WindowHandle>(key); }

// The button a user who just presses Enter chooses: the first of the box.
int DefaultButton(std::uint32_t style) {
  switch (style & 0xF) {
    case 2: return 3;  // abort, retry, ignore
    case 3:            // yes, no, cancel
    case 4: return platform::dialog_result::kYes;
    case 5: return 4;  // retry, cancel
    default: return platform::dialog_result::kOk;
  }
}

}  // namespace

// --- ModalLoop

bool ModalLoop::Pump() {
  while (!closedByQuit_ && !closedByOwner_) {
    if (desktop_.DialogClosedByOwner(dialog_)) {
      closedByOwner_ = true;
      return false;
    }
    std::optional<Message> message = desktop_.Take();
    if (!message) return true;
    if (message->window == nullptr) {
      if (message->message == wm::kQuit) {
        // The dialog ends and leaves WM_QUIT for the loop outside it.
        desktop_.PostQuit(static_cast<int>(message->wParam));
        closedByQuit_ = true;
        return false;
      }
      std::scoped_lock lock(desktop_.mutex_);
      ++desktop_.lostThreadMessages_;
      continue;
    }
    desktop_.Dispatch(*message);
  }
  return false;
}

bool ModalLoop::AdvanceTime(std::uint32_t milliseconds) {
  desktop_.AdvanceTime(milliseconds);
  return Pump();
}

// --- Desktop: clock, drivers, records

int Desktop::DefaultMessageBoxResult(std::uint32_t style) { return DefaultButton(style); }

Desktop::Desktop(World& world) : world_(world) {}

Desktop::~Desktop() = default;

std::uint64_t Desktop::NowLocked() const {
  std::uint64_t now = manualNow_;
  if (realTime_) {
    now += static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - realBase_).count());
  }
  return now;
}

std::uint64_t Desktop::Now() const {
  std::scoped_lock lock(mutex_);
  return NowLocked();
}

void Desktop::AdvanceTime(std::uint32_t milliseconds) {
  {
    std::scoped_lock lock(mutex_);
    manualNow_ += milliseconds;
  }
  wake_.notify_all();
}

void Desktop::SetRealTime(bool on) {
  {
    std::scoped_lock lock(mutex_);
    if (on == realTime_) return;
    if (on) {
      realBase_ = std::chrono::steady_clock::now();
    } else {
      manualNow_ = NowLocked();
    }
    realTime_ = on;
  }
  // Waiting loops recompute how long they may sleep.
  wake_.notify_all();
}

void Desktop::SetMessageBoxDriver(MessageBoxDriver driver) {
  std::scoped_lock lock(mutex_);
  messageBoxDriver_ = std::move(driver);
}

void Desktop::SetBrowseDriver(BrowseDriver driver) {
  std::scoped_lock lock(mutex_);
  browseDriver_ = std::move(driver);
}

void Desktop::SetMenuDriver(MenuDriver driver) {
  std::scoped_lock lock(mutex_);
  menuDriver_ = std::move(driver);
}

std::vector<MessageBoxRecord> Desktop::MessageBoxes() const {
  std::scoped_lock lock(mutex_);
  return messageBoxes_;
}

std::vector<BrowseRecord> Desktop::Browses() const {
  std::scoped_lock lock(mutex_);
  return browses_;
}

std::vector<MenuRecord> Desktop::Menus() const {
  std::scoped_lock lock(mutex_);
  return menus_;
}

std::vector<ShellExecuteRecord> Desktop::ShellExecutes() const {
  std::scoped_lock lock(mutex_);
  return shellExecutes_;
}

std::vector<TrayIconRecord> Desktop::TrayIcons() const {
  std::scoped_lock lock(mutex_);
  std::vector<TrayIconRecord> result;
  for (const auto& [key, icon] : trayIcons_) result.push_back(icon);
  return result;
}

std::vector<TrayIconCall> Desktop::TrayIconCalls() const {
  std::scoped_lock lock(mutex_);
  return trayIconCalls_;
}

std::vector<BalloonRecord> Desktop::Balloons() const {
  std::scoped_lock lock(mutex_);
  return balloons_;
}

std::size_t Desktop::LostThreadMessages() const {
  std::scoped_lock lock(mutex_);
  return lostThreadMessages_;
}

std::size_t Desktop::LiveItemIdLists() const {
  std::scoped_lock lock(mutex_);
  return itemIdLists_.size();
}

// --- Threads and queues

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
      platform::ReportCurrentException();
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

// --- Windows

Desktop::WindowRecord* Desktop::FindLocked(WindowHandle window) {
  auto it = windows_.find(Key(window));
  return it == windows_.end() ? nullptr : &it->second;
}

const Desktop::WindowRecord* Desktop::FindLocked(WindowHandle window) const {
  auto it = windows_.find(Key(window));
  return it == windows_.end() ? nullptr : &it->second;
}

WindowHandle Desktop::NewHandleLocked() {
  WindowHandle handle = HandleOf(nextWindow_);
  nextWindow_ += 2;  // window handles are even and never reused within a world
  return handle;
}

Result<void> Desktop::RegisterClass(std::string_view className) {
  if (className.empty()) return Failure(platform::error::kInvalidParameter);
  std::scoped_lock lock(mutex_);
  bool known = std::any_of(classes_.begin(), classes_.end(),
                           [&](const std::string& name) { return NamesEqual(name, className); });
  if (!known) classes_.emplace_back(className);
  return Success();
}

WindowHandle Desktop::CreateWindow(const platform::WindowParams& details, platform::Window* object,
                                   platform::WindowHandler* handler, platform::ErrorCode& error) {
  std::scoped_lock lock(mutex_);
  bool known = std::any_of(classes_.begin(), classes_.end(),
                           [&](const std::string& name) { return NamesEqual(name, details.className); });
  if (!known) {
    error = kErrorCannotFindWindowClass;
    return nullptr;
  }
  WindowHandle handle = NewHandleLocked();
  WindowRecord record;
  record.className = details.className;
  record.title = details.title;
  record.style = details.style & ~platform::style::kVisible;
  record.bounds = details.bounds;
  record.thread = std::this_thread::get_id();
  record.handler = handler;
  record.object = object;
  record.z = nextZ_++;
  ThreadLocked(record.thread).hasQueue = true;
  windows_.emplace(Key(handle), std::move(record));
  error = platform::error::kSuccess;
  return handle;
}

Result<void> Desktop::Destroy(WindowHandle window) {
  platform::Window* object = nullptr;
  {
    std::scoped_lock lock(mutex_);
    WindowRecord* record = FindLocked(window);
    if (record == nullptr) return Failure(platform::kErrorInvalidWindowHandle);
    if (record->foreign || record->thread != std::this_thread::get_id()) {
      return Failure(kErrorAccessDenied);
    }
    if (record->destroying) return Success();
    record->destroying = true;
    object = record->object;
  }
  Deactivate(window);
  Deliver(window, wm::kDestroy, 0, 0);
  Deliver(window, wm::kNcDestroy, 0, 0);
  {
    std::scoped_lock lock(mutex_);
    windows_.erase(Key(window));
    std::erase_if(timers_, [window](const Timer& timer) { return timer.window == window; });
    std::erase_if(controlOrder_, [&](WindowHandle control) { return controls_.at(Key(control)).parent == window; });
    std::erase_if(controls_, [&](const auto& entry) { return entry.second.parent == window; });
    if (focus_ == window || (focus_ != nullptr && !controls_.contains(Key(focus_)) && !windows_.contains(Key(focus_)))) {
      focus_ = nullptr;
    }
    if (foreground_ == window) foreground_ = nullptr;
  }
  if (object != nullptr) ForgetWindowHandle(*object);
  return Success();
}

void Desktop::DetachObject(WindowHandle window) {
  std::scoped_lock lock(mutex_);
  if (WindowRecord* record = FindLocked(window)) {
    record->handler = nullptr;
    record->object = nullptr;
  }
}

bool Desktop::IsWindow(WindowHandle window) const {
  std::scoped_lock lock(mutex_);
  return FindLocked(window) != nullptr;
}

bool Desktop::IsVisible(WindowHandle window) const {
  std::scoped_lock lock(mutex_);
  const WindowRecord* record = FindLocked(window);
  return record != nullptr && record->visible;
}

bool Desktop::Show(WindowHandle window, platform::ShowCommand command) {
  bool wasVisible = false;
  std::string journalDetail;  // class and title of a top-level window of ours
  {
    std::scoped_lock lock(mutex_);
    const WindowRecord* record = FindLocked(window);
    if (record == nullptr) return false;
    wasVisible = record->visible;
    if (journal_ && !record->foreign && (record->style & platform::style::kChild) == 0) {
      journalDetail = record->className + '\t' + record->title;
    }
  }
  auto journal = [&](std::string_view event) {
    if (!journalDetail.empty()) journal_->Record(event, journalDetail);
  };
  auto setVisible = [&](bool visible) {
    std::scoped_lock lock(mutex_);
    if (WindowRecord* record = FindLocked(window)) record->visible = visible;
  };
  if (command == platform::ShowCommand::Hide) {
    if (wasVisible) {
      Deliver(window, wm::kShowWindow, 0, 0);
      setVisible(false);
      journal(screen_event::kWindowHidden);
      Deactivate(window);
    }
    return wasVisible;
  }
  if (!wasVisible) {
    Deliver(window, wm::kShowWindow, 1, 0);
    setVisible(true);
    journal(screen_event::kWindowShown);
  }
  if (command != platform::ShowCommand::ShowNoActivate && IsWindow(window)) {
    Raise(window);
    Activate(window);
  }
  return wasVisible;
}

WindowHandle Desktop::CreateControl(WindowHandle parent, int id, std::string name, std::uint32_t style) {
  std::scoped_lock lock(mutex_);
  if (FindLocked(parent) == nullptr) return nullptr;
  const WindowHandle control = NewHandleLocked();
  controls_[Key(control)] = ControlRecord{parent, id, std::move(name), style, true, true};
  controlOrder_.push_back(control);
  return control;
}

void Desktop::DestroyControl(WindowHandle control) {
  std::scoped_lock lock(mutex_);
  controls_.erase(Key(control));
  std::erase(controlOrder_, control);
  if (focus_ == control) focus_ = nullptr;
}

void Desktop::SetControlState(WindowHandle control, bool visible, bool enabled) {
  std::scoped_lock lock(mutex_);
  auto it = controls_.find(Key(control));
  if (it == controls_.end()) return;
  it->second.visible = visible;
  it->second.enabled = enabled;
}

void Desktop::PlaceControlAfter(WindowHandle control, WindowHandle after) {
  std::scoped_lock lock(mutex_);
  auto it = controls_.find(Key(control));
  if (it == controls_.end()) return;
  const WindowHandle parent = it->second.parent;
  std::erase(controlOrder_, control);
  auto at = std::find(controlOrder_.begin(), controlOrder_.end(), after);
  if (after == nullptr || at == controlOrder_.end()) {
    // First: before the parent's first control.
    at = std::find_if(controlOrder_.begin(), controlOrder_.end(), [&](WindowHandle other) {
      return controls_.at(Key(other)).parent == parent;
    });
  } else {
    ++at;
  }
  controlOrder_.insert(at, control);
}

std::vector<WindowHandle> Desktop::Controls(WindowHandle parent) const {
  std::scoped_lock lock(mutex_);
  std::vector<WindowHandle> result;
  for (WindowHandle control : controlOrder_) {
    if (controls_.at(Key(control)).parent == parent) result.push_back(control);
  }
  return result;
}

std::string Desktop::ControlName(WindowHandle control) const {
  std::scoped_lock lock(mutex_);
  auto it = controls_.find(Key(control));
  return it == controls_.end() ? std::string() : it->second.name;
}

WindowHandle Desktop::ControlParent(WindowHandle control) const {
  std::scoped_lock lock(mutex_);
  auto it = controls_.find(Key(control));
  return it == controls_.end() ? nullptr : it->second.parent;
}

WindowHandle Desktop::Focus() const {
  std::scoped_lock lock(mutex_);
  return focus_;
}

void Desktop::SetFocus(WindowHandle window) {
  std::scoped_lock lock(mutex_);
  focus_ = window;
}

bool Desktop::PressKey(std::uintptr_t virtualKey, bool shift) {
  {
    std::scoped_lock lock(mutex_);
    if (focus_ == nullptr) return false;
    auto control = controls_.find(Key(focus_));
    const WindowRecord* owner = FindLocked(control != controls_.end() ? control->second.parent : focus_);
    if (owner == nullptr || owner->foreign) return false;
    shiftDown_ = shift;
    PostLocked(*owner, {focus_, platform::keys::kKeyDown, virtualKey, 1});
    PostLocked(*owner, {focus_, platform::keys::kKeyUp, virtualKey, static_cast<std::intptr_t>(0xC0000001u)});
  }
  wake_.notify_all();
  return true;
}

bool Desktop::IsDialogMessage(const Message& message) {
  namespace keys = platform::keys;
  if (message.window == nullptr || message.message < keys::kKeyDown || message.message > keys::kChar) return false;
  WindowHandle dialog = nullptr;
  WindowHandle next = nullptr;
  bool hasNext = false;
  bool shift = false;
  {
    std::scoped_lock lock(mutex_);
    auto control = controls_.find(Key(message.window));
    dialog = control != controls_.end() ? control->second.parent : message.window;
    const WindowRecord* record = FindLocked(dialog);
    if (record == nullptr || record->thread != std::this_thread::get_id()) return false;
    std::vector<WindowHandle> stops;
    bool hasControls = false;
    for (WindowHandle handle : controlOrder_) {
      const ControlRecord& other = controls_.at(Key(handle));
      if (other.parent != dialog) continue;
      hasControls = true;
      if ((other.style & platform::style::kTabStop) != 0 && other.visible && other.enabled) stops.push_back(handle);
    }
    if (!hasControls) return false;
    shift = shiftDown_;
    if (message.message == keys::kKeyDown && message.wParam == keys::kVkTab && !stops.empty()) {
      auto at = std::find(stops.begin(), stops.end(), focus_);
      if (at == stops.end()) {
        next = shift ? stops.back() : stops.front();
      } else if (shift) {
        next = at == stops.begin() ? stops.back() : *std::prev(at);
      } else {
        next = std::next(at) == stops.end() ? stops.front() : *std::next(at);
      }
      hasNext = true;
    }
  }
  if (message.message != keys::kKeyDown) return true;
  const auto byId = [&](int id) -> WindowHandle {
    std::scoped_lock lock(mutex_);
    for (const auto& [key, other] : controls_) {
      if (other.parent == dialog && other.id == id) return HandleOf(key);
    }
    return nullptr;
  };
  switch (message.wParam) {
    case keys::kVkTab:
      if (hasNext) SetFocus(next);
      return true;
    case keys::kVkReturn: {
      const auto answer = static_cast<std::uintptr_t>(Send(dialog, keys::kDmGetDefId, 0, 0));
      if (((answer >> 16) & 0xFFFF) == keys::kDcHasDefId) {
        const int id = static_cast<int>(answer & 0xFFFF);
        const WindowHandle button = byId(id);
        bool enabled = true;
        {
          std::scoped_lock lock(mutex_);
          if (auto it = controls_.find(Key(button)); it != controls_.end()) enabled = it->second.enabled;
        }
        if (enabled) {
          (void)Send(dialog, wm::kCommand, static_cast<std::uintptr_t>(id) | (std::uintptr_t{keys::kBnClicked} << 16),
                     reinterpret_cast<std::intptr_t>(button));
        }
      } else {
        (void)Send(dialog, wm::kCommand, keys::kIdOk, reinterpret_cast<std::intptr_t>(Focus()));
      }
      return true;
    }
    case keys::kVkEscape:
      (void)Send(dialog, wm::kCommand, keys::kIdCancel, reinterpret_cast<std::intptr_t>(byId(keys::kIdCancel)));
      return true;
    default:
      return true;
  }
}

void Desktop::Activate(WindowHandle window) {
  WindowHandle previous = nullptr;
  bool ours = false;
  bool previousOurs = false;
  {
    std::scoped_lock lock(mutex_);
    if (foreground_ == window) return;
    previous = foreground_;
    foreground_ = window;
    const WindowRecord* record = FindLocked(window);
    ours = record != nullptr && !record->foreign;
    const WindowRecord* old = FindLocked(previous);
    previousOurs = old != nullptr && !old->foreign;
  }
  if (previousOurs) {
    Deliver(previous, wm::kActivate, platform::kWaInactive, reinterpret_cast<std::intptr_t>(window));
  }
  if (ours) Deliver(window, wm::kActivate, platform::kWaActive, reinterpret_cast<std::intptr_t>(previous));
}

void Desktop::Deactivate(WindowHandle window) {
  bool ours = false;
  {
    std::scoped_lock lock(mutex_);
    if (foreground_ != window) return;
    foreground_ = nullptr;
    const WindowRecord* record = FindLocked(window);
    ours = record != nullptr && !record->foreign;
  }
  if (ours) Deliver(window, wm::kActivate, platform::kWaInactive, 0);
}

bool Desktop::SetForeground(WindowHandle window) {
  if (!IsWindow(window)) return false;
  Raise(window);
  Activate(window);
  return true;
}

WindowHandle Desktop::Foreground() const {
  std::scoped_lock lock(mutex_);
  return foreground_;
}

void Desktop::Raise(WindowHandle window) {
  std::scoped_lock lock(mutex_);
  if (WindowRecord* record = FindLocked(window)) record->z = nextZ_++;
}

std::vector<WindowHandle> Desktop::TopLevelWindows() const {
  std::scoped_lock lock(mutex_);
  std::vector<std::pair<std::uint64_t, WindowHandle>> ordered;
  for (const auto& [key, record] : windows_) ordered.emplace_back(record.z, HandleOf(key));
  std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<WindowHandle> result;
  for (const auto& entry : ordered) result.push_back(entry.second);
  return result;
}

WindowHandle Desktop::Find(std::optional<std::string_view> className, std::optional<std::string_view> title) const {
  WindowHandle best = nullptr;
  std::uint64_t bestZ = 0;
  std::scoped_lock lock(mutex_);
  for (const auto& [key, record] : windows_) {
    if (className && !NamesEqual(record.className, *className)) continue;
    if (title && !NamesEqual(record.title, *title)) continue;
    if (best == nullptr || record.z > bestZ) {
      best = HandleOf(key);
      bestZ = record.z;
    }
  }
  return best;
}

Result<void> Desktop::SetText(WindowHandle window, std::string_view text) {
  std::scoped_lock lock(mutex_);
  WindowRecord* record = FindLocked(window);
  if (record == nullptr) return Failure(platform::kErrorInvalidWindowHandle);
  record->title = text;
  return Success();
}

std::string Desktop::Text(WindowHandle window) const {
  std::scoped_lock lock(mutex_);
  const WindowRecord* record = FindLocked(window);
  return record == nullptr ? std::string() : record->title;
}

std::optional<platform::Rect> Desktop::Bounds(WindowHandle window) const {
  std::scoped_lock lock(mutex_);
  const WindowRecord* record = FindLocked(window);
  if (record == nullptr) return std::nullopt;
  return record->bounds;
}

std::optional<platform::Size> Desktop::ClientSize(WindowHandle window) const {
  std::scoped_lock lock(mutex_);
  const WindowRecord* record = FindLocked(window);
  if (record == nullptr) return std::nullopt;
  const platform::Size frame = FrameAroundLocked(record->style);
  return platform::Size{std::max(record->bounds.Width() - frame.width, 0),
                        std::max(record->bounds.Height() - frame.height, 0)};
}

void Desktop::SetFrameMetrics(FrameMetrics metrics) {
  std::scoped_lock lock(mutex_);
  frameMetrics_ = metrics;
}

platform::Size Desktop::FrameAround(std::uint32_t style) const {
  std::scoped_lock lock(mutex_);
  return FrameAroundLocked(style);
}

platform::Size Desktop::FrameAroundLocked(std::uint32_t style) const {
  if ((style & platform::style::kCaption) != platform::style::kCaption) return {0, 0};
  return {2 * frameMetrics_.frameWidth, 2 * frameMetrics_.frameHeight + frameMetrics_.caption};
}

platform::ThreadId Desktop::WindowThread(WindowHandle window) const {
  std::scoped_lock lock(mutex_);
  const WindowRecord* record = FindLocked(window);
  if (record == nullptr || record->foreign) return 0;
  auto it = threads_.find(record->thread);
  return it == threads_.end() ? 0 : it->second.id;
}

void Desktop::Broadcast(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  {
    std::scoped_lock lock(mutex_);
    for (const auto& [key, record] : windows_) {
      if (!record.foreign) PostLocked(record, {HandleOf(key), message, wParam, lParam});
    }
  }
  wake_.notify_all();
}

std::uint32_t Desktop::RegisterMessage(std::string_view name) {
  if (name.empty()) return 0;
  std::scoped_lock lock(mutex_);
  auto [it, inserted] = registeredMessages_.try_emplace(std::string(name), nextRegisteredMessage_);
  if (inserted) ++nextRegisteredMessage_;
  return it->second;
}

platform::Point Desktop::CursorPos() const {
  std::scoped_lock lock(mutex_);
  return cursor_;
}

void Desktop::SetCursorPos(platform::Point at) {
  std::scoped_lock lock(mutex_);
  cursor_ = at;
}

WindowHandle Desktop::OpenForeignWindow(std::string className, std::string title) {
  std::scoped_lock lock(mutex_);
  WindowHandle handle = NewHandleLocked();
  WindowRecord record;
  record.className = std::move(className);
  record.title = std::move(title);
  record.foreign = true;
  record.visible = true;
  record.z = nextZ_++;
  windows_.emplace(Key(handle), std::move(record));
  return handle;
}

void Desktop::CloseForeignWindow(WindowHandle window) {
  std::scoped_lock lock(mutex_);
  auto it = windows_.find(Key(window));
  if (it != windows_.end() && it->second.foreign) windows_.erase(it);
  if (foreground_ == window) foreground_ = nullptr;
}

// --- Dialogs

WindowHandle Desktop::OpenDialogWindow(std::string_view title, std::optional<std::size_t> browseIndex,
                                       WindowHandle owner) {
  std::scoped_lock lock(mutex_);
  WindowHandle handle = NewHandleLocked();
  WindowRecord record;
  record.className = kDialogClass;
  record.title = title;
  record.style = platform::style::kPopup | platform::style::kCaption | platform::style::kSysMenu;
  record.thread = std::this_thread::get_id();
  record.visible = true;
  record.dialog = true;
  record.owner = owner;
  record.browseIndex = browseIndex;
  record.z = nextZ_++;
  windows_.emplace(Key(handle), std::move(record));
  return handle;
}

void Desktop::CloseOwnedDialogs(WindowHandle owner) {
  if (owner == nullptr) return;
  std::scoped_lock lock(mutex_);
  for (auto& [key, record] : windows_) {
    if (record.dialog && record.owner == owner && record.thread == std::this_thread::get_id()) {
      record.closedByOwner = true;
    }
  }
}

bool Desktop::DialogClosedByOwner(WindowHandle dialog) const {
  std::scoped_lock lock(mutex_);
  const WindowRecord* record = FindLocked(dialog);
  return record != nullptr && record->closedByOwner;
}

void Desktop::CloseDialogWindow(WindowHandle dialog, WindowHandle owner) {
  (void)Destroy(dialog);
  // As on Windows, the owner of a modal dialog that closes becomes the active
  // window again when it is visible (its WM_ACTIVATE handler runs).
  if (owner != nullptr && IsVisible(owner)) {
    Raise(owner);
    Activate(owner);
  }
}

int Desktop::RunMessageBox(WindowHandle owner, std::string_view text, std::string_view caption, std::uint32_t style,
                           std::uint16_t language) {
  std::size_t index = 0;
  MessageBoxRecord record{owner, std::string(text), std::string(caption), style, language, 0};
  MessageBoxDriver driver;
  bool quitWaiting = false;
  {
    std::scoped_lock lock(mutex_);
    messageBoxes_.push_back(record);
    index = messageBoxes_.size() - 1;
    driver = messageBoxDriver_;
    quitWaiting = ThreadLocked(std::this_thread::get_id()).quitCode.has_value();
  }
  if (journal_) journal_->Record(screen_event::kMessageBox, record.caption + '\t' + record.text);
  WindowHandle dialog = OpenDialogWindow(caption, std::nullopt, owner);
  int result = platform::dialog_result::kNone;
  {
    ScopeExit close([&] { CloseDialogWindow(dialog, owner); });
    Activate(dialog);
    // A box opened while WM_QUIT waits closes at once and leaves it waiting.
    if (!quitWaiting) {
      ModalLoop loop(*this, dialog);
      result = driver ? driver(record, loop) : DefaultButton(style);
      if (loop.closedByQuit()) result = platform::dialog_result::kNone;
      // Closed as by its close box: OK for a box with only that button.
      if (loop.closedByOwner() || DialogClosedByOwner(dialog)) {
        result = (style & 0xFu) == platform::mb::kOk ? platform::dialog_result::kOk : platform::dialog_result::kCancel;
      }
    }
  }
  std::scoped_lock lock(mutex_);
  messageBoxes_[index].result = result;
  return result;
}

platform::RawHandle Desktop::NewItemIdList(std::optional<std::string> path, bool drivesFolder) {
  std::scoped_lock lock(mutex_);
  std::uintptr_t key = nextItemIdList_;
  nextItemIdList_ += 8;
  itemIdLists_[key] = {std::move(path), drivesFolder};
  return reinterpret_cast<platform::RawHandle>(key);
}

void Desktop::FreeItemIdList(platform::RawHandle list) {
  std::scoped_lock lock(mutex_);
  itemIdLists_.erase(reinterpret_cast<std::uintptr_t>(list));
}

std::optional<std::string> Desktop::ItemIdListPath(platform::RawHandle list) const {
  std::scoped_lock lock(mutex_);
  auto it = itemIdLists_.find(reinterpret_cast<std::uintptr_t>(list));
  if (it == itemIdLists_.end()) return std::nullopt;
  return it->second.path;
}

bool Desktop::ItemIdListIsDrives(platform::RawHandle list) const {
  std::scoped_lock lock(mutex_);
  auto it = itemIdLists_.find(reinterpret_cast<std::uintptr_t>(list));
  return it != itemIdLists_.end() && it->second.drivesFolder;
}

platform::RawHandle Desktop::RunBrowser(const BrowseRequest& request) {
  BrowseRecord record;
  record.owner = request.owner;
  record.title = request.title;
  record.flags = request.flags;
  record.rootIsDrives = request.root != nullptr && ItemIdListIsDrives(request.root);
  std::size_t index = 0;
  BrowseDriver driver;
  bool quitWaiting = false;
  {
    std::scoped_lock lock(mutex_);
    browses_.push_back(record);
    index = browses_.size() - 1;
    driver = browseDriver_;
    quitWaiting = ThreadLocked(std::this_thread::get_id()).quitCode.has_value();
  }
  if (journal_) journal_->Record(screen_event::kFolderBrowser, record.title);
  WindowHandle dialog = OpenDialogWindow("Browse For Folder", index, request.owner);
  ScopeExit close([&] { CloseDialogWindow(dialog, request.owner); });
  Activate(dialog);
  if (quitWaiting) return nullptr;
  if (request.callback) {
    {
      std::scoped_lock lock(mutex_);
      browses_[index].initializedSent = true;
    }
    request.callback(dialog, platform::kBffmInitialized, 0);
  }
  {
    std::scoped_lock lock(mutex_);
    record = browses_[index];
  }
  ModalLoop loop(*this, dialog);
  BrowseAnswer answer = driver ? driver(record, loop) : BrowseAnswer::Cancel();
  if (loop.closedByQuit() || loop.closedByOwner() || DialogClosedByOwner(dialog)) return nullptr;
  switch (answer.kind) {
    case BrowseAnswer::Kind::Cancel: return nullptr;
    case BrowseAnswer::Kind::Path: return NewItemIdList(answer.path, false);
    case BrowseAnswer::Kind::NoPath: return NewItemIdList(std::nullopt, false);
  }
  return nullptr;
}

std::intptr_t Desktop::RunShellExecute(ShellExecuteRecord record) {
  bool explore = NamesEqual(record.verb, "explore") || NamesEqual(record.verb, "open");
  if (!explore) {
    record.result = kSeErrNoAssociation;
  } else {
    ResolvedPath resolved = world_.Resolve(record.file);
    std::error_code ec;
    if (resolved.error != platform::error::kSuccess || !resolved.exists ||
        !std::filesystem::is_directory(resolved.hostPath, ec)) {
      record.result = kSeErrFileNotFound;
    } else {
      // An explorer window is titled with the folder's name (a root keeps its path).
      std::string title = resolved.windowsPath;
      std::size_t slash = title.find_last_of('\\');
      if (slash != std::string::npos && slash + 1 < title.size()) title = title.substr(slash + 1);
      OpenForeignWindow("CabinetWClass", title);
      record.result = kShellExecuteOk;
      if (journal_) journal_->Record(screen_event::kShellExecute, record.verb + '\t' + record.file);
    }
  }
  std::scoped_lock lock(mutex_);
  shellExecutes_.push_back(record);
  return record.result;
}

std::uint32_t Desktop::RunMenu(const platform::PopupMenu& menu, platform::Point at, WindowHandle owner) {
  MenuRecord record;
  record.owner = owner;
  record.at = at;
  for (const auto& item : menu.items()) record.items.emplace_back(item.commandId, item.text);
  record.defaultItem = menu.DefaultItem();
  std::size_t index = 0;
  MenuDriver driver;
  {
    std::scoped_lock lock(mutex_);
    menus_.push_back(record);
    index = menus_.size() - 1;
    driver = menuDriver_;
  }
  ModalLoop loop(*this, nullptr);
  std::uint32_t chosen = driver ? driver(record, loop) : 0;
  bool known = std::any_of(record.items.begin(), record.items.end(),
                           [chosen](const auto& item) { return item.first == chosen; });
  if (!known || loop.closedByQuit()) chosen = 0;
  std::scoped_lock lock(mutex_);
  menus_[index].chosen = chosen;
  return chosen;
}

// --- Notification area

bool Desktop::NotifyIcon(std::uint32_t action, const platform::NotifyIconData& data) {
  namespace nif = platform::nif;
  // What the shell of the world's Windows takes: an icon GUID from Windows 7
  // on, NOTIFYICON_VERSION_4 and tips of 127 characters from Vista on.
  const platform::OsVersionInfo system = world_.Version();
  const bool vista = system.majorVersion >= 6;
  const bool seven = system.majorVersion > 6 || (vista && system.minorVersion >= 1);
  const std::size_t tipLength = vista ? 127 : 63;
  const bool byGuid = (data.flags & nif::kGuid) != 0;
  std::scoped_lock lock(mutex_);
  bool ok = false;
  const WindowRecord* window = FindLocked(data.window);
  auto it = std::find_if(trayIcons_.begin(), trayIcons_.end(), [&](const auto& entry) {
    const TrayIconRecord& icon = entry.second;
    return byGuid ? icon.guid == data.guid : !icon.guid && icon.window == data.window && icon.id == data.id;
  });
  const auto identity = [](const TrayIconRecord& icon) {
    return (icon.guid ? "guid " + platform::GuidText(*icon.guid) : "id " + std::to_string(icon.id)) + "\tversion " +
           std::to_string(icon.version);
  };
  if (window != nullptr && !window->foreign && (!byGuid || (seven && !trayGuidRefused_))) {
    switch (action) {
      case platform::nim::kAdd:
        if (it == trayIcons_.end() && !trayIcons_.contains({data.window, data.id})) {
          TrayIconRecord icon{data.window, data.id, 0, nullptr, {}, std::nullopt, 0};
          if (byGuid) icon.guid = data.guid;
          if (data.flags & nif::kMessage) icon.callbackMessage = data.callbackMessage;
          if (data.flags & nif::kIcon) icon.icon = data.icon;
          if (data.flags & nif::kTip) icon.tip = data.tip.substr(0, tipLength);
          if (journal_) {
            journal_->Record(screen_event::kTrayIconAdded, icon.tip);
            journal_->Record(screen_event::kTrayIconIdentity, identity(icon));
          }
          trayIcons_.emplace(std::make_pair(data.window, data.id), std::move(icon));
          ok = true;
        }
        break;
      case platform::nim::kModify:
        if (it != trayIcons_.end()) {
          if (data.flags & nif::kMessage) it->second.callbackMessage = data.callbackMessage;
          if (data.flags & nif::kIcon) it->second.icon = data.icon;
          if (data.flags & nif::kTip) {
            it->second.tip = data.tip.substr(0, tipLength);
            if (journal_) journal_->Record(screen_event::kTrayIconTip, it->second.tip);
          }
          ok = true;
          if (data.flags & nif::kInfo) {
            BalloonRecord balloon{it->second.window, it->second.id, data.infoTitle.substr(0, 63),
                                  data.info.substr(0, 255)};
            if (journal_) journal_->Record(screen_event::kTrayBalloon, balloon.title + "\t" + balloon.text);
            balloons_.push_back(std::move(balloon));
          }
        }
        break;
      case platform::nim::kDelete:
        if (it != trayIcons_.end()) {
          if (journal_) journal_->Record(screen_event::kTrayIconRemoved, it->second.tip);
          trayIcons_.erase(it);
          ok = true;
        }
        break;
      case platform::nim::kSetVersion:
        if (it != trayIcons_.end() && data.version <= (vista ? 4u : 3u)) {
          it->second.version = data.version;
          if (journal_) journal_->Record(screen_event::kTrayIconIdentity, identity(it->second));
          ok = true;
        }
        break;
      default: break;
    }
  }
  trayIconCalls_.push_back({action, data.window, data.id, ok});
  return ok;
}

void Desktop::PostTrayEvent(const TrayIconRecord& icon, std::uint32_t event) {
  if (icon.version >= platform::kNotifyIconVersion4) {
    // The anchor point in wParam, the event and the id in lParam.
    const auto packed =
        static_cast<std::intptr_t>((static_cast<std::uintptr_t>(icon.id & 0xFFFF) << 16) | (event & 0xFFFF));
    const auto anchor = static_cast<std::uintptr_t>(
        ((static_cast<std::uint32_t>(cursor_.y) & 0xFFFF) << 16) | (static_cast<std::uint32_t>(cursor_.x) & 0xFFFF));
    (void)Post(icon.window, icon.callbackMessage, anchor, packed);
    return;
  }
  (void)Post(icon.window, icon.callbackMessage, icon.id, static_cast<std::intptr_t>(event));
}

bool Desktop::ClickTrayIcon(std::uint32_t id, MouseButton button) {
  std::optional<TrayIconRecord> icon;
  {
    std::scoped_lock lock(mutex_);
    for (const auto& [key, record] : trayIcons_) {
      if (record.id == id && record.callbackMessage != 0) icon = record;
    }
  }
  if (!icon) return false;
  std::uint32_t down = button == MouseButton::Left ? wm::kLButtonDown : wm::kRButtonDown;
  std::uint32_t up = button == MouseButton::Left ? wm::kLButtonUp : wm::kRButtonUp;
  PostTrayEvent(*icon, down);
  PostTrayEvent(*icon, up);
  // Version 4 follows a right click with WM_CONTEXTMENU, a left one with NIN_SELECT.
  if (icon->version >= platform::kNotifyIconVersion4) {
    PostTrayEvent(*icon, button == MouseButton::Left ? platform::nin::kSelect : 0x007B);
  }
  return true;
}

bool Desktop::DoubleClickTrayIcon(std::uint32_t id) {
  std::optional<TrayIconRecord> icon;
  {
    std::scoped_lock lock(mutex_);
    for (const auto& [key, record] : trayIcons_) {
      if (record.id == id && record.callbackMessage != 0) icon = record;
    }
  }
  if (!icon) return false;
  // The sequence a double click produces: down, up, double click, up.
  for (std::uint32_t mouse : {wm::kLButtonDown, wm::kLButtonUp, wm::kLButtonDblClk, wm::kLButtonUp}) {
    PostTrayEvent(*icon, mouse);
  }
  return true;
}

bool Desktop::ClickLastBalloon() {
  std::optional<TrayIconRecord> icon;
  {
    std::scoped_lock lock(mutex_);
    if (balloons_.empty()) return false;
    auto it = trayIcons_.find({balloons_.back().window, balloons_.back().id});
    if (it == trayIcons_.end() || it->second.callbackMessage == 0) return false;
    icon = it->second;
  }
  PostTrayEvent(*icon, platform::nin::kBalloonUserClick);
  return true;
}

void Desktop::SetTrayGuidRefused(bool refused) {
  std::scoped_lock lock(mutex_);
  trayGuidRefused_ = refused;
}

void Desktop::RestartTaskbar() {
  {
    std::scoped_lock lock(mutex_);
    trayIcons_.clear();
  }
  Broadcast(RegisterMessage("TaskbarCreated"), 0, 0);
}

void Desktop::BroadcastDeviceChange(std::uintptr_t event) { Broadcast(wm::kDeviceChange, event, 0); }

std::optional<platform::Size> Desktop::IconSize(platform::RawHandle icon) const {
  std::scoped_lock lock(mutex_);
  auto it = icons_.find(reinterpret_cast<std::uintptr_t>(icon));
  if (it == icons_.end()) return std::nullopt;
  return it->second;
}

void Desktop::SetDpi(int dpi) {
  std::scoped_lock lock(mutex_);
  dpi_ = dpi;
}

int Desktop::Dpi() const {
  std::scoped_lock lock(mutex_);
  return dpi_;
}

int Desktop::ScaleForDpi(int designSize) const {
  std::scoped_lock lock(mutex_);
  return (designSize * dpi_ + 48) / 96;
}

platform::RawHandle Desktop::NewIcon(int width, int height, int colours) {
  (void)colours;
  std::scoped_lock lock(mutex_);
  std::uintptr_t key = nextIcon_;
  nextIcon_ += 8;
  icons_[key] = {width, height};
  return reinterpret_cast<platform::RawHandle>(key);
}

void Desktop::FreeIcon(platform::RawHandle icon) {
  std::scoped_lock lock(mutex_);
  icons_.erase(reinterpret_cast<std::uintptr_t>(icon));
}

}  // namespace pw::host
