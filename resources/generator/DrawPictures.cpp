// Draws the main window's pictures: the background (JPEG), the computer and
// memory-card pictures (24-bit BMP) and the tray icon (32 x 32 in 16 colours,
// and 16 to 256 pixels in 32-bit colour).
// Usage: pagewick_draw_pictures <output folder>
// Shapes are filled with 4 x 4 supersampling, so edges are smooth.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "jpeg/JpegCodec.h"
#include "platform/ByteOrder.h"

namespace {

struct Colour {
  double r = 0, g = 0, b = 0;
};

Colour Mix(Colour a, Colour b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

constexpr Colour Rgb(int r, int g, int b) { return {r / 255.0, g / 255.0, b / 255.0}; }

struct Vec {
  double x = 0, y = 0;
};

using Polygon = std::vector<Vec>;
using Paint = std::function<Colour(double x, double y)>;

class Canvas {
 public:
  Canvas(int width, int height, Colour fill) : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), fill) {}

  int width() const { return width_; }
  int height() const { return height_; }
  Colour& at(int x, int y) { return pixels_[Index(x, y)]; }
  const Colour& at(int x, int y) const { return pixels_[Index(x, y)]; }

  void FillBackground(const Paint& paint) {
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) at(x, y) = paint(x + 0.5, y + 0.5);
    }
  }

  // Even-odd fill of a polygon, covering each pixel by the share of its 16 samples inside.
  void Fill(const Polygon& shape, const Paint& paint, double opacity = 1.0) {
    double minX = width_, minY = height_, maxX = 0, maxY = 0;
    for (const Vec& p : shape) {
      minX = std::min(minX, p.x);
      minY = std::min(minY, p.y);
      maxX = std::max(maxX, p.x);
      maxY = std::max(maxY, p.y);
    }
    int x0 = std::max(0, static_cast<int>(std::floor(minX)));
    int y0 = std::max(0, static_cast<int>(std::floor(minY)));
    int x1 = std::min(width_ - 1, static_cast<int>(std::ceil(maxX)));
    int y1 = std::min(height_ - 1, static_cast<int>(std::ceil(maxY)));
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) {
        int inside = 0;
        for (int sy = 0; sy < 4; ++sy) {
          for (int sx = 0; sx < 4; ++sx) {
            if (Contains(shape, x + (sx + 0.5) / 4.0, y + (sy + 0.5) / 4.0)) ++inside;
          }
        }
        if (inside == 0) continue;
        double coverage = inside / 16.0 * opacity;
        at(x, y) = Mix(at(x, y), paint(x + 0.5, y + 0.5), coverage);
      }
    }
  }

  void Fill(const Polygon& shape, Colour colour, double opacity = 1.0) {
    Fill(shape, [colour](double, double) { return colour; }, opacity);
  }

 private:
  std::size_t Index(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x);
  }
  static bool Contains(const Polygon& shape, double x, double y) {
    bool inside = false;
    for (std::size_t i = 0, j = shape.size() - 1; i < shape.size(); j = i++) {
      const Vec& a = shape[i];
      const Vec& b = shape[j];
      if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) inside = !inside;
    }
    return inside;
  }

  int width_;
  int height_;
  std::vector<Colour> pixels_;
};

Polygon Rectangle(double cx, double cy, double w, double h, double degrees) {
  double a = degrees * std::numbers::pi / 180.0;
  double c = std::cos(a), s = std::sin(a);
  Polygon result;
  for (auto [dx, dy] : {std::pair{-w / 2, -h / 2}, {w / 2, -h / 2}, {w / 2, h / 2}, {-w / 2, h / 2}}) {
    result.push_back({cx + dx * c - dy * s, cy + dx * s + dy * c});
  }
  return result;
}

Polygon Translate(Polygon shape, double dx, double dy) {
  for (Vec& p : shape) {
    p.x += dx;
    p.y += dy;
  }
  return shape;
}

// A small landscape in the photo's own coordinates (u, v from 0 to 1).
Colour Scene(double u, double v, int kind) {
  static const std::array<Colour, 3> skies{Rgb(110, 170, 230), Rgb(250, 190, 120), Rgb(150, 200, 240)};
  static const std::array<Colour, 3> lands{Rgb(70, 140, 70), Rgb(170, 110, 70), Rgb(60, 120, 160)};
  Colour sky = Mix(skies[static_cast<std::size_t>(kind % 3)], Rgb(235, 245, 255), v * 1.4);
  double hill = 0.62 + 0.10 * std::sin(u * 5.0 + kind * 1.7) - 0.06 * std::cos(u * 11.0 + kind);
  double sunDx = u - (0.25 + 0.45 * (kind % 2)), sunDy = v - 0.25;
  if (sunDx * sunDx + sunDy * sunDy < 0.012) return Rgb(255, 230, 120);
  if (v > hill) return Mix(lands[static_cast<std::size_t>(kind % 3)], Rgb(20, 60, 30), (v - hill) * 1.8);
  return sky;
}

// A photograph with a white border and a soft shadow, tilted by degrees.
void Photograph(Canvas& canvas, double cx, double cy, double w, double h, double degrees, int kind,
                bool shadow = true) {
  if (shadow) canvas.Fill(Rectangle(cx + 3, cy + 4, w + 2, h + 2, degrees), Rgb(40, 50, 70), 0.28);
  canvas.Fill(Rectangle(cx, cy, w, h, degrees), Rgb(252, 252, 250));
  double border = std::max(2.0, w * 0.07);
  double a = degrees * std::numbers::pi / 180.0;
  double c = std::cos(a), s = std::sin(a);
  double iw = w - 2 * border, ih = h - 2 * border;
  canvas.Fill(Rectangle(cx, cy, iw, ih, degrees), [=](double x, double y) {
    double dx = x - cx, dy = y - cy;
    double lx = dx * c + dy * s, ly = -dx * s + dy * c;  // back into the photo's frame
    return Scene(lx / iw + 0.5, ly / ih + 0.5, kind);
  });
}

// A blue arrow pointing down, its tip at (cx, tipY).
void DownArrow(Canvas& canvas, double cx, double topY, double tipY, double width, bool shadow = true) {
  double shaft = width * 0.42;
  double headTop = topY + (tipY - topY) * 0.5;
  Polygon arrow{{cx - shaft / 2, topY},      {cx + shaft / 2, topY}, {cx + shaft / 2, headTop},
                {cx + width / 2, headTop},   {cx, tipY},             {cx - width / 2, headTop},
                {cx - shaft / 2, headTop}};
  if (!shadow) {
    canvas.Fill(arrow, Rgb(10, 30, 240));
    return;
  }
  canvas.Fill(Translate(arrow, 2, 3), Rgb(20, 40, 90), 0.25);
  canvas.Fill(arrow, [=](double x, double) { return Mix(Rgb(90, 160, 245), Rgb(20, 70, 190), (x - cx + width / 2) / width); });
}

void Folder(Canvas& canvas, double left, double top, double w, double h) {
  Polygon back{{left, top + 8}, {left + w * 0.35, top + 8}, {left + w * 0.42, top}, {left + w, top},
               {left + w, top + h}, {left, top + h}};
  canvas.Fill(Translate(back, 3, 4), Rgb(60, 50, 20), 0.25);
  canvas.Fill(back, Rgb(220, 170, 40));
  Polygon front{{left - 4, top + h * 0.28}, {left + w + 4, top + h * 0.28}, {left + w, top + h}, {left, top + h}};
  canvas.Fill(front, [=](double, double y) { return Mix(Rgb(255, 225, 110), Rgb(235, 180, 40), (y - top) / h); });
}

void MemoryCard(Canvas& canvas, double left, double top, double w, double h) {
  double notch = w * 0.22;
  Polygon card{{left, top}, {left + w - notch, top}, {left + w, top + notch}, {left + w, top + h}, {left, top + h}};
  canvas.Fill(Translate(card, 3, 4), Rgb(0, 0, 0), 0.3);
  canvas.Fill(card, [=](double x, double y) {
    return Mix(Rgb(70, 75, 90), Rgb(25, 28, 36), ((x - left) / w + (y - top) / h) / 2);
  });
  for (int i = 0; i < 5; ++i) {
    double cx = left + w * 0.14 + i * w * 0.14;
    canvas.Fill(Rectangle(cx, top + h * 0.12, w * 0.08, h * 0.12, 0), Rgb(215, 175, 60));
  }
  canvas.Fill(Rectangle(left + w / 2, top + h * 0.62, w * 0.7, h * 0.3, 0), Rgb(200, 205, 215));
  canvas.Fill(Rectangle(left + w / 2, top + h * 0.62, w * 0.6, h * 0.05, 0), Rgb(200, 60, 60));
}

Canvas DrawBackground() {
  Canvas canvas(535, 295, {});
  canvas.FillBackground([](double x, double y) {
    double t = (x / 535.0) * 0.75 + (y / 295.0) * 0.25;
    return Mix(Rgb(178, 208, 240), Rgb(255, 255, 255), t);
  });
  Photograph(canvas, 50, 62, 78, 58, -11, 0);
  Photograph(canvas, 44, 150, 74, 56, 8, 1);
  Photograph(canvas, 54, 236, 80, 60, -5, 2);
  return canvas;
}

Canvas DrawComputerPicture() {
  Canvas canvas(147, 207, Rgb(255, 255, 255));
  DownArrow(canvas, 73, 6, 92, 64);
  Folder(canvas, 16, 96, 116, 92);
  Photograph(canvas, 54, 156, 58, 44, -9, 0);
  Photograph(canvas, 96, 162, 56, 42, 7, 1);
  return canvas;
}

Canvas DrawMemoryCardPicture() {
  Canvas canvas(129, 209, Rgb(255, 255, 255));
  DownArrow(canvas, 64, 6, 88, 60);
  MemoryCard(canvas, 24, 94, 82, 106);
  Photograph(canvas, 36, 170, 50, 38, -10, 2);
  Photograph(canvas, 92, 176, 50, 38, 8, 0);
  return canvas;
}

// The icon on a given ground at a given size (the design is 32 pixels);
// drawn on black and on white, the two tell which pixels the shapes cover.
Canvas DrawTrayIcon(Colour ground, int size = 32) {
  Canvas canvas(size, size, ground);
  const double k = size / 32.0;
  Photograph(canvas, 13 * k, 20 * k, 24 * k, 18 * k, -8, 0, false);
  DownArrow(canvas, 23 * k, 1 * k, 18 * k, 15 * k, false);
  return canvas;
}

// The sizes of the icon's 32-bit images: the small icon and the large one at
// 100% to 200% scaling, and Explorer's views up to 256.
constexpr std::array<int, 8> kIconSizes{16, 20, 24, 32, 40, 48, 64, 256};

std::uint8_t Byte(double v) { return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); }

// Little-endian fields appended to a file image.
void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.resize(out.size() + 2);
  pw::platform::PutLe16(&out[out.size() - 2], static_cast<std::uint16_t>(v));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.resize(out.size() + 4);
  pw::platform::PutLe32(&out[out.size() - 4], v);
}

void BitmapInfoHeader(std::vector<std::uint8_t>& out, int width, int height, int bits, int colours) {
  Put32(out, 40);
  Put32(out, static_cast<std::uint32_t>(width));
  Put32(out, static_cast<std::uint32_t>(height));
  Put16(out, 1);
  Put16(out, static_cast<std::uint32_t>(bits));
  Put32(out, 0);  // BI_RGB
  Put32(out, 0);
  Put32(out, 2835);  // 72 dpi
  Put32(out, 2835);
  Put32(out, static_cast<std::uint32_t>(colours));
  Put32(out, 0);
}

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteBmp(const Canvas& canvas, const std::filesystem::path& path) {
  int stride = (canvas.width() * 3 + 3) & ~3;
  std::uint32_t imageSize = static_cast<std::uint32_t>(stride * canvas.height());
  std::vector<std::uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  Put32(out, 14 + 40 + imageSize);
  Put32(out, 0);
  Put32(out, 14 + 40);
  BitmapInfoHeader(out, canvas.width(), canvas.height(), 24, 0);
  for (int y = canvas.height() - 1; y >= 0; --y) {
    std::size_t rowStart = out.size();
    for (int x = 0; x < canvas.width(); ++x) {
      const Colour& c = canvas.at(x, y);
      out.push_back(Byte(c.b));
      out.push_back(Byte(c.g));
      out.push_back(Byte(c.r));
    }
    while (out.size() - rowStart < static_cast<std::size_t>(stride)) out.push_back(0);
  }
  WriteFile(path, out);
}

void WriteJpeg(const Canvas& canvas, const std::filesystem::path& path) {
  std::vector<JSAMPLE> row(static_cast<std::size_t>(canvas.width()) * 3);
  const auto write = [&](jpeg_compress_struct& cinfo) {
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
      int y = static_cast<int>(cinfo.next_scanline);
      for (int x = 0; x < canvas.width(); ++x) {
        const Colour& c = canvas.at(x, y);
        const auto at = static_cast<std::size_t>(x) * 3;
        row[at] = Byte(c.r);
        row[at + 1] = Byte(c.g);
        row[at + 2] = Byte(c.b);
      }
      JSAMPROW rows[1] = {row.data()};
      jpeg_write_scanlines(&cinfo, rows, 1);
    }
    return true;
  };
  const auto bytes = pw::jpeg::Compress(
      {static_cast<std::uint32_t>(canvas.width()), static_cast<std::uint32_t>(canvas.height())}, write);
  if (!bytes) throw std::runtime_error("libjpeg could not encode " + path.string());
  WriteFile(path, *bytes);
}

// The 16 colours of the standard VGA palette.
constexpr std::array<Colour, 16> kPalette{
    Rgb(0, 0, 0),       Rgb(128, 0, 0),   Rgb(0, 128, 0),   Rgb(128, 128, 0), Rgb(0, 0, 128),   Rgb(128, 0, 128),
    Rgb(0, 128, 128),   Rgb(192, 192, 192), Rgb(128, 128, 128), Rgb(255, 0, 0), Rgb(0, 255, 0), Rgb(255, 255, 0),
    Rgb(0, 0, 255),     Rgb(255, 0, 255), Rgb(0, 255, 255), Rgb(255, 255, 255)};

int Nearest(Colour c) {
  int best = 0;
  double bestDistance = 1e9;
  for (int i = 0; i < 16; ++i) {
    const Colour& entry = kPalette[static_cast<std::size_t>(i)];
    double dr = c.r - entry.r, dg = c.g - entry.g, db = c.b - entry.b;
    double distance = dr * dr * 0.3 + dg * dg * 0.59 + db * db * 0.11;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return best;
}

// The design's 32 x 32 image in 16 colours with its AND mask.
std::vector<std::uint8_t> SixteenColourIconImage(const Canvas& onBlack, const Canvas& onWhite) {
  const int size = 32;
  // Coverage is 1 minus the difference the ground makes; half covered counts as shown.
  auto transparent = [&](int x, int y) {
    const Colour& b = onBlack.at(x, y);
    const Colour& w = onWhite.at(x, y);
    double coverage = 1.0 - ((w.r - b.r) + (w.g - b.g) + (w.b - b.b)) / 3.0;
    return coverage < 0.5;
  };
  auto colour = [&](int x, int y) { return Nearest(onWhite.at(x, y)); };
  std::vector<std::uint8_t> image;
  BitmapInfoHeader(image, size, size * 2, 4, 16);  // height counts colour and mask rows
  for (const Colour& c : kPalette) {
    image.push_back(Byte(c.b));
    image.push_back(Byte(c.g));
    image.push_back(Byte(c.r));
    image.push_back(0);
  }
  for (int y = size - 1; y >= 0; --y) {  // 4 bits per pixel, 16 bytes a row
    for (int x = 0; x < size; x += 2) {
      int hi = transparent(x, y) ? 0 : colour(x, y);
      int lo = transparent(x + 1, y) ? 0 : colour(x + 1, y);
      image.push_back(static_cast<std::uint8_t>((hi << 4) | lo));
    }
  }
  for (int y = size - 1; y >= 0; --y) {  // the AND mask: 1 marks a transparent pixel
    for (int x = 0; x < size; x += 8) {
      std::uint8_t bits = 0;
      for (int b = 0; b < 8; ++b) {
        if (transparent(x + b, y)) bits |= static_cast<std::uint8_t>(0x80 >> b);
      }
      image.push_back(bits);
    }
  }
  return image;
}

// A 32-bit image (blue, green, red, alpha) with its AND mask: the colour is
// what the shapes show on black divided by their coverage.
std::vector<std::uint8_t> TrueColourIconImage(const Canvas& onBlack, const Canvas& onWhite) {
  const int size = onBlack.width();
  std::vector<std::uint8_t> image;
  BitmapInfoHeader(image, size, size * 2, 32, 0);
  for (int y = size - 1; y >= 0; --y) {
    for (int x = 0; x < size; ++x) {
      const Colour& b = onBlack.at(x, y);
      const Colour& w = onWhite.at(x, y);
      const double alpha = std::clamp(1.0 - ((w.r - b.r) + (w.g - b.g) + (w.b - b.b)) / 3.0, 0.0, 1.0);
      const auto channel = [&](double premultiplied) { return alpha > 0 ? premultiplied / alpha : 0.0; };
      image.push_back(Byte(channel(b.b)));
      image.push_back(Byte(channel(b.g)));
      image.push_back(Byte(channel(b.r)));
      image.push_back(Byte(alpha));
    }
  }
  const int maskStride = ((size + 31) / 32) * 4;
  for (int y = size - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(maskStride), 0);
    for (int x = 0; x < size; ++x) {
      const Colour& b = onBlack.at(x, y);
      const Colour& w = onWhite.at(x, y);
      if ((w.r - b.r) + (w.g - b.g) + (w.b - b.b) > 1.5) row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
    image.insert(image.end(), row.begin(), row.end());
  }
  return image;
}

// The icon file: the design's 16-colour image first, then one 32-bit image
// per size.
void WriteIco(const std::filesystem::path& path) {
  struct Entry {
    int size;
    int colours;
    int bits;
    std::vector<std::uint8_t> image;
  };
  std::vector<Entry> entries;
  entries.push_back({32, 16, 4, SixteenColourIconImage(DrawTrayIcon(Rgb(0, 0, 0)), DrawTrayIcon(Rgb(255, 255, 255)))});
  for (int size : kIconSizes) {
    entries.push_back(
        {size, 0, 32, TrueColourIconImage(DrawTrayIcon(Rgb(0, 0, 0), size), DrawTrayIcon(Rgb(255, 255, 255), size))});
  }
  std::vector<std::uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, static_cast<std::uint32_t>(entries.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * entries.size());
  for (const Entry& entry : entries) {
    out.push_back(static_cast<std::uint8_t>(entry.size == 256 ? 0 : entry.size));
    out.push_back(static_cast<std::uint8_t>(entry.size == 256 ? 0 : entry.size));
    out.push_back(static_cast<std::uint8_t>(entry.colours));
    out.push_back(0);
    Put16(out, 1);
    Put16(out, static_cast<std::uint32_t>(entry.bits));
    Put32(out, static_cast<std::uint32_t>(entry.image.size()));
    Put32(out, offset);
    offset += static_cast<std::uint32_t>(entry.image.size());
  }
  for (const Entry& entry : entries) out.insert(out.end(), entry.image.begin(), entry.image.end());
  WriteFile(path, out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: pagewick_draw_pictures <output folder>\n";
    return 2;
  }
  try {
    std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    WriteJpeg(DrawBackground(), folder / "Background.jpg");
    WriteBmp(DrawComputerPicture(), folder / "Computer.bmp");
    WriteBmp(DrawMemoryCardPicture(), folder / "MemoryCard.bmp");
    WriteIco(folder / "TrayIcon.ico");
  } catch (const std::exception& e) {
    std::cerr << "pagewick_draw_pictures: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
