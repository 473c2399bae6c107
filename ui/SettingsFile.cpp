#include "ui/SettingsFile.h"

#include <cstddef>
#include <string_view>
#include <vector>

#include "platform/DebugTrace.h"
#include "platform/FileSystem.h"
#include "platform/LocationRules.h"
#include "platform/PathText.h"
#include "platform/ProfileParser.h"
#include "platform/Security.h"
#include "platform/Shell.h"
#include "platform/TextCompare.h"

namespace pw::ui {
namespace {

// The unread "Folder" + prefix entry may be written only when it reads back as
// itself on one line and as none of the keys the program reads: an empty or
// blank prefix would otherwise overwrite "Folder" itself, and a prefix with '='
// would add a line under another key at every Apply.
bool MayWriteUnreadKey(std::string_view key, std::string_view saveLocationKey) {
  if (key.find_first_of("\r\n") != std::string_view::npos || platform::ProfileKeyAsRead(key) != key) return false;
  for (std::string_view read : {"Mode", "Path", "File", "Folder", "AutoRoate"}) {
    if (platform::SameProfileName(key, read)) return false;
  }
  return !platform::SameProfileName(key, platform::ProfileKeyAsRead(saveLocationKey));
}

// Renames whatever stands at the folder's name to "<folder>.untrusted-<n>",
// the first n that is free. The new name, or nullopt when it cannot be moved.
std::optional<std::string> SetAside(const std::string& folder) {
  constexpr int kNames = 100;
  for (int n = 1; n <= kNames; ++n) {
    const std::string aside = folder + ".untrusted-" + std::to_string(n);
    if (platform::GetFileAttributes(aside)) continue;
    const platform::Result<void> moved = platform::MoveFileNoReplace(folder, aside);
    if (moved) return aside;
    if (moved.error() != platform::error::kAlreadyExists) return std::nullopt;
  }
  return std::nullopt;
}

// A settings file no version of the program writes: larger than any it
// writes (a few hundred bytes), a location longer than the field, or bytes
// that the code page leaves undefined (Windows reads them as control
// characters). Its values are read as any file's, each by its rules; the
// next Apply replaces it whole.
constexpr std::uint64_t kLargestSettingsFile = 64 * 1024;

bool SettingsFileDamaged(const std::string& path) {
  std::string bytes;
  {
    const platform::OpenResult opened =
        platform::CreateFile(path, platform::access::kGenericRead, platform::share::kRead | platform::share::kWrite,
                             platform::Disposition::OpenExisting, platform::open_flag::kOpenReparsePoint);
    if (!opened.file) return false;  // nothing readable: every read gives its default
    const std::optional<std::uint64_t> size = platform::GetFileSize(opened.file);
    if (!size || *size > kLargestSettingsFile) return true;
    bytes.resize(static_cast<std::size_t>(*size));
    const platform::IoResult read =
        platform::ReadFileAt(opened.file, 0, {reinterpret_cast<std::byte*>(bytes.data()), bytes.size()});
    if (!read.ok) return false;
    bytes.resize(read.bytes);
  }
  const std::string location = platform::ReadProfileString(kSettingsSection, "Path", "", path).text;
  if (location.size() > platform::kMaxStoredLocationLength) return true;
  const bool cp1252 = platform::AnsiCodePage() == 1252;
  return cp1252 && bytes.find_first_of(std::string_view("\x81\x8D\x8F\x90\x9D", 5)) != std::string::npos;
}

}  // namespace

SettingsWriteError::SettingsWriteError(const std::string& settingsFilePath)
    : std::runtime_error("Unable to write to " + settingsFilePath) {}

void SettingsFile::Locate(const platform::OsVersionInfo& os, bool sessionAgentsInUse, bool agentPage,
                          platform::WindowHandle owner, const EventRecord& record) {
  record_ = record;
  const std::string modulePath = platform::GetModuleFileName();
  const std::string besideExecutable = platform::ExtractFilePath(modulePath);
  if (os.platformId != platform::kPlatformNt) {
    path_ = platform::ChangeFileExt(modulePath, ".INI");
    return;
  }
  const std::string settingsName = platform::ChangeFileExt(platform::ExtractFileName(modulePath), ".info");
  auto documents = platform::GetSpecialFolderPath(owner, platform::csidl::kCommonDocuments, false);
  path_ = (documents ? *documents + "\\" : besideExecutable) + settingsName;
  if (sessionAgentsInUse) {
    path_ = ServiceSettingsFile(settingsName, besideExecutable, documents ? path_ : "", agentPage, owner);
  }
}

void SettingsFile::RecordEvent(const std::string& text) const {
  if (record_) {
    record_(text);
  } else {
    platform::DebugTrace(text);
  }
}

std::int32_t SettingsFile::Mode() const { return platform::ReadProfileInteger(kSettingsSection, "Mode", 1, path_); }

std::string SettingsFile::Location(const std::string& defaultLocation) const {
  // What the settings file holds is taken only when it passes the rules
  // that a location or prefix chosen on the page passes; else the default.
  std::string location = platform::ReadProfileString(kSettingsSection, "Path", defaultLocation, path_).text;
  if (platform::CheckStoredLocation(location) != platform::LocationProblem::None) location = defaultLocation;
  return location;
}

std::string SettingsFile::FilePrefix() const {
  std::string prefix = platform::ReadProfileString(kSettingsSection, "File", platform::kDefaultFilePrefix, path_).text;
  if (!platform::IsPlainNamePrefix(prefix)) prefix = platform::kDefaultFilePrefix;
  return prefix;
}

std::string SettingsFile::FolderPrefix() const {
  std::string prefix =
      platform::ReadProfileString(kSettingsSection, "Folder", platform::kDefaultFolderPrefix, path_).text;
  if (!platform::IsPlainNamePrefix(prefix)) prefix = platform::kDefaultFolderPrefix;
  return prefix;
}

std::int32_t SettingsFile::FolderCounter(const std::string& location) const {
  return platform::ReadProfileInteger(kSettingsSection, location, 1, path_);
}

bool SettingsFile::ReadAutoRotate() {
  autoRotateStored_ = platform::ReadProfileInteger(kSettingsSection, "AutoRoate", 0, path_);
  return autoRotateStored_ != 0;
}

std::optional<bool> SettingsFile::AutoRotateEditedOutside() {
  if (path_.empty()) return std::nullopt;
  const std::int32_t stored = platform::ReadProfileInteger(kSettingsSection, "AutoRoate", 0, path_);
  if (stored == autoRotateStored_) return std::nullopt;
  autoRotateStored_ = stored;
  return stored != 0;
}

void SettingsFile::WriteFolderCounter(const std::string& location, std::int32_t counter) {
  const platform::ProfileEntry entry{location, std::to_string(counter)};
  WriteSettings(std::span(&entry, 1));
}

void SettingsFile::WriteApplied(const AppliedSettings& applied) {
  // One replacement of the file: a cut leaves the old settings or the new.
  std::vector<platform::ProfileEntry> settings{{"Mode", std::to_string(applied.saveType)}};
  if (applied.location) {
    const std::string& location = *applied.location;
    settings.push_back({"Path", location});
    // Kept for files written by earlier versions; nothing reads it.
    const std::string unreadKey = "Folder" + applied.folderPrefix;
    if (MayWriteUnreadKey(unreadKey, location)) settings.push_back({unreadKey, "0"});
    settings.push_back({location, std::to_string(applied.folderCounter)});
  }
  settings.push_back({"AutoRoate", applied.autoRotate ? "1" : "0"});
  filePrefix_ = applied.filePrefix;
  folderPrefix_ = applied.folderPrefix;
  WriteSettings(settings, true);
  autoRotateStored_ = applied.autoRotate ? 1 : 0;
}

void SettingsFile::Delete() const { platform::DeleteFile(path_).IgnoreFailure(); }

std::string SettingsFile::ServiceSettingsFile(const std::string& settingsName, const std::string& besideExecutable,
                                              const std::string& publicFile, bool agentPage,
                                              platform::WindowHandle owner) {
  std::string folder;
  if (auto data = platform::GetSpecialFolderPath(owner, platform::csidl::kCommonAppData, false)) {
    folder = *data + "\\" + kServiceDataFolderName;
  }
  // An agent (its user) only reads there; the service makes sure of the folder.
  if (agentPage) return folder.empty() ? besideExecutable + settingsName : folder + "\\" + settingsName;
  platform::Result<void> secured = folder.empty() ? platform::Failure(platform::error::kPathNotFound)
                                                  : platform::CreateServiceOnlyDirectory(folder);
  // Whatever someone else put in the folder's place (a folder a user made
  // first, with their files and open handles in it, a link, a file) is never
  // adopted: it is renamed aside and a fresh folder made.
  const bool someoneElses = !secured && (secured.error() == platform::error::kAlreadyExists ||
                                         secured.error() == platform::error::kDirectory);
  if (someoneElses) {
    if (const std::optional<std::string> aside = SetAside(folder)) {
      RecordEvent("The folder " + folder + " was not made by the service or an administrator: it was renamed to " +
                  *aside + " and not used.");
      secured = platform::CreateServiceOnlyDirectory(folder);
    }
  }
  // A folder that cannot be made the service's own is not used: the
  // installed folder beside the executable, which only administrators may
  // change, takes the settings and the scratch file instead.
  if (!secured || !platform::OwnedBySystemOrAdministrators(folder)) {
    platform::DebugTrace("Settings folder " + folder + " cannot be secured: using the program's folder");
    return besideExecutable + settingsName;
  }
  settingsFolder_ = folder;
  const std::string path = folder + "\\" + settingsName;
  // A file someone else owns (made before the folder was secured) is never
  // read: it is deleted and the settings start afresh.
  if (platform::FileExists(path) && !platform::OwnedBySystemOrAdministrators(path)) {
    platform::DeleteFile(path).IgnoreFailure();
    if (platform::FileExists(path)) return besideExecutable + settingsName;
  }
  // A damaged file (or one made to harm) is read by the rules, each value
  // that fails them giving its default, and replaced whole by the next Apply.
  if (platform::FileExists(path) && SettingsFileDamaged(path)) {
    RecordEvent("The settings file " + path +
                " is damaged: values that fail the rules give their defaults, and the next Apply writes the file "
                "anew.");
    settingsRebuild_ = true;
  }
  if (!platform::FileExists(path) && !publicFile.empty() && platform::FileExists(publicFile)) {
    MoveSettingsFile(publicFile, path);
  }
  return path;
}

void SettingsFile::MoveSettingsFile(const std::string& from, const std::string& to) {
  // Only a file the service or an administrator made is read (any user may
  // write to Public Documents), never one reached through a link. Another
  // is left where it is; the new settings file starts empty, so the next
  // start neither looks nor tells again.
  const std::optional<std::uint32_t> attributes = platform::GetFileAttributes(from);
  if (!attributes || (*attributes & platform::attribute::kReparsePoint) != 0 ||
      !platform::OwnedBySystemOrAdministrators(from)) {
    RecordEvent("The settings file " + from +
                " was not made by the service or an administrator: its values were not used, and it was left where "
                "it is.");
    (void)platform::CreateFile(to, platform::access::kGenericWrite, platform::share::kNone,
                               platform::Disposition::CreateNew, platform::open_flag::kOpenReparsePoint);
    return;
  }
  // Only the values that pass the rules are carried over, written afresh in
  // one new file: the old file is never copied as it is.
  std::vector<platform::ProfileEntry> carried;
  auto carry = [&](const char* key, const std::string& value) { carried.push_back({key, value}); };
  const std::int32_t mode = platform::ReadProfileInteger(kSettingsSection, "Mode", -1, from);
  if (mode == 0 || mode == 1) carry("Mode", std::to_string(mode));
  const std::string path = platform::ReadProfileString(kSettingsSection, "Path", "", from).text;
  if (platform::CheckStoredLocation(path) == platform::LocationProblem::None) {
    carry("Path", path);
    const std::int32_t counter = platform::ReadProfileInteger(kSettingsSection, path, -1, from);
    if (counter >= 0) carry(path.c_str(), std::to_string(counter));
  }
  for (const char* key : {"File", "Folder"}) {
    const std::string prefix = platform::ReadProfileString(kSettingsSection, key, "", from).text;
    if (platform::IsPlainNamePrefix(prefix)) carry(key, prefix);
  }
  const std::int32_t autoRotate = platform::ReadProfileInteger(kSettingsSection, "AutoRoate", -1, from);
  if (autoRotate == 0 || autoRotate == 1) carry("AutoRoate", std::to_string(autoRotate));
  WriteSettingsFile(carried, to).IgnoreFailure();
  // Once the new file exists the old one is never read again; where the
  // service may not delete it (its user shut the service out), it stays.
  if (!platform::DeleteFile(from)) platform::DebugTrace("The old settings file " + from + " could not be removed");
}

platform::Result<void> SettingsFile::WriteSettingsFile(std::span<const platform::ProfileEntry> settings,
                                                       const std::string& path, bool whole) {
  if (settingsFolder_.empty()) return platform::WriteProfileStrings(kSettingsSection, settings, path);
  if (!whole || !settingsRebuild_ || path != path_) {
    return platform::WriteProfileStrings(kSettingsSection, settings, path, platform::ProfileConfinement{settingsFolder_});
  }
  // A damaged file is written anew: the prefixes in force, then the keys.
  std::vector<platform::ProfileEntry> rebuilt{{"File", filePrefix_}, {"Folder", folderPrefix_}};
  rebuilt.insert(rebuilt.end(), settings.begin(), settings.end());
  const platform::Result<void> written = platform::WriteProfileStrings(
      kSettingsSection, rebuilt, path, platform::ProfileConfinement{settingsFolder_, true});
  if (written) settingsRebuild_ = false;
  return written;
}

void SettingsFile::WriteSettings(std::span<const platform::ProfileEntry> settings, bool whole) {
  if (!WriteSettingsFile(settings, path_, whole).ok()) {
    throw SettingsWriteError(path_);
  }
}

}  // namespace pw::ui
