#include "platform/Messages.h"

#include "platform/win32/WinApi.h"

namespace pw::platform {

void PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

}  // namespace pw::platform
