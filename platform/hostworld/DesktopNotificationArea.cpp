// The desktop's notification area: tray icons, their events and balloons, and icons.
#include "platform/hostworld/Desktop.h"

#include <algorithm>
#include <cstdio>

#include "platform/NotifyIcon.h"
#include "platform/hostworld/DesktopParts.h"
#include "platform/hostworld/World.h"

namespace pw::hostworld {

using namespace desktop_parts;

namespace {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", as the journal names an icon.
std::string GuidText(const platform::Guid& guid) {
  char text[39] = {};
  (void)std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.data1,
                      static_cast<unsigned>(guid.data2), static_cast<unsigned>(guid.data3),
                      static_cast<unsigned>(guid.data4[0]), static_cast<unsigned>(guid.data4[1]),
                      static_cast<unsigned>(guid.data4[2]), static_cast<unsigned>(guid.data4[3]),
                      static_cast<unsigned>(guid.data4[4]), static_cast<unsigned>(guid.data4[5]),
                      static_cast<unsigned>(guid.data4[6]), static_cast<unsigned>(guid.data4[7]));
  return text;
}

}  // namespace

bool Desktop::NotifyIcon(std::uint32_t action, const platform::NotifyIconData& data) {
  namespace nif = platform::nif;
  // What the shell of the world's Windows takes: an icon GUID from Windows 7
  // on, NOTIFYICON_VERSION_4 and tips of 127 characters from Vista on.
  const platform::OsVersionInfo system = world_.Version();
  const bool vista = system.majorVersion >= 6;
  const bool seven = system.majorVersion > 6 || (vista && system.minorVersion >= 1);
  const std::size_t tipLength = vista ? 127 : 63;
  const bool byGuid = (data.flags & nif::kGuid) != 0;
  std::scoped_lock lock(mutex_);
  bool ok = false;
  const WindowRecord* window = FindLocked(data.window);
  auto it = std::find_if(trayIcons_.begin(), trayIcons_.end(), [&](const auto& entry) {
    const TrayIconRecord& icon = entry.second;
    return byGuid ? icon.guid == data.guid : !icon.guid && icon.window == data.window && icon.id == data.id;
  });
  const auto identity = [](const TrayIconRecord& icon) {
    return (icon.guid ? "guid " + GuidText(*icon.guid) : "id " + std::to_string(icon.id)) + "\tversion " +
           std::to_string(icon.version);
  };
  if (window != nullptr && !window->foreign && (!byGuid || (seven && !trayGuidRefused_))) {
    switch (action) {
      case platform::nim::kAdd:
        if (it == trayIcons_.end() && !trayIcons_.contains({data.window, data.id})) {
          TrayIconRecord icon{data.window, data.id, 0, nullptr, {}, std::nullopt, 0};
          if (byGuid) icon.guid = data.guid;
          if (data.flags & nif::kMessage) icon.callbackMessage = data.callbackMessage;
          if (data.flags & nif::kIcon) icon.icon = data.icon;
          if (data.flags & nif::kTip) icon.tip = data.tip.substr(0, tipLength);
          if (journal_) {
            journal_->Record(screen_event::kTrayIconAdded, icon.tip);
            journal_->Record(screen_event::kTrayIconIdentity, identity(icon));
          }
          trayIcons_.emplace(std::make_pair(data.window, data.id), std::move(icon));
          ok = true;
        }
        break;
      case platform::nim::kModify:
        if (it != trayIcons_.end()) {
          if (data.flags & nif::kMessage) it->second.callbackMessage = data.callbackMessage;
          if (data.flags & nif::kIcon) it->second.icon = data.icon;
          if (data.flags & nif::kTip) {
            it->second.tip = data.tip.substr(0, tipLength);
            if (journal_) journal_->Record(screen_event::kTrayIconTip, it->second.tip);
          }
          ok = true;
          if (data.flags & nif::kInfo) {
            BalloonRecord balloon{it->second.window, it->second.id, data.infoTitle.substr(0, 63),
                                  data.info.substr(0, 255)};
            if (journal_) journal_->Record(screen_event::kTrayBalloon, balloon.title + "\t" + balloon.text);
            balloons_.push_back(std::move(balloon));
          }
        }
        break;
      case platform::nim::kDelete:
        if (it != trayIcons_.end()) {
          if (journal_) journal_->Record(screen_event::kTrayIconRemoved, it->second.tip);
          trayIcons_.erase(it);
          ok = true;
        }
        break;
      case platform::nim::kSetVersion:
        if (it != trayIcons_.end() && data.version <= (vista ? 4u : 3u)) {
          it->second.version = data.version;
          if (journal_) journal_->Record(screen_event::kTrayIconIdentity, identity(it->second));
          ok = true;
        }
        break;
      default: break;
    }
  }
  trayIconCalls_.push_back({action, data.window, data.id, ok});
  return ok;
}

void Desktop::PostTrayEvent(const TrayIconRecord& icon, std::uint32_t event) {
  if (icon.version >= platform::kNotifyIconVersion4) {
    // The anchor point in wParam, the event and the id in lParam.
    const auto packed =
        static_cast<std::intptr_t>((static_cast<std::uintptr_t>(icon.id & 0xFFFF) << 16) | (event & 0xFFFF));
    const auto anchor = static_cast<std::uintptr_t>(
        ((static_cast<std::uint32_t>(cursor_.y) & 0xFFFF) << 16) | (static_cast<std::uint32_t>(cursor_.x) & 0xFFFF));
    (void)Post(icon.window, icon.callbackMessage, anchor, packed);
    return;
  }
  (void)Post(icon.window, icon.callbackMessage, icon.id, static_cast<std::intptr_t>(event));
}

bool Desktop::ClickTrayIcon(std::uint32_t id, MouseButton button) {
  std::optional<TrayIconRecord> icon;
  {
    std::scoped_lock lock(mutex_);
    for (const auto& [key, record] : trayIcons_) {
      if (record.id == id && record.callbackMessage != 0) icon = record;
    }
  }
  if (!icon) return false;
  std::uint32_t down = button == MouseButton::Left ? wm::kLButtonDown : wm::kRButtonDown;
  std::uint32_t up = button == MouseButton::Left ? wm::kLButtonUp : wm::kRButtonUp;
  PostTrayEvent(*icon, down);
  PostTrayEvent(*icon, up);
  // Version 4 follows a right click with WM_CONTEXTMENU, a left one with NIN_SELECT.
  if (icon->version >= platform::kNotifyIconVersion4) {
    PostTrayEvent(*icon, button == MouseButton::Left ? platform::nin::kSelect : 0x007B);
  }
  return true;
}

bool Desktop::DoubleClickTrayIcon(std::uint32_t id) {
  std::optional<TrayIconRecord> icon;
  {
    std::scoped_lock lock(mutex_);
    for (const auto& [key, record] : trayIcons_) {
      if (record.id == id && record.callbackMessage != 0) icon = record;
    }
  }
  if (!icon) return false;
  // The sequence a double click produces: down, up, double click, up.
  for (std::uint32_t mouse : {wm::kLButtonDown, wm::kLButtonUp, wm::kLButtonDblClk, wm::kLButtonUp}) {
    PostTrayEvent(*icon, mouse);
  }
  return true;
}

bool Desktop::ClickLastBalloon() {
  std::optional<TrayIconRecord> icon;
  {
    std::scoped_lock lock(mutex_);
    if (balloons_.empty()) return false;
    auto it = trayIcons_.find({balloons_.back().window, balloons_.back().id});
    if (it == trayIcons_.end() || it->second.callbackMessage == 0) return false;
    icon = it->second;
  }
  PostTrayEvent(*icon, platform::nin::kBalloonUserClick);
  return true;
}

void Desktop::SetTrayGuidRefused(bool refused) {
  std::scoped_lock lock(mutex_);
  trayGuidRefused_ = refused;
}

void Desktop::RestartTaskbar() {
  {
    std::scoped_lock lock(mutex_);
    trayIcons_.clear();
  }
  Broadcast(RegisterMessage("TaskbarCreated"), 0, 0);
}

std::optional<platform::Size> Desktop::IconSize(platform::RawHandle icon) const {
  std::scoped_lock lock(mutex_);
  auto it = icons_.find(reinterpret_cast<std::uintptr_t>(icon));
  if (it == icons_.end()) return std::nullopt;
  return it->second;
}

platform::RawHandle Desktop::NewIcon(int width, int height, int colours) {
  (void)colours;
  std::scoped_lock lock(mutex_);
  std::uintptr_t key = nextIcon_;
  nextIcon_ += 8;
  icons_[key] = {width, height};
  return reinterpret_cast<platform::RawHandle>(key);
}

void Desktop::FreeIcon(platform::RawHandle icon) {
  std::scoped_lock lock(mutex_);
  icons_.erase(reinterpret_cast<std::uintptr_t>(icon));
}

}  // namespace pw::hostworld
