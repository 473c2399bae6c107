#pragma once
// Popup menus and their items.
#include <string>
#include <vector>

#include "platform/toolkit/Component.h"

namespace pw::toolkit {

class MenuItem : public Component {
 public:
  using Component::Component;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption) {
    if (caption_ == caption) return;
    caption_ = std::move(caption);
    Notify(Property::Caption);
  }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) {
    visible_ = visible;
    Notify(Property::Visible);
  }
  // The item a double click on the tray icon runs.
  bool IsDefault() const { return default_; }
  void SetDefault(bool isDefault) { default_ = isDefault; }

  Event OnClick;
  // The user chose the item.
  void Click() const { Fire(OnClick); }

 private:
  std::string caption_;
  bool visible_ = true;
  bool default_ = false;
};

class PopupMenu : public Component {
 public:
  using Component::Component;
  // The items are not owned; they live beside the menu in the same form.
  void Add(MenuItem& item) { items_.push_back(&item); }
  const std::vector<MenuItem*>& Items() const { return items_; }
  // The item marked as default, or nullptr.
  MenuItem* DefaultItem() const {
    for (MenuItem* item : items_) {
      if (item->IsDefault()) return item;
    }
    return nullptr;
  }

 private:
  std::vector<MenuItem*> items_;
};

}  // namespace pw::toolkit
