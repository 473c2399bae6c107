#include <cstdlib>
#include <iostream>
#include <memory>

#include "platform/Process.h"
#include "platform/Sessions.h"
#include "platform/hostworld/DeviceSocket.h"
#include "platform/hostworld/World.h"

namespace pw::platform {

struct ProcessPlatform::State {
  std::unique_ptr<hostworld::World> world;  // only when no world existed
  std::unique_ptr<hostworld::ServedDeviceWatcher> watcher;  // with the world: notices plugged simulators
};

ProcessPlatform::ProcessPlatform() : state_(std::make_unique<State>()) {
  if (hostworld::World::CurrentOrNull() != nullptr) return;
  hostworld::World::Options options;
  if (const char* root = std::getenv("PAGEWICK_WORLD"); root != nullptr && *root != '\0') options.root = root;
  state_->world = std::make_unique<hostworld::World>(options);
  // A process of its own lives in real time: its timers tick by the clock.
  state_->world->Desktop().SetRealTime(true);
  // Nobody sits at this desktop: a message box is shown on the standard error
  // stream and answered with its default button, so that what the program
  // tells the user is not lost.
  state_->world->Desktop().SetMessageBoxDriver([](const hostworld::MessageBoxRecord& box, hostworld::ModalLoop&) {
    std::cerr << "[" << box.caption << "] " << box.text << std::endl;
    return hostworld::Desktop::DefaultMessageBoxResult(box.style);
  });
  // What this process shows, on the screen of its session, for the world's
  // other processes to see (a test that runs the service and its agents).
  if (!options.root.empty()) {
    const std::uint32_t session = CurrentProcessSessionId().value_or(0u);
    state_->world->Desktop().SetScreenJournal(hostworld::ScreenJournal(state_->world->ScreenJournalFile(), session));
  }
  // As the system notices a device plugged in without being asked.
  state_->watcher = std::make_unique<hostworld::ServedDeviceWatcher>(*state_->world);
}

ProcessPlatform::~ProcessPlatform() {
  // The watcher goes before the world it watches.
  if (state_) state_->watcher.reset();
}

}  // namespace pw::platform
