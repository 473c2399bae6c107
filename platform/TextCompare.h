#pragma once
// Text compared without regard to case, by the system's rules for the ANSI
// code page: every character of the code page that has an upper-case form is
// folded (a-z, and in code page 1252 also à-þ, š, œ, ž, ÿ ...), not only ASCII
// letters. The order is that of the upper-cased UTF-16 texts, code unit by code
// unit: the order in which NTFS keeps a folder's names and FindFirstFileA lists
// them, and that of CompareStringOrdinal with bIgnoreCase. It is not
// lstrcmpi's word sort, which weighs hyphens and apostrophes apart, depends on
// the user's locale and can call two different names equal.
// Any thread.
#include <cstdint>
#include <string_view>

namespace pw::platform {

// Below zero, zero or above zero as a sorts before, with or after b.
int CompareTextIgnoringCase(std::string_view a, std::string_view b);

inline bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  return CompareTextIgnoringCase(a, b) == 0;
}

inline bool LessTextIgnoringCase(std::string_view a, std::string_view b) {
  return CompareTextIgnoringCase(a, b) < 0;
}

// The ANSI code page whose rules apply (GetACP; 1252 in the host world).
std::uint32_t AnsiCodePage();

}  // namespace pw::platform
