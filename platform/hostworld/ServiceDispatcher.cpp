// The service manager inside a service's process: the dispatcher that runs the
// service's main and serves the control socket, handlers and status reports.
#include "platform/hostworld/ServiceManager.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "platform/ByteOrder.h"
#include "platform/hostworld/FailureSink.h"
#include "platform/hostworld/RecordText.h"
#include "platform/hostworld/ServiceManagerParts.h"
#include "platform/hostworld/UniqueFd.h"
#include "platform/hostworld/UnixSocket.h"
#include "platform/hostworld/World.h"

namespace pw::hostworld {

using namespace scm;

platform::Result<void> ServiceManager::RunDispatcher(const std::vector<platform::ServiceTableEntry>& table) {
  std::string launchId;
  {
    std::scoped_lock lock(process_->mutex);
    if (process_->dispatcherCalled) return platform::Failure(error::kServiceAlreadyRunning);
    if (process_->adoptedLaunch) {
      launchId = *process_->adoptedLaunch;
    } else if (const char* fromParent = std::getenv(kLaunchVariable)) {
      launchId = fromParent;
    }
    if (launchId.empty()) return platform::Failure(error::kFailedServiceControllerConnect);
    process_->dispatcherCalled = true;
  }
  auto fail = [&](ErrorCode code) {
    std::scoped_lock lock(process_->mutex);
    process_->dispatcherCalled = false;
    return platform::Failure(code);
  };

  // Claim the launch: the service it is for, still waiting for its process.
  const std::string address = "pagewick-scm-" + launchId;
  UniqueFd listener;
  ServiceRecord service;
  platform::ServiceMainFunction main;
  {
    FileLock lock(LockPath());
    std::optional<ServiceRecord> found;
    std::error_code ec;
    for (fs::directory_iterator it(Folder() / "services", ec), end; !ec && it != end; it.increment(ec)) {
      if (it->path().extension() != ".svc") continue;
      if (std::optional<Record> record = ReadRecord(it->path())) {
        ServiceRecord candidate = FromRecord(*record);
        if (candidate.launchId == launchId) found = std::move(candidate);
      }
    }
    if (!found || found->connected || found->status.currentState != state::kStartPending) {
      return fail(error::kFailedServiceControllerConnect);
    }
    service = std::move(*found);
    for (const platform::ServiceTableEntry& entry : table) {
      if (NamesEqual(entry.name, service.name) && entry.main) main = entry.main;
    }
    ErrorCode refusal = error::kSuccess;
    if (!main) {
      refusal = error::kServiceNotInExe;
    } else {
      listener = ListenSocket(SOCK_STREAM, AbstractSocketAddress(address), 8);
      if (!listener.valid()) refusal = error::kGenFailure;
    }
    if (refusal != error::kSuccess) {
      service.launchId.clear();
      service.status = StoppedStatus(service.type, refusal);
      Save(service);
      return fail(refusal);
    }
    service.connected = true;
    service.processId = static_cast<long>(::getpid());
    service.controlAddress = address;
    Save(service);
  }
  {
    // A test's crash plan for the world is the service process's to take.
    std::scoped_lock worldLock(world_.Mutex());
    (void)world_.Cache().TakePlan(world_.Root());
  }

  auto running = std::make_shared<RunningService>();
  running->name = service.name;
  running->last = service.status;
  {
    std::scoped_lock lock(process_->mutex);
    process_->running = running;
  }

  // The control manager runs the service main entry on a thread of its own,
  // with the service's name first.
  std::vector<std::string> arguments{service.name};
  arguments.insert(arguments.end(), service.launchArguments.begin(), service.launchArguments.end());
  std::thread mainThread([main, arguments] {
    try {
      main(arguments);
    } catch (...) {
      ReportCurrentFailure();
    }
  });

  // Serve control requests until the service reports that it has stopped.
  while (!running->stopped.load()) {
    pollfd entries[2] = {{listener.get(), POLLIN, 0}, {running->stoppedEvent.get(), POLLIN, 0}};
    // Without the event (no descriptor left) the end is noticed by polling.
    const int ready = ::poll(entries, 2, running->stoppedEvent.get() >= 0 ? -1 : 20);
    if (ready <= 0 || (entries[0].revents & POLLIN) == 0) continue;
    const UniqueFd connection = AcceptSocket(listener.get());
    if (!connection.valid()) continue;
    ServeControl(connection.get());
  }
  mainThread.join();

  {
    FileLock lock(LockPath());
    if (std::optional<ServiceRecord> record = Load(service.name); record && record->launchId == launchId) {
      record->connected = false;
      record->processId = 0;
      record->endedLaunchId = record->launchId;
      record->launchId.clear();
      record->launchArguments.clear();
      record->controlAddress.clear();
      if (record->deletePending) {
        Remove(record->name);
      } else {
        Save(*record);
      }
    }
  }
  return platform::Success();
}

void ServiceManager::ServeControl(int connection) {
  std::byte request[kEventRequestSize] = {};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  if (!ReceiveAll(connection, std::span<std::byte>(request, kRequestSize), deadline)) return;
  const std::uint32_t magic = GetLe32(request);
  if (magic == kEventRequestMagic) {
    if (!ReceiveAll(connection, std::span<std::byte>(request + kRequestSize, kEventRequestSize - kRequestSize), deadline)) {
      return;
    }
  } else if (magic != kRequestMagic) {
    return;
  }
  const std::uint32_t control = GetLe32(request + 4);
  const platform::ServiceControlEvent event{control, GetLe32(request + 8), GetLe32(request + 12)};
  std::shared_ptr<RunningService> running;
  platform::ServiceControlHandler handler;
  platform::ServiceControlHandlerEx handlerEx;
  {
    std::scoped_lock lock(process_->mutex);
    running = process_->running;
    if (running) {
      handler = running->handler;
      handlerEx = running->handlerEx;
    }
  }
  if (handlerEx) {
    handler = [&handlerEx, &event](std::uint32_t) { handlerEx(event); };
  }
  std::byte reply[kReplySize] = {};
  PutLe32(reply, kReplyMagic);
  if (!running || !handler) {
    PutLe32(reply + 4, 0);
    PutLe32(reply + 8, error::kServiceCannotAcceptControl);
  } else {
    try {
      handler(control);
    } catch (...) {
      ReportCurrentFailure();
    }
    ServiceStatus status;
    {
      std::scoped_lock lock(process_->mutex);
      status = running->last;
    }
    PutLe32(reply + 4, 1);
    PutLe32(reply + 8, 0);
    PutLe32(reply + 12, status.serviceType);
    PutLe32(reply + 16, status.currentState);
    PutLe32(reply + 20, status.controlsAccepted);
    PutLe32(reply + 24, status.win32ExitCode);
    PutLe32(reply + 28, status.serviceSpecificExitCode);
    PutLe32(reply + 32, status.checkPoint);
    PutLe32(reply + 36, status.waitHint);
  }
  (void)SendAll(connection, reply);
}

platform::Result<platform::ServiceStatusHandle> ServiceManager::RegisterHandler(
    std::string_view name, platform::ServiceControlHandler handler) {
  std::scoped_lock lock(process_->mutex);
  if (!process_->running || !NamesEqual(process_->running->name, name)) {
    return platform::Failure(error::kServiceDoesNotExist);
  }
  process_->running->handlerEx = nullptr;
  process_->running->handler = std::move(handler);
  return platform::ServiceStatusHandle{process_->running.get()};
}

platform::Result<platform::ServiceStatusHandle> ServiceManager::RegisterHandlerEx(
    std::string_view name, platform::ServiceControlHandlerEx handler) {
  std::scoped_lock lock(process_->mutex);
  if (!process_->running || !NamesEqual(process_->running->name, name)) {
    return platform::Failure(error::kServiceDoesNotExist);
  }
  process_->running->handler = nullptr;
  process_->running->handlerEx = std::move(handler);
  return platform::ServiceStatusHandle{process_->running.get()};
}

platform::Result<void> ServiceManager::SetStatus(platform::ServiceStatusHandle handle, const ServiceStatus& status) {
  {
    std::scoped_lock lock(mutex_);
    if (statusFailure_) return platform::Failure(*statusFailure_);
  }
  std::string name;
  std::shared_ptr<RunningService> running;
  {
    std::scoped_lock lock(process_->mutex);
    if (handle == nullptr || !process_->running || handle != process_->running.get()) {
      return platform::Failure(error::kInvalidHandle);
    }
    if (status.currentState < state::kStopped || status.currentState > state::kPaused) {
      return platform::Failure(error::kInvalidData);
    }
    running = process_->running;
    running->last = status;
    name = running->name;
  }
  {
    FileLock lock(LockPath());
    if (std::optional<ServiceRecord> record = Load(name)) {
      record->status = status;
      Save(*record);
    }
    std::ostringstream line;
    line << status.serviceType << ' ' << status.currentState << ' ' << status.controlsAccepted << ' '
         << status.win32ExitCode << ' ' << status.serviceSpecificExitCode << ' ' << status.checkPoint << ' '
         << status.waitHint;
    AppendLine(ReportsPath(name), line.str());
  }
  // The dispatcher returns once the service has stopped.
  if (status.currentState == state::kStopped) running->MarkStopped();
  return platform::Success();
}

}  // namespace pw::hostworld
