#include <cstdlib>
#include <memory>

#include "platform/Process.h"
#include "platform/host/World.h"

namespace pw::platform {

struct ProcessPlatform::State {
  std::unique_ptr<host::World> world;  // only when no world existed
};

ProcessPlatform::ProcessPlatform() : state_(std::make_unique<State>()) {
  if (host::World::CurrentOrNull() != nullptr) return;
  host::World::Options options;
  if (const char* root = std::getenv("PAGEWICK_WORLD"); root != nullptr && *root != '\0') options.root = root;
  state_->world = std::make_unique<host::World>(options);
  // A process of its own lives in real time: its timers tick by the clock.
  state_->world->Desktop().SetRealTime(true);
}

ProcessPlatform::~ProcessPlatform() = default;

}  // namespace pw::platform
