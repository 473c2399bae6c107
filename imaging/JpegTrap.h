// libjpeg's errors caught without ending the process: error_exit jumps back
// to the setjmp of the libjpeg call in progress, and warnings about corrupt
// data are counted instead of printed.
//
// Rule for every function that calls setjmp on a trap: no local object with a
// destructor, and no local changed after setjmp that is read after the jump.
// Such functions only drive libjpeg; the C++ work happens in their callers.
#pragma once

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace pw::imaging {

struct JpegTrap {
  jpeg_error_mgr manager{};  // first, so libjpeg's pointer leads back here
  std::jmp_buf jump{};
  int corruptData = 0;  // warnings that mean lost or damaged picture data
};

// Sets up the trap and returns the error manager to put into a libjpeg object.
jpeg_error_mgr* ArmJpegTrap(JpegTrap& trap);

}  // namespace pw::imaging
