#pragma once
// What a save location and the settings file's name prefixes may be, wherever
// they come from (the folder browser, the page's Apply, an agent's Apply, the
// settings file). A location is written to the settings file both as the value
// of "Path" and as a key, so it must read back exactly as written and never
// add, change or hide another entry; the service writes below it, so it must
// name a folder on a local drive, never a share or a device.
#include <cstdint>
#include <string>
#include <string_view>

namespace pw::platform {

enum class LocationProblem {
  None,
  NotAbsolute,     // empty, relative, or without "X:\" at its start
  NetworkPath,     // "\\host\share\..." or a drive letter mapped to a share
  DevicePath,      // "\\?\...", "\\.\...", or a device name (CON, NUL.txt, COM1, CONIN$, ...) as a component
  BadCharacters,   // control characters or characters Windows refuses in a name
  ParentFolder,    // a "." or ".." component, or an empty one
  DriveNotUsable,  // no such drive, a CD-ROM drive, or a kind of drive that is neither fixed nor removable
  TooLong,         // longer than allowed where it came from
  NotWritable,     // its user may not create folders and files there (found by trying, never by the rules)
  FileSystemName,  // a name NTFS keeps for itself at a drive's root ($MFT, $Extend, ...)
  SettingsKey,     // '=', or blanks or quotes at its ends: the settings file could not keep it as a key
  DroppedNameEnd,  // a folder name ending in a blank or a dot, which Windows drops
};

// The longest location the folder browser and an agent's Apply accept.
inline constexpr std::size_t kMaxChosenLocationLength = 128;
// The longest location the settings file may hold (MAX_PATH - 1).
inline constexpr std::size_t kMaxStoredLocationLength = 259;

// The text-only rules (no system call): what the settings file can store and
// what names a folder by its drive letter. No component may name a device
// (IsDeviceName), and the first may not be one of NTFS's own names.
LocationProblem CheckLocationText(std::string_view location, std::size_t maxLength);

// CheckLocationText, then the drive: GetDriveTypeA of "X:\" must be fixed or
// removable.
LocationProblem CheckSaveLocation(std::string_view location, std::size_t maxLength);

// What the settings file may hand back at start: CheckSaveLocation, except
// that a drive not there now (a removable drive unplugged) keeps the stored
// location; a share, a CD-ROM drive or a drive of another kind does not.
LocationProblem CheckStoredLocation(std::string_view location);

// The id of the text (in the text table) that tells the user why a location
// was refused; 0 for None.
std::int32_t ProblemTextId(LocationProblem problem);

// A short English text for the event log.
std::string_view ProblemText(LocationProblem problem);

// Whether a file or folder name opens a device wherever it stands: CON, PRN,
// AUX, NUL, COM0-COM9, LPT0-LPT9 (also with the superscript digits 1, 2 and 3,
// in code page 1252 or UTF-8), CONIN$ or CONOUT$, in any letter case, with or
// without an extension. Windows looks at the name before its first dot, with
// the blanks and dots at its end dropped.
bool IsDeviceName(std::string_view name);

// Whether `name` may be the file or folder name prefix: a plain name, neither
// empty nor a path, without "..", control characters or characters invalid in
// file names, and not a device name (IsDeviceName, and COM or LPT, which the
// counter behind them would make one).
bool IsPlainNamePrefix(std::string_view name);

// The defaults that apply when the settings file's prefix fails IsPlainNamePrefix.
inline constexpr const char* kDefaultFilePrefix = "img";
inline constexpr const char* kDefaultFolderPrefix = "Photo";

}  // namespace pw::platform
