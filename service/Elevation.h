#pragma once
// A run that needs administrator rights and lacks them offers Windows'
// consent prompt: the program starts again with the same switch, elevated,
// and a box says how that run ended.
#include <cstdint>
#include <string_view>

#include "platform/Errors.h"

namespace pw::service {

// Shows the text-table box `offerId` (its "%s" is the switch) with OK and
// Cancel. OK starts this executable with the switch and /silent through the
// "runas" verb, waits for it and tells the user its outcome: done, the
// prompt refused, or the error code it ended with. Returns 0 when the
// elevated run succeeded, kCancelled when the prompt was refused, kAccessDenied
// when the user chose Cancel, else the elevated run's exit code or the error
// that kept it from starting.
platform::ErrorCode OfferElevatedRun(std::int32_t offerId, std::string_view switchName);

}  // namespace pw::service
