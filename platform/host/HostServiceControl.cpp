#include <memory>

#include "platform/ServiceControl.h"
#include "platform/hostworld/ServiceManager.h"
#include "platform/hostworld/World.h"

namespace pw::platform {
namespace {

// What a service handle of the host world stands for.
class ManagerObject final : public hostworld::HandleObject {
 public:
  explicit ManagerObject(std::uint32_t rights) : access(rights) {}
  std::uint32_t access;
};

class ServiceObject final : public hostworld::HandleObject {
 public:
  ServiceObject(std::string serviceName, std::uint32_t rights) : name(std::move(serviceName)), access(rights) {}
  std::string name;
  std::uint32_t access;
};

hostworld::ServiceManager& Manager() { return hostworld::World::Current().Services(); }

template <typename T>
T* Object(const ServiceHandle& handle) {
  hostworld::World* world = hostworld::World::CurrentOrNull();
  if (world == nullptr || !handle.valid()) return nullptr;
  return dynamic_cast<T*>(world->FindHandle(handle.get()));
}

ServiceHandle NewHandle(std::unique_ptr<hostworld::HandleObject> object) {
  return ServiceHandle(hostworld::World::Current().AddHandle(std::move(object)));
}

// The access right that ControlService needs for a code.
std::uint32_t ControlRight(std::uint32_t control) {
  switch (control) {
    case service_control::kStop: return service_access::kStop;
    case service_control::kPause:
    case service_control::kContinue: return service_access::kPauseContinue;
    case service_control::kInterrogate: return service_access::kInterrogate;
    default: return service_access::kUserDefinedControl;
  }
}

}  // namespace

void ServiceHandleTraits::Close(RawHandle handle) noexcept {
  if (hostworld::World* world = hostworld::World::CurrentOrNull()) world->CloseHandle(handle);
}

Result<ServiceHandle> OpenSCManager(const std::optional<std::string>& machine,
                                    const std::optional<std::string>& database, std::uint32_t access) {
  // The world is one machine with the active database only.
  if (machine && !machine->empty()) return Failure(1722);  // RPC_S_SERVER_UNAVAILABLE
  if (database && !database->empty() && !hostworld::NamesEqual(*database, "ServicesActive")) {
    return Failure(1065);  // ERROR_DATABASE_DOES_NOT_EXIST
  }
  constexpr std::uint32_t kUserRights = manager_access::kConnect | manager_access::kEnumerateService | 0x10 | 0x20000;
  if (!Manager().Administrator() && (access & ~kUserRights) != 0) return Failure(error::kAccessDenied);
  return NewHandle(std::make_unique<ManagerObject>(access));
}

Result<ServiceHandle> CreateService(const ServiceHandle& manager, const ServiceDefinition& definition) {
  ManagerObject* object = Object<ManagerObject>(manager);
  if (object == nullptr) return Failure(error::kInvalidHandle);
  if ((object->access & manager_access::kCreateService) == 0) return Failure(error::kAccessDenied);
  PW_TRY(Manager().Create(definition));
  return NewHandle(std::make_unique<ServiceObject>(definition.name, definition.access));
}

Result<ServiceHandle> OpenService(const ServiceHandle& manager, std::string_view name, std::uint32_t access) {
  if (Object<ManagerObject>(manager) == nullptr) return Failure(error::kInvalidHandle);
  if (name.empty()) return Failure(error::kInvalidName);
  std::optional<hostworld::ServiceRecord> record = Manager().Find(name);
  if (!record) return Failure(error::kServiceDoesNotExist);
  // The security a service gets at creation: interactive users may query it,
  // interrogate it and send it user-defined controls (and read that
  // security), nothing more; administrators may do everything.
  constexpr std::uint32_t kUserRights = service_access::kQueryConfig | service_access::kQueryStatus | 0x0008 |
                                        service_access::kInterrogate | service_access::kUserDefinedControl | 0x20000;
  if (!Manager().Administrator() && (access & ~kUserRights) != 0) return Failure(error::kAccessDenied);
  return NewHandle(std::make_unique<ServiceObject>(record->name, access));
}

Result<void> DeleteService(const ServiceHandle& service) {
  ServiceObject* object = Object<ServiceObject>(service);
  if (object == nullptr) return Failure(error::kInvalidHandle);
  if ((object->access & service_access::kDelete) == 0) return Failure(error::kAccessDenied);
  const ErrorCode code = Manager().MarkForDelete(object->name);
  return code == error::kSuccess ? Success() : Failure(code);
}

Result<void> StartService(const ServiceHandle& service, const std::vector<std::string>& arguments) {
  ServiceObject* object = Object<ServiceObject>(service);
  if (object == nullptr) return Failure(error::kInvalidHandle);
  if ((object->access & service_access::kStart) == 0) return Failure(error::kAccessDenied);
  const ErrorCode code = Manager().Start(object->name, arguments);
  return code == error::kSuccess ? Success() : Failure(code);
}

ServiceStatusResult ControlService(const ServiceHandle& service, std::uint32_t control) {
  ServiceStatusResult result;
  ServiceObject* object = Object<ServiceObject>(service);
  if (object == nullptr) {
    result.error = error::kInvalidHandle;
    return result;
  }
  if ((object->access & ControlRight(control)) == 0) {
    result.error = error::kAccessDenied;
    return result;
  }
  return Manager().Control(object->name, control);
}

ServiceStatusResult QueryServiceStatus(const ServiceHandle& service) {
  ServiceStatusResult result;
  ServiceObject* object = Object<ServiceObject>(service);
  if (object == nullptr) {
    result.error = error::kInvalidHandle;
    return result;
  }
  if ((object->access & service_access::kQueryStatus) == 0) {
    result.error = error::kAccessDenied;
    return result;
  }
  return Manager().QueryStatus(object->name);
}

Result<ServiceConfig> QueryServiceConfig(const ServiceHandle& service) {
  ServiceObject* object = Object<ServiceObject>(service);
  if (object == nullptr) return Failure(error::kInvalidHandle);
  if ((object->access & service_access::kQueryConfig) == 0) return Failure(error::kAccessDenied);
  return Manager().QueryConfig(object->name);
}

Result<void> ChangeServiceDescription(const ServiceHandle& service, std::string_view description) {
  ServiceObject* object = Object<ServiceObject>(service);
  if (object == nullptr) return Failure(error::kInvalidHandle);
  if ((object->access & service_access::kChangeConfig) == 0) return Failure(error::kAccessDenied);
  return Manager().SetDescription(object->name, description);
}

Result<std::string> QueryServiceDescription(const ServiceHandle& service) {
  ServiceObject* object = Object<ServiceObject>(service);
  if (object == nullptr) return Failure(error::kInvalidHandle);
  if ((object->access & service_access::kQueryConfig) == 0) return Failure(error::kAccessDenied);
  const std::optional<hostworld::ServiceRecord> record = Manager().Find(object->name);
  if (!record) return Failure(error::kServiceMarkedForDelete);
  return record->description;
}

Result<void> StartServiceCtrlDispatcher(const std::vector<ServiceTableEntry>& table) {
  return Manager().RunDispatcher(table);
}

Result<ServiceStatusHandle> RegisterServiceCtrlHandler(std::string_view name, ServiceControlHandler handler) {
  return Manager().RegisterHandler(name, std::move(handler));
}

Result<ServiceStatusHandle> RegisterServiceCtrlHandlerEx(std::string_view name, ServiceControlHandlerEx handler) {
  return Manager().RegisterHandlerEx(name, std::move(handler));
}

Result<void> SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
  return Manager().SetStatus(handle, status);
}

DeviceNotification::~DeviceNotification() = default;

// The host world's control manager sends device events with SendControlEvent;
// a registration only has to exist.
Result<DeviceNotification> RegisterServiceVolumeNotification(ServiceStatusHandle handle) {
  if (handle == nullptr) return Failure(error::kInvalidHandle);
  static int token = 0;
  return DeviceNotification(&token);
}

}  // namespace pw::platform
