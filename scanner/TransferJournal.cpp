#include "scanner/TransferJournal.h"

#include <cctype>
#include <span>
#include <vector>

#include "platform/DebugTrace.h"

namespace pw::scanner {
namespace {

namespace error = platform::error;

// A record larger than this is not read: the service lists one transfer at a
// time, and a few that could not be settled.
constexpr std::uint64_t kLargestRecord = 1024 * 1024;

// One spelling per path: upper case, a backslash as the separator, none
// doubled past the two that begin a network path.
std::string Key(const std::string& path) {
  std::string key;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const char c = path[i] == '/' ? '\\' : path[i];
    if (c == '\\' && i > 1 && !key.empty() && key.back() == '\\') continue;
    key.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return key;
}

std::span<const std::byte> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::byte*>(text.data()), text.size()};
}

// A line as the log writes it: "+" or "-", a path of printable characters, no more.
bool WellFormed(const std::string& line) {
  if (line.size() < 2 || (line[0] != '+' && line[0] != '-')) return false;
  for (std::size_t i = 1; i < line.size(); ++i) {
    if (static_cast<unsigned char>(line[i]) < 32) return false;
  }
  return true;
}

platform::Result<void> WriteAll(const platform::FileHandle& file, std::uint64_t offset, const std::string& text) {
  const platform::IoResult written = platform::WriteFileAt(file, offset, Bytes(text));
  if (!written.ok) return platform::Failure(written.error);
  return platform::Success();
}

}  // namespace

platform::Result<void> TransferJournal::Open(const std::string& path) {
  file_.reset();
  listed_.clear();
  end_ = 0;
  path_ = path;
  constexpr std::uint32_t kReadWrite = platform::access::kGenericRead | platform::access::kGenericWrite;
  platform::OpenResult opened =
      platform::CreateFile(path, kReadWrite, platform::share::kRead, platform::Disposition::OpenAlways,
                           platform::open_flag::kOpenReparsePoint);
  if (!opened.file) return platform::Failure(opened.error);
  const std::optional<std::uint64_t> size = platform::GetFileSize(opened.file);
  if (!size) return platform::Failure(error::kReadFault);

  std::string text(static_cast<std::size_t>(std::min(*size, kLargestRecord)), '\0');
  if (!text.empty()) {
    const platform::IoResult read =
        platform::ReadFileAt(opened.file, 0, std::as_writable_bytes(std::span(text.data(), text.size())));
    if (!read.ok) return platform::Failure(read.error);
    text.resize(read.bytes);
  }
  bool clean = *size <= kLargestRecord;
  std::set<std::string> listed;
  std::vector<std::string> order;  // the listed paths as written, in order
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t newline = text.find('\n', start);
    if (newline == std::string::npos) {  // a line cut short by a power cut
      clean = false;
      break;
    }
    const std::string line = text.substr(start, newline - start);
    start = newline + 1;
    if (!WellFormed(line)) {
      clean = false;
      continue;
    }
    const std::string entry = line.substr(1);
    if (line[0] == '+') {
      if (listed.insert(Key(entry)).second) order.push_back(entry);
    } else {
      clean = false;
      listed.erase(Key(entry));
      std::erase_if(order, [&](const std::string& kept) { return Key(kept) == Key(entry); });
    }
  }
  if (clean) {
    file_ = std::move(opened.file);
    listed_ = std::move(listed);
    end_ = text.size();
    return platform::Success();
  }

  // Written anew beside it and put in its place in one step: a power cut
  // leaves the old record or the new one, never a part of either.
  std::string fresh;
  for (const std::string& entry : order) fresh += "+" + entry + "\n";
  opened.file.reset();
  const std::string newPath = path + ".new";
  {
    platform::OpenResult created = platform::CreateFile(newPath, kReadWrite, platform::share::kNone,
                                                        platform::Disposition::CreateAlways,
                                                        platform::open_flag::kOpenReparsePoint);
    if (!created.file) return platform::Failure(created.error);
    PW_TRY(WriteAll(created.file, 0, fresh));
    PW_TRY(platform::FlushFile(created.file));
  }
  PW_TRY(platform::ReplaceFileWith(newPath, path));
  return Open(path);
}

platform::Result<void> TransferJournal::Append(char kind, const std::string& transferPath, bool flush) {
  if (!file_) return platform::Failure(error::kInvalidHandle);
  const std::string line = std::string(1, kind) + transferPath + "\n";
  PW_TRY(WriteAll(file_, end_, line));
  end_ += line.size();
  if (flush) PW_TRY(platform::FlushFile(file_));
  return platform::Success();
}

platform::Result<void> TransferJournal::Add(const std::string& transferPath) {
  if (transferPath.empty() || !WellFormed("+" + transferPath)) return platform::Failure(error::kInvalidName);
  PW_TRY(Append('+', transferPath, true));
  listed_.insert(Key(transferPath));
  return platform::Success();
}

void TransferJournal::Remove(const std::string& transferPath) {
  if (listed_.erase(Key(transferPath)) == 0 || !file_) return;
  // The last entry gone: the record is cut to nothing rather than grown.
  platform::Result<void> written = listed_.empty() ? platform::SetFileSize(file_, 0) : Append('-', transferPath, false);
  if (written.ok() && listed_.empty()) end_ = 0;
  if (!written.ok()) platform::DebugTrace("Transfer record: the entry of " + transferPath + " could not be cleared");
}

bool TransferJournal::Lists(const std::string& transferPath) const { return listed_.contains(Key(transferPath)); }

}  // namespace pw::scanner
