#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/toolkit/Controls.h"
#include "platform/toolkit/FileListBox.h"
#include "platform/toolkit/FormWindow.h"
#include "platform/win32/Win32Ui.h"

namespace pw::toolkit {

namespace {

struct FontDeleter {
  void operator()(HFONT font) const noexcept {
    if (font != nullptr) ::DeleteObject(font);
  }
};
using FontHandle = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

FontHandle MakeFont(const std::string& name, int height) {
  return FontHandle(::CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                  DEFAULT_PITCH | FF_DONTCARE, name.c_str()));
}

enum class Kind { Picture, Label, Button, Edit, ComboBox, CheckBox, FileList };

constexpr int kFirstId = 100;
constexpr int kComboDropHeight = 200;

// Draws a toolkit bitmap (B, G, R rows, top-down) into a rectangle of a DC.
void DrawBitmap(HDC dc, const Bitmap& bitmap, int left, int top, int width, int height) {
  if (bitmap.width <= 0 || bitmap.height <= 0) return;
  std::size_t stride = (static_cast<std::size_t>(bitmap.width) * 3 + 3) & ~std::size_t{3};
  std::vector<std::uint8_t> rows(stride * static_cast<std::size_t>(bitmap.height));
  for (int y = 0; y < bitmap.height; ++y) {
    std::copy_n(bitmap.pixels.begin() + static_cast<std::ptrdiff_t>(y) * bitmap.width * 3, bitmap.width * 3,
                rows.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(y) * stride));
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = bitmap.width;
  info.bmiHeader.biHeight = -bitmap.height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  ::SetStretchBltMode(dc, HALFTONE);
  ::StretchDIBits(dc, left, top, width, height, 0, 0, bitmap.width, bitmap.height, rows.data(), &info,
                  DIB_RGB_COLORS, SRCCOPY);
}

class Win32Controls;

// One child window tied to one model control.
class ChildPeer final : public Peer {
 public:
  ChildPeer(Win32Controls& owner, Control& control, Kind kind, HWND hwnd, ControlOptions options)
      : owner_(owner), control_(control), kind_(kind), hwnd_(hwnd), options_(options) {
    control_.AttachPeer(this);
  }
  ~ChildPeer() override { control_.AttachPeer(nullptr); }
  ChildPeer(const ChildPeer&) = delete;
  ChildPeer& operator=(const ChildPeer&) = delete;

  void PropertyChanged(const Component&, Property property) override;
  // Copies every model property into the native control.
  void SyncAll();

  Control& control() const { return control_; }
  Kind kind() const { return kind_; }
  HWND hwnd() const { return hwnd_; }
  const ControlOptions& options() const { return options_; }

 private:
  void SetText(const std::string& text) {
    ::SetWindowTextA(hwnd_, text.c_str());
    RepaintBehind();
  }
  // A transparent label shows the form's background: repaint that first.
  void RepaintBehind();
  // The file list's names as the model read them last, in its order (the
  // native list box does not sort).
  void ShowNames() {
    ::SendMessageA(hwnd_, LB_RESETCONTENT, 0, 0);
    for (const std::string& name : static_cast<FileListBox&>(control_).Items()) {
      ::SendMessageA(hwnd_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
  }

  Win32Controls& owner_;
  Control& control_;
  Kind kind_;
  HWND hwnd_;
  ControlOptions options_;
};

class Win32Controls final : public NativeControls {
 public:
  Win32Controls(HWND form, const FormParams& details) : form_(form), font_(MakeFont(details.fontName, details.fontHeight)) {
    fontName_ = details.fontName;
    ::SendMessageA(form_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
  }

  ~Win32Controls() override {
    // The peers go first; the child windows go with the form window.
    peers_.clear();
  }

  void Add(Control& control, const ControlOptions& options) override {
    if (options.background) {
      background_ = dynamic_cast<Image*>(&control);
      if (background_ != nullptr) {
        peers_[0] = std::make_unique<ChildPeer>(*this, control, Kind::Picture, nullptr, options);
        return;
      }
    }
    Kind kind = KindOf(control);
    const Bounds& b = control.GetBounds();
    DWORD style = WS_CHILD | (control.Visible() ? WS_VISIBLE : 0);
    const char* windowClass = "STATIC";
    int height = b.height;
    switch (kind) {
      case Kind::Picture: style |= SS_OWNERDRAW; break;
      case Kind::Label:
        style |= SS_NOTIFY | static_cast<DWORD>(static_cast<Label&>(control).WordWrap() ? SS_LEFT : SS_LEFTNOWORDWRAP);
        break;
      case Kind::Button:
        windowClass = "BUTTON";
        style |= BS_PUSHBUTTON | WS_TABSTOP;
        break;
      case Kind::CheckBox:
        windowClass = "BUTTON";
        style |= BS_CHECKBOX | WS_TABSTOP;
        break;
      case Kind::Edit:
        windowClass = "EDIT";
        style |= ES_AUTOHSCROLL | WS_TABSTOP | static_cast<DWORD>(static_cast<Edit&>(control).ReadOnly() ? ES_READONLY : 0);
        break;
      case Kind::ComboBox:
        windowClass = "COMBOBOX";
        style |= CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP;
        height = b.height + kComboDropHeight;  // the dropped-down list belongs to the window's height
        break;
      case Kind::FileList:
        windowClass = "LISTBOX";
        style |= LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP;
        break;
    }
    int id = kFirstId + static_cast<int>(peers_.size());
    HWND child = ::CreateWindowExA(0, windowClass, "", style, b.left, b.top, b.width, height, form_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleA(nullptr),
                                   nullptr);
    if (child == nullptr) return;  // the model goes on without a native control
    HFONT font = font_.get();
    if (options.fontHeight != 0) {
      fonts_.push_back(MakeFont(fontName_, options.fontHeight));
      font = fonts_.back().get();
    }
    ::SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (kind == Kind::ComboBox && options.itemHeight > 0) {
      ::SendMessageA(child, CB_SETITEMHEIGHT, 0, options.itemHeight);
    }
    auto peer = std::make_unique<ChildPeer>(*this, control, kind, child, options);
    peer->SyncAll();
    peers_[id] = std::move(peer);
  }

  std::optional<std::intptr_t> HandleMessage(std::uint32_t message, std::uintptr_t wParam,
                                             std::intptr_t lParam) override {
    switch (message) {
      case WM_ERASEBKGND:
        if (background_ != nullptr && background_->Picture()) {
          HDC dc = reinterpret_cast<HDC>(wParam);
          RECT client;
          ::GetClientRect(form_, &client);
          DrawBitmap(dc, *background_->Picture(), 0, 0, client.right, client.bottom);
          return 1;
        }
        return std::nullopt;
      case WM_COMMAND: return Command(LOWORD(wParam), HIWORD(wParam));
      case WM_CTLCOLORSTATIC:
      case WM_CTLCOLORBTN: return Colour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
      case WM_DRAWITEM: return Draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      default: return std::nullopt;
    }
  }

  HWND form() const { return form_; }

  // Paints the part of the form's background that lies under a child (its
  // rectangle in form coordinates) into the child's DC.
  void DrawBackgroundUnder(HDC dc, const RECT& childRect) const {
    if (background_ == nullptr || !background_->Picture()) {
      RECT local{0, 0, childRect.right - childRect.left, childRect.bottom - childRect.top};
      ::FillRect(dc, &local, ::GetSysColorBrush(COLOR_BTNFACE));
      return;
    }
    RECT client;
    ::GetClientRect(form_, &client);
    DrawBitmap(dc, *background_->Picture(), -childRect.left, -childRect.top, client.right, client.bottom);
  }

 private:
  static Kind KindOf(Control& control) {
    if (dynamic_cast<Image*>(&control) != nullptr) return Kind::Picture;
    if (dynamic_cast<Label*>(&control) != nullptr) return Kind::Label;
    if (dynamic_cast<Button*>(&control) != nullptr) return Kind::Button;
    if (dynamic_cast<Edit*>(&control) != nullptr) return Kind::Edit;
    if (dynamic_cast<ComboBox*>(&control) != nullptr) return Kind::ComboBox;
    if (dynamic_cast<CheckBox*>(&control) != nullptr) return Kind::CheckBox;
    return Kind::FileList;
  }

  ChildPeer* PeerOf(int id) const {
    auto it = peers_.find(id);
    return it == peers_.end() ? nullptr : it->second.get();
  }

  ChildPeer* PeerOf(HWND hwnd) const {
    for (const auto& [id, peer] : peers_) {
      if (peer->hwnd() == hwnd) return peer.get();
    }
    return nullptr;
  }

  // The user's actions reach the model, which decides and tells the peers.
  std::optional<std::intptr_t> Command(int id, int code) {
    ChildPeer* peer = PeerOf(id);
    if (peer == nullptr) return std::nullopt;
    Control& control = peer->control();
    switch (peer->kind()) {
      case Kind::Button:
        if (code == BN_CLICKED) static_cast<Button&>(control).Click();
        return 0;
      case Kind::CheckBox:
        if (code == BN_CLICKED) static_cast<CheckBox&>(control).UserClick();
        return 0;
      case Kind::Label:
        if (code == STN_CLICKED) static_cast<Label&>(control).Click();
        return 0;
      case Kind::ComboBox: {
        auto& combo = static_cast<ComboBox&>(control);
        if (code == CBN_SELCHANGE) {
          combo.UserSelect(static_cast<int>(::SendMessageA(peer->hwnd(), CB_GETCURSEL, 0, 0)));
        } else if (code == CBN_EDITCHANGE) {
          char text[512] = {};
          ::GetWindowTextA(peer->hwnd(), text, static_cast<int>(sizeof text));
          combo.UserEditText(text);
        }
        return 0;
      }
      default: return std::nullopt;
    }
  }

  std::optional<std::intptr_t> Colour(HDC dc, HWND child) {
    ChildPeer* peer = PeerOf(child);
    if (peer == nullptr) return std::nullopt;
    if (peer->options().highlightText) ::SetTextColor(dc, ::GetSysColor(COLOR_HIGHLIGHTTEXT));
    if (peer->kind() == Kind::Label && static_cast<Label&>(peer->control()).Transparent()) {
      ::SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<std::intptr_t>(::GetStockObject(NULL_BRUSH));
    }
    if (peer->options().highlightText) {
      ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<std::intptr_t>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    return std::nullopt;
  }

  std::optional<std::intptr_t> Draw(const DRAWITEMSTRUCT& item) {
    ChildPeer* peer = PeerOf(static_cast<int>(item.CtlID));
    if (peer == nullptr || peer->kind() != Kind::Picture) return std::nullopt;
    RECT rect;
    ::GetWindowRect(item.hwndItem, &rect);
    ::MapWindowPoints(nullptr, form_, reinterpret_cast<POINT*>(&rect), 2);
    // The background first, so that a picture smaller than its control sits on it.
    DrawBackgroundUnder(item.hDC, rect);
    const auto& image = static_cast<Image&>(peer->control());
    if (image.Picture()) {
      const Bitmap& bitmap = *image.Picture();
      int width = image.Stretch() ? rect.right - rect.left : bitmap.width;
      int height = image.Stretch() ? rect.bottom - rect.top : bitmap.height;
      DrawBitmap(item.hDC, bitmap, 0, 0, width, height);
    }
    return TRUE;
  }

  HWND form_;
  FontHandle font_;
  std::string fontName_;
  std::vector<FontHandle> fonts_;
  Image* background_ = nullptr;
  std::map<int, std::unique_ptr<ChildPeer>> peers_;
};

void ChildPeer::RepaintBehind() {
  if (hwnd_ == nullptr) return;
  RECT rect;
  ::GetWindowRect(hwnd_, &rect);
  ::MapWindowPoints(nullptr, owner_.form(), reinterpret_cast<POINT*>(&rect), 2);
  ::InvalidateRect(owner_.form(), &rect, TRUE);
  ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void ChildPeer::PropertyChanged(const Component&, Property property) {
  if (hwnd_ == nullptr) {
    // The background picture: the whole form repaints.
    if (property == Property::Picture) ::InvalidateRect(owner_.form(), nullptr, TRUE);
    return;
  }
  switch (property) {
    case Property::Visible:
      ::ShowWindow(hwnd_, control_.Visible() ? SW_SHOWNA : SW_HIDE);
      RepaintBehind();
      break;
    case Property::Enabled: ::EnableWindow(hwnd_, control_.Enabled() ? TRUE : FALSE); break;
    case Property::Caption:
      if (kind_ == Kind::Label) SetText(static_cast<Label&>(control_).Caption());
      if (kind_ == Kind::Button) SetText(static_cast<Button&>(control_).Caption());
      break;
    case Property::Text:
      if (kind_ == Kind::Edit) ::SetWindowTextA(hwnd_, static_cast<Edit&>(control_).Text().c_str());
      if (kind_ == Kind::ComboBox) ::SetWindowTextA(hwnd_, static_cast<ComboBox&>(control_).Text().c_str());
      break;
    case Property::Items:
      if (kind_ == Kind::FileList) ShowNames();
      if (kind_ == Kind::ComboBox) {
        auto& combo = static_cast<ComboBox&>(control_);
        ::SendMessageA(hwnd_, CB_RESETCONTENT, 0, 0);
        for (const std::string& item : combo.Items()) {
          ::SendMessageA(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        }
        ::SendMessageA(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(combo.ItemIndex()), 0);
      }
      break;
    case Property::ItemIndex:
      if (kind_ == Kind::ComboBox) {
        auto& combo = static_cast<ComboBox&>(control_);
        // CB_SETCURSEL sends no notification, as a selection from code must not.
        ::SendMessageA(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(combo.ItemIndex()), 0);
        if (combo.ItemIndex() < 0) ::SetWindowTextA(hwnd_, combo.Text().c_str());
      }
      break;
    case Property::Checked:
      if (kind_ == Kind::CheckBox) {
        ::SendMessageA(hwnd_, BM_SETCHECK, static_cast<CheckBox&>(control_).Checked() ? BST_CHECKED : BST_UNCHECKED,
                       0);
      }
      break;
    case Property::Picture: ::InvalidateRect(hwnd_, nullptr, TRUE); break;
    default: break;
  }
}

void ChildPeer::SyncAll() {
  for (Property property : {Property::Enabled, Property::Caption, Property::Text, Property::Items,
                            Property::ItemIndex, Property::Checked}) {
    PropertyChanged(control_, property);
  }
}

}  // namespace

std::unique_ptr<NativeControls> CreateNativeControls(platform::WindowHandle form, const FormParams& details) {
  return std::make_unique<Win32Controls>(static_cast<HWND>(form), details);
}

}  // namespace pw::toolkit
