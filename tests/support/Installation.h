#pragma once
// Where a test world installs Pagewick, and the text table the build ships.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace pw::test {

inline constexpr const char* kProgramFolder = "C:\\Program Files\\Pagewick";
inline constexpr const char* kModulePath = "C:\\Program Files\\Pagewick\\pagewick.exe";
inline constexpr const char* kTextTablePath = "C:\\Program Files\\Pagewick\\rc.info";
// The settings file from Vista on; before Vista, and before the move, in Public Documents.
inline constexpr const char* kProgramDataSettingsPath = "C:\\ProgramData\\Pagewick\\pagewick.info";
inline constexpr const char* kPublicSettingsPath = "C:\\Users\\Public\\Documents\\pagewick.info";

// resources/rc.info of the source tree, as the package ships it.
inline std::string ShippedTextTable() {
  std::ifstream in(std::filesystem::path(PAGEWICK_SOURCE_DIR) / "resources" / "rc.info", std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace pw::test
