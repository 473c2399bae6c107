#pragma once
// The system's message text for a Win32 error code, as FormatMessageA with
// FORMAT_MESSAGE_FROM_SYSTEM and FORMAT_MESSAGE_IGNORE_INSERTS gives it.
#include <string>

#include "platform/Errors.h"

namespace pw::platform {

// The text as the system gives it, usually ending in CR LF; the empty text
// when the system has none for the code.
std::string SystemErrorMessage(ErrorCode code);

}  // namespace pw::platform
