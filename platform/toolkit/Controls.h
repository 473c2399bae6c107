#pragma once
// Labels, buttons, the single-line edit, the combo box, the check box and pictures.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/toolkit/Component.h"

namespace pw::toolkit {

class Label : public Control {
 public:
  using Control::Control;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool transparent) { transparent_ = transparent; }
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool wordWrap) { wordWrap_ = wordWrap; }

  Event OnClick;
  // The user clicked the label.
  void Click() const { Fire(OnClick); }

 private:
  std::string caption_;
  bool transparent_ = false;
  bool wordWrap_ = false;
};

class Button : public Control {
 public:
  using Control::Control;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);

  // Enter clicks the default button of its form, Esc the cancel button.
  bool Default() const { return default_; }
  void SetDefault(bool isDefault) { default_ = isDefault; }
  bool Cancel() const { return cancel_; }
  void SetCancel(bool isCancel) { cancel_ = isCancel; }

  Event OnClick;
  // The user pressed the button; a disabled button does not click.
  void Click() const {
    if (Enabled()) Fire(OnClick);
  }

 private:
  std::string caption_;
  bool default_ = false;
  bool cancel_ = false;
};

// Single-line edit. Every change of its text runs OnChange, whoever makes it;
// setting the text it already holds changes nothing.
class Edit : public Control {
 public:
  using Control::Control;
  const std::string& Text() const { return text_; }
  void SetText(std::string text);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }

  Event OnChange;

 private:
  std::string text_;
  bool readOnly_ = false;
};

// Drop-down combo box, with an edit part or (list only) without one.
// Selecting an item from code does not run OnChange; a selection or typing by
// the user does.
class ComboBox : public Control {
 public:
  using Control::Control;
  // A drop-down list: the user picks an item and cannot type a text.
  bool ListOnly() const { return listOnly_; }
  void SetListOnly(bool listOnly) { listOnly_ = listOnly; }
  const std::vector<std::string>& Items() const { return items_; }
  void AddItem(std::string item);
  // -1 when nothing is selected.
  int ItemIndex() const { return itemIndex_; }
  // From code: an index outside the items leaves nothing selected.
  void SetItemIndex(int index);
  const std::string& Text() const { return text_; }

  Event OnChange;
  // The user picked an item from the list. The peer is not told: its native
  // control already shows the choice.
  void UserSelect(int index);
  // The user typed into the edit part: the selection is lost. The peer is not
  // told, so the typed text is never written back under the user's caret.
  // A list-only combo has no edit part: the typing is refused (false).
  bool UserEditText(std::string text);

 private:
  void Select(int index);

  std::vector<std::string> items_;
  int itemIndex_ = -1;
  std::string text_;
  bool listOnly_ = false;
};

// Check box with its own caption beside the box. Every change of the tick
// runs OnClick, by the user or the program.
class CheckBox : public Control {
 public:
  using Control::Control;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  bool Checked() const { return checked_; }
  void SetChecked(bool checked);

  Event OnClick;
  // The user clicked the box: the tick flips (a disabled box ignores it).
  void UserClick() {
    if (Enabled()) SetChecked(!checked_);
  }

 private:
  bool checked_ = false;
  std::string caption_;
};

// A decoded picture: rows top-down, 3 bytes per pixel in B, G, R order.
struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

// The picture at another size, resampled smoothly: every target pixel is a
// tent-weighted mean of the source pixels under it (wide enough to average
// all of them when shrinking, bilinear when enlarging). A size below 1 or an
// empty source gives an empty bitmap.
Bitmap Resample(const Bitmap& source, int width, int height);

class Image : public Control {
 public:
  using Control::Control;
  const std::shared_ptr<const Bitmap>& Picture() const { return picture_; }
  void SetPicture(std::shared_ptr<const Bitmap> picture);
  bool Stretch() const { return stretch_; }
  void SetStretch(bool stretch) { stretch_ = stretch; }

 private:
  std::shared_ptr<const Bitmap> picture_;
  bool stretch_ = false;
};

}  // namespace pw::toolkit
