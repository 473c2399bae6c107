#include "platform/toolkit/FormWindow.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "platform/DebugTrace.h"
#include "platform/Messages.h"

namespace pw::toolkit {

// Runs a model timer on a native timer of the form window.
class FormWindow::TimerPeer final : public Peer {
 public:
  TimerPeer(Timer& timer, platform::WindowHandle window, platform::TimerId id)
      : timer_(timer), window_(window), id_(id) {
    timer_.AttachPeer(this);
    Apply();
  }
  ~TimerPeer() override {
    timer_.AttachPeer(nullptr);
    (void)platform::KillTimer(window_, id_);
  }
  TimerPeer(const TimerPeer&) = delete;
  TimerPeer& operator=(const TimerPeer&) = delete;

  void PropertyChanged(const Component&, Property property) override {
    if (property == Property::Interval || property == Property::TimerEnabled) Apply();
  }
  [[nodiscard]] platform::TimerId id() const { return id_; }
  void Tick() const { timer_.Tick(); }

 private:
  // Setting the timer again restarts its period, as a changed interval does.
  void Apply() {
    if (timer_.Enabled() && timer_.Interval() > 0) {
      (void)platform::SetTimer(window_, id_, timer_.Interval());
    } else {
      (void)platform::KillTimer(window_, id_);
    }
  }

  Timer& timer_;
  platform::WindowHandle window_;
  platform::TimerId id_;
};

// The model's tray icon on the platform's: clicks go to the model, the menu
// is built from the visible items each time it opens.
class FormWindow::TrayPeer final : public Peer {
 public:
  TrayPeer(TrayIcon& model, std::span<const std::byte> ico)
      : model_(model),
        icon_(platform::CreateIconFromIco(ico, platform::TrayIconSize())),
        // The icon is added with its name: never shown nameless.
        tray_(icon_.get(), Events(), model_.Hint()) {
    model_.AttachPeer(this);
  }
  ~TrayPeer() override { model_.AttachPeer(nullptr); }
  TrayPeer(const TrayPeer&) = delete;
  TrayPeer& operator=(const TrayPeer&) = delete;

  void PropertyChanged(const Component&, Property property) override {
    if (property == Property::Caption) tray_.SetTip(model_.Hint());
    if (property == Property::Text) (void)tray_.ShowBalloon(model_.LastBalloon().title, model_.LastBalloon().text);
  }
  [[nodiscard]] bool shown() const { return tray_.added(); }

 private:
  platform::TrayIcon::Events Events() {
    platform::TrayIcon::Events events;
    TrayIcon* model = &model_;
    events.onClick = [model] { model->Click(); };
    events.onDoubleClick = [model] { model->DoubleClick(); };
    events.onBalloonClick = [model] { model->BalloonClick(); };
    events.onPrepareMenu = [model](platform::PopupMenu& menu) {
      menu.Clear();
      const auto& items = model->Popup().Items();
      for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i]->Visible()) menu.Append(static_cast<std::uint32_t>(i + 1), items[i]->Caption());
      }
    };
    events.onCommand = [model](std::uint32_t command) {
      const auto& items = model->Popup().Items();
      if (command >= 1 && command <= items.size()) items[command - 1]->Click();
    };
    return events;
  }

  TrayIcon& model_;
  platform::IconHandle icon_;
  platform::TrayIcon tray_;
};

platform::Result<std::unique_ptr<FormWindow>> FormWindow::Create(const FormParams& details) {
  const platform::Result<void> registered = platform::RegisterWindowClass(details.className);
  if (!registered) {
    platform::DebugTrace("RegisterClassA failed with error " + std::to_string(registered.error()));
    return platform::Failure(registered.error());
  }
  platform::Size outer = platform::OuterSizeForClient(details.style, 0, details.client);
  platform::WindowParams window;
  window.className = details.className;
  window.title = details.title;
  window.style = details.style;
  window.bounds = {details.position.x, details.position.y, details.position.x + outer.width, details.position.y + outer.height};
  // The form is its window's handler, so it exists before the window does.
  std::unique_ptr<FormWindow> form(new FormWindow());
  platform::Result<std::unique_ptr<platform::Window>> created =
      platform::Window::Create(window, static_cast<platform::WindowHandler&>(*form));
  if (!created) {
    platform::DebugTrace("CreateWindowExA failed with error " + std::to_string(created.error()));
    return platform::Failure(created.error());
  }
  form->window_ = std::move(created).value();
  form->controls_ = CreateNativeControls(form->window_->handle(), details);
  return form;
}

FormWindow::~FormWindow() {
  thread_.Check();
  tray_.reset();
  timers_.clear();
  controls_.reset();
  window_.reset();
}

void FormWindow::AddControl(Control& control, const ControlOptions& options) {
  thread_.Check();
  controls_->Add(control, options);
  if (control.TabOrder() < 0) return;
  const auto at = std::upper_bound(tabStops_.begin(), tabStops_.end(), control.TabOrder(),
                                   [](int order, const Control* other) { return order < other->TabOrder(); });
  controls_->PlaceAfter(control, at == tabStops_.begin() ? nullptr : *std::prev(at));
  tabStops_.insert(at, &control);
}

void FormWindow::SetFocusControl(Control& label, const Control& target) {
  thread_.Check();
  const auto at = std::find(tabStops_.begin(), tabStops_.end(), &target);
  if (at == tabStops_.end()) return;
  controls_->PlaceAfter(label, at == tabStops_.begin() ? nullptr : *std::prev(at));
}

void FormWindow::AddTimer(Timer& timer) {
  thread_.Check();
  timers_.push_back(std::make_unique<TimerPeer>(timer, Handle(), timers_.size() + 1));
}

void FormWindow::AddTrayIcon(TrayIcon& trayIcon, std::span<const std::byte> ico) {
  thread_.Check();
  tray_ = std::make_unique<TrayPeer>(trayIcon, ico);
}

bool FormWindow::TrayIconShown() const { return tray_ && tray_->shown(); }

std::optional<std::intptr_t> FormWindow::HandleMessage(platform::WindowHandle, std::uint32_t message,
                                                       std::uintptr_t wParam, std::intptr_t lParam) {
  thread_.Check();
  switch (message) {
    case platform::wm::kShowWindow:
      if (wParam != 0 && OnShow) OnShow();
      return std::nullopt;
    case platform::wm::kActivate:
      if ((wParam & 0xFFFF) != platform::kWaInactive && OnActivate) OnActivate();
      // The controls take the focus back.
      return controls_ ? controls_->HandleMessage(message, wParam, lParam) : std::nullopt;
    case platform::wm::kClose:
      if (OnClose) OnClose();
      return 0;
    case platform::wm::kTimer:
      for (const auto& timer : timers_) {
        if (timer->id() == wParam) {
          timer->Tick();
          return 0;
        }
      }
      return std::nullopt;
    default:
      break;
  }
  if (controls_) {
    if (std::optional<std::intptr_t> result = controls_->HandleMessage(message, wParam, lParam)) return result;
  }
  if (OnMessage) return OnMessage(message, wParam, lParam);
  return std::nullopt;
}

}  // namespace pw::toolkit
