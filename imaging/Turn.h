// Turning a picture's data: DCT blocks of one component, or pixels.
#pragma once

#include <cstdint>

#include "imaging/Decoder.h"
#include "imaging/Orientation.h"

namespace pw::imaging {

// Writes one component of the decoder's blocks, turned, into out: rows of
// blocks of the upright grid. sourceWidth x sourceHeight blocks of the stored
// grid are used (fewer than it has where a partial edge iMCU is dropped).
// False when a block holds coefficients outside the 8-bit JPEG range (a
// corrupt scan), which cannot be written.
bool TurnBlocks(const Decoder& decoder, int component, const Turn& turn, std::uint32_t sourceWidth,
                std::uint32_t sourceHeight, JBLOCKROW* out);

// Turns width x height pixels of channels samples each (1, 3 or 4) into out.
void TurnPixels(const std::uint8_t* source, std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                const Turn& turn, std::uint8_t* out);

}  // namespace pw::imaging
