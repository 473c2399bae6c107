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
#include <jerror.h>

namespace pw::jpeg {

struct JpegTrap {
  jpeg_error_mgr manager{};  // first, so libjpeg's pointer leads back here
  std::jmp_buf jump{};
  int corruptData = 0;  // warnings that mean lost or damaged picture data
};

namespace jpeg_trap_detail {

inline JpegTrap& TrapOf(j_common_ptr info) {
  // manager is JpegTrap's first member, so the two share an address.
  return *reinterpret_cast<JpegTrap*>(info->err);
}

[[noreturn]] inline void JumpOut(j_common_ptr info) { std::longjmp(TrapOf(info).jump, 1); }

inline void CountWarning(j_common_ptr info, int level) {
  // Level -1 is a warning about the data; positive levels are trace messages.
  // Stray bytes between markers lose nothing, so only the others count.
  if (level < 0 && info->err->msg_code != JWRN_EXTRANEOUS_DATA) ++TrapOf(info).corruptData;
}

inline void Silent(j_common_ptr) {}

}  // namespace jpeg_trap_detail

// Sets up the trap and returns the error manager to put into a libjpeg object.
inline jpeg_error_mgr* ArmJpegTrap(JpegTrap& trap) {
  jpeg_error_mgr* manager = jpeg_std_error(&trap.manager);
  manager->error_exit = jpeg_trap_detail::JumpOut;
  manager->emit_message = jpeg_trap_detail::CountWarning;
  manager->output_message = jpeg_trap_detail::Silent;
  trap.corruptData = 0;
  return manager;
}

}  // namespace pw::jpeg
