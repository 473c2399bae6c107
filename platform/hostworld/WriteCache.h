#pragma once
// The system's write cache as a power cut sees it. Windows keeps written bytes
// in memory until the lazy writer or FlushFileBuffers puts them on the disk,
// while NTFS journals the file system's own changes (creates, renames,
// deletes, sizes set) in order. A power cut therefore keeps every such change
// made before it, but of the bytes written to a file since its last flush it
// may keep nothing, a prefix, or zeros in their place.
//
// The host backend reports every call that changes the disk here. A process
// can be given a crash plan (a file in the world's folder that the service
// process takes at its start): at the planned change the process is killed,
// after undoing, for a power cut, what the cut would have lost. The next
// world opened on the same folder starts from what survived.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/hostworld/UniqueFd.h"

namespace pw::hostworld {

// What a power cut leaves of the bytes written to a file since its last flush.
enum class CutLoss {
  Everything,  // none of them: the file as it was at its last flush
  Prefix,      // the first half of them, in the order they were written
  Zeros,       // zeros in their place, the file's size kept
};

enum class CrashKind {
  PowerCut,  // the unflushed bytes go as the plan's loss says, then the process ends
  Kill,      // the process is killed; the cache is the system's and stays
};

struct CrashPlan {
  CrashKind kind = CrashKind::Kill;
  // The change at which the crash comes, counted from 1 in the process that
  // took the plan; 0: none, the changes are only counted.
  std::uint64_t atChange = 0;
  CutLoss loss = CutLoss::Everything;
};

// The plan file's text: "cut <n> everything|prefix|zeros", "kill <n>" or "count".
std::string CrashPlanText(const CrashPlan& plan);
std::optional<CrashPlan> ParseCrashPlan(const std::string& text);

class WriteCache {
 public:
  // The plan of a world's folder: written by a test before it starts the
  // process; taken by exactly one process. The process reports in the same
  // folder how many changes it made ("crash-count") and, when it crashes,
  // where ("crash-hit").
  static std::filesystem::path PlanFile(const std::filesystem::path& worldRoot);
  static std::filesystem::path CountFile(const std::filesystem::path& worldRoot);
  static std::filesystem::path HitFile(const std::filesystem::path& worldRoot);
  static void WritePlan(const std::filesystem::path& worldRoot, const CrashPlan& plan);
  // Takes the world's plan when there is one (renamed, so only one process
  // gets it) and arms it. True when a plan was taken.
  bool TakePlan(const std::filesystem::path& worldRoot);

  // Starts keeping what a power cut would lose (a plan does this too). Off by
  // default: nothing is kept and nothing costs.
  void Track() { tracking_ = true; }
  bool Tracking() const { return tracking_; }

  // Every call that changes the disk, before it acts: counted, and the
  // planned one crashes the process.
  void BeforeChange();
  // A file was created, or cut to nothing by CREATE_ALWAYS or
  // TRUNCATE_EXISTING: none of its bytes are on the disk yet.
  void Created(int fd);
  // Before size bytes are written at offset.
  void BeforeWrite(int fd, std::uint64_t offset, std::size_t size);
  // Before the file's end is set (SetEndOfFile): a cut is kept.
  void BeforeSizeSet(int fd, std::uint64_t size);
  // The file's bytes are on the disk (FlushFileBuffers).
  void Flushed(int fd);

  // What a power cut does now to every file with unflushed bytes; the cache
  // is empty afterwards. Tests call it, then open a fresh world on the folder.
  void CutPower(CutLoss loss);

  // For measuring what flushes cost: FlushFileBuffers then puts nothing on
  // the disk (it still counts as a flush here).
  void IgnoreFlushes(bool ignore) { ignoreFlushes_ = ignore; }
  bool FlushesIgnored() const { return ignoreFlushes_; }

  std::uint64_t Changes() const { return changes_; }
  // Where the files with bytes only in the cache are now (host paths).
  std::vector<std::filesystem::path> UnflushedFiles() const;

 private:
  struct Overwrite {
    std::uint64_t offset = 0;
    std::vector<std::byte> before;  // the durable bytes the write replaced
  };
  struct Unflushed {
    UniqueFd file;                 // kept open: the file may be closed or renamed meanwhile
    std::uint64_t durableSize = 0;  // the size on the disk
    std::vector<Overwrite> overwrites;  // writes below durableSize, oldest first
  };
  using Key = std::pair<dev_t, ino_t>;
  Unflushed* Entry(int fd, bool created);
  void Crash();

  bool tracking_ = false;
  bool ignoreFlushes_ = false;
  std::optional<CrashPlan> plan_;
  std::filesystem::path reportRoot_;
  UniqueFd countFile_;
  std::uint64_t changes_ = 0;
  std::map<Key, Unflushed> unflushed_;
};

}  // namespace pw::hostworld
