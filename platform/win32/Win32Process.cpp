#include "platform/Process.h"

namespace pw::platform {

// A Windows process needs nothing set up before its first call.
struct ProcessPlatform::State {};

ProcessPlatform::ProcessPlatform() = default;
ProcessPlatform::~ProcessPlatform() = default;

}  // namespace pw::platform
