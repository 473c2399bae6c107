#pragma once
// The Application event log of the host world: a file in the world's folder
// (<root>/eventlog/Application.log) that every process of the world appends
// to, and that tests and tools read.
#include <cstdint>
#include <string>
#include <vector>

namespace pw::host {

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

}  // namespace pw::host
