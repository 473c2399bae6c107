#pragma once
// Windows path texts taken apart the way the program needs it. A path's folder
// part ends at its last '\' or drive ':'.
#include <string>
#include <string_view>

namespace pw::platform {

// The folder part with its trailing separator ("C:\a\b.exe" -> "C:\a\").
std::string ExtractFilePath(std::string_view path);
// The name after the folder part ("C:\a\b.exe" -> "b.exe").
std::string ExtractFileName(std::string_view path);
// Replaces the last extension of the name, or appends one when it has none
// ("a.b.exe" -> "a.b.info"; "a" -> "a.info").
std::string ChangeFileExt(std::string_view path, std::string_view extension);

}  // namespace pw::platform
