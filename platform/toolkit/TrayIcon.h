#pragma once
// The tray icon component: an icon in the notification area with a popup menu.
// The native side (adding, removing, re-adding after "TaskbarCreated", the
// mouse rules) belongs to the backend peer.
#include <memory>
#include <string>

#include "platform/toolkit/Component.h"
#include "platform/toolkit/Controls.h"
#include "platform/toolkit/Menu.h"

namespace pw::toolkit {

class TrayIcon : public Component {
 public:
  TrayIcon(std::string name, PopupMenu& popupMenu) : Component(std::move(name)), popupMenu_(popupMenu) {}

  PopupMenu& Popup() const { return popupMenu_; }
  const std::shared_ptr<const Bitmap>& Icon() const { return icon_; }
  void SetIcon(std::shared_ptr<const Bitmap> icon) {
    icon_ = std::move(icon);
    Notify(Property::Picture);
  }

  // Runs inside the icon's message handling: it must not destroy the icon
  // (the form's owner destroys a form that exits later).
  Event OnClick;
  // Left button pressed and released on the icon.
  void Click() const { Fire(OnClick); }
  // Double click: runs the default menu item, if one is marked.
  void DoubleClick() const {
    if (MenuItem* item = popupMenu_.DefaultItem()) item->Click();
  }

  // The tooltip: the icon's name in the notification area.
  const std::string& Hint() const { return hint_; }
  void SetHint(std::string hint) {
    hint_ = std::move(hint);
    Notify(Property::Caption);
  }

  // Shows a notification from the icon; the last one shown stays readable.
  struct Balloon {
    std::string title;
    std::string text;
  };
  void ShowBalloon(std::string title, std::string text) {
    balloon_ = {std::move(title), std::move(text)};
    Notify(Property::Text);
  }
  const Balloon& LastBalloon() const { return balloon_; }
  // A click on the notification; like OnClick, it must not destroy the icon.
  Event OnBalloonClick;
  void BalloonClick() const { Fire(OnBalloonClick); }

 private:
  PopupMenu& popupMenu_;
  std::shared_ptr<const Bitmap> icon_;
  std::string hint_;
  Balloon balloon_;
};

}  // namespace pw::toolkit
