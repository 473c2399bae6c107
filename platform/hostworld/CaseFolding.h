#pragma once
// Names compared without regard to case as the simulated Windows compares
// them: by the rules of its ANSI code page (1252), folding every character of
// the code page that has an upper-case form, and ordering by the upper-cased
// UTF-16 texts, code unit by code unit. The host adapter's
// platform::CompareTextIgnoringCase answers with this. Any thread.
#include <string_view>

namespace pw::hostworld {

// Below zero, zero or above zero as a sorts before, with or after b.
int CompareTextIgnoringCase(std::string_view a, std::string_view b);

inline bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  return CompareTextIgnoringCase(a, b) == 0;
}

inline bool LessTextIgnoringCase(std::string_view a, std::string_view b) {
  return CompareTextIgnoringCase(a, b) < 0;
}

}  // namespace pw::hostworld
