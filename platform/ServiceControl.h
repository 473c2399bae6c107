#pragma once
// The service control manager (advapi32), both sides of it: the calls a
// control program makes (open the manager, create, open, start, control,
// query and delete services) and the calls a service process makes (the
// dispatcher, the control handler, status reports). Values are the Win32 ones.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Result.h"
#include "platform/Handle.h"

namespace pw::platform {

// SC_MANAGER_* access rights.
namespace manager_access {
inline constexpr std::uint32_t kConnect = 0x0001;
inline constexpr std::uint32_t kCreateService = 0x0002;
inline constexpr std::uint32_t kEnumerateService = 0x0004;
inline constexpr std::uint32_t kAllAccess = 0xF003F;
}  // namespace manager_access

// SERVICE_* access rights.
namespace service_access {
inline constexpr std::uint32_t kQueryConfig = 0x0001;
inline constexpr std::uint32_t kChangeConfig = 0x0002;
inline constexpr std::uint32_t kQueryStatus = 0x0004;
inline constexpr std::uint32_t kStart = 0x0010;
inline constexpr std::uint32_t kStop = 0x0020;
inline constexpr std::uint32_t kPauseContinue = 0x0040;
inline constexpr std::uint32_t kInterrogate = 0x0080;
inline constexpr std::uint32_t kUserDefinedControl = 0x0100;
inline constexpr std::uint32_t kDelete = 0x10000;
inline constexpr std::uint32_t kAllAccess = 0xF01FF;
}  // namespace service_access

namespace service_type {
inline constexpr std::uint32_t kOwnProcess = 0x10;
inline constexpr std::uint32_t kShareProcess = 0x20;
inline constexpr std::uint32_t kInteractiveProcess = 0x100;
}  // namespace service_type

namespace start_type {
inline constexpr std::uint32_t kBoot = 0;
inline constexpr std::uint32_t kSystem = 1;
inline constexpr std::uint32_t kAuto = 2;
inline constexpr std::uint32_t kDemand = 3;
inline constexpr std::uint32_t kDisabled = 4;
}  // namespace start_type

namespace error_control {
inline constexpr std::uint32_t kIgnore = 0;
inline constexpr std::uint32_t kNormal = 1;
inline constexpr std::uint32_t kSevere = 2;
inline constexpr std::uint32_t kCritical = 3;
}  // namespace error_control

// dwCurrentState.
namespace service_state {
inline constexpr std::uint32_t kStopped = 1;
inline constexpr std::uint32_t kStartPending = 2;
inline constexpr std::uint32_t kStopPending = 3;
inline constexpr std::uint32_t kRunning = 4;
inline constexpr std::uint32_t kContinuePending = 5;
inline constexpr std::uint32_t kPausePending = 6;
inline constexpr std::uint32_t kPaused = 7;
}  // namespace service_state

// SERVICE_CONTROL_* codes; 128 to 255 are the service's own.
namespace service_control {
inline constexpr std::uint32_t kStop = 1;
inline constexpr std::uint32_t kPause = 2;
inline constexpr std::uint32_t kContinue = 3;
inline constexpr std::uint32_t kInterrogate = 4;
inline constexpr std::uint32_t kShutdown = 5;
inline constexpr std::uint32_t kFirstUserDefined = 128;
inline constexpr std::uint32_t kLastUserDefined = 255;
}  // namespace service_control

// SERVICE_ACCEPT_* bits of dwControlsAccepted.
namespace service_accept {
inline constexpr std::uint32_t kStop = 0x1;
inline constexpr std::uint32_t kPauseContinue = 0x2;
inline constexpr std::uint32_t kShutdown = 0x4;
}  // namespace service_accept

// Error codes of the service calls.
namespace error {
inline constexpr ErrorCode kInvalidData = 13;
inline constexpr ErrorCode kInvalidServiceControl = 1052;
inline constexpr ErrorCode kServiceRequestTimeout = 1053;
inline constexpr ErrorCode kServiceAlreadyRunning = 1056;
inline constexpr ErrorCode kServiceDisabled = 1058;
inline constexpr ErrorCode kServiceDoesNotExist = 1060;
inline constexpr ErrorCode kServiceCannotAcceptControl = 1061;
inline constexpr ErrorCode kServiceNotActive = 1062;
inline constexpr ErrorCode kFailedServiceControllerConnect = 1063;
inline constexpr ErrorCode kServiceSpecificError = 1066;
inline constexpr ErrorCode kProcessAborted = 1067;
inline constexpr ErrorCode kServiceMarkedForDelete = 1072;
inline constexpr ErrorCode kServiceExists = 1073;
inline constexpr ErrorCode kDuplicateServiceName = 1078;
inline constexpr ErrorCode kServiceNotInExe = 1083;
}  // namespace error

// An SC_HANDLE of the manager or of one service; CloseServiceHandle on reset.
struct ServiceHandleTraits {
  static RawHandle Invalid() noexcept { return nullptr; }
  static void Close(RawHandle handle) noexcept;
};
using ServiceHandle = ScopedHandle<ServiceHandleTraits>;

// OpenSCManagerA. nullopt machine and database: the local machine's active database.
Result<ServiceHandle> OpenSCManager(const std::optional<std::string>& machine, const std::optional<std::string>& database,
                                    std::uint32_t access);

// Everything CreateServiceA receives. An absent optional is a NULL pointer;
// an empty dependency list is the empty double-zero-terminated list.
struct ServiceDefinition {
  std::string name;
  std::optional<std::string> displayName;
  std::uint32_t access = 0;
  std::uint32_t type = 0;
  std::uint32_t startType = 0;
  std::uint32_t errorControl = 0;
  std::string binaryPath;
  std::optional<std::string> loadOrderGroup;
  bool requestTag = false;  // lpdwTagId given
  std::optional<std::vector<std::string>> dependencies;
  std::optional<std::string> account;   // NULL: LocalSystem
  std::optional<std::string> password;
};

// CreateServiceA. A tag asked for (requestTag) is read back with
// QueryServiceConfig.
Result<ServiceHandle> CreateService(const ServiceHandle& manager, const ServiceDefinition& definition);

// OpenServiceA: 1060 when no such service is installed.
Result<ServiceHandle> OpenService(const ServiceHandle& manager, std::string_view name, std::uint32_t access);

// DeleteService: marks the service for deletion; the registration goes once
// the service has stopped. 1072 when it is marked already.
Result<void> DeleteService(const ServiceHandle& service);

// StartServiceA with the given arguments (the service receives its name first).
// Returns once the service process has connected and its main entry runs.
Result<void> StartService(const ServiceHandle& service, const std::vector<std::string>& arguments);

// SERVICE_STATUS.
struct ServiceStatus {
  std::uint32_t serviceType = 0;
  std::uint32_t currentState = 0;
  std::uint32_t controlsAccepted = 0;
  std::uint32_t win32ExitCode = 0;
  std::uint32_t serviceSpecificExitCode = 0;
  std::uint32_t checkPoint = 0;
  std::uint32_t waitHint = 0;
  friend bool operator==(const ServiceStatus&, const ServiceStatus&) = default;
};

// Kept a struct: a refused control still reports the service's status (the
// control manager fills it in for "not active" and "cannot accept").
struct [[nodiscard]] ServiceStatusResult {
  bool ok = false;
  ErrorCode error = error::kSuccess;
  ServiceStatus status;
};

// ControlService: delivers the code to the service's control handler and
// returns the status after the handler has returned.
ServiceStatusResult ControlService(const ServiceHandle& service, std::uint32_t control);
ServiceStatusResult QueryServiceStatus(const ServiceHandle& service);

// QUERY_SERVICE_CONFIGA.
struct ServiceConfig {
  std::uint32_t type = 0;
  std::uint32_t startType = 0;
  std::uint32_t errorControl = 0;
  std::string binaryPath;
  std::string loadOrderGroup;
  std::uint32_t tagId = 0;
  std::vector<std::string> dependencies;
  std::string serviceStartName;
  std::string displayName;
};

Result<ServiceConfig> QueryServiceConfig(const ServiceHandle& service);

// ChangeServiceConfig2A with SERVICE_CONFIG_DESCRIPTION (needs the change-config
// right): the text services.msc, sc qdescription and Get-Service show. An
// empty text removes the description.
Result<void> ChangeServiceDescription(const ServiceHandle& service, std::string_view description);
// QueryServiceConfig2A with SERVICE_CONFIG_DESCRIPTION: empty when none is set.
Result<std::string> QueryServiceDescription(const ServiceHandle& service);

// --- The service process's side.

// A service main entry: called by the control manager on a thread of its own
// with the service's arguments, its name first.
using ServiceMainFunction = std::function<void(const std::vector<std::string>& arguments)>;

struct ServiceTableEntry {
  std::string name;
  ServiceMainFunction main;
};

// StartServiceCtrlDispatcherA: connects the process to the control manager and
// returns when every service of the process has stopped. Fails with 1063 when
// the process was not started by the control manager and with 1056 when the
// process has called it already. Calling thread: it becomes the dispatcher.
Result<void> StartServiceCtrlDispatcher(const std::vector<ServiceTableEntry>& table);

// A control handler: runs on the dispatcher thread and must return quickly.
using ServiceControlHandler = std::function<void(std::uint32_t control)>;

// SERVICE_STATUS_HANDLE; never closed.
using ServiceStatusHandle = void*;

// RegisterServiceCtrlHandlerA for a service of this process.
Result<ServiceStatusHandle> RegisterServiceCtrlHandler(std::string_view name, ServiceControlHandler handler);

// A control with its event (RegisterServiceCtrlHandlerExA's arguments): for
// SERVICE_CONTROL_SESSIONCHANGE the event type (WTS_SESSION_LOGON, ...) and
// the session id; zero for controls without event data.
struct ServiceControlEvent {
  std::uint32_t control = 0;
  std::uint32_t eventType = 0;
  std::uint32_t sessionId = 0;
};
using ServiceControlHandlerEx = std::function<void(const ServiceControlEvent& event)>;

// RegisterServiceCtrlHandlerExA for a service of this process. The handler
// runs on the dispatcher thread and must return quickly.
Result<ServiceStatusHandle> RegisterServiceCtrlHandlerEx(std::string_view name, ServiceControlHandlerEx handler);

// SERVICE_CONTROL_DEVICEEVENT: a device event for a registration made with
// RegisterServiceVolumeNotification; its event type is the DBT_ code.
namespace device_event {
inline constexpr std::uint32_t kControl = 11;
}  // namespace device_event

// A registration for volume arrivals and removals, delivered to a service's
// Ex control handler; unregistered (UnregisterDeviceNotification) when the
// object goes.
class DeviceNotification {
 public:
  DeviceNotification() = default;
  explicit DeviceNotification(void* handle) : handle_(handle) {}
  ~DeviceNotification();
  DeviceNotification(DeviceNotification&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  DeviceNotification& operator=(DeviceNotification&& other) noexcept {
    if (this != &other) {
      DeviceNotification gone(std::move(*this));
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  DeviceNotification(const DeviceNotification&) = delete;
  DeviceNotification& operator=(const DeviceNotification&) = delete;
  bool valid() const { return handle_ != nullptr; }

 private:
  void* handle_ = nullptr;
};

// RegisterDeviceNotificationA with DEVICE_NOTIFY_SERVICE_HANDLE for the volume
// device-interface class: arrivals and removals of volumes reach the handler
// registered with RegisterServiceCtrlHandlerEx even where no window broadcast
// reaches the service (session 0).
Result<DeviceNotification> RegisterServiceVolumeNotification(ServiceStatusHandle handle);

// SetServiceStatus. Any thread of the service process.
Result<void> SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status);

}  // namespace pw::platform
