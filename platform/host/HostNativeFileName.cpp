#include <exception>

#include "platform/NativeFileName.h"
#include "platform/hostworld/World.h"

namespace pw::platform {

// A module that opens the file with the *A calls cannot reach a path of
// MAX_PATH characters or more.
std::optional<std::string> NativeFileName(const std::string& path) {
  if (path.size() >= hostworld::kMaxPath) return std::nullopt;
  try {
    return hostworld::World::Current().HostPath(path).string();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace pw::platform
