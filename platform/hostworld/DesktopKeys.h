#pragma once
// The desktop keeps its window records under the bits of the window's handle.
#include <cstdint>

#include "platform/Windows.h"

namespace pw::host {

inline std::uintptr_t Key(platform::WindowHandle window) { return reinterpret_cast<std::uintptr_t>(window); }
inline platform::WindowHandle HandleOf(std::uintptr_t key) { return reinterpret_cast<platform::WindowHandle>(key); }

}  // namespace pw::host
