#pragma once
// Naming of the folder and file for each pulled image: below the save location
// L, folder FolderPrefix + n (n = 1..9999, the last before the first gap), file
// FilePrefix + four-digit number + ".jpg". Recomputed from the file system on
// every call; nothing is cached.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/toolkit/Controls.h"
#include "platform/toolkit/FileListBox.h"

namespace pw::storage {

inline constexpr std::int32_t kMaxFolderNumber = 9999;
inline constexpr std::int32_t kMaxFileNumber = 9999;

// The main window's state that naming reads and writes.
struct NamingState {
  toolkit::Edit& saveLocation;  // PathEdit: L, and the field switched to DefaultSavePath
  toolkit::FileListBox& fileList;  // PagewickFileListBx: lists the folder in use
  const std::string& filePrefix;
  const std::string& folderPrefix;
  const std::string& systemDriveRoot;
  const std::string& defaultSavePath;
  std::int32_t& folderCounter;
  std::string& activeSavePath;
};

// Folder 9999 holds number 9999: there is no name left that would not replace
// an existing image. The image stays where it is.
class SaveLocationFullError : public std::runtime_error {
 public:
  explicit SaveLocationFullError(const std::string& folder);
};

// The full path of the file for the next image, creating the folders it needs;
// or DefaultSavePath itself when no image folder can be made below L, having
// switched the save-location field to DefaultSavePath. Throws
// SaveLocationFullError at the cap, toolkit::DirectoryError when the folder in
// use cannot be listed.
std::string NextImagePath(NamingState& state);

// The folder path for number n below the save location: a drive root (three
// characters, "E:\") is followed directly by the prefix.
std::string ImageFolderPath(const std::string& saveLocation, const std::string& folderPrefix, std::int32_t number);

// FilePrefix followed by the file number in four digits and ".jpg".
std::string ImageFileName(const std::string& filePrefix, std::int32_t number);

}  // namespace pw::storage
