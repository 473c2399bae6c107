// Checks built on the file calls, the same in both builds.
#include <optional>
#include <string>

#include "platform/FileSystem.h"
#include "platform/TextCompare.h"

namespace pw::platform {

bool IsSoleFileIn(const FileHandle& file, const std::string& folder) {
  const std::optional<FileInformation> information = GetFileInformation(file);
  if (!information || information->links != 1 ||
      (information->attributes & (attribute::kReparsePoint | attribute::kDirectory)) != 0) {
    return false;
  }
  const std::optional<std::string> reached = FinalPathOfHandle(file);
  const OpenResult opened =
      CreateFile(folder, 0, share::kRead | share::kWrite | share::kDelete, Disposition::OpenExisting,
                 open_flag::kBackupSemantics);
  std::optional<std::string> folderReached = opened.file ? FinalPathOfHandle(opened.file) : std::nullopt;
  if (folderReached && !folderReached->empty() && folderReached->back() == '\\') folderReached->pop_back();
  // Before Vista no final path can be told: the kind and the names are all
  // there is to check.
  if (!reached && !folderReached && opened.file) return true;
  if (!reached || !folderReached) return false;
  const std::size_t cut = reached->find_last_of('\\');
  return cut != std::string::npos && SameTextIgnoringCase(reached->substr(0, cut), *folderReached);
}

}  // namespace pw::platform
