#pragma once
// The private-profile (INI) rules of Windows over a file's bytes: every
// profile write of both builds, the host backend's reads and the fuzz
// target use them. A file that starts with a UTF-16LE byte-order mark is Unicode;
// anything else is ANSI (a UTF-8 mark is not recognised and belongs to line 1).
#include <optional>
#include <string>
#include <string_view>

namespace pw::platform {

// The value of the key as GetPrivateProfileStringA finds it, before it is cut
// to a buffer: blanks trimmed, one pair of outer quotes removed. nullopt when
// the section or key is missing. Section and key as the caller passed them
// (leading and trailing spaces are ignored).
std::optional<std::string> FindProfileValue(std::string_view fileBytes, std::string_view section,
                                            std::string_view key);

// The file's bytes after WritePrivateProfileStringA(section, key, value):
// a new section at the end, a new key after the section's last key, a changed
// value in place, nullopt value deleting the key; every other byte stays.
// nullopt result: the file does not change (deleting what is not there).
std::optional<std::string> UpdateProfileBytes(std::string_view fileBytes, std::string_view section,
                                              std::string_view key, std::optional<std::string_view> value);

// The key a reader finds for a line written with this key: it ends at the
// first '=' and the blanks around it are dropped.
std::string_view ProfileKeyAsRead(std::string_view key);

// Whether a reader takes two section names or keys of an ANSI file for the
// same one: case is ignored by the system's rules.
bool SameProfileName(std::string_view a, std::string_view b);

}  // namespace pw::platform
