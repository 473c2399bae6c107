#include "storage/DestinationNaming.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/TextCompare.h"

namespace pw::storage {
namespace {

constexpr std::size_t kNumberDigits = 4;

// A file number is exactly four decimal digits. Signs, blanks and hexadecimal
// forms are not numbers here: they would sort apart from the real numbers and
// could name an image that exists.
std::optional<std::int32_t> ReadFileNumber(std::string_view digits) {
  if (digits.size() != kNumberDigits) return std::nullopt;
  std::int32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The number of the last image in the folder: names sorted ignoring case,
// walked from the last; the first that has the prefix's length plus eight and
// a four-digit number after the prefix gives it. 0 when none does.
std::int32_t LastFileNumber(std::vector<std::string> names, std::size_t prefixLength) {
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return platform::LessTextIgnoringCase(a, b);
  });
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (it->size() != prefixLength + 8) continue;
    if (auto number = ReadFileNumber(std::string_view(*it).substr(prefixLength, kNumberDigits))) return *number;
  }
  return 0;
}

}  // namespace

SaveLocationFullError::SaveLocationFullError(const std::string& folder)
    : std::runtime_error("No image number is left in " + folder) {}

std::string ImageFolderPath(const std::string& saveLocation, const std::string& folderPrefix, std::int32_t number) {
  const std::string separator = saveLocation.size() == 3 ? "" : "\\";
  return saveLocation + separator + folderPrefix + std::to_string(number);
}

std::string ImageFileName(const std::string& filePrefix, std::int32_t number) {
  std::string digits = std::to_string(number);
  if (digits.size() < kNumberDigits) digits.insert(0, kNumberDigits - digits.size(), '0');
  return filePrefix + digits + ".jpg";
}

std::string NextImagePath(NamingState& state) {
  const std::string location = state.saveLocation;
  state.activeSavePath = location;

  if (!platform::DirectoryExists(location)) (void)platform::CreateDirectory(location);

  // The folder in use is the last one before the first gap.
  std::int32_t firstMissing = kMaxFolderNumber + 1;
  for (std::int32_t n = 1; n <= kMaxFolderNumber; ++n) {
    if (!platform::DirectoryExists(ImageFolderPath(location, state.folderPrefix, n))) {
      firstMissing = n;
      break;
    }
  }
  state.folderCounter = firstMissing == 1 ? 1 : firstMissing - 1;

  std::string folder = ImageFolderPath(location, state.folderPrefix, state.folderCounter);
  if (!platform::DirectoryExists(folder) && !platform::CreateDirectory(folder).ok) {
    // No image folder can be made here: switch to the default location (its
    // change handler stores the counter) and tell the caller.
    state.host.SwitchSaveLocationToDefault();
    return state.defaultSavePath;
  }

  std::int32_t number = LastFileNumber(state.host.ListImageFiles(folder), state.filePrefix.size()) + 1;

  // A hidden or system file, or a folder, is not listed but still holds its
  // name: never hand out the name of an existing entry.
  while (number <= kMaxFileNumber &&
         platform::GetFileAttributes(folder + "\\" + ImageFileName(state.filePrefix, number)).has_value()) {
    ++number;
  }

  if (number > kMaxFileNumber) {
    if (state.folderCounter == kMaxFolderNumber) throw SaveLocationFullError(folder);
    // Roll over into the next folder, which never exists: the folder in use
    // is the last before the first gap.
    ++state.folderCounter;
    folder = ImageFolderPath(location, state.folderPrefix, state.folderCounter);
    (void)platform::CreateDirectory(folder);
    number = 1;
  }
  return folder + "\\" + ImageFileName(state.filePrefix, number);
}

}  // namespace pw::storage
