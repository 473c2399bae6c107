// The host build's pagewick and pagewick-sc as processes of their own in one
// world: the control manager launches the service process, control requests
// cross into it, and a start from the desktop reaches it through the marker.
#include <signal.h>
#include <sys/types.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/service/ServiceFixture.h"

namespace pw::service::test {
namespace {

// A process that has ended but was not reaped yet (a zombie) counts as ended.
bool ProcessAlive(long processId) {
  if (::kill(static_cast<pid_t>(processId), 0) != 0) return false;
  std::ifstream stat("/proc/" + std::to_string(processId) + "/stat");
  std::string pid, name, state;
  stat >> pid >> name >> state;
  return state != "Z";
}

class SeparateProcessTest : public ::testing::Test {
 protected:
  ~SeparateProcessTest() override {
    // Never leave a service process behind on a world that goes away.
    if (std::optional<host::ServiceRecord> record = world.Services().Find("Service1"); record && record->connected) {
      (void)Tool("stop Service1");
      (void)Tool("wait Service1 STOPPED 10000");
    }
  }

  int Run(const std::string& command) {
    const std::string line = "PAGEWICK_WORLD='" + world.Root().string() + "' " + command + " >/dev/null 2>&1";
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  int Program(const std::string& arguments) { return Run(std::string("'") + PAGEWICK_PROGRAM + "' " + arguments); }
  int Tool(const std::string& arguments) { return Run(std::string("'") + PAGEWICK_SC + "' " + arguments); }

  std::optional<host::ServiceRecord> Record() { return world.Services().Find("Service1"); }

  host::World world;
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

  const std::vector<host::EventLogEntry> entries = host::EventLogEntries(world);
  ASSERT_EQ(entries.size(), 1u) << "only the desktop start's entry";
  EXPECT_EQ(entries[0].strings,
            std::vector<std::string>{"The service process could not connect to the service controller."});

  ASSERT_EQ(Tool("delete Service1"), 0);
  EXPECT_FALSE(Record().has_value());
}

TEST_F(SeparateProcessTest, ToolReportsFailuresWithTheSystemsCodes) {
  EXPECT_EQ(Tool("query Service1"), 1060 & 0xFF) << "not installed";
  ASSERT_EQ(Program("/install /silent"), 0);
  EXPECT_EQ(Tool("stop Service1"), 1062 & 0xFF) << "not started";
  EXPECT_EQ(Tool("create Service1 binPath= C:\\x.exe"), 1073 & 0xFF);
}

}  // namespace
}  // namespace pw::service::test
