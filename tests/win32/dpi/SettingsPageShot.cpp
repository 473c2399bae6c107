// Shows the settings page at the screen's DPI and writes its client area as
// a PNG file: settings_page_shot <out.png>. The process declares itself DPI
// aware at start, as pagewick.exe's manifest does (per monitor V2, else
// system aware), so that the page lays itself out for the DPI.
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/Messages.h"
#include "platform/win32/Win32Ui.h"
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: settings_page_shot <out.png>\n");
    return 2;
  }
  DeclareDpiAware();
  pw::platform::EnsureMessageQueue();
  pw::ui::ProcessState process;
  auto form = std::make_unique<pw::ui::TMainForm>(process, nullptr);
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
  std::printf("settings page %d x %d at %d DPI: %s\n", width, height, ::GetDeviceCaps(screen, LOGPIXELSY), argv[1]);
  ::ReleaseDC(nullptr, screen);
  form.reset();
  return 0;
}
