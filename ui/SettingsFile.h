#pragma once
// The settings file: where it lies, the keys it holds and the rules each
// value passes when it is read, how it is written (one replacement of the
// file, confined to the service's own folder there), and the one-time move
// of an older version's file from Public Documents.
//
// Its layout, section "Setting":
//   Mode=0|1            the save type (card, computer)
//   Path=<location>     the save location
//   <location>=<n>      the folder counter of each location stored
//   File=, Folder=      the file and folder name prefixes (never written by the page)
//   Folder<prefix>=0    kept for files written by earlier versions; nothing reads it
//   AutoRoate=0|1       the auto-rotate switch
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

#include "platform/Profile.h"
#include "platform/SystemInfo.h"
#include "platform/Windows.h"

namespace pw::ui {

inline constexpr const char* kSettingsSection = "Setting";
// The settings' folder below %ProgramData% (Vista and later).
inline constexpr const char* kServiceDataFolderName = "Pagewick";

// A settings write that the platform refused: "Unable to write to <file>".
class SettingsWriteError : public std::runtime_error {
 public:
  explicit SettingsWriteError(const std::string& settingsFilePath);
};

// What one Apply stores, in one replacement of the file.
struct AppliedSettings {
  int saveType = 0;  // the item of the save-type list
  // The location, stored only when it passed the location rules.
  std::optional<std::string> location;
  std::int32_t folderCounter = 0;
  bool autoRotate = false;
  // The prefixes in force: a damaged file is written anew with them.
  std::string filePrefix;
  std::string folderPrefix;
};

class SettingsFile {
 public:
  // Where an entry for administrators goes (the window owner's event log).
  using EventRecord = std::function<void(const std::string&)>;

  // Finds the file for the running system: before Windows NT beside the
  // executable (.INI); else in Public Documents, and on Windows Vista and
  // later in the service's own secured folder below %ProgramData% (see
  // ServiceSettingsFile). An agent's page (agentPage) only reads there.
  void Locate(const platform::OsVersionInfo& os, bool sessionAgentsInUse, bool agentPage,
              platform::WindowHandle owner, const EventRecord& record);
  // A file at a path of the caller's choosing, in no folder of its own.
  void UsePath(std::string path) { path_ = std::move(path); }
  const std::string& Path() const { return path_; }
  bool Located() const { return !path_.empty(); }

  // The values at start, each passing its rules or giving its default.
  std::int32_t Mode() const;
  // The stored location, or defaultLocation when it fails the rules.
  std::string Location(const std::string& defaultLocation) const;
  std::string FilePrefix() const;
  std::string FolderPrefix() const;
  std::int32_t FolderCounter(const std::string& location) const;
  // The auto-rotate key; remembered as the value last read.
  bool ReadAutoRotate();
  // The auto-rotate key when it changed outside since it was last read or
  // written here (an edit while the service runs); nullopt otherwise.
  std::optional<bool> AutoRotateEditedOutside();

  // Writes the folder counter of a location; throws SettingsWriteError.
  void WriteFolderCounter(const std::string& location, std::int32_t counter);
  // The keys of an Apply in one replacement of the file (a damaged file is
  // replaced whole); throws SettingsWriteError.
  void WriteApplied(const AppliedSettings& applied);
  // Deletes the file: the next start has the defaults.
  void Delete() const;

 private:
  std::string ServiceSettingsFile(const std::string& settingsName, const std::string& besideExecutable,
                                  const std::string& publicFile, bool agentPage, platform::WindowHandle owner);
  void MoveSettingsFile(const std::string& from, const std::string& to);
  // Writes to the settings file; in the service's own folder every open
  // stays in it (platform::ProfileConfinement).
  platform::Result<void> WriteSettingsFile(std::span<const platform::ProfileEntry> settings,
                                           const std::string& path, bool whole = false);
  void WriteSettings(std::span<const platform::ProfileEntry> settings, bool whole = false);
  void RecordEvent(const std::string& text) const;

  std::string path_;
  // The service's own settings folder, when the settings file lies in it.
  std::string settingsFolder_;
  // The settings file was found damaged: the next write replaces it whole.
  bool settingsRebuild_ = false;
  // The prefixes a rebuilt file is written with.
  std::string filePrefix_;
  std::string folderPrefix_;
  // The auto-rotate key as last read or written here.
  std::int32_t autoRotateStored_ = 0;
  EventRecord record_;
};

}  // namespace pw::ui
