#include <memory>
#include <vector>

#include "platform/hostworld/Desktop.h"
#include "platform/hostworld/World.h"
#include "platform/toolkit/Controls.h"
#include "platform/toolkit/FormWindow.h"

namespace pw::toolkit {

namespace {

constexpr int kFirstId = 100;

hostworld::Desktop& Desk() { return hostworld::World::Current().Desktop(); }

// The simulated world draws nothing: the model components are the controls'
// whole state, and tests act on them through the model's user actions. Each
// control still has a window of the desktop for the keyboard: its place in
// the tab order, its focus, and whether it can take the focus.
class HostPeer final : public Peer {
 public:
  HostPeer(Control& control, platform::WindowHandle handle, int id) : control_(control), handle_(handle), id_(id) {
    control_.AttachPeer(this);
    Sync();
  }
  ~HostPeer() override {
    control_.AttachPeer(nullptr);
    if (hostworld::World* world = hostworld::World::CurrentOrNull()) world->Desktop().DestroyControl(handle_);
  }
  HostPeer(const HostPeer&) = delete;
  HostPeer& operator=(const HostPeer&) = delete;

  void PropertyChanged(const Component&, Property property) override {
    if (property == Property::Visible || property == Property::Enabled) Sync();
  }
  Control& control() const { return control_; }
  platform::WindowHandle handle() const { return handle_; }
  int id() const { return id_; }

 private:
  void Sync() { Desk().SetControlState(handle_, control_.Visible(), control_.Enabled()); }

  Control& control_;
  platform::WindowHandle handle_;
  int id_;
};

class HostControls final : public NativeControls {
 public:
  explicit HostControls(platform::WindowHandle form) : form_(form) {}
  ~HostControls() override { peers_.clear(); }
  HostControls(const HostControls&) = delete;
  HostControls& operator=(const HostControls&) = delete;

  void Add(Control& control, const ControlOptions& options) override {
    if (options.background) return;  // drawn on the form, not a control
    const int id = kFirstId + static_cast<int>(peers_.size());
    std::uint32_t style = platform::style::kChild;
    if (control.TabOrder() >= 0) style |= platform::style::kTabStop | platform::style::kGroup;
    const platform::WindowHandle handle = Desk().CreateControl(form_, id, control.Name(), style);
    if (handle == nullptr) return;
    peers_.push_back(std::make_unique<HostPeer>(control, handle, id));
  }

  void PlaceAfter(Control& control, const Control* after) override {
    const HostPeer* peer = PeerOf(&control);
    const HostPeer* previous = PeerOf(after);
    if (peer != nullptr) Desk().PlaceControlAfter(peer->handle(), previous != nullptr ? previous->handle() : nullptr);
  }

  std::optional<std::intptr_t> HandleMessage(std::uint32_t message, std::uintptr_t wParam,
                                             std::intptr_t) override {
    namespace keys = platform::keys;
    switch (message) {
      case platform::wm::kActivate:
        if ((wParam & 0xFFFF) == platform::kWaInactive) {
          lastFocus_ = PeerOf(Desk().Focus());
          return std::nullopt;
        }
        FocusOnActivation();
        return 0;
      case keys::kDmGetDefId: {
        const HostPeer* focused = PeerOf(Desk().Focus());
        const HostPeer* target = focused != nullptr && dynamic_cast<Button*>(&focused->control()) != nullptr
                                     ? focused
                                     : ButtonWhere([](const Button& b) { return b.Default(); });
        if (target == nullptr) return 0;
        return static_cast<std::intptr_t>((std::uintptr_t{keys::kDcHasDefId} << 16) |
                                          static_cast<std::uintptr_t>(target->id()));
      }
      case platform::wm::kCommand: return Command(static_cast<int>(wParam & 0xFFFF));
      default: return std::nullopt;
    }
  }

 private:
  std::optional<std::intptr_t> Command(int id) {
    const HostPeer* peer = nullptr;
    if (id == platform::keys::kIdOk) {
      peer = ButtonWhere([](const Button& b) { return b.Default(); });
    } else if (id == platform::keys::kIdCancel) {
      peer = ButtonWhere([](const Button& b) { return b.Cancel(); });
    } else {
      for (const auto& candidate : peers_) {
        if (candidate->id() == id) peer = candidate.get();
      }
    }
    if (peer == nullptr) return std::nullopt;
    if (auto* button = dynamic_cast<Button*>(&peer->control())) button->Click();
    if (auto* box = dynamic_cast<CheckBox*>(&peer->control())) box->UserClick();
    return 0;
  }

  // The control that had the focus when the window was last deactivated, or
  // the first tab stop that can take it.
  void FocusOnActivation() {
    if (lastFocus_ != nullptr && CanFocus(*lastFocus_)) {
      Desk().SetFocus(lastFocus_->handle());
      return;
    }
    for (platform::WindowHandle handle : Desk().Controls(form_)) {
      const HostPeer* peer = PeerOf(handle);
      if (peer != nullptr && peer->control().TabOrder() >= 0 && CanFocus(*peer)) {
        Desk().SetFocus(handle);
        return;
      }
    }
    Desk().SetFocus(form_);
  }

  static bool CanFocus(const HostPeer& peer) { return peer.control().Visible() && peer.control().Enabled(); }

  template <typename Predicate>
  const HostPeer* ButtonWhere(Predicate predicate) const {
    for (const auto& peer : peers_) {
      if (const auto* button = dynamic_cast<const Button*>(&peer->control()); button != nullptr && predicate(*button)) {
        return peer.get();
      }
    }
    return nullptr;
  }

  const HostPeer* PeerOf(const Control* control) const {
    for (const auto& peer : peers_) {
      if (&peer->control() == control) return peer.get();
    }
    return nullptr;
  }

  const HostPeer* PeerOf(platform::WindowHandle handle) const {
    for (const auto& peer : peers_) {
      if (peer->handle() == handle) return peer.get();
    }
    return nullptr;
  }

  platform::WindowHandle form_;
  std::vector<std::unique_ptr<HostPeer>> peers_;
  const HostPeer* lastFocus_ = nullptr;
};

}  // namespace

std::unique_ptr<NativeControls> CreateNativeControls(platform::WindowHandle form, const FormParams&) {
  return std::make_unique<HostControls>(form);
}

}  // namespace pw::toolkit
