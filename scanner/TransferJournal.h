#pragma once
// The service's own record of the transfer files its pulls made, kept in the
// service's folder (beside the settings file), where a standard user may not
// write. A transfer is listed before its file is made, and the entry goes
// once the file has its image name, is kept as a partial or is deleted. The
// recovery at start settles only listed files: a "~" file a user made is
// never taken for one of the service's leftovers.
//
// The record is a log of lines: "+" and the transfer's path when it is
// listed, "-" and the path when it goes. Only a "+" line is flushed before
// its file is made: a power cut that takes a "-" line leaves an entry whose
// file has already gone or been renamed. The file is opened once, with the
// service's own rights, and written through that handle, also while a pull
// acts with the console user's.
#include <set>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Result.h"

namespace pw::scanner {

// The record's name in the service's folder.
inline constexpr const char* kTransferJournalName = "pagewick.transfers";

class TransferJournal {
 public:
  TransferJournal() = default;
  TransferJournal(const TransferJournal&) = delete;
  TransferJournal& operator=(const TransferJournal&) = delete;

  // Opens (or creates) the record at the path and reads it; a record with
  // gone entries or damaged lines is first written anew without them. Call
  // with the service's own rights. Until it succeeds nothing is listed.
  platform::Result<void> Open(const std::string& path);
  [[nodiscard]] bool IsOpen() const { return file_.valid(); }
  // Lists the transfer: on the disk when this returns.
  platform::Result<void> Add(const std::string& transferPath);
  // The transfer is settled: its entry goes (an empty record is cut to nothing).
  void Remove(const std::string& transferPath);
  [[nodiscard]] bool Lists(const std::string& transferPath) const;
  [[nodiscard]] std::size_t Size() const { return listed_.size(); }
  [[nodiscard]] const std::string& Path() const { return path_; }

 private:
  platform::Result<void> Append(char kind, const std::string& transferPath, bool flush);

  std::string path_;
  platform::FileHandle file_;
  std::uint64_t end_ = 0;
  std::set<std::string> listed_;  // paths in upper case
};

}  // namespace pw::scanner
