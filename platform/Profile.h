#pragma once
// Private-profile (INI) files: read through GetPrivateProfileStringA's
// rules, written with WritePrivateProfileStringA's rules but never in place.
// A write reads the file, writes the whole new text beside it (the file's
// name + ".new", created afresh), flushes it, and moves it over the file with
// MoveFileEx(REPLACE_EXISTING | WRITE_THROUGH): a power cut or a killed
// process leaves the old file or the new one, never a mix or an empty file.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/Result.h"

namespace pw::platform {

// The buffer the program reads texts with: at most 2047 characters come back.
inline constexpr std::size_t kProfileBufferSize = 2048;

struct [[nodiscard]] ProfileText {
  std::string text;  // at most bufferSize - 1 characters
  ErrorCode error = error::kSuccess;  // 2 for a missing file, 234 when cut (Windows)
};

// Section and key match case-insensitively; a missing file, section or key
// gives the default (trailing blanks removed, cut to the buffer).
ProfileText ReadProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                              const std::string& path, std::size_t bufferSize = kProfileBufferSize);

// Writes key=value in the section, creating the file or section when missing
// and leaving every other line as it was. nullopt as value deletes the key.
// A write that fails leaves the file as it was and no new file beside it.
Result<void> WriteProfileString(std::string_view section, std::string_view key, std::optional<std::string_view> value,
                           const std::string& path);

// The name of the new file a write makes beside the profile file.
std::string ProfileReplacementPath(const std::string& path);

struct ProfileEntry {
  std::string key;
  std::optional<std::string> value;  // nullopt deletes the key
};
// Writes the keys in order, as that many WriteProfileString calls would, in
// one replacement of the file: all of them land, or none.
Result<void> WriteProfileStrings(std::string_view section, std::span<const ProfileEntry> entries, const std::string& path);

// The folder a write must stay in (the service's own): the file and its new
// file are opened without following links and must be plain files of one
// name (no hard link) whose final paths lie directly in that folder. A new
// file name taken by a link or an empty folder is cleared first. Anything
// else refuses the write with ERROR_ACCESS_DENIED and writes nothing.
// With startAfresh the file's present text is dropped: the entries make the
// whole new file (the checks are made all the same).
struct ProfileConfinement {
  std::string folder;
  bool startAfresh = false;
};
Result<void> WriteProfileStrings(std::string_view section, std::span<const ProfileEntry> entries, const std::string& path,
                                 const ProfileConfinement& within);

// The program's own integer rule: text longer than two characters that starts
// with "0x" or "0X" is hexadecimal, other text decimal; text that is not wholly
// a number in the 32-bit range, or no text, gives the default.
std::int32_t ParseProfileInteger(std::string_view text, std::int32_t defaultValue);

// Reads a text with the buffer of 2048 and applies ParseProfileInteger.
std::int32_t ReadProfileInteger(std::string_view section, std::string_view key, std::int32_t defaultValue,
                                const std::string& path);

// Writes the value as decimal text.
Result<void> WriteProfileInteger(std::string_view section, std::string_view key, std::int32_t value,
                            const std::string& path);

}  // namespace pw::platform
