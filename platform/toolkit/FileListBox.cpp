#include "platform/toolkit/FileListBox.h"

#include <algorithm>

#include "platform/FileSystem.h"
#include "platform/TextCompare.h"

namespace pw::toolkit {
namespace {

bool LessIgnoringCase(const std::string& a, const std::string& b) { return platform::LessTextIgnoringCase(a, b); }

}  // namespace

// The names are read before the peer hears of a new mask or folder, so that
// whatever it shows belongs to the mask and folder the list now holds.
void FileListBox::SetMask(std::string mask) {
  mask_ = std::move(mask);
  if (!directory_.empty()) Update();
  Notify(Property::Mask);
}

platform::Result<void> FileListBox::SetDirectory(const std::string& directory) {
  if (!directory_.empty() && platform::SameTextIgnoringCase(directory, directory_)) return platform::Success();
  PW_TRY(platform::SetCurrentDirectory(directory));
  directory_ = platform::GetCurrentDirectory();
  Update();
  Notify(Property::Directory);
  return platform::Success();
}

void FileListBox::Update() {
  items_.clear();
  if (!directory_.empty()) {
    std::string pattern = directory_;
    if (pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += mask_.empty() ? std::string("*.*") : mask_;
    constexpr std::uint32_t kLeftOut =
        platform::attribute::kDirectory | platform::attribute::kHidden | platform::attribute::kSystem;
    for (const platform::FindEntry& entry : platform::FindFiles(pattern).value_or(platform::FindEntries())) {
      if ((entry.attributes & kLeftOut) == 0) items_.push_back(entry.name);
    }
    std::stable_sort(items_.begin(), items_.end(), LessIgnoringCase);
  }
  Notify(Property::Items);
}

}  // namespace pw::toolkit
