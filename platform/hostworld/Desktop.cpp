// The desktop's clock, the drivers that stand in for the user, and the records tests read.
#include "platform/hostworld/Desktop.h"

#include "platform/Dialogs.h"
#include "platform/Shell.h"
#include "platform/NotifyIcon.h"
#include "platform/hostworld/DesktopParts.h"
#include "platform/hostworld/World.h"

namespace pw::hostworld {

using namespace desktop_parts;

Desktop::Desktop(World& world) : world_(world) {}

Desktop::~Desktop() = default;

std::uint64_t Desktop::NowLocked() const {
  std::uint64_t now = manualNow_;
  if (realTime_) {
    now += static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - realBase_).count());
  }
  return now;
}

std::uint64_t Desktop::Now() const {
  std::scoped_lock lock(mutex_);
  return NowLocked();
}

void Desktop::AdvanceTime(std::uint32_t milliseconds) {
  {
    std::scoped_lock lock(mutex_);
    manualNow_ += milliseconds;
  }
  wake_.notify_all();
}

void Desktop::SetRealTime(bool on) {
  {
    std::scoped_lock lock(mutex_);
    if (on == realTime_) return;
    if (on) {
      realBase_ = std::chrono::steady_clock::now();
    } else {
      manualNow_ = NowLocked();
    }
    realTime_ = on;
  }
  // Waiting loops recompute how long they may sleep.
  wake_.notify_all();
}

void Desktop::SetMessageBoxDriver(MessageBoxDriver driver) {
  std::scoped_lock lock(mutex_);
  messageBoxDriver_ = std::move(driver);
}

void Desktop::SetElevationDriver(ElevationDriver driver) {
  std::scoped_lock lock(mutex_);
  elevationDriver_ = std::move(driver);
}

void Desktop::SetBrowseDriver(BrowseDriver driver) {
  std::scoped_lock lock(mutex_);
  browseDriver_ = std::move(driver);
}

void Desktop::SetMenuDriver(MenuDriver driver) {
  std::scoped_lock lock(mutex_);
  menuDriver_ = std::move(driver);
}

std::vector<MessageBoxRecord> Desktop::MessageBoxes() const {
  std::scoped_lock lock(mutex_);
  return messageBoxes_;
}

std::vector<BrowseRecord> Desktop::Browses() const {
  std::scoped_lock lock(mutex_);
  return browses_;
}

std::vector<MenuRecord> Desktop::Menus() const {
  std::scoped_lock lock(mutex_);
  return menus_;
}

std::vector<ElevationRecord> Desktop::Elevations() const {
  std::scoped_lock lock(mutex_);
  return elevations_;
}

std::vector<ShellExecuteRecord> Desktop::ShellExecutes() const {
  std::scoped_lock lock(mutex_);
  return shellExecutes_;
}

std::vector<TrayIconRecord> Desktop::TrayIcons() const {
  std::scoped_lock lock(mutex_);
  std::vector<TrayIconRecord> result;
  for (const auto& [key, icon] : trayIcons_) result.push_back(icon);
  return result;
}

std::vector<TrayIconCall> Desktop::TrayIconCalls() const {
  std::scoped_lock lock(mutex_);
  return trayIconCalls_;
}

std::vector<BalloonRecord> Desktop::Balloons() const {
  std::scoped_lock lock(mutex_);
  return balloons_;
}

std::size_t Desktop::LostThreadMessages() const {
  std::scoped_lock lock(mutex_);
  return lostThreadMessages_;
}

std::size_t Desktop::LiveItemIdLists() const {
  std::scoped_lock lock(mutex_);
  return itemIdLists_.size();
}

}  // namespace pw::hostworld
