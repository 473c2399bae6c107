// The host build's pagewick and pagewick-sc as processes of their own in one
// world: the control manager launches the service process, control requests
// cross into it, and a start from the desktop reaches it through the marker.
#include <sys/wait.h>

#include <string>

#include "tests/scanner/SimulatorProcess.h"
#include "tests/service/ProcessWorld.h"

namespace pw::service::test {
namespace {

class SeparateProcessTest : public ProcessWorldTest {
 protected:
  // Windows XP: the desktop start leaves the marker for the service.
  SeparateProcessTest() { world.SetVersion(platform::kPlatformNt, 5, 1, 2600); }
};

TEST_F(SeparateProcessTest, ToolDrivesTheServiceProcessThroughItsStates) {
  ASSERT_EQ(Program("/install /silent"), 0);
  ASSERT_TRUE(Record().has_value());
  ASSERT_EQ(Tool("start Service1"), 0);
  ASSERT_EQ(Tool("wait Service1 RUNNING 10000"), 0);
  const long processId = Record()->processId;
  EXPECT_GT(processId, 0);
  EXPECT_TRUE(ProcessAlive(processId)) << "the service runs in a process of its own";

  ASSERT_EQ(Tool("pause Service1"), 0);
  EXPECT_EQ(Tool("wait Service1 PAUSED 10000"), 0);
  ASSERT_EQ(Tool("continue Service1"), 0);
  EXPECT_EQ(Tool("wait Service1 RUNNING 10000"), 0);

  // A start from the desktop leaves the marker; the service takes it away.
  ASSERT_EQ(Program(""), 0);
  EXPECT_TRUE(WaitUntil([] { return !platform::FileExists(kMarker); }));

  ASSERT_EQ(Tool("stop Service1"), 0);
  ASSERT_EQ(Tool("wait Service1 STOPPED 10000"), 0);
  EXPECT_TRUE(WaitUntil([&] { return !ProcessAlive(processId); })) << "the process has ended";
  EXPECT_FALSE(Record()->connected);

  const std::vector<hostworld::EventLogEntry> entries = hostworld::EventLogEntries(world);
  ASSERT_EQ(entries.size(), 1u) << "only the desktop start's entry";
  EXPECT_EQ(entries[0].strings,
            std::vector<std::string>{"The service process could not connect to the service controller."});

  ASSERT_EQ(Tool("delete Service1"), 0);
  EXPECT_FALSE(Record().has_value());
}

// As sc.exe: the Win32 code is printed, and any failure exits with status 1
// (a code taken modulo 256 could read as another code, or as success).
TEST_F(SeparateProcessTest, ToolReportsFailuresWithTheSystemsCodes) {
  const std::string tool = std::string("'") + PAGEWICK_SC + "' ";
  struct Row {
    const char* command;
    const char* printed;
  };
  const Row rows[] = {
      {"query Service1", "[SC] OpenService FAILED 1060:"},   // not installed
      {"stop Service1", "[SC] ControlService FAILED 1062:"},  // not started
      {"create Service1 binPath= C:\\x.exe", "[SC] CreateService FAILED 1073:"},
  };
  for (const Row& row : rows) {
    if (std::string(row.command) != "query Service1" && !Record()) {
      ASSERT_EQ(Program("/install /silent"), 0);
    }
    const auto [status, output] = RunCapturing(tool + row.command);
    EXPECT_EQ(status, 1) << row.command;
    EXPECT_NE(output.find(row.printed), std::string::npos) << row.command << " printed: " << output;
  }
  EXPECT_EQ(RunCapturing(tool + "query Service1").first, 0);
  // The description the install set, as sc qdescription shows it.
  const auto [described, description] = RunCapturing(tool + "qdescription Service1");
  EXPECT_EQ(described, 0);
  EXPECT_NE(description.find("DESCRIPTION:  Receives the pictures scanned on a Pagewick USB scanner"),
            std::string::npos)
      << description;
}

// A run with nobody at its desktop shows its message boxes on the standard
// error stream: the second install's failure is not swallowed.
TEST_F(SeparateProcessTest, MessageBoxesOfAProcessOfItsOwnAreShownOnStandardError) {
  const std::string program = std::string("'") + PAGEWICK_PROGRAM + "' ";
  const auto [firstStatus, first] = RunCapturing(program + "/install");
  EXPECT_EQ(firstStatus, 0);
  EXPECT_NE(first.find("[Information] Service installed successfully"), std::string::npos) << first;
  const auto [secondStatus, second] = RunCapturing(program + "/install");
  EXPECT_EQ(secondStatus, 1073 & 0xFF) << "the exit code, of which a host process keeps the low 8 bits";
  EXPECT_NE(second.find("[Error] Service \"Pagewick\" failed to install with error: \"Win32 Error.  Code: 1073."),
            std::string::npos)
      << second;
}

// Stop and, right behind it, pause: the stop is carried out all the same and
// the process ends.
TEST_F(SeparateProcessTest, PauseRightAfterStopStillStops) {
  ASSERT_EQ(Program("/install /silent"), 0);
  ASSERT_EQ(Tool("start Service1"), 0);
  ASSERT_EQ(Tool("wait Service1 RUNNING 10000"), 0);
  const long processId = Record()->processId;
  ASSERT_EQ(Tool("stop Service1"), 0);
  (void)Tool("pause Service1");  // refused once STOP_PENDING is reported
  EXPECT_EQ(Tool("wait Service1 STOPPED 10000"), 0);
  EXPECT_TRUE(WaitUntil([&] { return !ProcessAlive(processId); })) << "the process has ended";
}

// A simulator plugged in after the service process started is noticed by
// that process's world (as the system notices a device) and pulled from:
// it drains its one image and exits.
TEST_F(SeparateProcessTest, ScannerPluggedInAfterTheStartIsNoticed) {
  ASSERT_EQ(Program("/install /silent"), 0);
  ASSERT_EQ(Tool("start Service1"), 0);
  ASSERT_EQ(Tool("wait Service1 RUNNING 10000"), 0);
  pw::test::SimulatorProcess simulator({"--root", world.Root().string(), "--drive", "E", "--mode", "computer",
                                    "--image-size", "5000", "--exit-when-drained"});
  ASSERT_TRUE(simulator.Started());
  const std::optional<int> status = simulator.WaitForExit(20s);
  ASSERT_TRUE(status.has_value()) << "the service never pulled the image";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

}  // namespace
}  // namespace pw::service::test
