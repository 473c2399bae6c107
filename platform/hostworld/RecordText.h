#pragma once
// Small text records that processes of one host world share through the
// world's folder (the service database, the event log): one "key=value" per
// line, values percent-encoded so that any bytes fit on a line, and an
// exclusive lock file that serialises every read-modify-write between
// threads and processes.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hostworld/UniqueFd.h"

namespace pw::hostworld {

// Percent-encodes '%', '=', ',', and every byte outside printable ASCII.
std::string EncodeField(std::string_view text);
std::string DecodeField(std::string_view text);

// A list as one field: the items encoded and joined with ','.
std::string EncodeList(const std::vector<std::string>& items);
std::vector<std::string> DecodeList(std::string_view text);

using Record = std::map<std::string, std::string>;  // decoded values by key

// Reads a record file; nullopt when it does not exist or cannot be read.
std::optional<Record> ReadRecord(const std::filesystem::path& path);
// Writes the whole record (to a temporary file, then renamed over the old one).
bool WriteRecord(const std::filesystem::path& path, const Record& record);
// Replaces the whole file with the text: written to a temporary file of this
// process, then renamed over the old one, so that another process of the
// world reads the old text or the new one, never a part of either.
bool ReplaceFileText(const std::filesystem::path& path, std::string_view text);
// Appends one line to a file; false when it cannot be written.
bool AppendLine(const std::filesystem::path& path, std::string_view line);
std::vector<std::string> ReadLines(const std::filesystem::path& path);

// flock on a lock file, held for the object's life. Blocks until it has it.
class FileLock {
 public:
  explicit FileLock(const std::filesystem::path& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  UniqueFd descriptor_;
};

}  // namespace pw::hostworld
