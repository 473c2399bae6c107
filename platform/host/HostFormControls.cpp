#include "platform/toolkit/FormWindow.h"

namespace pw::toolkit {

namespace {

// The simulated world draws nothing: the model components are the controls'
// whole state, and tests act on them through the model's user actions.
class HostControls final : public NativeControls {
 public:
  void Add(Control&, const ControlOptions&) override {}
  std::optional<std::intptr_t> HandleMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override {
    return std::nullopt;
  }
};

}  // namespace

std::unique_ptr<NativeControls> CreateNativeControls(platform::WindowHandle, const FormParams&) {
  return std::make_unique<HostControls>();
}

}  // namespace pw::toolkit
