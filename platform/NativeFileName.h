#pragma once
// The name under which code beyond the platform layer's own file calls (the C
// runtime, or a separate module such as the imaging component) reaches a file.
#include <optional>
#include <string>

namespace pw::platform {

// On Windows the path itself. In the host world the file's path on the host
// file system; nullopt for a path on no drive of the world.
std::optional<std::string> NativeFileName(const std::string& path);

}  // namespace pw::platform
