#pragma once
// What the desktop's files share: the platform names they speak, and how the
// desktop keys its window records (the bits of the window's handle).
#include <cstdint>

#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/Windows.h"

namespace pw::hostworld::desktop_parts {

using platform::Message;
using platform::Result;
using platform::Success;
using platform::Failure;
using platform::WindowHandle;
namespace wm = platform::wm;

inline std::uintptr_t Key(WindowHandle window) { return reinterpret_cast<std::uintptr_t>(window); }
inline WindowHandle HandleOf(std::uintptr_t key) { return reinterpret_cast<WindowHandle>(key); }

}  // namespace pw::hostworld::desktop_parts
