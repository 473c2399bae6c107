#include "imaging/JpegTrap.h"

#include <jerror.h>

namespace pw::imaging {
namespace {

JpegTrap& TrapOf(j_common_ptr info) {
  // manager is JpegTrap's first member, so the two share an address.
  return *reinterpret_cast<JpegTrap*>(info->err);
}

[[noreturn]] void JumpOut(j_common_ptr info) { std::longjmp(TrapOf(info).jump, 1); }

void CountWarning(j_common_ptr info, int level) {
  // Level -1 is a warning about the data; positive levels are trace messages.
  // Stray bytes between markers lose nothing, so only the others count.
  if (level < 0 && info->err->msg_code != JWRN_EXTRANEOUS_DATA) ++TrapOf(info).corruptData;
}

void Silent(j_common_ptr) {}

}  // namespace

jpeg_error_mgr* ArmJpegTrap(JpegTrap& trap) {
  jpeg_error_mgr* manager = jpeg_std_error(&trap.manager);
  manager->error_exit = JumpOut;
  manager->emit_message = CountWarning;
  manager->output_message = Silent;
  trap.corruptData = 0;
  return manager;
}

}  // namespace pw::imaging
