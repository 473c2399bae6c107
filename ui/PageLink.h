#pragma once
// Where a settings page that runs in a session agent sends what the user
// does: the page's settings and the Exit choice go to the service, which owns
// the scanner, the poll and the settings file. Window's thread only.
#include <cstdint>
#include <string>

namespace pw::ui {

class PageLink {
 public:
  virtual ~PageLink() = default;
  // Apply on the page: the save type (0 card, 1 computer), location and
  // auto-rotate. False when they were not passed on: the page stays as it is.
  virtual bool ApplyPage(std::uint32_t saveType, const std::string& saveLocation, bool autoRotate) = 0;
  // Exit in the tray icon's menu.
  virtual void ExitChosen() = 0;
};

}  // namespace pw::ui
