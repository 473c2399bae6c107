#pragma once
// Reading the directory of a .ico file: which images it holds and where.
#include <cstddef>
#include <optional>
#include <span>

namespace pw::platform {

struct IcoImage {
  int width = 0;
  int height = 0;
  int colours = 0;   // 0 when the entry gives none (256 or more)
  int bitCount = 0;
  std::span<const std::byte> data;  // the image's DIB (or PNG) bytes
};

// The image whose width is size, or else the first one; nullopt when the
// bytes are not an icon file or an entry points outside them.
std::optional<IcoImage> FindIcoImage(std::span<const std::byte> ico, int size);

}  // namespace pw::platform
