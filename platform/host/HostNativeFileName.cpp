#include <exception>

#include "platform/NativeFileName.h"
#include "platform/host/World.h"

namespace pw::platform {

std::optional<std::string> NativeFileName(const std::string& path) {
  try {
    return host::World::Current().HostPath(path).string();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace pw::platform
