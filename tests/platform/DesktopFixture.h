#pragma once
// What the window contract tests share: the world of the host build (none is
// needed on Win32), a clock that moves (advanced on the host, slept through on
// Win32), a recording window procedure and a pump with a deadline.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Messages.h"
#include "platform/Windows.h"

#if PAGEWICK_HOST
#include "platform/hostworld/World.h"
#endif

namespace pw::test {

struct Received {
  platform::WindowHandle window = nullptr;
  std::uint32_t message = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

// Records every message; an optional reaction decides the result.
class RecordingHandler : public platform::WindowHandler {
 public:
  std::function<std::optional<std::intptr_t>(const Received&)> react;
  std::vector<Received> received;

  std::optional<std::intptr_t> HandleMessage(platform::WindowHandle window, std::uint32_t message,
                                             std::uintptr_t wParam, std::intptr_t lParam) override {
    Received entry{window, message, wParam, lParam};
    received.push_back(entry);
    if (react) return react(entry);
    return std::nullopt;
  }

  [[nodiscard]] std::size_t Count(std::uint32_t message) const {
    std::size_t count = 0;
    for (const auto& entry : received) count += entry.message == message ? 1 : 0;
    return count;
  }
};

class DesktopTest : public ::testing::Test {
 protected:
#if PAGEWICK_HOST
  hostworld::World world_;
  void AdvanceClock(std::uint32_t ms) { world_.Desktop().AdvanceTime(ms); }
#else
  void AdvanceClock(std::uint32_t ms) { platform::Sleep(ms); }
#endif

  static constexpr const char* kClass = "PagewickContractWindow";

  void SetUp() override {
    platform::EnsureMessageQueue();
    ASSERT_TRUE(platform::RegisterWindowClass(kClass).ok());
    Drain();
  }

  std::unique_ptr<platform::Window> MakeWindow(RecordingHandler& handler, const std::string& title,
                                               std::uint32_t windowStyle = platform::style::kCaption |
                                                                           platform::style::kSysMenu) {
    platform::WindowParams details;
    details.className = kClass;
    details.title = title;
    details.style = windowStyle;
    details.bounds = {100, 100, 400, 300};
    return platform::Window::Create(details, handler).value();
  }

  // Takes and dispatches every waiting message; returns the ones taken.
  std::vector<platform::Message> Drain() {
    std::vector<platform::Message> taken;
    while (std::optional<platform::Message> message = platform::PeekMessage()) {
      taken.push_back(*message);
      platform::DispatchMessage(*message);
    }
    return taken;
  }

  // Moves the clock in small steps and pumps until done() or the deadline.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      AdvanceClock(10);
      Drain();
    }
    return true;
  }
};

}  // namespace pw::test
