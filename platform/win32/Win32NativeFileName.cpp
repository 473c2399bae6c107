#include "platform/NativeFileName.h"

namespace pw::platform {

// The C runtime and other modules take the program's ANSI paths as they are.
std::optional<std::string> NativeFileName(const std::string& path) { return path; }

}  // namespace pw::platform
