// The service manager for a control program: creating, deleting and starting
// services, their status and configuration, and controls sent to a running service.
#include "platform/hostworld/ServiceManager.h"

#include <sys/socket.h>
#include <sys/wait.h>

#include <cstddef>
#include <thread>

#include "platform/ByteOrder.h"
#include "platform/hostworld/RecordText.h"
#include "platform/hostworld/ServiceManagerParts.h"
#include "platform/hostworld/UniqueFd.h"
#include "platform/hostworld/UnixSocket.h"
#include "platform/hostworld/World.h"

namespace pw::hostworld {

using namespace scm;

platform::Result<std::uint32_t> ServiceManager::Create(const platform::ServiceDefinition& definition) {
  namespace type = platform::service_type;
  if (definition.name.empty() || definition.name.find_first_of("\\/") != std::string::npos) {
    return platform::Failure(error::kInvalidName);
  }
  if (definition.binaryPath.empty()) return platform::Failure(error::kInvalidParameter);
  const std::uint32_t kind = definition.type & ~type::kInteractiveProcess;
  if (kind != type::kOwnProcess && kind != type::kShareProcess) return platform::Failure(error::kInvalidParameter);
  // An interactive service runs as LocalSystem only.
  if ((definition.type & type::kInteractiveProcess) != 0 && definition.account &&
      !NamesEqual(*definition.account, "LocalSystem")) {
    return platform::Failure(error::kInvalidParameter);
  }
  if (definition.startType < platform::start_type::kAuto || definition.startType > platform::start_type::kDisabled) {
    return platform::Failure(error::kInvalidParameter);
  }
  if (definition.errorControl > platform::error_control::kCritical) return platform::Failure(error::kInvalidParameter);
  // A tag orders services within their load-order group.
  if (definition.requestTag && (!definition.loadOrderGroup || definition.loadOrderGroup->empty())) {
    return platform::Failure(error::kInvalidParameter);
  }

  FileLock lock(LockPath());
  if (std::optional<ServiceRecord> existing = Load(definition.name)) {
    return platform::Failure(existing->deletePending ? error::kServiceMarkedForDelete : error::kServiceExists);
  }
  const std::string displayName = definition.displayName.value_or(definition.name);
  std::error_code ec;
  for (fs::directory_iterator it(Folder() / "services", ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() != ".svc") continue;
    std::optional<Record> other = ReadRecord(it->path());
    if (!other) continue;
    const ServiceRecord service = FromRecord(*other);
    if (NamesEqual(service.displayName, displayName) || NamesEqual(service.name, displayName) ||
        NamesEqual(service.displayName, definition.name)) {
      return platform::Failure(error::kDuplicateServiceName);
    }
  }

  ServiceRecord record;
  record.name = definition.name;
  record.displayName = displayName;
  record.type = definition.type;
  record.startType = definition.startType;
  record.errorControl = definition.errorControl;
  record.binaryPath = definition.binaryPath;
  record.loadOrderGroup = definition.loadOrderGroup;
  record.tagRequested = definition.requestTag;
  record.tagId = definition.requestTag ? 1 : 0;
  record.dependencies = definition.dependencies;
  record.account = definition.account;
  record.password = definition.password;
  record.status = StoppedStatus(definition.type, error::kSuccess);
  if (!Save(record)) return platform::Failure(error::kAccessDenied);
  std::error_code removed;
  fs::remove(ReportsPath(definition.name), removed);
  return record.tagId;
}

ErrorCode ServiceManager::MarkForDelete(std::string_view name) {
  FileLock lock(LockPath());
  std::optional<ServiceRecord> record = Load(name);
  if (!record || record->deletePending) return error::kServiceMarkedForDelete;
  if (record->status.currentState == state::kStopped && !record->connected && record->launchId.empty()) {
    Remove(name);
  } else {
    record->deletePending = true;
    Save(*record);
  }
  return error::kSuccess;
}

ErrorCode ServiceManager::Start(std::string_view name, const std::vector<std::string>& arguments) {
  ReapChildren();
  LaunchRequest request;
  std::chrono::milliseconds timeout;
  Launcher launcher;
  {
    std::scoped_lock lock(mutex_);
    timeout = startTimeout_;
    launcher = launcher_;
  }
  {
    FileLock lock(LockPath());
    std::optional<ServiceRecord> record = Load(name);
    if (!record || record->deletePending) return error::kServiceMarkedForDelete;
    if (record->startType == platform::start_type::kDisabled) return error::kServiceDisabled;
    if (record->status.currentState != state::kStopped || record->connected || !record->launchId.empty()) {
      return error::kServiceAlreadyRunning;
    }
    record->launchId = NewLaunchId();
    record->launchArguments = arguments;
    record->status = {record->type, state::kStartPending, 0, 0, 0, 0, kStartWaitHint};
    record->processId = 0;
    if (!Save(*record)) return error::kAccessDenied;
    request = {record->name, record->binaryPath, record->launchId, world_.Root()};
  }

  // A launch that did not come to a running dispatcher leaves the service stopped.
  auto abandon = [&](ErrorCode code) {
    FileLock lock(LockPath());
    std::optional<ServiceRecord> record = Load(request.serviceName);
    if (record && record->launchId == request.launchId && !record->connected) {
      record->launchId.clear();
      record->launchArguments.clear();
      record->processId = 0;
      record->status = StoppedStatus(record->type, code);
      Save(*record);
    }
    return code;
  };

  const platform::Result<pid_t> launched = launcher ? launcher(request) : SpawnProcess(request);
  if (!launched) return abandon(launched.error());
  const pid_t child = *launched;
  if (child > 0) {
    std::scoped_lock lock(mutex_);
    children_.push_back(child);
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    bool lost = false;
    {
      FileLock lock(LockPath());
      std::optional<ServiceRecord> record = Load(request.serviceName);
      // A service that connected may have run and stopped already.
      if (record && record->endedLaunchId == request.launchId) return error::kSuccess;
      if (record && record->launchId == request.launchId && record->connected) return error::kSuccess;
      lost = !record || record->launchId != request.launchId;
    }
    // abandon takes the lock itself.
    if (lost) return abandon(error::kServiceRequestTimeout);
    if (child > 0) {
      int status = 0;
      if (::waitpid(child, &status, WNOHANG) == child) {
        std::scoped_lock lock(mutex_);
        std::erase(children_, child);
        return abandon(error::kProcessAborted);
      }
    }
    std::this_thread::sleep_for(kStartPoll);
  }
  return abandon(error::kServiceRequestTimeout);
}

ServiceStatusResult ServiceManager::QueryStatus(std::string_view name) const {
  ServiceStatusResult result;
  std::optional<ServiceRecord> record = Find(name);
  if (!record) {
    result.error = error::kServiceMarkedForDelete;
    return result;
  }
  result.ok = true;
  result.status = record->status;
  return result;
}

platform::Result<platform::ServiceConfig> ServiceManager::QueryConfig(std::string_view name) const {
  std::optional<ServiceRecord> record = Find(name);
  if (!record) return platform::Failure(error::kServiceMarkedForDelete);
  platform::ServiceConfig config;
  config.type = record->type;
  config.startType = record->startType;
  config.errorControl = record->errorControl;
  config.binaryPath = record->binaryPath;
  config.loadOrderGroup = record->loadOrderGroup.value_or("");
  config.tagId = record->tagId;
  config.dependencies = record->dependencies.value_or(std::vector<std::string>{});
  // No account name means LocalSystem.
  config.serviceStartName = record->account.value_or("LocalSystem");
  config.displayName = record->displayName;
  return config;
}

platform::Result<void> ServiceManager::SetDescription(std::string_view name, std::string_view description) {
  FileLock lock(LockPath());
  std::optional<ServiceRecord> record = Load(name);
  if (!record || record->deletePending) return platform::Failure(error::kServiceMarkedForDelete);
  record->description = std::string(description);
  if (!Save(*record)) return platform::Failure(error::kGenFailure);
  return platform::Success();
}

ServiceStatusResult ServiceManager::Control(std::string_view name, std::uint32_t control) {
  namespace code = platform::service_control;
  namespace accept = platform::service_accept;
  ServiceStatusResult result;
  const bool known = (control >= code::kStop && control <= code::kInterrogate) ||
                     (control >= code::kFirstUserDefined && control <= code::kLastUserDefined);
  if (!known) {
    result.error = error::kInvalidParameter;
    return result;
  }
  std::optional<ServiceRecord> record = Find(name);
  if (!record) {
    result.error = error::kServiceMarkedForDelete;
    return result;
  }
  result.status = record->status;
  const std::uint32_t current = record->status.currentState;
  if (current == state::kStopped || !record->connected) {
    result.error = error::kServiceNotActive;
    return result;
  }
  if (current == state::kStartPending || current == state::kStopPending) {
    result.error = error::kServiceCannotAcceptControl;
    return result;
  }
  const std::uint32_t accepted = record->status.controlsAccepted;
  if ((control == code::kStop && (accepted & accept::kStop) == 0) ||
      ((control == code::kPause || control == code::kContinue) && (accepted & accept::kPauseContinue) == 0)) {
    result.error = error::kInvalidServiceControl;
    return result;
  }
  return Deliver(*record, control);
}

ServiceStatusResult ServiceManager::SendControl(std::string_view name, std::uint32_t control) {
  return SendControlEvent(name, platform::ServiceControlEvent{control, 0, 0});
}

ServiceStatusResult ServiceManager::SendControlEvent(std::string_view name, const platform::ServiceControlEvent& event) {
  ServiceStatusResult result;
  std::optional<ServiceRecord> record = Find(name);
  if (!record) {
    result.error = error::kServiceDoesNotExist;
    return result;
  }
  if (!record->connected) {
    result.error = error::kServiceNotActive;
    result.status = record->status;
    return result;
  }
  return Deliver(*record, event.control, event.eventType, event.sessionId);
}

int ServiceManager::SystemShutdown() {
  int told = 0;
  for (const ServiceRecord& record : Services()) {
    if (!record.connected || record.status.currentState == state::kStopped) continue;
    if ((record.status.controlsAccepted & platform::service_accept::kShutdown) == 0) continue;
    if (SendControl(record.name, platform::service_control::kShutdown).ok) ++told;
  }
  return told;
}

ServiceStatusResult ServiceManager::Deliver(const ServiceRecord& record, std::uint32_t control, std::uint32_t eventType,
                                            std::uint32_t sessionId) {
  ServiceStatusResult result;
  result.status = record.status;
  std::chrono::milliseconds timeout;
  {
    std::scoped_lock lock(mutex_);
    timeout = controlTimeout_;
  }
  const UniqueFd socket = ConnectSocket(SOCK_STREAM, AbstractSocketAddress(record.controlAddress));
  if (!socket.valid()) {
    result.error = error::kServiceNotActive;
    return result;
  }
  std::byte request[kEventRequestSize];
  const bool withEvent = eventType != 0 || sessionId != 0;
  PutLe32(request, withEvent ? kEventRequestMagic : kRequestMagic);
  PutLe32(request + 4, control);
  PutLe32(request + 8, eventType);
  PutLe32(request + 12, sessionId);
  std::byte reply[kReplySize];
  if (!SendAll(socket.get(), std::span<const std::byte>(request, withEvent ? kEventRequestSize : kRequestSize)) ||
      !ReceiveAll(socket.get(), reply, std::chrono::steady_clock::now() + timeout) ||
      GetLe32(reply) != kReplyMagic) {
    result.error = error::kServiceRequestTimeout;
    return result;
  }
  result.ok = GetLe32(reply + 4) != 0;
  result.error = GetLe32(reply + 8);
  ServiceStatus& status = result.status;
  status.serviceType = GetLe32(reply + 12);
  status.currentState = GetLe32(reply + 16);
  status.controlsAccepted = GetLe32(reply + 20);
  status.win32ExitCode = GetLe32(reply + 24);
  status.serviceSpecificExitCode = GetLe32(reply + 28);
  status.checkPoint = GetLe32(reply + 32);
  status.waitHint = GetLe32(reply + 36);
  return result;
}

}  // namespace pw::hostworld
