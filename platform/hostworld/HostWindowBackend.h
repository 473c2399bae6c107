#pragma once
// Between the host desktop and the platform's Window objects.
#include "platform/Windows.h"

namespace pw::host {

// Tells a Window object that its window has been destroyed.
void ForgetWindowHandle(platform::Window& window) noexcept;

}  // namespace pw::host
