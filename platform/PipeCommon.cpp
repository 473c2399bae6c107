#include <atomic>
#include <chrono>
#include <string>

#include "platform/FileSystem.h"
#include "platform/NamedPipe.h"
#include "platform/WriteProbe.h"

namespace pw::platform {

std::string LocalPipePath(std::string_view name) { return "\\\\.\\pipe\\" + std::string(name); }

Result<void> ProbeWriteAccess(std::string_view path) {
  static std::atomic<unsigned> counter{0};
  std::string base(path);
  if (base.empty()) return Failure(error::kPathNotFound);
  if (base.back() != '\\' && base.back() != '/') base += '\\';
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const std::string unique = "~pagewick-probe-" + std::to_string(stamp) + "-" + std::to_string(counter++);

  const std::string folder = base + unique + ".dir";
  if (Result<void> made = CreateDirectory(folder); !made) return made;
  const Result<void> removed = RemoveDirectory(folder);
  if (!removed) return removed;

  const std::string file = base + unique + ".tmp";
  OpenResult opened = CreateFile(file, access::kGenericWrite, share::kNone, Disposition::CreateNew);
  if (!opened.file) return Failure(opened.error);
  opened.file.reset();
  return DeleteFile(file);
}

}  // namespace pw::platform
