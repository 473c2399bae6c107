// pwimgkrn's entries for pwimgfil: the memory that records own. Blocks come
// zeroed; every block of a picture is released through the kernel, so the
// free entry works whichever module allocated them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/ImageData.h"

extern "C" {
// A zeroed block, or null when size is 0 or memory runs out.
PWIMGKRN_EXPORT void* PwKrnAllocate(std::size_t size);
PWIMGKRN_EXPORT void PwKrnRelease(void* block);
// A new, empty picture, or null.
PWIMGKRN_EXPORT pw::imaging::ImageData* PwKrnCreateImage();
// Releases the picture with every buffer it holds.
PWIMGKRN_EXPORT void PwKrnReleaseImage(pw::imaging::ImageData* image);
// Blocks allocated and not yet released, for leak checks.
PWIMGKRN_EXPORT std::int64_t PwKrnLiveBlocks();
}
