#pragma once
// FindFirstFileA's wildcard rules: kernel32 rewrites the pattern into the DOS
// wildcards of the file system ("*.*" becomes "*", "f*.*" becomes f<"*) and
// names are matched without regard to case.
#include <string>
#include <string_view>

namespace pw::host {

// The pattern as kernel32 hands it to the file system: '<' DOS_STAR, '>' DOS_QM,
// '"' DOS_DOT.
std::string DosWildcardPattern(std::string_view pattern);

// Whether a name matches a pattern as FindFirstFileA matches it.
bool WildcardMatch(std::string_view pattern, std::string_view name);

bool HasWildcard(std::string_view pattern);

}  // namespace pw::host
