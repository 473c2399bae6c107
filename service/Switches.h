#pragma once
// The command-line switches of the program. An argument is a switch when its
// first character is '-' or '/' and the rest of it, as a whole and without
// regard to case, is the switch's name.
#include <span>
#include <string>
#include <string_view>

namespace pw::service {

// Whether any of the arguments (those after the program's name) is the switch.
bool FindSwitch(std::span<const std::string> arguments, std::string_view name);

enum class RunMode { Install, Uninstall, Service, Agent };

struct CommandLine {
  RunMode mode = RunMode::Service;
  bool silent = false;  // no success message
};

// INSTALL wins over UNINSTALL, UNINSTALL over AGENT (a session agent, Windows
// Vista and later); none of them runs the service. SILENT alone changes nothing.
CommandLine ParseCommandLine(std::span<const std::string> arguments);

}  // namespace pw::service
