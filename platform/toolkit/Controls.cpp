#include "platform/toolkit/Controls.h"

namespace pw::toolkit {

void Label::SetCaption(std::string caption) {
  if (caption_ == caption) return;
  caption_ = std::move(caption);
  Notify(Property::Caption);
}

void Button::SetCaption(std::string caption) {
  if (caption_ == caption) return;
  caption_ = std::move(caption);
  Notify(Property::Caption);
}

void Edit::SetText(std::string text) {
  if (text_ == text) return;
  text_ = std::move(text);
  Notify(Property::Text);
  Fire(OnChange);
}

void ComboBox::AddItem(std::string item) {
  items_.push_back(std::move(item));
  Notify(Property::Items);
}

void ComboBox::SetItemIndex(int index) {
  Select(index);
  Notify(Property::ItemIndex);
}

void ComboBox::Select(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= items_.size()) {
    index = -1;
  }
  itemIndex_ = index;
  text_ = index >= 0 ? items_[static_cast<std::size_t>(index)] : std::string();
}

// The user's actions come from the native control, which already shows them:
// telling the peer would write the text back and move the edit's caret.
void ComboBox::UserSelect(int index) {
  Select(index);
  Fire(OnChange);
}

void ComboBox::UserEditText(std::string text) {
  itemIndex_ = -1;
  text_ = std::move(text);
  Fire(OnChange);
}

void CheckBox::SetChecked(bool checked) {
  if (checked_ == checked) return;
  checked_ = checked;
  Notify(Property::Checked);
  Fire(OnClick);
}

void Image::SetPicture(std::shared_ptr<const Bitmap> picture) {
  picture_ = std::move(picture);
  Notify(Property::Picture);
}

}  // namespace pw::toolkit
