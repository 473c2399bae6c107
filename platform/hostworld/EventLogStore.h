#pragma once
// The Application event log of the host world: a file in the world's folder
// (<root>/eventlog/Application.log) that every process of the world appends
// to, and that tests and tools read; and the registered event sources, one
// record each (<root>/eventlog/sources/).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hostworld/RecordText.h"

namespace pw::hostworld {

class World;

struct EventLogEntry {
  std::string source;
  std::uint16_t type = 0;
  std::uint16_t category = 0;
  std::uint32_t eventId = 0;
  std::vector<std::string> strings;
  bool hasData = false;  // raw data was attached
};

// Every entry, oldest first.
std::vector<EventLogEntry> EventLogEntries(const World& world);
void ClearEventLog(const World& world);
// Appends one entry; false when the log cannot be written.
bool AppendEventLogEntry(const World& world, const EventLogEntry& entry);

// A source name the registry takes: not empty, no backslash.
bool ValidEventSource(std::string_view source);
// The record of a source (names ignoring case); false when it cannot be written
// or, for the removal, when there is none.
bool WriteEventSource(const World& world, std::string_view source, const Record& record);
bool RemoveEventSource(const World& world, std::string_view source);
std::optional<Record> ReadEventSource(const World& world, std::string_view source);

}  // namespace pw::hostworld
