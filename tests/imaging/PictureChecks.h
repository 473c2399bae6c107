#pragma once
// Checks on decoded sample pictures (the coloured cell grid of JpegSamples.h).
#include <gtest/gtest.h>

#include <cstdint>

#include "tests/imaging/JpegSamples.h"

namespace pw::test {

// The picture has the given size and every cell's centre shows the cell's own colour.
inline void ExpectCellsUpright(const Picture& picture, std::uint32_t width, std::uint32_t height, int channels) {
  ASSERT_EQ(picture.width, width);
  ASSERT_EQ(picture.height, height);
  ASSERT_EQ(picture.channels, channels);
  for (std::uint32_t cy = 0; cy < height / kCell; ++cy) {
    for (std::uint32_t cx = 0; cx < width / kCell; ++cx) {
      const auto want = CellColour(cx, cy, channels);
      const std::uint8_t* got = picture.At(cx * kCell + kCell / 2, cy * kCell + kCell / 2);
      for (int c = 0; c < channels; ++c) {
        ASSERT_NEAR(got[c], want[static_cast<std::size_t>(c)], 10) << "cell " << cx << "," << cy << " channel " << c;
      }
    }
  }
}

}  // namespace pw::test
