#include <cctype>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "platform/EventLog.h"
#include "platform/hostworld/EventLogStore.h"
#include "platform/hostworld/RecordText.h"
#include "platform/hostworld/World.h"

namespace pw::host {
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

}  // namespace pw::host

namespace pw::platform {
namespace {

class EventSourceObject final : public host::HandleObject {
 public:
  explicit EventSourceObject(std::string sourceName) : source(std::move(sourceName)) {}
  std::string source;
};

}  // namespace

void EventSourceHandleTraits::Close(RawHandle handle) noexcept {
  if (host::World* world = host::World::CurrentOrNull()) world->CloseHandle(handle);
}

Result<EventSourceHandle> RegisterEventSource(const std::optional<std::string>& server, std::string_view source) {
  if (server && !server->empty()) {
    return Failure(1722);  // RPC_S_SERVER_UNAVAILABLE: the world is one machine
  }
  if (source.empty()) {
    return Failure(error::kInvalidParameter);
  }
  return EventSourceHandle(host::World::Current().AddHandle(std::make_unique<EventSourceObject>(std::string(source))));
}

Result<void> ReportEvent(const EventSourceHandle& source, std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                    std::span<const std::string> strings) {
  host::World& world = host::World::Current();
  auto* object = source.valid() ? dynamic_cast<EventSourceObject*>(world.FindHandle(source.get())) : nullptr;
  if (object == nullptr) return Failure(error::kInvalidHandle);
  host::EventLogEntry entry;
  entry.source = object->source;
  entry.type = type;
  entry.category = category;
  entry.eventId = eventId;
  entry.strings.assign(strings.begin(), strings.end());
  if (!host::AppendEventLogEntry(world, entry)) return Failure(error::kDiskFull);
  return Success();
}

}  // namespace pw::platform

namespace pw::platform {

Result<void> RegisterEventSourceFile(std::string_view source, const EventSourceRegistration& registration) {
  if (!host::ValidSource(source)) return Failure(error::kInvalidParameter);
  const host::World& world = host::World::Current();
  const host::Record record{{"EventMessageFile", registration.messageFile},
                            {"TypesSupported", std::to_string(registration.typesSupported)}};
  host::FileLock lock(host::LockPath(world));
  std::error_code ec;
  std::filesystem::create_directories(host::SourcePath(world, source).parent_path(), ec);
  if (!host::WriteRecord(host::SourcePath(world, source), record)) return Failure(error::kAccessDenied);
  return Success();
}

Result<void> RemoveEventSourceFile(std::string_view source) {
  if (!host::ValidSource(source)) return Failure(error::kInvalidParameter);
  const host::World& world = host::World::Current();
  host::FileLock lock(host::LockPath(world));
  std::error_code ec;
  if (!std::filesystem::remove(host::SourcePath(world, source), ec)) return Failure(error::kFileNotFound);
  return Success();
}

std::optional<EventSourceRegistration> FindEventSourceFile(std::string_view source) {
  if (!host::ValidSource(source)) return std::nullopt;
  const host::World& world = host::World::Current();
  host::FileLock lock(host::LockPath(world));
  const std::optional<host::Record> record = host::ReadRecord(host::SourcePath(world, source));
  if (!record) return std::nullopt;
  EventSourceRegistration registration;
  if (auto file = record->find("EventMessageFile"); file != record->end()) registration.messageFile = file->second;
  if (auto types = record->find("TypesSupported"); types != record->end()) {
    registration.typesSupported = static_cast<std::uint32_t>(std::strtoul(types->second.c_str(), nullptr, 10));
  }
  return registration;
}

}  // namespace pw::platform
