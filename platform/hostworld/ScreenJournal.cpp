#include "platform/hostworld/ScreenJournal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/hostworld/UniqueFd.h"

namespace pw::hostworld {
namespace {

void AppendEscaped(std::string& line, std::string_view text) {
  for (char c : text) {
    if (c == '\t') line += "\\t";
    else if (c == '\n') line += "\\n";
    else if (c == '\r') line += "\\r";
    else if (c == '\\') line += "\\\\";
    else line += c;
  }
}

std::string Unescaped(std::string_view text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      plain += text[i];
      continue;
    }
    const char next = text[++i];
    plain += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return plain;
}

}  // namespace

void ScreenJournal::Record(std::string_view event, std::string_view detail) const noexcept {
  try {
    std::string line = std::to_string(session_) + '\t' + std::to_string(::getpid()) + '\t';
    line += event;
    line += '\t';
    AppendEscaped(line, detail);
    line += '\n';
    const UniqueFd file(::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (file.get() < 0) return;
    (void)!::write(file.get(), line.data(), line.size());
  } catch (...) {
    // Out of memory while building a line: the line is lost, nothing else.
  }
}

std::vector<ScreenEvent> ScreenJournal::Read(const std::filesystem::path& file) {
  std::vector<ScreenEvent> events;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    const std::size_t first = line.find('\t');
    const std::size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
    const std::size_t third = second == std::string::npos ? second : line.find('\t', second + 1);
    if (third == std::string::npos) continue;  // a line still being written by another process
    ScreenEvent event;
    event.session = static_cast<std::uint32_t>(std::strtoul(line.substr(0, first).c_str(), nullptr, 10));
    event.processId = std::strtol(line.substr(first + 1, second - first - 1).c_str(), nullptr, 10);
    event.event = line.substr(second + 1, third - second - 1);
    std::string_view detail(line);
    event.detail = Unescaped(detail.substr(third + 1));
    events.push_back(std::move(event));
  }
  return events;
}

}  // namespace pw::hostworld
