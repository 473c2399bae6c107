// Shows the settings page at the screen's DPI and writes its client area as
// a PNG file: settings_page_shot <out.png>. The process declares itself DPI
// aware at start, as pagewick.exe's manifest does (per monitor V2, else
// system aware), so that the page lays itself out for the DPI.
// It then measures the page on the screen: how much of the auto-rotate check
// box shows (the page against the check box drawn alone on the background),
// and the contrast of every label's and the check box's text against the
// background beneath it (the page against the background with no control).
// It also looks at the window class's icons: the program's, at the large and
// the small icon size of the screen's scaling.
// Exit code 3 when the box is covered, a text reads at less than 4.5:1, or
// an icon is missing or of another size.
#include <algorithm>
#include <array>
#include <cmath>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/Messages.h"
#include "platform/winapi/WindowsApi.h"
#include "ui/MainForm.h"
#include "ui/ProcessState.h"

namespace {

void DeclareDpiAware() {
  HMODULE user32 = ::GetModuleHandleA("user32.dll");
  using ContextFunction = BOOL(WINAPI*)(HANDLE);
  const auto setContext = reinterpret_cast<ContextFunction>(
      reinterpret_cast<void*>(::GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
  if (setContext != nullptr && setContext(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)))) return;
  ::SetProcessDPIAware();
}

std::uint32_t Crc(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0xFFFFFFFFu) {
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void Chunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& body) {
  Put32(out, static_cast<std::uint32_t>(body.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  Put32(out, Crc(out.data() + start, out.size() - start) ^ 0xFFFFFFFFu);
}

// An RGB PNG whose image data is stored without compression (deflate's
// stored blocks), which every reader takes.
std::vector<std::uint8_t> EncodePng(int width, int height, const std::vector<std::uint8_t>& rgbRows) {
  std::vector<std::uint8_t> raw;
  const auto row = static_cast<std::size_t>(width) * 3;
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // filter: none
    const auto at = rgbRows.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(y) * row);
    raw.insert(raw.end(), at, at + static_cast<std::ptrdiff_t>(row));
  }
  std::vector<std::uint8_t> zlib{0x78, 0x01};
  for (std::size_t at = 0; at < raw.size() || at == 0; at += 65535) {
    const std::size_t length = std::min<std::size_t>(65535, raw.size() - at);
    zlib.push_back(at + length >= raw.size() ? 1 : 0);
    zlib.push_back(static_cast<std::uint8_t>(length));
    zlib.push_back(static_cast<std::uint8_t>(length >> 8));
    zlib.push_back(static_cast<std::uint8_t>(~length));
    zlib.push_back(static_cast<std::uint8_t>(~length >> 8));
    zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                raw.begin() + static_cast<std::ptrdiff_t>(at + length));
    if (raw.empty()) break;
  }
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  Put32(zlib, (b << 16) | a);
  std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  Put32(header, static_cast<std::uint32_t>(width));
  Put32(header, static_cast<std::uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", zlib);
  Chunk(png, "IEND", {});
  return png;
}

// The window's client area as the screen shows it, in RGB rows top-down.
bool Capture(HWND window, int& width, int& height, std::vector<std::uint8_t>& rgb) {
  RECT client;
  if (!::GetClientRect(window, &client)) return false;
  POINT origin{0, 0};
  ::ClientToScreen(window, &origin);
  width = client.right;
  height = client.bottom;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  const BOOL copied = ::BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
  ::GdiFlush();
  rgb.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
  const auto* pixels = static_cast<const std::uint8_t*>(bits);
  for (std::size_t i = 0; i < static_cast<std::size_t>(width) * static_cast<std::size_t>(height); ++i) {
    rgb[i * 3] = pixels[i * 4 + 2];
    rgb[i * 3 + 1] = pixels[i * 4 + 1];
    rgb[i * 3 + 2] = pixels[i * 4];
  }
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return copied != FALSE;
}

void Pump(std::chrono::milliseconds period) {
  const auto end = std::chrono::steady_clock::now() + period;
  while (std::chrono::steady_clock::now() < end) {
    while (std::optional<pw::platform::Message> message = pw::platform::PeekMessage()) {
      if (!pw::platform::IsDialogMessage(*message)) pw::platform::DispatchMessage(*message);
    }
    ::Sleep(10);
  }
}

// A capture of the client area: RGB rows top-down.
struct Shot {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
  const std::uint8_t* At(int x, int y) const {
    return rgb.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
  }
};

bool Same(const std::uint8_t* a, const std::uint8_t* b) {
  constexpr int kTolerance = 8;  // the captures draw the same picture alike; a box's face differs from white
  for (int i = 0; i < 3; ++i) {
    if (std::abs(int{a[i]} - int{b[i]}) > kTolerance) return false;
  }
  return true;
}

// WCAG's relative luminance of an sRGB colour.
double Luminance(const std::uint8_t* rgb) {
  double sum = 0;
  const double weights[] = {0.2126, 0.7152, 0.0722};
  for (int i = 0; i < 3; ++i) {
    const double c = rgb[i] / 255.0;
    sum += weights[i] * (c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
  }
  return sum;
}

double Contrast(double a, double b) { return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05); }

RECT ChildRect(HWND window, HWND child) {
  RECT rect;
  ::GetWindowRect(child, &rect);
  ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::vector<HWND> Children(HWND window) {
  std::vector<HWND> children;
  for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

bool IsClass(HWND window, const char* name) {
  char buffer[32] = {};
  ::GetClassNameA(window, buffer, static_cast<int>(sizeof buffer));
  return ::lstrcmpiA(buffer, name) == 0;
}

bool IsCheckBox(HWND child) {
  const auto type = static_cast<DWORD>(::GetWindowLongA(child, GWL_STYLE)) & BS_TYPEMASK;
  return IsClass(child, "Button") && (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX);
}

// A visible control that shows a text on the page's background: a label or a check box.
bool ShowsText(HWND child) {
  if (!::IsWindowVisible(child) || ::GetWindowTextLengthA(child) == 0) return false;
  const auto style = static_cast<DWORD>(::GetWindowLongA(child, GWL_STYLE));
  return IsCheckBox(child) || (IsClass(child, "Static") && (style & SS_TYPEMASK) != SS_OWNERDRAW);
}

bool Redrawn(HWND window, Shot& shot) {
  ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Pump(std::chrono::milliseconds(400));
  return Capture(window, shot.width, shot.height, shot.rgb);
}

// The share of what the check box alone draws over the background (its box,
// its frame, its text) that the page shows. A pixel where the page without
// the box looks the same as the box alone cannot tell and is not counted.
double ShownShare(const Shot& page, const Shot& withoutBox, const Shot& alone, const Shot& ground, const RECT& box) {
  int same = 0;
  int counted = 0;
  for (int y = std::max(0, static_cast<int>(box.top)); y < std::min(page.height, static_cast<int>(box.bottom)); ++y) {
    for (int x = std::max(0, static_cast<int>(box.left)); x < std::min(page.width, static_cast<int>(box.right)); ++x) {
      if (Same(alone.At(x, y), ground.At(x, y)) || Same(alone.At(x, y), withoutBox.At(x, y))) continue;
      ++counted;
      if (Same(page.At(x, y), alone.At(x, y))) ++same;
    }
  }
  return counted == 0 ? 0.0 : static_cast<double>(same) / counted;
}

// The text's colour is the page's pixel that stands out most from the
// background beneath it; its contrast is taken against every background
// pixel under the text's rectangle, the worst counting. 0: no text drawn.
double TextContrast(const Shot& page, const Shot& ground, const RECT& area) {
  const std::uint8_t* text = nullptr;
  double farthest = 0;
  for (int y = std::max(0, static_cast<int>(area.top)); y < std::min(page.height, static_cast<int>(area.bottom)); ++y) {
    for (int x = std::max(0, static_cast<int>(area.left)); x < std::min(page.width, static_cast<int>(area.right));
         ++x) {
      if (Same(page.At(x, y), ground.At(x, y))) continue;
      const double ratio = Contrast(Luminance(page.At(x, y)), Luminance(ground.At(x, y)));
      if (text == nullptr || ratio > farthest) {
        text = page.At(x, y);
        farthest = ratio;
      }
    }
  }
  if (text == nullptr) return 0;
  const double textLuminance = Luminance(text);
  double worst = farthest;
  for (int y = std::max(0, static_cast<int>(area.top)); y < std::min(page.height, static_cast<int>(area.bottom)); ++y) {
    for (int x = std::max(0, static_cast<int>(area.left)); x < std::min(page.width, static_cast<int>(area.right));
         ++x) {
      worst = std::min(worst, Contrast(textLuminance, Luminance(ground.At(x, y))));
    }
  }
  return worst;
}

// The class's icon of this kind is there at the size of these metrics.
bool ClassIconFits(HWND window, int index, int widthMetric, const char* what) {
  const auto icon = reinterpret_cast<HICON>(::GetClassLongPtrA(window, index));
  ICONINFO info{};
  if (icon == nullptr || !::GetIconInfo(icon, &info)) {
    std::printf("%s icon: none\n", what);
    return false;
  }
  BITMAP bitmap{};
  ::GetObjectA(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  if (info.hbmColor != nullptr) ::DeleteObject(info.hbmColor);
  if (info.hbmMask != nullptr) ::DeleteObject(info.hbmMask);
  std::printf("%s icon: %ld pixels wide (the screen's size %d)\n", what, bitmap.bmWidth,
              ::GetSystemMetrics(widthMetric));
  return bitmap.bmWidth == ::GetSystemMetrics(widthMetric);
}

// Measures the page as the screen shows it now; false when the check box is
// hidden or covered, or a text reads at less than 4.5:1. Leaves the controls hidden.
bool Measure(HWND window, const Shot& page, int dpi) {
  const std::vector<HWND> children = Children(window);
  HWND box = nullptr;
  std::vector<HWND> texts;
  for (HWND child : children) {
    if (IsCheckBox(child)) box = child;
    if (ShowsText(child)) texts.push_back(child);
  }
  bool good = true;
  if (box == nullptr || !::IsWindowVisible(box)) {
    std::printf("the auto-rotate check box is not on the page\n");
    good = false;
  } else if (::GetWindowTextLengthA(box) == 0) {
    std::printf("the auto-rotate check box has no caption of its own\n");
    good = false;
  }
  Shot withoutBox;
  if (box != nullptr) {
    ::ShowWindow(box, SW_HIDE);
    if (!Redrawn(window, withoutBox)) return false;
  }
  for (HWND child : children) ::ShowWindow(child, SW_HIDE);
  Shot ground;
  if (!Redrawn(window, ground)) return false;
  if (box != nullptr) {
    ::ShowWindow(box, SW_SHOWNA);
    Shot alone;
    if (!Redrawn(window, alone)) return false;
    ::ShowWindow(box, SW_HIDE);
    const double shown = ShownShare(page, withoutBox, alone, ground, ChildRect(window, box));
    std::printf("check box: %.1f%% of it shows\n", shown * 100);
    if (shown < 0.98) good = false;
  }
  for (HWND child : texts) {
    RECT area = ChildRect(window, child);
    // A check box's text: right of the box, which is drawn in its own colours.
    if (IsCheckBox(child)) area.left += ::MulDiv(16, dpi, 96);
    char caption[128] = {};
    ::GetWindowTextA(child, caption, static_cast<int>(sizeof caption));
    const double contrast = TextContrast(page, ground, area);
    std::printf("\"%s\": contrast %.2f:1\n", caption, contrast);
    if (contrast < 4.5) good = false;
  }
  return good;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: settings_page_shot <out.png>\n");
    return 2;
  }
  DeclareDpiAware();
  pw::platform::EnsureMessageQueue();
  pw::ui::ProcessState process;
  auto form = pw::ui::TMainForm::Create(process, nullptr).value();
  process.MainForm.Set(form.get());
  form->FormCreate();
  form->Show();
  HWND window = static_cast<HWND>(form->Handle());
  // At the screen's top left, so that the page at 200% fits on the test's screen.
  ::SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::UpdateWindow(window);
  Pump(std::chrono::milliseconds(800));
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
  if (!Capture(window, width, height, rgb)) {
    std::fprintf(stderr, "settings_page_shot: the screen could not be read\n");
    return 1;
  }
  const std::vector<std::uint8_t> png = EncodePng(width, height, rgb);
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  if (!out) {
    std::fprintf(stderr, "settings_page_shot: cannot write %s\n", argv[1]);
    return 1;
  }
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  std::printf("settings page %d x %d at %d DPI: %s\n", width, height, dpi, argv[1]);
  ::ReleaseDC(nullptr, screen);
  const bool iconed = ClassIconFits(window, GCLP_HICON, SM_CXICON, "large") &
                     ClassIconFits(window, GCLP_HICONSM, SM_CXSMICON, "small");
  const bool readable = Measure(window, Shot{width, height, std::move(rgb)}, dpi) && iconed;
  form.reset();
  return readable ? 0 : 3;
}
