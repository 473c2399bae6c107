#pragma once
// The windowing side of the Win32 backend: the API, and the message as the
// window manager's calls take it.
#include "platform/winapi/WindowsApi.h"

#include "platform/Messages.h"

namespace pw::platform {
// A portable message as the MSG the window manager's calls take, stamped
// with the current message time.
MSG ToMsg(const Message& message);
}  // namespace pw::platform
