// Command lines of services: the program they name and the arguments after it.
#include "platform/hostworld/ServiceManager.h"

#include <cstddef>

#include "platform/hostworld/ServiceManagerParts.h"
#include "platform/hostworld/World.h"

namespace pw::hostworld {

using namespace scm;

namespace {

std::vector<std::string> SplitArguments(std::string_view text) {
  std::vector<std::string> arguments;
  std::string current;
  bool quoted = false;
  bool any = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (any) arguments.push_back(std::move(current));
      current.clear();
      any = false;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) arguments.push_back(std::move(current));
  return arguments;
}

bool NamesFile(const World& world, const std::string& windowsPath, fs::path& hostPath) {
  const ResolvedPath resolved = world.Resolve(windowsPath);
  std::error_code ec;
  if (resolved.error != error::kSuccess || !resolved.exists || !fs::is_regular_file(resolved.hostPath, ec)) return false;
  hostPath = resolved.hostPath;
  return true;
}

}  // namespace

// A quoted path ends at its closing quote; an unquoted one is tried at each
// blank in turn, the first prefix that names a file winning, with ".exe"
// added when the prefix has no extension.
std::optional<CommandLineProgram> FindCommandLineProgram(const World& world, std::string_view commandLine) {
  CommandLineProgram found;
  std::string_view text = commandLine;
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  if (!text.empty() && text.front() == '"') {
    const std::size_t close = text.find('"', 1);
    const std::string path(text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    if (!NamesFile(world, path, found.program)) return std::nullopt;
    found.arguments = SplitArguments(close == std::string_view::npos ? std::string_view() : text.substr(close + 1));
    return found;
  }
  for (std::size_t end = 0; end <= text.size(); ++end) {
    if (end < text.size() && text[end] != ' ') continue;
    const std::string candidate(text.substr(0, end));
    const std::string name = candidate.substr(candidate.find_last_of("\\/") == std::string::npos
                                                  ? 0
                                                  : candidate.find_last_of("\\/") + 1);
    const bool hasExtension = name.find('.') != std::string::npos;
    if (NamesFile(world, candidate, found.program) ||
        (!hasExtension && NamesFile(world, candidate + ".exe", found.program))) {
      found.arguments = SplitArguments(end < text.size() ? text.substr(end + 1) : std::string_view());
      return found;
    }
  }
  return std::nullopt;
}

}  // namespace pw::hostworld
