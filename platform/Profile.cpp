#include "platform/Profile.h"

#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/ProfileParser.h"
#include "platform/SystemInfo.h"

namespace pw::platform {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr std::size_t kWindowsDirectoryBuffer = 260;
constexpr std::size_t kReadChunk = 64 * 1024;

// A bare file name lies in the Windows directory, as the profile calls look it up there.
std::string FullProfilePath(const std::string& path) {
  if (path.find_first_of("\\/:") != std::string::npos) return path;
  const std::optional<std::string> windows = GetWindowsDirectory(kWindowsDirectoryBuffer);
  return windows ? *windows + "\\" + path : path;
}

// The file's bytes as they stand; a missing file holds none. The file is
// opened as WritePrivateProfileStringA opens it (reading and writing, shared
// for both): a read-only file, a folder or an open that denies writing
// refuses the write before anything is written.
ErrorCode ReadCurrentBytes(const std::string& path, std::string& bytes, const ProfileConfinement* within) {
  OpenResult opened = CreateFile(path, access::kGenericRead | access::kGenericWrite, share::kRead | share::kWrite,
                                 Disposition::OpenExisting,
                                 within != nullptr ? open_flag::kOpenReparsePoint : open_flag::kNone);
  if (!opened.file) return opened.error == error::kFileNotFound ? error::kSuccess : opened.error;
  if (within != nullptr && !IsSoleFileIn(opened.file, within->folder)) return error::kAccessDenied;
  const std::optional<std::uint64_t> size = GetFileSize(opened.file);
  if (!size) return error::kReadFault;
  std::vector<std::byte> chunk(kReadChunk);
  for (std::uint64_t offset = 0; offset < *size;) {
    const IoResult read = ReadFileAt(opened.file, offset, chunk);
    if (!read.ok) return read.error;
    if (read.bytes == 0) break;
    bytes.append(reinterpret_cast<const char*>(chunk.data()), read.bytes);
    offset += read.bytes;
  }
  return error::kSuccess;
}

// Within the folder the new file's name is cleared, never opened: a file
// left by an earlier cut (or a second name of another file) is deleted, a
// link goes itself, an empty folder is removed.
Result<void> ClearReplacementName(const std::string& fresh) {
  const std::optional<std::uint32_t> attributes = GetFileAttributes(fresh);
  if (!attributes) return Success();
  if ((*attributes & attribute::kDirectory) != 0) return RemoveDirectory(fresh);
  return DeleteFile(fresh);
}

// The new text in a file of its own beside the old, on the disk before it
// takes the old one's place. A failure deletes the new file.
Result<void> ReplaceWhole(const std::string& path, const std::string& bytes, const ProfileConfinement* within) {
  const std::string fresh = ProfileReplacementPath(path);
  {
    if (within != nullptr) {
      if (Result<void> cleared = ClearReplacementName(fresh); !cleared) return cleared;
    }
    // CREATE_ALWAYS: a new file left by an earlier cut is simply overwritten.
    // Within a folder the name was cleared: CREATE_NEW never reaches an
    // entry someone put there meanwhile.
    OpenResult created =
        within == nullptr
            ? CreateFile(fresh, access::kGenericWrite, share::kNone, Disposition::CreateAlways)
            : CreateFile(fresh, access::kGenericWrite, share::kNone, Disposition::CreateNew, open_flag::kOpenReparsePoint);
    if (!created.file) return Failure(created.error);
    Result<void> stored = Success();
    if (within != nullptr && !IsSoleFileIn(created.file, within->folder)) stored = Failure(error::kAccessDenied);
    if (stored.ok() && !bytes.empty()) {
      const IoResult written =
          WriteFileAt(created.file, 0, {reinterpret_cast<const std::byte*>(bytes.data()), bytes.size()});
      if (!written.ok) stored = Failure(written.error);
      else if (written.bytes != bytes.size()) stored = Failure(error::kWriteFault);
    }
    if (stored.ok()) stored = FlushFile(created.file);
    if (!stored.ok()) {
      created.file.reset();
      DeleteFile(fresh).IgnoreFailure();
      return stored;
    }
  }
  const Result<void> replaced = ReplaceFileWith(fresh, path);
  if (!replaced.ok()) DeleteFile(fresh).IgnoreFailure();
  return replaced;
}

}  // namespace

std::string ProfileReplacementPath(const std::string& path) { return FullProfilePath(path) + ".new"; }

namespace {

Result<void> WriteEntries(std::string_view section, std::span<const ProfileEntry> entries, const std::string& path,
                          const ProfileConfinement* within) {
  const std::string full = FullProfilePath(path);
  std::string bytes;
  const ErrorCode read = ReadCurrentBytes(full, bytes, within);
  if (read != error::kSuccess) return Failure(read);
  const bool afresh = within != nullptr && within->startAfresh;
  if (afresh) bytes.clear();
  bool changed = afresh;
  for (const ProfileEntry& entry : entries) {
    const std::optional<std::string_view> value =
        entry.value ? std::optional<std::string_view>(*entry.value) : std::nullopt;
    std::optional<std::string> updated = UpdateProfileBytes(bytes, section, entry.key, value);
    if (!updated) continue;  // nothing to delete
    bytes = std::move(*updated);
    changed = true;
  }
  if (!changed) return Success();
  return ReplaceWhole(full, bytes, within);
}

}  // namespace

Result<void> WriteProfileStrings(std::string_view section, std::span<const ProfileEntry> entries, const std::string& path) {
  return WriteEntries(section, entries, path, nullptr);
}

Result<void> WriteProfileStrings(std::string_view section, std::span<const ProfileEntry> entries, const std::string& path,
                                 const ProfileConfinement& within) {
  return WriteEntries(section, entries, path, &within);
}

Result<void> WriteProfileString(std::string_view section, std::string_view key, std::optional<std::string_view> value,
                           const std::string& path) {
  const ProfileEntry entry{std::string(key), value ? std::optional<std::string>(std::string(*value)) : std::nullopt};
  return WriteProfileStrings(section, std::span(&entry, 1), path);
}

std::int32_t ParseProfileInteger(std::string_view text, std::int32_t defaultValue) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    // Hexadecimal up to 32 bits; the bit pattern is taken as signed, so
    // 0xFFFFFFFF reads as -1.
    std::uint64_t value = 0;
    for (char c : text.substr(2)) {
      const int digit = HexDigit(c);
      if (digit < 0) return defaultValue;
      value = value * 16 + static_cast<std::uint64_t>(digit);
      if (value > 0xFFFFFFFFull) return defaultValue;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  }
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return defaultValue;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return defaultValue;
    value = value * 10 + (c - '0');
    if (value > 2147483648LL) return defaultValue;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return defaultValue;
  return static_cast<std::int32_t>(value);
}

std::int32_t ReadProfileInteger(std::string_view section, std::string_view key, std::int32_t defaultValue,
                                const std::string& path) {
  const ProfileText text = ReadProfileString(section, key, "", path, kProfileBufferSize);
  return ParseProfileInteger(text.text, defaultValue);
}

Result<void> WriteProfileInteger(std::string_view section, std::string_view key, std::int32_t value,
                            const std::string& path) {
  const std::string text = std::to_string(value);
  return WriteProfileString(section, key, text, path);
}

}  // namespace pw::platform
