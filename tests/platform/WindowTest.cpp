// Top-level windows behave as on Windows in both builds.
#include <stdexcept>

#include "platform/ErrorSink.h"
#include "platform/Shell.h"
#include "tests/platform/DesktopFixture.h"

namespace pw::test {
namespace {

namespace wm = platform::wm;
using WindowTest = DesktopTest;

TEST_F(WindowTest, FindWindowMatchesClassAndTitleAndSeesHiddenWindows) {
  RecordingHandler handler;
  auto window = MakeWindow(handler, "Pagewick Contract Probe");
  ASSERT_FALSE(platform::IsWindowVisible(window->handle()));
  struct Row {
    std::optional<std::string_view> className;
    std::optional<std::string_view> title;
    bool found;
  };
  const Row rows[] = {
      {kClass, "Pagewick Contract Probe", true},
      {kClass, std::nullopt, true},
      {std::nullopt, "Pagewick Contract Probe", true},
      {std::nullopt, "PAGEWICK contract probe", true},  // titles compare without case
      {"pagewickcontractwindow", "Pagewick Contract Probe", true},
      {kClass, "Pagewick Contract Probe ", false},
      {"NoSuchClassAnywhere", "Pagewick Contract Probe", false},
  };
  for (const Row& row : rows) {
    platform::WindowHandle found = platform::FindWindow(row.className, row.title);
    if (row.found) {
      EXPECT_EQ(found, window->handle()) << row.title.value_or("(any)");
    } else {
      EXPECT_NE(found, window->handle()) << row.title.value_or("(any)");
    }
  }
}

TEST_F(WindowTest, DestroyedWindowIsNeitherAWindowNorFound) {
  RecordingHandler handler;
  auto window = MakeWindow(handler, "Pagewick Destroy Probe");
  platform::WindowHandle handle = window->handle();
  ASSERT_TRUE(platform::IsWindow(handle));
  window.reset();
  EXPECT_FALSE(platform::IsWindow(handle));
  EXPECT_EQ(platform::FindWindow(kClass, "Pagewick Destroy Probe"), nullptr);
  EXPECT_EQ(handler.Count(wm::kDestroy), 1u);
}

TEST_F(WindowTest, CloseMessageDestroysByDefaultAndTheObjectForgetsItsHandle) {
  RecordingHandler handler;
  auto window = MakeWindow(handler, "Pagewick Close Probe");
  platform::WindowHandle handle = window->handle();
  ASSERT_TRUE(platform::PostMessage(handle, wm::kClose, 0, 0).ok());
  Drain();
  EXPECT_FALSE(platform::IsWindow(handle));
  EXPECT_FALSE(window->alive());
  EXPECT_EQ(handler.Count(wm::kDestroy), 1u);
}

TEST_F(WindowTest, ShowingRunsShowAndActivationAndHidingReversesIt) {
  RecordingHandler handler;
  auto window = MakeWindow(handler, "Pagewick Show Probe");
  platform::ShowAndBringToFront(window->handle());
  EXPECT_TRUE(platform::IsWindowVisible(window->handle()));
  EXPECT_EQ(handler.Count(wm::kShowWindow), 1u);
  bool activated = false;
  for (const auto& entry : handler.received) {
    if (entry.message == wm::kActivate && (entry.wParam & 0xFFFF) != platform::kWaInactive) activated = true;
  }
  EXPECT_TRUE(activated);
  EXPECT_EQ(platform::GetForegroundWindow(), window->handle());

  EXPECT_TRUE(platform::ShowWindow(window->handle(), platform::ShowCommand::Hide));
  EXPECT_FALSE(platform::IsWindowVisible(window->handle()));
  EXPECT_EQ(handler.Count(wm::kShowWindow), 2u);
  EXPECT_TRUE(platform::IsWindow(window->handle())) << "hiding keeps the window";
}

TEST_F(WindowTest, ClientAreaHasTheRequestedSize) {
  RecordingHandler handler;
  const std::uint32_t windowStyle = platform::style::kCaption | platform::style::kSysMenu;
  platform::Size outer = platform::OuterSizeForClient(windowStyle, 0, {520, 362});
  platform::WindowParams details;
  details.className = kClass;
  details.title = "Pagewick Size Probe";
  details.style = windowStyle;
  details.bounds = {268, 226, 268 + outer.width, 226 + outer.height};
  const auto window = platform::Window::Create(details, handler).value();
  EXPECT_EQ(platform::GetClientSize(window->handle()), (platform::Size{520, 362}));
  std::optional<platform::Rect> bounds = platform::GetWindowRect(window->handle());
  ASSERT_TRUE(bounds);
  EXPECT_EQ(bounds->left, 268);
  EXPECT_EQ(bounds->top, 226);
}

TEST_F(WindowTest, RegisteredMessageIsStableAndInTheRegisteredRange) {
  std::uint32_t first = platform::RegisterWindowMessage("TaskbarCreated");
  EXPECT_GE(first, 0xC000u);
  EXPECT_LE(first, 0xFFFFu);
  EXPECT_EQ(platform::RegisterWindowMessage("TaskbarCreated"), first);
  EXPECT_EQ(platform::RegisterWindowMessage("taskbarcreated"), first);
  EXPECT_NE(platform::RegisterWindowMessage("PagewickSomethingElse"), first);
}

TEST_F(WindowTest, BroadcastReachesHiddenTopLevelWindows) {
  RecordingHandler handler;
  auto window = MakeWindow(handler, "Pagewick Broadcast Probe", platform::style::kPopup);
  std::uint32_t message = platform::RegisterWindowMessage("PagewickContractBroadcast");
  ASSERT_TRUE(platform::PostBroadcast(message, 5, 0).ok());
  ASSERT_TRUE(PumpUntil([&] { return handler.Count(message) == 1; }));
}

TEST_F(WindowTest, ExceptionInAWindowProcedureGoesToTheErrorSinkNotTheCaller) {
  std::vector<std::string> reported;
  platform::ErrorSink previous = platform::SetErrorSink([&](std::string_view what) { reported.emplace_back(what); });
  RecordingHandler handler;
  handler.react = [](const Received& entry) -> std::optional<std::intptr_t> {
    if (entry.message == wm::kUser + 3) throw std::runtime_error("handler failed");
    return std::nullopt;
  };
  auto window = MakeWindow(handler, "Pagewick Throw Probe");
  ASSERT_TRUE(platform::PostMessage(window->handle(), wm::kUser + 3, 0, 0).ok());
  EXPECT_NO_THROW(Drain());
  EXPECT_NO_THROW(platform::SendMessage(window->handle(), wm::kUser + 3, 0, 0));
  platform::SetErrorSink(std::move(previous));
  ASSERT_EQ(reported.size(), 2u);
  EXPECT_EQ(reported[0], "handler failed");
  EXPECT_TRUE(platform::IsWindow(window->handle()));
}

// The administrator prompt is never shown for a program that is not there:
// the shell looks for it first.
TEST_F(WindowTest, ElevatedRunOfAMissingProgramFailsWith2Or3) {
  const struct {
    const char* program;
    platform::ErrorCode error;
  } rows[] = {
      {"C:\\pagewick-contract-missing.exe", platform::error::kFileNotFound},
      {"C:\\PagewickContract\\missing-program.exe", platform::error::kPathNotFound},  // no such folder
  };
  for (const auto& row : rows) {
    const platform::Result<std::uint32_t> ran = platform::RunElevatedAndWait(nullptr, row.program, "/install");
    ASSERT_FALSE(ran.ok()) << row.program;
    EXPECT_EQ(ran.error(), row.error) << row.program;
  }
}

}  // namespace
}  // namespace pw::test
