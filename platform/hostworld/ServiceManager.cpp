// The service manager of the host world: its settings. The records, the control
// program's side, the dispatcher's side and the processes live in files of their own.
#include "platform/hostworld/ServiceManager.h"

#include <cstddef>

#include "platform/hostworld/ServiceManagerParts.h"
#include "platform/hostworld/World.h"

namespace pw::hostworld {

using platform::ErrorCode;

ServiceManager::ServiceManager(World& world) : world_(world), process_(std::make_unique<ProcessSide>()) {}

ServiceManager::~ServiceManager() { ReapChildren(); }

void ServiceManager::SetLauncher(Launcher launcher) {
  std::scoped_lock lock(mutex_);
  launcher_ = std::move(launcher);
}

void ServiceManager::SetStartTimeout(std::chrono::milliseconds timeout) {
  std::scoped_lock lock(mutex_);
  startTimeout_ = timeout;
}

void ServiceManager::SetControlTimeout(std::chrono::milliseconds timeout) {
  std::scoped_lock lock(mutex_);
  controlTimeout_ = timeout;
}

void ServiceManager::SetStatusReportFailure(std::optional<ErrorCode> failure) {
  std::scoped_lock lock(mutex_);
  statusFailure_ = failure;
}

void ServiceManager::AdoptLaunch(const std::string& launchId) {
  std::scoped_lock lock(process_->mutex);
  process_->dispatcherCalled = false;
  process_->running.reset();
  process_->adoptedLaunch = launchId;
}

}  // namespace pw::hostworld
