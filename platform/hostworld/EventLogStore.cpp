#include "platform/hostworld/EventLogStore.h"

#include <cctype>
#include <sstream>

#include "platform/hostworld/RecordText.h"
#include "platform/hostworld/World.h"

namespace pw::hostworld {
namespace fs = std::filesystem;

namespace {

fs::path LogFolder(const World& world) { return world.Root() / "eventlog"; }
fs::path LogPath(const World& world) { return LogFolder(world) / "Application.log"; }
fs::path LockPath(const World& world) { return LogFolder(world) / "lock"; }
// A registered source: one record per source, named by its encoded name in
// lower case (registry key names do not tell case apart).
fs::path SourcePath(const World& world, std::string_view source) {
  std::string name = EncodeField(source);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return LogFolder(world) / "sources" / name;
}
bool ValidSource(std::string_view source) { return !source.empty() && source.find('\\') == std::string_view::npos; }

}  // namespace

// One line per entry: type, category, event id, data flag, source, strings.
std::vector<EventLogEntry> EventLogEntries(const World& world) {
  FileLock lock(LockPath(world));
  std::vector<EventLogEntry> entries;
  for (const std::string& line : ReadLines(LogPath(world))) {
    std::istringstream in(line);
    unsigned type = 0;
    unsigned category = 0;
    unsigned long eventId = 0;
    int hasData = 0;
    std::string source;
    std::string strings;
    in >> type >> category >> eventId >> hasData >> source;
    if (!in) continue;
    in >> strings;  // absent when there are no strings
    EventLogEntry entry;
    entry.type = static_cast<std::uint16_t>(type);
    entry.category = static_cast<std::uint16_t>(category);
    entry.eventId = static_cast<std::uint32_t>(eventId);
    entry.hasData = hasData != 0;
    entry.source = DecodeField(source);
    entry.strings = strings == "-" ? std::vector<std::string>{} : DecodeList(strings);
    entries.push_back(std::move(entry));
  }
  return entries;
}

void ClearEventLog(const World& world) {
  FileLock lock(LockPath(world));
  std::error_code ec;
  fs::remove(LogPath(world), ec);
}

bool AppendEventLogEntry(const World& world, const EventLogEntry& entry) {
  std::ostringstream line;
  line << entry.type << ' ' << entry.category << ' ' << entry.eventId << ' ' << (entry.hasData ? 1 : 0) << ' '
       << EncodeField(entry.source) << ' ' << (entry.strings.empty() ? std::string("-") : EncodeList(entry.strings));
  FileLock lock(LockPath(world));
  return AppendLine(LogPath(world), line.str());
}

bool ValidEventSource(std::string_view source) { return ValidSource(source); }

bool WriteEventSource(const World& world, std::string_view source, const Record& record) {
  FileLock lock(LockPath(world));
  std::error_code ec;
  fs::create_directories(SourcePath(world, source).parent_path(), ec);
  return WriteRecord(SourcePath(world, source), record);
}

bool RemoveEventSource(const World& world, std::string_view source) {
  FileLock lock(LockPath(world));
  std::error_code ec;
  return fs::remove(SourcePath(world, source), ec);
}

std::optional<Record> ReadEventSource(const World& world, std::string_view source) {
  FileLock lock(LockPath(world));
  return ReadRecord(SourcePath(world, source));
}

}  // namespace pw::hostworld
