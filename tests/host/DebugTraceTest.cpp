// The debug trace: failures that a boundary swallows stay silent for the user
// but leave a line for diagnosis.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/DebugTrace.h"
#include "platform/ErrorSink.h"
#include "platform/Windows.h"
#include "platform/hostworld/DebugTraceLog.h"
#include "platform/hostworld/World.h"
#include "tests/platform/DesktopFixture.h"

namespace pw::test {
namespace {

bool TraceHas(const std::string& text) {
  const std::vector<std::string> lines = host::DebugTraceLines();
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line == text; });
}

// Puts the default error sink back however the test ends.
class SinkRestorer {
 public:
  explicit SinkRestorer(platform::ErrorSink sink) : previous_(platform::SetErrorSink(std::move(sink))) {}
  ~SinkRestorer() { platform::SetErrorSink(std::move(previous_)); }
  SinkRestorer(const SinkRestorer&) = delete;
  SinkRestorer& operator=(const SinkRestorer&) = delete;

 private:
  platform::ErrorSink previous_;
};

class DebugTraceTest : public DesktopTest {
 protected:
  void SetUp() override {
    DesktopTest::SetUp();
    host::ClearDebugTrace();
  }
  void TearDown() override { host::ClearDebugTrace(); }
};

TEST_F(DebugTraceTest, AFailureInAWindowProcedureIsSwallowedForTheUserButTraced) {
  std::vector<std::string> reported;
  SinkRestorer sink([&](std::string_view what) { reported.emplace_back(what); });
  RecordingHandler handler;
  handler.react = [](const Received& entry) -> std::optional<std::intptr_t> {
    if (entry.message == platform::wm::kUser + 7) throw std::runtime_error("the disk went away");
    return std::nullopt;
  };
  auto window = MakeWindow(handler, "Traced");
  EXPECT_EQ(platform::SendMessage(window->handle(), platform::wm::kUser + 7, 0, 0), 0);
  EXPECT_TRUE(world_.Desktop().MessageBoxes().empty()) << "the user sees nothing";
  EXPECT_TRUE(TraceHas("the disk went away"));
  EXPECT_EQ(reported, std::vector<std::string>{"the disk went away"});
}

TEST_F(DebugTraceTest, DescribesTheExceptionBeingHandled) {
  try {
    throw std::invalid_argument("bad letter");
  } catch (...) {
    EXPECT_EQ(platform::CurrentExceptionMessage(), "bad letter");
    platform::TraceCurrentException("Drive scan");
  }
  try {
    throw 42;
  } catch (...) {
    EXPECT_EQ(platform::CurrentExceptionMessage(), "Unknown exception");
    platform::TraceCurrentException("Scanner poll");
  }
  EXPECT_EQ(host::DebugTraceLines(),
            (std::vector<std::string>{"Drive scan: bad letter", "Scanner poll: Unknown exception"}));
  host::ClearDebugTrace();
  EXPECT_TRUE(host::DebugTraceLines().empty());
}

TEST_F(DebugTraceTest, ASinkThatFailsStillLeavesATrace) {
  SinkRestorer sink([](std::string_view) { throw std::runtime_error("event log full"); });
  EXPECT_EQ(platform::CallGuarded([]() -> int { throw std::runtime_error("timer failed"); }, -1), -1);
  EXPECT_TRUE(TraceHas("timer failed"));
  EXPECT_TRUE(TraceHas("Error sink failed: event log full"));
}

}  // namespace
}  // namespace pw::test
