#include "platform/Messages.h"

#include <thread>

#include "platform/host/World.h"

namespace pw::platform {

namespace {
constexpr std::uint32_t kWmQuit = 0x0012;
}

void PostQuitMessage(int exitCode) {
  host::World::Current().PostToThread(std::this_thread::get_id(),
                                      {nullptr, kWmQuit, static_cast<std::uintptr_t>(exitCode), 0});
}

}  // namespace pw::platform
