#include "platform/LocationRules.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "platform/StorageDevice.h"
#include "platform/TextCompare.h"

namespace pw::platform {
namespace {

// Control characters, and the bytes that code page 1252 leaves undefined:
// Windows turns them into the C1 control characters U+0081, U+008D, ...
bool IsControl(char c) {
  const auto unit = static_cast<unsigned char>(c);
  if (unit < 0x20 || unit == 0x7F) return true;
  const bool undefined = unit == 0x81 || unit == 0x8D || unit == 0x8F || unit == 0x90 || unit == 0x9D;
  return undefined && platform::AnsiCodePage() == 1252;
}

// Characters Windows refuses in a file or folder name (besides control characters).
bool InvalidInName(char c) {
  switch (c) {
    case '<':
    case '>':
    case ':':
    case '"':
    case '/':
    case '\\':
    case '|':
    case '?':
    case '*':
      return true;
    default:
      return IsControl(c);
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Upper(x) == Upper(y); });
}

// The names NTFS keeps for itself in a volume's root: opening one reaches the
// file system's own data, never a folder of pictures.
bool IsFileSystemName(std::string_view name) {
  static constexpr std::array<std::string_view, 20> kNames{
      "$MFT",    "$MFTMirr", "$LogFile", "$Volume", "$AttrDef",    "$Bitmap", "$Boot", "$BadClus", "$Secure", "$UpCase",
      "$Extend", "$Quota",   "$ObjId",   "$Reparse", "$UsnJrnl",   "$RmMetadata", "$TxfLog", "$Txf", "$Tops",
      "$Deleted"};
  return std::any_of(kNames.begin(), kNames.end(),
                     [&](std::string_view known) { return SameIgnoringCase(name, known); });
}

}  // namespace

bool IsDeviceName(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && (IsBlank(stem.back()) || stem.back() == '.')) stem.remove_suffix(1);
  static constexpr std::array<std::string_view, 6> kNames{"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  if (std::any_of(kNames.begin(), kNames.end(),
                  [&](std::string_view device) { return SameIgnoringCase(stem, device); })) {
    return true;
  }
  if (stem.size() < 4 || (!SameIgnoringCase(stem.substr(0, 3), "COM") && !SameIgnoringCase(stem.substr(0, 3), "LPT"))) {
    return false;
  }
  // One digit, or a superscript 1, 2 or 3: a byte of code page 1252 or two of UTF-8.
  const std::string_view number = stem.substr(3);
  if (number.size() == 1) {
    return (number[0] >= '0' && number[0] <= '9') || number[0] == '\xB9' || number[0] == '\xB2' || number[0] == '\xB3';
  }
  return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

LocationProblem CheckLocationText(std::string_view location, std::size_t maxLength) {
  if (location.starts_with("\\\\?\\") || location.starts_with("\\\\.\\") || location.starts_with("//?/") ||
      location.starts_with("//./")) {
    return LocationProblem::DevicePath;
  }
  if (location.starts_with("\\\\") || location.starts_with("//")) return LocationProblem::NetworkPath;
  // Control characters (a line break would end the settings file's line) are
  // refused by Windows in any name.
  if (std::any_of(location.begin(), location.end(), IsControl)) return LocationProblem::BadCharacters;
  // Blanks and quotes at the ends are dropped by a profile reader, so such a
  // location would not read back as itself.
  if (!location.empty() && (IsBlank(location.front()) || IsBlank(location.back()) || location.front() == '"' ||
                            location.back() == '"' || location.front() == '\'' || location.back() == '\'')) {
    return LocationProblem::SettingsKey;
  }
  // "X:\": a drive letter's root. Everything else (a path relative to the
  // current folder or to a drive's current folder) is refused. Starting with a
  // letter, no location can be read as a comment (';') or section ('[') line,
  // nor spell a key the program reads.
  if (location.size() < 3 || std::isalpha(static_cast<unsigned char>(location[0])) == 0 || location[1] != ':' ||
      location[2] != '\\') {
    return LocationProblem::NotAbsolute;
  }
  if (location.size() > maxLength) return LocationProblem::TooLong;
  // '=' would end the key when the location is written as one; Windows
  // itself allows it in a name.
  if (location.find('=') != std::string_view::npos) return LocationProblem::SettingsKey;
  std::string_view rest = location.substr(3);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\\');
    const std::string_view component = rest.substr(0, end);
    // Only the last separator may end the location; "a\\b" has an empty name.
    if (component.empty()) return LocationProblem::ParentFolder;
    if (component == "." || component == "..") return LocationProblem::ParentFolder;
    if (std::any_of(component.begin(), component.end(), InvalidInName)) return LocationProblem::BadCharacters;
    // Windows drops a name's trailing blanks and dots: the folder reached is not the one named.
    if (IsBlank(component.back()) || component.back() == '.') return LocationProblem::DroppedNameEnd;
    // "C:\Scans\CON" opens the console, in any component and with any extension.
    if (IsDeviceName(component)) return LocationProblem::DevicePath;
    if (component.data() == location.data() + 3 && IsFileSystemName(component)) return LocationProblem::FileSystemName;
    if (end == std::string_view::npos) break;
    rest = rest.substr(end + 1);
  }
  return LocationProblem::None;
}

LocationProblem CheckSaveLocation(std::string_view location, std::size_t maxLength) {
  const LocationProblem text = CheckLocationText(location, maxLength);
  if (text != LocationProblem::None) return text;
  const std::string root{location.substr(0, 3)};
  switch (platform::GetDriveType(root)) {
    case platform::DriveType::Fixed:
    case platform::DriveType::Removable:
      return LocationProblem::None;
    case platform::DriveType::Remote:
      return LocationProblem::NetworkPath;
    default:
      return LocationProblem::DriveNotUsable;
  }
}

LocationProblem CheckStoredLocation(std::string_view location) {
  const LocationProblem problem = CheckSaveLocation(location, kMaxStoredLocationLength);
  if (problem == LocationProblem::DriveNotUsable &&
      platform::GetDriveType(std::string(location.substr(0, 3))) == platform::DriveType::NoRootDir) {
    return LocationProblem::None;
  }
  return problem;
}

std::int32_t ProblemTextId(LocationProblem problem) {
  switch (problem) {
    case LocationProblem::None:
      return 0;
    case LocationProblem::TooLong:
      return 40001;
    case LocationProblem::NotAbsolute:
      return 40004;
    case LocationProblem::NetworkPath:
      return 40005;
    case LocationProblem::DevicePath:
      return 40006;
    case LocationProblem::BadCharacters:
      return 40007;
    case LocationProblem::ParentFolder:
      return 40008;
    case LocationProblem::DriveNotUsable:
      return 40009;
    case LocationProblem::NotWritable:
      return 40010;
    case LocationProblem::FileSystemName:
      return 40030;
    case LocationProblem::SettingsKey:
      return 40075;
    case LocationProblem::DroppedNameEnd:
      return 40076;
  }
  return 40004;
}

std::string_view ProblemText(LocationProblem problem) {
  switch (problem) {
    case LocationProblem::None:
      return "accepted";
    case LocationProblem::NotAbsolute:
      return "not a full path starting with a drive letter";
    case LocationProblem::NetworkPath:
      return "a network path";
    case LocationProblem::DevicePath:
      return "a device path or device name";
    case LocationProblem::BadCharacters:
      return "characters that Windows does not allow in a folder name";
    case LocationProblem::ParentFolder:
      return "an empty, '.' or '..' folder name";
    case LocationProblem::DriveNotUsable:
      return "not on a local fixed or removable drive";
    case LocationProblem::TooLong:
      return "too long";
    case LocationProblem::NotWritable:
      return "its user may not write there";
    case LocationProblem::FileSystemName:
      return "a name the file system keeps for itself";
    case LocationProblem::SettingsKey:
      return "'=', or a blank or quote at its ends, which the settings file cannot keep in a key";
    case LocationProblem::DroppedNameEnd:
      return "a folder name that ends in a blank or a dot, which Windows drops";
  }
  return "refused";
}

bool IsPlainNamePrefix(std::string_view name) {
  if (name.empty() || name.find("..") != std::string_view::npos) return false;
  if (std::any_of(name.begin(), name.end(), InvalidInName)) return false;
  if (IsBlank(name.front()) || IsBlank(name.back())) return false;
  // "COM" and "LPT" are refused too: the counter after them would make "COM1".
  if (IsDeviceName(name) || SameIgnoringCase(name.substr(0, name.find('.')), "COM") ||
      SameIgnoringCase(name.substr(0, name.find('.')), "LPT")) {
    return false;
  }
  return true;
}

}  // namespace pw::platform
