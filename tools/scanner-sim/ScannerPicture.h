#pragma once
// Pictures as the scanner makes them: a baseline JPEG (real pixels, encoded
// with libjpeg) that starts with an Intel-order EXIF block whose IFD0 holds
// seven entries, Orientation first, so that
//   byte 30       is the orientation value (low byte),
//   bytes 126-145 are the date-time text "YYYY:MM:DD HH:MM:SS" and its zero.
// Without EXIF the picture is a plain JFIF file, which auto-rotate must leave alone.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pw::sim {

struct PictureRecipe {
  int width = 160;
  int height = 120;
  bool exif = true;
  std::uint16_t orientation = 1;  // 1 upright; 8: turn 90 degrees counter-clockwise to stand upright
  std::string dateTime = "2024:05:17 10:20:30";  // cut or padded with blanks to 19 characters
  std::uint32_t seed = 1;  // varies the colours
  int quality = 85;
};

inline constexpr std::size_t kOrientationByte = 30;
inline constexpr std::size_t kDateTimeFirstByte = 126;
inline constexpr std::size_t kDateTimeSize = 20;

// Throws std::runtime_error when libjpeg fails or the size is not positive.
std::vector<std::byte> MakeScannerPicture(const PictureRecipe& details);

}  // namespace pw::sim
