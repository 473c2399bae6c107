#include "ui/LeftoverNaming.h"

#include <algorithm>

#include "platform/TextCompare.h"

namespace pw::ui {

std::vector<std::string> LeftoverNaming::ImageFolders() {
  std::vector<std::string> folders;
  const std::vector<bool> used = storage::FolderNumbersInUse(location_, folderPrefix_);
  for (std::int32_t n = 1; n <= storage::kMaxFolderNumber; ++n) {
    if (used[static_cast<std::size_t>(n)]) folders.push_back(storage::ImageFolderPath(location_, folderPrefix_, n));
  }
  return folders;
}

std::vector<platform::FindEntry> LeftoverNaming::ListFolder(const std::string& folder) {
  names_ = storage::ListImageFolder(folder, filePrefix_);
  return names_.entries;
}

bool LeftoverNaming::IsImageName(std::string_view name) const {
  if (name.size() != filePrefix_.size() + 8) return false;
  const std::string_view digits = name.substr(filePrefix_.size(), 4);
  return platform::SameTextIgnoringCase(name.substr(0, filePrefix_.size()), filePrefix_) &&
         platform::SameTextIgnoringCase(name.substr(name.size() - 4), ".jpg") &&
         std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<std::string> LeftoverNaming::FreeImageName(std::int32_t n) const {
  if (names_.taken.empty()) return std::nullopt;
  for (std::int32_t number = storage::NextImageNumber(names_, filePrefix_); number <= storage::kMaxFileNumber;
       ++number) {
    if (names_.taken[static_cast<std::size_t>(number)]) continue;
    if (n-- == 0) return storage::ImageFileName(filePrefix_, number);
  }
  return std::nullopt;
}

void LeftoverNaming::TakeImageName(const std::string& name) {
  if (!IsImageName(name) || names_.taken.empty()) return;
  std::int32_t number = 0;
  for (char c : std::string_view(name).substr(filePrefix_.size(), 4)) number = number * 10 + (c - '0');
  names_.taken[static_cast<std::size_t>(number)] = true;
  names_.images.push_back(name);
}

}  // namespace pw::ui
