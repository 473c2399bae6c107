#pragma once
// Naming of the folder and file for each pulled image: below the save location
// L, folder FolderPrefix + n (n = 1..9999, the last before the first gap), file
// FilePrefix + four-digit number + ".jpg". Recomputed from the file system on
// every call; nothing is cached.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/LocationRights.h"
#include "platform/Result.h"

namespace pw::storage {

inline constexpr std::int32_t kMaxFolderNumber = 9999;
inline constexpr std::int32_t kMaxFileNumber = 9999;

// What naming asks of the application (the main window implements it).
class NamingHost {
 public:
  virtual ~NamingHost() = default;
  // The names of the entries in the folder that match FilePrefix + "*.*" by
  // the system's wildcard rules, leaving out folders, hidden and system files,
  // as the folder holds them now; the system's error when the folder cannot
  // be listed.
  virtual platform::Result<std::vector<std::string>> ListImageFiles(const std::string& folder) = 0;
  // No image folder can be made below the save location: the application's
  // save location becomes the default one (whose change is handled there).
  virtual void SwitchSaveLocationToDefault() = 0;
};

// The application's values that naming reads and writes.
struct NamingState {
  std::string saveLocation;  // L, the save location as the page shows it
  const std::string& filePrefix;
  const std::string& folderPrefix;
  const std::string& defaultSavePath;
  std::int32_t& folderCounter;
  std::string& activeSavePath;
  NamingHost& host;
  // Whose rights and which link checks the folders take (the caller acts
  // with them); for the console user a numbered folder that is a link, lies
  // outside the location or holds a link fails naming with
  // error::kLocationLink, and a folder the user may not create with
  // error::kLocationNotWritable.
  const platform::LocationRights& rights = platform::LocationRights::ProcessOwn();
};

// The full path of the file for the next image, creating the folders it needs;
// or DefaultSavePath itself when no image folder can be made below L, having
// switched the save-location field to DefaultSavePath. Fails with
// error::kNoImageNameLeft at the cap (folder 9999 holds number 9999: no name
// is left that would not replace an existing image, and the image stays where
// it is), with the location's refusals (see NamingState::rights), and throws
// what the host's listing throws when the folder in use cannot be listed.
platform::Result<std::string> NextImagePath(NamingState& state);

// The folder path for number n below the save location: a drive root (three
// characters, "E:\") is followed directly by the prefix.
std::string ImageFolderPath(const std::string& saveLocation, const std::string& folderPrefix, std::int32_t number);

// FilePrefix followed by the file number in four digits and ".jpg".
std::string ImageFileName(const std::string& filePrefix, std::int32_t number);

// The image folders below the location, from one listing: entry n is true
// when a folder FolderPrefix + n exists (a decimal number without leading
// zeros, the prefix matched ignoring case), whether or not it is in use.
std::vector<bool> FolderNumbersInUse(const std::string& location, const std::string& folderPrefix);

// What one listing of an image folder says about its image names.
struct ImageFolderNames {
  std::vector<platform::FindEntry> entries;  // every entry, with its size
  std::vector<std::string> images;           // what the system's lister lists for FilePrefix + "*.*"
  std::vector<bool> taken;                   // image numbers whose name any entry holds (folders, hidden and system too)
  bool holdsLink = false;
};
ImageFolderNames ListImageFolder(const std::string& folder, const std::string& filePrefix);

// The number NextImagePath gives the next image in the listed folder: one
// after the last image listed, stepping over names that any entry holds;
// kMaxFileNumber + 1 when none is left.
std::int32_t NextImageNumber(const ImageFolderNames& names, const std::string& filePrefix);

}  // namespace pw::storage
