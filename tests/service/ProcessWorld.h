#pragma once
// A world whose programs run as processes of their own: the host build's
// pagewick and pagewick-sc started with the world's folder, as the control
// manager, the desktop and the tests start them. The world's service is
// stopped before the world goes, so no service process outlives it.
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

#include "platform/hostworld/ProcessRunning.h"
#include "tests/service/ServiceFixture.h"

namespace pw::service::test {

// A process that has ended but was not reaped yet (a zombie) counts as ended.
inline bool ProcessAlive(long processId) { return hostworld::ProcessRunning(static_cast<pid_t>(processId)); }

class ProcessWorldTest : public ::testing::Test {
 protected:
  ~ProcessWorldTest() override {
    if (std::optional<hostworld::ServiceRecord> record = Record(); record && record->connected) {
      (void)Tool("stop Service1");
      (void)Tool("wait Service1 STOPPED 10000");
    }
  }

  // Runs a shell command in the world (with `environment`, such as a
  // session's variable, in front); its exit status.
  int Run(const std::string& command, const std::string& environment = "") {
    const std::string line =
        "PAGEWICK_WORLD='" + world.Root().string() + "' " + environment + " " + command + " >/dev/null 2>&1";
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  int Program(const std::string& arguments, const std::string& environment = "") {
    return Run(std::string("'") + PAGEWICK_PROGRAM + "' " + arguments, environment);
  }
  int Tool(const std::string& arguments) { return Run(std::string("'") + PAGEWICK_SC + "' " + arguments); }

  // Runs a command in the world; its exit status and what it wrote to both streams.
  std::pair<int, std::string> RunCapturing(const std::string& command) {
    const std::string line = "PAGEWICK_WORLD='" + world.Root().string() + "' " + command + " 2>&1";
    std::string output;
    FILE* pipe = ::popen(line.c_str(), "r");
    if (pipe == nullptr) return {-1, output};
    char chunk[512];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, got);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
  }

  std::optional<hostworld::ServiceRecord> Record() { return world.Services().Find("Service1"); }

  // Installs and starts the service; false when it does not reach RUNNING.
  bool InstallAndStart() {
    return Program("/install /silent") == 0 && Tool("start Service1") == 0 && Tool("wait Service1 RUNNING 10000") == 0;
  }

  hostworld::World world;
};

}  // namespace pw::service::test
