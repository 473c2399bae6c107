#pragma once
// Reading the directory of a .ico file: which images it holds and where.
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace pw::platform {

struct IcoImage {
  int width = 0;
  int height = 0;
  int colours = 0;   // 0 when the entry gives none (256 or more)
  int bitCount = 0;
  std::span<const std::byte> data;  // the image's DIB (or PNG) bytes
};

// The images of an icon file in its order; nullopt when the bytes are not an
// icon file or an entry points outside them.
std::optional<std::vector<IcoImage>> IcoImages(std::span<const std::byte> ico);

// The image whose width is closest to size (the larger on a tie), and of
// those the one with the most colours; nullopt as for IcoImages.
std::optional<IcoImage> FindIcoImage(std::span<const std::byte> ico, int size);

}  // namespace pw::platform
