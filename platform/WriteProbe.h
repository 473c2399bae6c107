#pragma once
// Inside the platform layer: whether the caller (or the client it impersonates)
// may create a folder and a file in a folder, found out by creating a uniquely
// named folder and file there and deleting both again.
#include <string_view>

#include "platform/Result.h"

namespace pw::platform {

Result<void> ProbeWriteAccess(std::string_view path);

}  // namespace pw::platform
