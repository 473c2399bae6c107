// Process entry of pagewick.exe: every start, whatever its command line,
// creates the service object (which leaves the show-window marker), then
// installs, uninstalls or runs the service.
#include <string>
#include <vector>

#include "platform/Process.h"
#include "service/Entry.h"

int main(int argc, char** argv) {
  pw::platform::ProcessPlatform platform;
  const std::vector<std::string> commandLine(argv, argv + argc);
  // Main windows poll the scanner through their own drive poll.
  return pw::service::ProcessEntry(commandLine, nullptr);
}
