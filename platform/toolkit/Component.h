#pragma once
// The window toolkit's model: components with properties and events. A backend
// attaches a native peer to a component; the model tells the peer which
// property changed and the peer reports the user's actions back through the
// component's user-action methods. Event rules live here, above both backends:
// a change made by the program runs the change event exactly where a user's
// change would, except where noted (selecting a combo item from code).
#include <functional>
#include <string>

namespace pw::toolkit {

enum class Property {
  Caption,
  Text,
  Visible,
  Enabled,
  Items,
  ItemIndex,
  Checked,
  Picture,
  Mask,
  Directory,
  Interval,
  TimerEnabled,
};

class Component;

// A native control (or timer, or menu) attached to a model component.
class Peer {
 public:
  virtual ~Peer() = default;
  // The component's property has a new value; read it from the component.
  virtual void PropertyChanged(const Component& component, Property property) = 0;
};

using Event = std::function<void()>;

class Component {
 public:
  explicit Component(std::string name) : name_(std::move(name)) {}
  virtual ~Component() = default;
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  const std::string& Name() const { return name_; }

  // The peer is not owned; the backend detaches it (nullptr) before it goes.
  void AttachPeer(Peer* peer) { peer_ = peer; }
  Peer* AttachedPeer() const { return peer_; }

 protected:
  void Notify(Property property) const {
    if (peer_ != nullptr) peer_->PropertyChanged(*this, property);
  }
  static void Fire(const Event& event) {
    if (event) event();
  }

 private:
  std::string name_;
  Peer* peer_ = nullptr;
};

// Position and size in pixels of the client area.
struct Bounds {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// A component with a window area.
class Control : public Component {
 public:
  Control(std::string name, Bounds bounds) : Component(std::move(name)), bounds_(bounds) {}

  const Bounds& GetBounds() const { return bounds_; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) {
    if (visible_ == visible) return;
    visible_ = visible;
    Notify(Property::Visible);
  }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) {
    if (enabled_ == enabled) return;
    enabled_ = enabled;
    Notify(Property::Enabled);
  }
  int TabOrder() const { return tabOrder_; }
  void SetTabOrder(int order) { tabOrder_ = order; }

 private:
  Bounds bounds_;
  bool visible_ = true;
  bool enabled_ = true;
  int tabOrder_ = -1;
};

}  // namespace pw::toolkit
