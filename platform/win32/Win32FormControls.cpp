#include <algorithm>
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
constexpr int kDesignDpi = 96;

// The DPI of the window's monitor where the system knows it per window
// (GetDpiForWindow, Windows 10 1607 and later), else the screen's.
int WindowDpi(HWND window) {
  using DpiForWindowFunction = UINT(WINAPI*)(HWND);
  const auto dpiForWindow = reinterpret_cast<DpiForWindowFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
  if (dpiForWindow != nullptr) {
    if (const UINT dpi = dpiForWindow(window); dpi != 0) return static_cast<int>(dpi);
  }
  HDC screen = ::GetDC(nullptr);
  const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : kDesignDpi;
  if (screen != nullptr) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kDesignDpi;
}

// The outer size of a window of this style around a client area at a DPI
// (AdjustWindowRectExForDpi where the system has it).
SIZE OuterSize(HWND window, int width, int height, int dpi) {
  RECT rect{0, 0, width, height};
  const auto style = static_cast<DWORD>(::GetWindowLongA(window, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(::GetWindowLongA(window, GWL_EXSTYLE));
  using AdjustForDpiFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  const auto adjustForDpi = reinterpret_cast<AdjustForDpiFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("user32.dll"), "AdjustWindowRectExForDpi")));
  if (adjustForDpi == nullptr || !adjustForDpi(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi))) {
    ::AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  }
  return {rect.right - rect.left, rect.bottom - rect.top};
}

// A picture prepared for one size, kept until the picture or the size changes.
struct ScaledPicture {
  const Bitmap* source = nullptr;
  int width = 0;
  int height = 0;
  Bitmap bitmap;

  const Bitmap& For(const Bitmap& picture, int targetWidth, int targetHeight) {
    if (source != &picture || width != targetWidth || height != targetHeight) {
      source = &picture;
      width = targetWidth;
      height = targetHeight;
      bitmap = picture.width == targetWidth && picture.height == targetHeight
                   ? picture
                   : Resample(picture, targetWidth, targetHeight);
    }
    return bitmap;
  }
};

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
  // The control's own font (a height of its own), scaled with the window.
  FontHandle font;
  ScaledPicture scaled;

 private:
  void SetText(const std::string& text) {
    ::SetWindowTextA(hwnd_, text.c_str());
    RepaintBehind();
  }
  // A transparent label or a check box shows the form's background: repaint that first.
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
  Win32Controls(HWND form, const FormParams& details)
      : form_(form), dpi_(WindowDpi(form)), fontName_(details.fontName), fontHeight_(details.fontHeight),
        client_(details.client) {
    font_ = MakeFont(fontName_, Scale(fontHeight_));
    ::SendMessageA(form_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    // The design is for 96 DPI: the client area grows with the window's DPI.
    if (dpi_ != kDesignDpi) {
      const SIZE outer = OuterSize(form_, Scale(client_.width), Scale(client_.height), dpi_);
      ::SetWindowPos(form_, nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
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
    const Bounds b = Scaled(control.GetBounds());
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
        style |= static_cast<DWORD>(static_cast<Button&>(control).Default() ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        break;
      case Kind::CheckBox:
        windowClass = "BUTTON";
        style |= BS_CHECKBOX | BS_MULTILINE | BS_VCENTER;
        break;
      case Kind::Edit:
        windowClass = "EDIT";
        style |= ES_AUTOHSCROLL | static_cast<DWORD>(static_cast<Edit&>(control).ReadOnly() ? ES_READONLY : 0);
        break;
      case Kind::ComboBox:
        windowClass = "COMBOBOX";
        style |= WS_VSCROLL | static_cast<DWORD>(static_cast<ComboBox&>(control).ListOnly()
                                                     ? CBS_DROPDOWNLIST
                                                     : CBS_DROPDOWN | CBS_AUTOHSCROLL);
        height = b.height + Scale(kComboDropHeight);  // the dropped-down list belongs to the window's height
        break;
      case Kind::FileList:
        windowClass = "LISTBOX";
        style |= LBS_NOINTEGRALHEIGHT | WS_VSCROLL;
        break;
    }
    // Each tab stop is a group of its own, so the arrow keys stay in the control.
    if (control.TabOrder() >= 0) style |= WS_TABSTOP | WS_GROUP;
    int id = kFirstId + static_cast<int>(peers_.size());
    HWND child = ::CreateWindowExA(0, windowClass, "", style, b.left, b.top, b.width, height, form_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleA(nullptr),
                                   nullptr);
    if (child == nullptr) return;  // the model goes on without a native control
    auto peer = std::make_unique<ChildPeer>(*this, control, kind, child, options);
    ApplyFont(*peer, FALSE);
    peer->SyncAll();
    peers_[id] = std::move(peer);
  }

  void PlaceAfter(Control& control, const Control* after) override {
    const ChildPeer* peer = PeerOf(&control);
    if (peer == nullptr || peer->hwnd() == nullptr) return;
    const ChildPeer* previous = after != nullptr ? PeerOf(after) : nullptr;
    HWND insertAfter = previous != nullptr && previous->hwnd() != nullptr ? previous->hwnd() : HWND_TOP;
    ::SetWindowPos(peer->hwnd(), insertAfter, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }

  std::optional<std::intptr_t> HandleMessage(std::uint32_t message, std::uintptr_t wParam,
                                             std::intptr_t lParam) override {
    switch (message) {
      case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
          HWND focus = ::GetFocus();
          if (focus != nullptr && ::IsChild(form_, focus)) lastFocus_ = focus;
          return std::nullopt;
        }
        if (HIWORD(wParam) != 0) return std::nullopt;  // minimized
        FocusOnActivation();
        return 0;
      case DM_GETDEFID: return DefaultId();
      case WM_NEXTDLGCTL: {
        // The dialog manager moves the focus so for a label's access key: to
        // the label, then on to the next tab stop after it.
        HWND target = LOWORD(lParam) != 0 ? reinterpret_cast<HWND>(wParam)
                                          : ::GetNextDlgTabItem(form_, ::GetFocus(), wParam != 0 ? TRUE : FALSE);
        if (target != nullptr) ::SetFocus(target);
        return 0;
      }
      case WM_ERASEBKGND:
        if (const Bitmap* ground = Background()) {
          HDC dc = reinterpret_cast<HDC>(wParam);
          DrawBitmap(dc, *ground, 0, 0, ground->width, ground->height);
          return 1;
        }
        return std::nullopt;
      case WM_DPICHANGED: {
        // The window moved to a monitor of another scaling (or the scaling
        // changed): the suggested rectangle, and the design at the new DPI.
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        dpi_ = HIWORD(wParam) != 0 ? HIWORD(wParam) : kDesignDpi;
        Rescale();
        if (suggested != nullptr) {
          ::SetWindowPos(form_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        }
        return 0;
      }
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
  void DrawBackgroundUnder(HDC dc, const RECT& childRect) {
    const Bitmap* ground = Background();
    if (ground == nullptr) {
      RECT local{0, 0, childRect.right - childRect.left, childRect.bottom - childRect.top};
      ::FillRect(dc, &local, ::GetSysColorBrush(COLOR_BTNFACE));
      return;
    }
    DrawBitmap(dc, *ground, -childRect.left, -childRect.top, ground->width, ground->height);
  }

  int Scale(int designSize) const { return ::MulDiv(designSize, dpi_, kDesignDpi); }

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

  ChildPeer* PeerOf(const Control* control) const {
    for (const auto& [id, peer] : peers_) {
      if (&peer->control() == control) return peer.get();
    }
    return nullptr;
  }

  template <typename Predicate>
  const ChildPeer* ButtonWhere(Predicate predicate) const {
    for (const auto& [id, peer] : peers_) {
      if (peer->kind() != Kind::Button) continue;
      if (predicate(static_cast<const Button&>(peer->control()))) return peer.get();
    }
    return nullptr;
  }

  // DM_GETDEFID: Enter clicks the focused push button, else the default one.
  std::intptr_t DefaultId() const {
    const ChildPeer* target = PeerOf(::GetFocus());
    if (target == nullptr || target->kind() != Kind::Button) {
      target = ButtonWhere([](const Button& b) { return b.Default(); });
    }
    if (target == nullptr) return 0;
    return static_cast<std::intptr_t>(MAKELONG(::GetDlgCtrlID(target->hwnd()), DC_HASDEFID));
  }

  // The control that had the focus when the window was deactivated, or the
  // first tab stop that can take it; focus rectangles are shown from the start.
  void FocusOnActivation() {
    HWND target = lastFocus_ != nullptr && ::IsWindow(lastFocus_) && ::IsWindowVisible(lastFocus_) &&
                          ::IsWindowEnabled(lastFocus_)
                      ? lastFocus_
                      : nullptr;
    for (HWND child = ::GetWindow(form_, GW_CHILD); target == nullptr && child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
      const auto childStyle = static_cast<DWORD>(::GetWindowLongA(child, GWL_STYLE));
      if ((childStyle & WS_TABSTOP) != 0 && (childStyle & WS_VISIBLE) != 0 && (childStyle & WS_DISABLED) == 0) {
        target = child;
      }
    }
    if (target != nullptr) ::SetFocus(target);
    ::SendMessageA(form_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL), 0);
  }

  ChildPeer* PeerOf(HWND hwnd) const {
    for (const auto& [id, peer] : peers_) {
      if (peer->hwnd() == hwnd) return peer.get();
    }
    return nullptr;
  }

  // The user's actions reach the model, which decides and tells the peers.
  std::optional<std::intptr_t> Command(int id, int code) {
    // The dialog manager's Enter without a default button, and Esc.
    if (id == IDOK || id == IDCANCEL) {
      const ChildPeer* button = id == IDOK ? ButtonWhere([](const Button& b) { return b.Default(); })
                                           : ButtonWhere([](const Button& b) { return b.Cancel(); });
      if (button == nullptr) return std::nullopt;
      static_cast<Button&>(button->control()).Click();
      return 0;
    }
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

  // Labels and check boxes write in the system's window-text colour on the
  // form's background, which shows through them.
  std::optional<std::intptr_t> Colour(HDC dc, HWND child) {
    ChildPeer* peer = PeerOf(child);
    if (peer == nullptr) return std::nullopt;
    if (peer->kind() != Kind::Label && peer->kind() != Kind::CheckBox) return std::nullopt;
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    if (peer->kind() == Kind::CheckBox || static_cast<Label&>(peer->control()).Transparent()) {
      ::SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<std::intptr_t>(::GetStockObject(NULL_BRUSH));
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
      // Stretched over the control, or at its own size scaled by the DPI;
      // resampled smoothly either way.
      int width = image.Stretch() ? rect.right - rect.left : Scale(bitmap.width);
      int height = image.Stretch() ? rect.bottom - rect.top : Scale(bitmap.height);
      const Bitmap& shown = peer->scaled.For(bitmap, width, height);
      DrawBitmap(item.hDC, shown, 0, 0, shown.width, shown.height);
    }
    return TRUE;
  }

  Bounds Scaled(const Bounds& b) const { return {Scale(b.left), Scale(b.top), Scale(b.width), Scale(b.height)}; }

  void ApplyFont(ChildPeer& peer, BOOL redraw) {
    HFONT font = font_.get();
    if (peer.options().fontHeight != 0) {
      peer.font = MakeFont(fontName_, Scale(peer.options().fontHeight));
      font = peer.font.get();
    }
    ::SendMessageA(peer.hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
    if (peer.kind() == Kind::ComboBox && peer.options().itemHeight > 0) {
      ::SendMessageA(peer.hwnd(), CB_SETITEMHEIGHT, 0, Scale(peer.options().itemHeight));
    }
  }

  // Fonts, places and sizes of the controls at the current DPI.
  void Rescale() {
    font_ = MakeFont(fontName_, Scale(fontHeight_));
    ::SendMessageA(form_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    for (const auto& [id, peer] : peers_) {
      if (peer->hwnd() == nullptr) continue;
      const Bounds b = Scaled(peer->control().GetBounds());
      const int height = peer->kind() == Kind::ComboBox ? b.height + Scale(kComboDropHeight) : b.height;
      ::SetWindowPos(peer->hwnd(), nullptr, b.left, b.top, b.width, height, SWP_NOZORDER | SWP_NOACTIVATE);
      ApplyFont(*peer, TRUE);
    }
    ::InvalidateRect(form_, nullptr, TRUE);
  }

  // The background picture over the client area at its own aspect: as wide
  // as the client area, and where it ends above the bottom, its last row
  // carries on down (the design's gradient runs across).
  const Bitmap* Background() {
    if (background_ == nullptr || !background_->Picture()) return nullptr;
    const Bitmap& picture = *background_->Picture();
    RECT client;
    ::GetClientRect(form_, &client);
    const int width = client.right;
    const int height = client.bottom;
    if (width <= 0 || height <= 0 || picture.width <= 0) return nullptr;
    if (groundSource_ != &picture || ground_.width != width || ground_.height != height) {
      const int pictureHeight = std::max(1, ::MulDiv(picture.height, width, picture.width));
      const Bitmap scaled = Resample(picture, width, pictureHeight);
      ground_.width = width;
      ground_.height = height;
      const auto row = static_cast<std::size_t>(width) * 3;
      ground_.pixels.resize(row * static_cast<std::size_t>(height));
      for (int y = 0; y < height; ++y) {
        const auto from = static_cast<std::size_t>(std::min(y, pictureHeight - 1)) * row;
        std::copy_n(scaled.pixels.begin() + static_cast<std::ptrdiff_t>(from), row,
                    ground_.pixels.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(y) * row));
      }
      groundSource_ = &picture;
    }
    return &ground_;
  }

  HWND form_;
  int dpi_;
  std::string fontName_;
  int fontHeight_;
  platform::Size client_;
  FontHandle font_;
  Image* background_ = nullptr;
  const Bitmap* groundSource_ = nullptr;
  Bitmap ground_;
  std::map<int, std::unique_ptr<ChildPeer>> peers_;
  HWND lastFocus_ = nullptr;
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
    case Property::Enabled:
      ::EnableWindow(hwnd_, control_.Enabled() ? TRUE : FALSE);
      // A check box draws on the background without erasing: its caption in
      // the other state must not land on the old one.
      if (kind_ == Kind::CheckBox) RepaintBehind();
      break;
    case Property::Caption:
      if (kind_ == Kind::Label) SetText(static_cast<Label&>(control_).Caption());
      if (kind_ == Kind::Button) SetText(static_cast<Button&>(control_).Caption());
      if (kind_ == Kind::CheckBox) SetText(static_cast<CheckBox&>(control_).Caption());
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
