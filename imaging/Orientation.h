// The eight EXIF orientations as the turn that makes a picture upright.
#pragma once

#include <cstdint>

namespace pw::imaging {

// Output pixel (x, y) comes from source pixel (sx, sy):
//   (u, v) = transpose ? (y, x) : (x, y)
//   sx = mirrorX ? width - 1 - u : u,  sy = mirrorY ? height - 1 - v : v
// The same holds for DCT blocks on the block grid and, inside a block, for the
// coefficients: a transposed block swaps its frequencies, a mirrored one
// negates the odd frequencies along the mirrored axis.
struct Turn {
  bool transpose = false;
  bool mirrorX = false;
  bool mirrorY = false;

  constexpr bool IsIdentity() const { return !transpose && !mirrorX && !mirrorY; }
};

// EXIF Orientation (1 to 8) to the turn that undoes it; anything else: none.
constexpr Turn TurnForOrientation(std::uint32_t orientation) {
  switch (orientation) {
    case 2: return {false, true, false};  // mirrored left-right
    case 3: return {false, true, true};   // upside down: rotate 180
    case 4: return {false, false, true};  // mirrored top-bottom
    case 5: return {true, false, false};  // transpose
    case 6: return {true, false, true};   // rotate 90 clockwise
    case 7: return {true, true, true};    // transverse
    case 8: return {true, true, false};   // rotate 90 counter-clockwise (jpegtran -rotate 270)
    default: return {};
  }
}

}  // namespace pw::imaging
