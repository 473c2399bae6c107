#pragma once
// A timer component; a backend peer runs the real timer and calls Tick.
#include <cstdint>

#include "platform/toolkit/Component.h"

namespace pw::toolkit {

class Timer : public Component {
 public:
  Timer(std::string name, std::uint32_t intervalMs, bool enabled)
      : Component(std::move(name)), interval_(intervalMs), enabled_(enabled) {}

  std::uint32_t Interval() const { return interval_; }
  void SetInterval(std::uint32_t intervalMs) {
    if (interval_ == intervalMs) return;
    interval_ = intervalMs;
    Notify(Property::Interval);
  }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) {
    if (enabled_ == enabled) return;
    enabled_ = enabled;
    Notify(Property::TimerEnabled);
  }

  Event OnTimer;
  // One period has passed; a disabled timer does not fire.
  void Tick() const {
    if (enabled_) Fire(OnTimer);
  }

 private:
  std::uint32_t interval_;
  bool enabled_;
};

}  // namespace pw::toolkit
