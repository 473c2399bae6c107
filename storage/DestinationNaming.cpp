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

// The number of the last image in the folder: of the names that have the
// prefix's length plus eight and a four-digit number after the prefix, the
// one that sorts last ignoring case gives it. 0 when none does.
std::int32_t LastFileNumber(const std::vector<std::string>& names, std::size_t prefixLength) {
  const std::string* last = nullptr;
  std::int32_t number = 0;
  for (const std::string& name : names) {
    if (name.size() != prefixLength + 8) continue;
    const std::optional<std::int32_t> value = ReadFileNumber(std::string_view(name).substr(prefixLength, kNumberDigits));
    if (!value) continue;
    if (last == nullptr || platform::LessTextIgnoringCase(*last, name)) {
      last = &name;
      number = *value;
    }
  }
  return number;
}

}  // namespace

std::string ImageFolderPath(const std::string& saveLocation, const std::string& folderPrefix, std::int32_t number) {
  const std::string separator = saveLocation.size() == 3 ? "" : "\\";
  return saveLocation + separator + folderPrefix + std::to_string(number);
}

std::string ImageFileName(const std::string& filePrefix, std::int32_t number) {
  std::string digits = std::to_string(number);
  if (digits.size() < kNumberDigits) digits.insert(0, kNumberDigits - digits.size(), '0');
  return filePrefix + digits + ".jpg";
}

std::vector<bool> FolderNumbersInUse(const std::string& location, const std::string& prefix) {
  std::vector<bool> used(static_cast<std::size_t>(kMaxFolderNumber) + 1, false);
  const std::string pattern = location.size() == 3 ? location + "*" : location + "\\*";
  const platform::FindEntries found =
      platform::FindFiles(pattern, platform::FindDetail::NamesAndAttributes).value_or(platform::FindEntries());
  for (const platform::FindEntry& entry : found) {
    if ((entry.attributes & platform::attribute::kDirectory) == 0) continue;
    if (entry.name.size() <= prefix.size() || entry.name.size() > prefix.size() + 4) continue;
    if (!platform::SameTextIgnoringCase(std::string_view(entry.name).substr(0, prefix.size()), prefix)) continue;
    const std::string_view digits = std::string_view(entry.name).substr(prefix.size());
    if (digits.front() == '0') continue;
    std::int32_t value = 0;
    bool number = true;
    for (char c : digits) {
      if (c < '0' || c > '9') {
        number = false;
        break;
      }
      value = value * 10 + (c - '0');
    }
    if (number) used[static_cast<std::size_t>(value)] = true;
  }
  return used;
}

namespace {

// A prefix that the system's wildcard rules could read otherwise than as
// plain text: its listing is left to the host's lister.
bool PlainPrefix(const std::string& prefix) {
  if (prefix.empty() || prefix.back() == '.' || prefix.back() == ' ') return false;
  return prefix.find_first_of("*?<>\"") == std::string::npos;
}

bool EndsWithJpg(std::string_view name) {
  return name.size() >= 4 && platform::SameTextIgnoringCase(name.substr(name.size() - 4), ".jpg");
}

// Reads the names of one listing of an image folder: the images the
// system's lister would list for a plain prefix, and the image numbers whose
// name any entry holds.
ImageFolderNames ReadFolderNames(platform::FindEntries found, const std::string& prefix, bool plainPrefix) {
  ImageFolderNames names;
  names.taken.assign(static_cast<std::size_t>(kMaxFileNumber) + 1, false);
  constexpr std::uint32_t kLeftOut =
      platform::attribute::kDirectory | platform::attribute::kHidden | platform::attribute::kSystem;
  for (const platform::FindEntry& entry : found) {
    if ((entry.attributes & platform::attribute::kReparsePoint) != 0) names.holdsLink = true;
    if (plainPrefix && (entry.attributes & kLeftOut) == 0 && entry.name.size() >= prefix.size() &&
        platform::SameTextIgnoringCase(std::string_view(entry.name).substr(0, prefix.size()), prefix)) {
      names.images.push_back(entry.name);
    }
    // The entry holds ImageFileName(prefix, n) for its n: the prefix, four
    // digits and ".jpg", ignoring case.
    const std::string_view name = entry.name;
    if (name.size() == prefix.size() + 8 && EndsWithJpg(name) &&
        platform::SameTextIgnoringCase(name.substr(0, prefix.size()), prefix)) {
      if (const auto number = ReadFileNumber(name.substr(prefix.size(), kNumberDigits))) {
        names.taken[static_cast<std::size_t>(*number)] = true;
      }
    }
  }
  names.entries = std::move(found);
  return names;
}

platform::Result<ImageFolderNames> ListFolder(const std::string& folder, NamingState& state, bool plainPrefix) {
  ImageFolderNames names = ReadFolderNames(
      platform::FindFiles(folder + "\\*", platform::FindDetail::NamesAndAttributes).value_or(platform::FindEntries()),
      state.filePrefix, plainPrefix);
  if (!plainPrefix) {
    PW_TRY_ASSIGN(names.images, state.host.ListImageFiles(folder));
  }
  return names;
}

}  // namespace

ImageFolderNames ListImageFolder(const std::string& folder, const std::string& filePrefix) {
  return ReadFolderNames(
      platform::FindFiles(folder + "\\*", platform::FindDetail::WithSizes).value_or(platform::FindEntries()), filePrefix,
      PlainPrefix(filePrefix));
}

std::int32_t NextImageNumber(const ImageFolderNames& names, const std::string& filePrefix) {
  std::int32_t number = LastFileNumber(names.images, filePrefix.size()) + 1;
  // A hidden or system file, or a folder, is not listed but still holds its
  // name: never hand out the name of an existing entry.
  while (number <= kMaxFileNumber && names.taken[static_cast<std::size_t>(number)]) ++number;
  return number;
}

platform::Result<std::string> NextImagePath(NamingState& state) {
  const std::string location = state.saveLocation;
  state.activeSavePath = location;
  const platform::LocationRights& rights = state.rights;

  if (!platform::DirectoryExists(location)) {
    const platform::Result<void> made = platform::CreateDirectory(location);
    if (!made.ok()) PW_TRY(rights.CheckError(made.error()));
  }
  if (platform::DirectoryExists(location)) PW_TRY(rights.ConfineTo(location));

  // The folder in use is the last one before the first gap.
  const std::vector<bool> used = FolderNumbersInUse(location, state.folderPrefix);
  std::int32_t firstMissing = kMaxFolderNumber + 1;
  for (std::int32_t n = 1; n <= kMaxFolderNumber; ++n) {
    if (!used[static_cast<std::size_t>(n)]) {
      firstMissing = n;
      break;
    }
  }
  state.folderCounter = firstMissing == 1 ? 1 : firstMissing - 1;

  std::string folder = ImageFolderPath(location, state.folderPrefix, state.folderCounter);
  if (!used[static_cast<std::size_t>(state.folderCounter)] && !platform::DirectoryExists(folder)) {
    const platform::Result<void> made = platform::CreateDirectory(folder);
    if (!made.ok()) {
      PW_TRY(rights.CheckError(made.error()));
      // No image folder can be made here: switch to the default location (its
      // change handler stores the counter) and tell the caller.
      state.host.SwitchSaveLocationToDefault();
      return state.defaultSavePath;
    }
  }
  PW_TRY(rights.CheckFolder(folder));

  // A folder that cannot be listed gives no name: the picture stays on the scanner.
  PW_TRY_ASSIGN(const ImageFolderNames listing, ListFolder(folder, state, PlainPrefix(state.filePrefix)));
  // A link among the folder's entries could stand for any name the pull
  // writes there: for the console user the folder is not written in.
  if (listing.holdsLink && rights.ActsForConsoleUser()) return platform::Failure(platform::error::kLocationLink);
  std::int32_t number = NextImageNumber(listing, state.filePrefix);

  if (number > kMaxFileNumber) {
    if (state.folderCounter == kMaxFolderNumber) return platform::Failure(platform::error::kNoImageNameLeft);
    // Roll over into the next folder, which never exists: the folder in use
    // is the last before the first gap.
    ++state.folderCounter;
    folder = ImageFolderPath(location, state.folderPrefix, state.folderCounter);
    const platform::Result<void> made = platform::CreateDirectory(folder);
    if (!made.ok()) PW_TRY(rights.CheckError(made.error()));
    if (platform::DirectoryExists(folder)) PW_TRY(rights.CheckFolder(folder));
    number = 1;
  }
  return folder + "\\" + ImageFileName(state.filePrefix, number);
}

}  // namespace pw::storage
