#include "imaging/Turn.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace pw::imaging {
namespace {

// Both loops read their source in its own order, so memory streams in, and
// write in tiles of kTile x kTile, so the rows written stay few at a time.
constexpr std::uint32_t kTile = 16;

// One block turned: transposing swaps the horizontal and vertical
// frequencies; mirroring an axis negates the odd frequencies along it. The
// turn is a template argument, so the map is a constant table and the loop
// unrolls into plain moves.
template <bool Transpose, bool MirrorX, bool MirrorY>
struct BlockTurn {
  struct Map {
    std::array<std::uint8_t, kBlockSize> source{};
    std::array<bool, kBlockSize> negate{};
  };
  static constexpr Map kMap = [] {
    Map map;
    for (int row = 0; row < 8; ++row) {
      for (int col = 0; col < 8; ++col) {
        const int sourceRow = Transpose ? col : row;
        const int sourceCol = Transpose ? row : col;
        const auto k = static_cast<std::size_t>(row * 8 + col);
        map.source[k] = static_cast<std::uint8_t>(sourceRow * 8 + sourceCol);
        map.negate[k] = (MirrorX && sourceCol % 2 == 1) != (MirrorY && sourceRow % 2 == 1);
      }
    }
    return map;
  }();

  static void Apply(const JCOEF* in, JCOEF* out) {
#pragma GCC unroll 64
    for (std::size_t k = 0; k < kBlockSize; ++k) {
      const JCOEF value = in[kMap.source[k]];
      out[k] = static_cast<JCOEF>(kMap.negate[k] ? -value : value);
    }
  }
};

// The quantised coefficients an 8-bit JPEG can hold: DC values in 11 bits
// (so the difference of any two fits the DC code's 11 magnitude bits, in
// whatever order the turn puts the blocks) and AC values in 10 bits. A corrupt
// scan may decode to more, which libjpeg's Huffman coder would write as
// undecodable data.
constexpr int kMinDc = -1024;
constexpr int kMaxDc = 1023;
constexpr int kMaxAc = 1023;

bool BlockFits(const JCOEF* block) {
  // The extremes first, which vectorises; the exact rule only near the bounds.
  int lowest = 0;
  int highest = 0;
  for (std::size_t k = 0; k < kBlockSize; ++k) {
    lowest = std::min<int>(lowest, block[k]);
    highest = std::max<int>(highest, block[k]);
  }
  if (lowest >= -kMaxAc && highest <= kMaxAc) return true;
  bool fits = block[0] >= kMinDc && block[0] <= kMaxDc;
  for (std::size_t k = 1; k < kBlockSize; ++k) fits = fits && block[k] >= -kMaxAc && block[k] <= kMaxAc;
  return fits;
}

template <bool Transpose, bool MirrorX, bool MirrorY>
bool TurnBlocksAs(const Decoder& decoder, int component, std::uint32_t sourceWidth, std::uint32_t sourceHeight,
                  JBLOCKROW* out) {
  bool fits = true;
  for (std::uint32_t tileY = 0; tileY < sourceHeight; tileY += kTile) {
    for (std::uint32_t tileX = 0; tileX < sourceWidth; tileX += kTile) {
      const std::uint32_t endY = std::min(tileY + kTile, sourceHeight);
      const std::uint32_t endX = std::min(tileX + kTile, sourceWidth);
      for (std::uint32_t sourceY = tileY; sourceY < endY; ++sourceY) {
        const JBLOCKROW row = decoder.BlockRow(component, sourceY);
        const std::uint32_t v = MirrorY ? sourceHeight - 1 - sourceY : sourceY;
        for (std::uint32_t sourceX = tileX; sourceX < endX; ++sourceX) {
          const std::uint32_t u = MirrorX ? sourceWidth - 1 - sourceX : sourceX;
          fits &= BlockFits(row[sourceX]);
          BlockTurn<Transpose, MirrorX, MirrorY>::Apply(row[sourceX], out[Transpose ? u : v][Transpose ? v : u]);
        }
      }
    }
  }
  return fits;
}

template <std::size_t Channels>
void TurnPixelsAs(const std::uint8_t* source, std::uint32_t width, std::uint32_t height, const Turn& turn,
                  std::uint8_t* out) {
  const std::size_t outWidth = turn.transpose ? height : width;
  for (std::uint32_t tileY = 0; tileY < height; tileY += kTile) {
    for (std::uint32_t tileX = 0; tileX < width; tileX += kTile) {
      const std::uint32_t endY = std::min(tileY + kTile, height);
      const std::uint32_t endX = std::min(tileX + kTile, width);
      for (std::uint32_t y = tileY; y < endY; ++y) {
        const std::uint8_t* from = source + (std::size_t{y} * width + tileX) * Channels;
        const std::size_t v = turn.mirrorY ? height - 1 - y : y;
        for (std::uint32_t x = tileX; x < endX; ++x, from += Channels) {
          const std::size_t u = turn.mirrorX ? width - 1 - x : x;
          std::uint8_t* to = out + ((turn.transpose ? u : v) * outWidth + (turn.transpose ? v : u)) * Channels;
          for (std::size_t c = 0; c < Channels; ++c) to[c] = from[c];
        }
      }
    }
  }
}

}  // namespace

bool TurnBlocks(const Decoder& decoder, int component, const Turn& turn, std::uint32_t sourceWidth,
                std::uint32_t sourceHeight, JBLOCKROW* out) {
  const int kind = (turn.transpose ? 4 : 0) | (turn.mirrorX ? 2 : 0) | (turn.mirrorY ? 1 : 0);
  switch (kind) {
    case 0: return TurnBlocksAs<false, false, false>(decoder, component, sourceWidth, sourceHeight, out);
    case 1: return TurnBlocksAs<false, false, true>(decoder, component, sourceWidth, sourceHeight, out);
    case 2: return TurnBlocksAs<false, true, false>(decoder, component, sourceWidth, sourceHeight, out);
    case 3: return TurnBlocksAs<false, true, true>(decoder, component, sourceWidth, sourceHeight, out);
    case 4: return TurnBlocksAs<true, false, false>(decoder, component, sourceWidth, sourceHeight, out);
    case 5: return TurnBlocksAs<true, false, true>(decoder, component, sourceWidth, sourceHeight, out);
    case 6: return TurnBlocksAs<true, true, false>(decoder, component, sourceWidth, sourceHeight, out);
    default: return TurnBlocksAs<true, true, true>(decoder, component, sourceWidth, sourceHeight, out);
  }
}

void TurnPixels(const std::uint8_t* source, std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                const Turn& turn, std::uint8_t* out) {
  switch (channels) {
    case 1: return TurnPixelsAs<1>(source, width, height, turn, out);
    case 3: return TurnPixelsAs<3>(source, width, height, turn, out);
    default: return TurnPixelsAs<4>(source, width, height, turn, out);
  }
}

}  // namespace pw::imaging
