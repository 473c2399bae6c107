#include "platform/hostworld/WriteCache.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <sstream>

namespace pw::hostworld {
namespace {

namespace fs = std::filesystem;

std::optional<std::uint64_t> SizeOf(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(status.st_size);
}

void WriteAllAt(int fd, const std::byte* data, std::size_t size, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t wrote = ::pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (wrote <= 0) return;
    done += static_cast<std::size_t>(wrote);
  }
}

void ZeroRange(int fd, std::uint64_t from, std::uint64_t to) {
  static constexpr std::array<std::byte, 65536> kZeros{};
  for (std::uint64_t at = from; at < to;) {
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(kZeros.size(), to - at));
    WriteAllAt(fd, kZeros.data(), piece, at);
    at += piece;
  }
}

const char* LossName(CutLoss loss) {
  switch (loss) {
    case CutLoss::Everything: return "everything";
    case CutLoss::Prefix: return "prefix";
    case CutLoss::Zeros: return "zeros";
  }
  return "everything";
}

}  // namespace

std::string CrashPlanText(const CrashPlan& plan) {
  if (plan.atChange == 0) return "count";
  if (plan.kind == CrashKind::Kill) return "kill " + std::to_string(plan.atChange);
  return "cut " + std::to_string(plan.atChange) + " " + LossName(plan.loss);
}

std::optional<CrashPlan> ParseCrashPlan(const std::string& text) {
  std::istringstream words(text);
  std::string kind;
  words >> kind;
  if (kind == "count") return CrashPlan{};
  CrashPlan plan;
  if (kind == "kill") {
    plan.kind = CrashKind::Kill;
  } else if (kind == "cut") {
    plan.kind = CrashKind::PowerCut;
  } else {
    return std::nullopt;
  }
  if (!(words >> plan.atChange) || plan.atChange == 0) return std::nullopt;
  if (plan.kind == CrashKind::PowerCut) {
    std::string loss;
    words >> loss;
    if (loss == "everything") {
      plan.loss = CutLoss::Everything;
    } else if (loss == "prefix") {
      plan.loss = CutLoss::Prefix;
    } else if (loss == "zeros") {
      plan.loss = CutLoss::Zeros;
    } else {
      return std::nullopt;
    }
  }
  return plan;
}

fs::path WriteCache::PlanFile(const fs::path& worldRoot) { return worldRoot / "crash-plan"; }
fs::path WriteCache::CountFile(const fs::path& worldRoot) { return worldRoot / "crash-count"; }
fs::path WriteCache::HitFile(const fs::path& worldRoot) { return worldRoot / "crash-hit"; }

void WriteCache::WritePlan(const fs::path& worldRoot, const CrashPlan& plan) {
  std::ofstream(PlanFile(worldRoot), std::ios::trunc) << CrashPlanText(plan) << "\n";
}

bool WriteCache::TakePlan(const fs::path& worldRoot) {
  const fs::path taken = worldRoot / ("crash-plan." + std::to_string(::getpid()));
  std::error_code ec;
  fs::rename(PlanFile(worldRoot), taken, ec);
  if (ec) return false;
  std::ifstream in(taken);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::remove(taken, ec);
  const std::optional<CrashPlan> plan = ParseCrashPlan(text);
  if (!plan) return false;
  plan_ = plan;
  reportRoot_ = worldRoot;
  tracking_ = true;
  changes_ = 0;
  countFile_.reset(::open(CountFile(worldRoot).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  return true;
}

void WriteCache::BeforeChange() {
  if (!plan_) return;
  ++changes_;
  if (countFile_.valid()) {
    const std::string text = std::to_string(changes_) + "\n";
    WriteAllAt(countFile_.get(), reinterpret_cast<const std::byte*>(text.data()), text.size(), 0);
  }
  if (plan_->atChange == changes_) Crash();
}

void WriteCache::Crash() {
  if (plan_->kind == CrashKind::PowerCut) CutPower(plan_->loss);
  {
    std::ofstream hit(HitFile(reportRoot_), std::ios::trunc);
    hit << CrashPlanText(*plan_) << "\n";
  }
  // Nothing of the process runs on: no destructor, no handler, no flush.
  ::kill(::getpid(), SIGKILL);
  ::_exit(137);
}

WriteCache::Unflushed* WriteCache::Entry(int fd, bool created) {
  if (!tracking_) return nullptr;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return nullptr;
  const Key key{status.st_dev, status.st_ino};
  auto found = unflushed_.find(key);
  if (found == unflushed_.end()) {
    Unflushed entry;
    // Opened afresh for reading and writing: the caller's handle may be
    // write-only, and the old bytes must be read back.
    entry.file.reset(::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDWR | O_CLOEXEC));
    if (!entry.file.valid()) return nullptr;
    // A file first written now has on the disk what it holds now.
    entry.durableSize = created ? 0 : static_cast<std::uint64_t>(status.st_size);
    found = unflushed_.emplace(key, std::move(entry)).first;
  } else if (created) {
    found->second.durableSize = 0;
    found->second.overwrites.clear();
  }
  return &found->second;
}

void WriteCache::Created(int fd) { (void)Entry(fd, true); }

void WriteCache::BeforeWrite(int fd, std::uint64_t offset, std::size_t size) {
  Unflushed* entry = Entry(fd, false);
  if (entry == nullptr || offset >= entry->durableSize || size == 0) return;
  const std::size_t kept = static_cast<std::size_t>(std::min<std::uint64_t>(size, entry->durableSize - offset));
  Overwrite overwrite;
  overwrite.offset = offset;
  overwrite.before.resize(kept);
  const ssize_t got = ::pread(entry->file.get(), overwrite.before.data(), kept, static_cast<off_t>(offset));
  overwrite.before.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  entry->overwrites.push_back(std::move(overwrite));
}

void WriteCache::BeforeSizeSet(int fd, std::uint64_t size) {
  Unflushed* entry = Entry(fd, false);
  if (entry != nullptr && size < entry->durableSize) entry->durableSize = size;
}

void WriteCache::Flushed(int fd) {
  if (!tracking_) return;
  struct stat status {};
  if (::fstat(fd, &status) != 0) return;
  unflushed_.erase(Key{status.st_dev, status.st_ino});
}

std::vector<fs::path> WriteCache::UnflushedFiles() const {
  std::vector<fs::path> files;
  for (const auto& [key, entry] : unflushed_) {
    std::error_code ec;
    const fs::path path = fs::read_symlink("/proc/self/fd/" + std::to_string(entry.file.get()), ec);
    if (!ec) files.push_back(path);
  }
  return files;
}

void WriteCache::CutPower(CutLoss loss) {
  for (auto& [key, entry] : unflushed_) {
    const int fd = entry.file.get();
    const std::uint64_t size = SizeOf(fd).value_or(entry.durableSize);
    std::vector<Overwrite>& overwrites = entry.overwrites;
    switch (loss) {
      case CutLoss::Everything:
        for (auto it = overwrites.rbegin(); it != overwrites.rend(); ++it) {
          WriteAllAt(fd, it->before.data(), it->before.size(), it->offset);
        }
        if (size > entry.durableSize) (void)::ftruncate(fd, static_cast<off_t>(entry.durableSize));
        break;
      case CutLoss::Prefix: {
        const std::size_t keep = overwrites.size() / 2;
        for (std::size_t i = overwrites.size(); i > keep; --i) {
          WriteAllAt(fd, overwrites[i - 1].before.data(), overwrites[i - 1].before.size(), overwrites[i - 1].offset);
        }
        if (size > entry.durableSize) {
          (void)::ftruncate(fd, static_cast<off_t>(entry.durableSize + (size - entry.durableSize) / 2));
        }
        break;
      }
      case CutLoss::Zeros:
        for (const Overwrite& overwrite : overwrites) {
          ZeroRange(fd, overwrite.offset, overwrite.offset + overwrite.before.size());
        }
        if (size > entry.durableSize) ZeroRange(fd, entry.durableSize, size);
        break;
    }
  }
  unflushed_.clear();
}

}  // namespace pw::hostworld
