// The desktop's windows: classes, creation and destruction, showing, controls,
// focus and the dialog keyboard, activation, texts and sizes.
#include "platform/hostworld/Desktop.h"

#include <algorithm>

#include "platform/hostworld/DesktopParts.h"
#include "platform/hostworld/World.h"

namespace pw::hostworld {

using namespace desktop_parts;

namespace {

constexpr platform::ErrorCode kErrorAccessDenied = 5;
constexpr platform::ErrorCode kErrorCannotFindWindowClass = 1407;

}  // namespace

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

void Desktop::SetWindowCreationFailure(std::optional<platform::ErrorCode> error) {
  std::scoped_lock lock(mutex_);
  windowCreationFailure_ = error;
}

Result<WindowHandle> Desktop::CreateWindow(const platform::WindowParams& details, platform::Window* object,
                                           WindowObserver* observer, platform::WindowHandler* handler) {
  std::scoped_lock lock(mutex_);
  if (windowCreationFailure_) return platform::Failure(*windowCreationFailure_);
  bool known = std::any_of(classes_.begin(), classes_.end(),
                           [&](const std::string& name) { return NamesEqual(name, details.className); });
  if (!known) return platform::Failure(kErrorCannotFindWindowClass);
  WindowHandle handle = NewHandleLocked();
  WindowRecord record;
  record.className = details.className;
  record.title = details.title;
  record.style = details.style & ~platform::style::kVisible;
  record.bounds = details.bounds;
  record.thread = std::this_thread::get_id();
  record.handler = handler;
  record.object = object;
  record.observer = observer;
  record.z = nextZ_++;
  ThreadLocked(record.thread).hasQueue = true;
  windows_.emplace(Key(handle), std::move(record));
  return handle;
}

Result<void> Desktop::Destroy(WindowHandle window) {
  platform::Window* object = nullptr;
  WindowObserver* observer = nullptr;
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
    observer = record->observer;
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
  if (object != nullptr && observer != nullptr) observer->WindowDestroyed(*object);
  return Success();
}

void Desktop::DetachObject(WindowHandle window) {
  std::scoped_lock lock(mutex_);
  if (WindowRecord* record = FindLocked(window)) {
    record->handler = nullptr;
    record->object = nullptr;
    record->observer = nullptr;
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

void Desktop::BroadcastDeviceChange(std::uintptr_t event) { Broadcast(wm::kDeviceChange, event, 0); }

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

}  // namespace pw::hostworld
