#include "service/Switches.h"

#include "platform/TextCompare.h"

namespace pw::service {

bool FindSwitch(std::span<const std::string> arguments, std::string_view name) {
  for (const std::string& argument : arguments) {
    if (argument.size() < 2 || (argument[0] != '-' && argument[0] != '/')) continue;
    if (platform::SameTextIgnoringCase(std::string_view(argument).substr(1), name)) return true;
  }
  return false;
}

CommandLine ParseCommandLine(std::span<const std::string> arguments) {
  CommandLine line;
  if (FindSwitch(arguments, "INSTALL")) {
    line.mode = RunMode::Install;
  } else if (FindSwitch(arguments, "UNINSTALL")) {
    line.mode = RunMode::Uninstall;
  } else if (FindSwitch(arguments, "AGENT")) {
    line.mode = RunMode::Agent;
  }
  line.silent = FindSwitch(arguments, "SILENT");
  return line;
}

}  // namespace pw::service
