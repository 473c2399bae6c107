#include "platform/NotifyIcon.h"

#include <cstring>

#include "platform/hostworld/Desktop.h"
#include "platform/IcoFile.h"
#include "platform/hostworld/World.h"

namespace pw::platform {

namespace {
hostworld::Desktop& Desk() { return hostworld::World::Current().Desktop(); }
}  // namespace

void IconTraits::Close(RawHandle icon) noexcept {
  if (hostworld::World* world = hostworld::World::CurrentOrNull()) world->Desktop().FreeIcon(icon);
}

IconHandle CreateIconFromIco(std::span<const std::byte> ico, int size) {
  std::optional<IcoImage> image = FindIcoImage(ico, size);
  if (!image) return {};
  return IconHandle(Desk().NewIcon(image->width, image->height, image->colours));
}

int TrayIconSize() { return Desk().ScaleForDpi(16); }

PopupMenu::PopupMenu() = default;
PopupMenu::~PopupMenu() = default;

void PopupMenu::Append(std::uint32_t commandId, std::string_view text) { items_.push_back({commandId, std::string(text)}); }

void PopupMenu::Clear() {
  items_.clear();
  defaultItem_ = 0;
}

void PopupMenu::SetDefaultItem(std::uint32_t commandId) { defaultItem_ = commandId; }

std::uint32_t TrackPopupMenu(const PopupMenu& menu, Point at, WindowHandle owner) {
  return Desk().RunMenu(menu, at, owner);
}

bool ShellNotifyIcon(std::uint32_t action, const NotifyIconData& data) {
  return Desk().NotifyIcon(action, data);
}

}  // namespace pw::platform
