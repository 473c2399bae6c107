#include <array>
#include <memory>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/ErrorSink.h"
#include "platform/ServiceControl.h"
#include "platform/TextCompare.h"
#include "platform/winapi/WindowsApi.h"

#include <dbt.h>

namespace pw::platform {
namespace {

SC_HANDLE Sc(RawHandle handle) { return static_cast<SC_HANDLE>(handle); }
SC_HANDLE Sc(const ServiceHandle& handle) { return static_cast<SC_HANDLE>(handle.get()); }

const char* OrNull(const std::optional<std::string>& text) { return text ? text->c_str() : nullptr; }

ServiceStatus FromNative(const SERVICE_STATUS& native) {
  return {native.dwServiceType,  native.dwCurrentState,  native.dwControlsAccepted, native.dwWin32ExitCode,
          native.dwServiceSpecificExitCode, native.dwCheckPoint, native.dwWaitHint};
}

// The service mains of the running dispatcher, found by the name that the
// control manager passes first.
std::mutex g_tableMutex;
std::vector<ServiceTableEntry> g_table;

void WINAPI ServiceMainTrampoline(DWORD argc, LPSTR* argv) {
  std::vector<std::string> arguments;
  for (DWORD i = 0; i < argc; ++i) arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
  ServiceMainFunction main;
  {
    std::scoped_lock lock(g_tableMutex);
    for (const ServiceTableEntry& entry : g_table) {
      if (!arguments.empty() && SameTextIgnoringCase(entry.name, arguments[0])) main = entry.main;
    }
  }
  if (!main) return;
  try {
    main(arguments);
  } catch (...) {
    ReportCurrentException();
  }
}

// RegisterServiceCtrlHandlerA's handler gets no context: one trampoline per
// slot, a slot per registered service.
constexpr std::size_t kHandlerSlots = 8;
std::array<ServiceControlHandler, kHandlerSlots> g_handlers;
std::array<std::string, kHandlerSlots> g_handlerNames;

template <std::size_t Slot>
void WINAPI HandlerTrampoline(DWORD control) {
  ServiceControlHandler handler;
  {
    std::scoped_lock lock(g_tableMutex);
    handler = g_handlers[Slot];
  }
  if (!handler) return;
  try {
    handler(control);
  } catch (...) {
    ReportCurrentException();
  }
}

template <std::size_t... Slots>
constexpr std::array<LPHANDLER_FUNCTION, kHandlerSlots> MakeTrampolines(std::index_sequence<Slots...>) {
  return {&HandlerTrampoline<Slots>...};
}
constexpr std::array<LPHANDLER_FUNCTION, kHandlerSlots> kTrampolines =
    MakeTrampolines(std::make_index_sequence<kHandlerSlots>{});

}  // namespace

void ServiceHandleTraits::Close(RawHandle handle) noexcept {
  const DWORD error = ::GetLastError();
  ::CloseServiceHandle(Sc(handle));
  ::SetLastError(error);
}

Result<ServiceHandle> OpenSCManager(const std::optional<std::string>& machine,
                                    const std::optional<std::string>& database, std::uint32_t access) {
  SC_HANDLE handle = ::OpenSCManagerA(OrNull(machine), OrNull(database), access);
  if (handle == nullptr) return Failure(::GetLastError());
  return ServiceHandle(handle);
}

Result<ServiceHandle> CreateService(const ServiceHandle& manager, const ServiceDefinition& definition) {
  std::string dependencies;
  if (definition.dependencies) {
    for (const std::string& name : *definition.dependencies) {
      dependencies += name;
      dependencies += '\0';
    }
    dependencies += '\0';  // the list ends with an empty name
  }
  DWORD tag = 0;
  SC_HANDLE handle = ::CreateServiceA(
      Sc(manager), definition.name.c_str(), OrNull(definition.displayName), definition.access, definition.type,
      definition.startType, definition.errorControl, definition.binaryPath.c_str(), OrNull(definition.loadOrderGroup),
      definition.requestTag ? &tag : nullptr, definition.dependencies ? dependencies.c_str() : nullptr,
      OrNull(definition.account), OrNull(definition.password));
  if (handle == nullptr) return Failure(::GetLastError());
  return ServiceHandle(handle);
}

Result<ServiceHandle> OpenService(const ServiceHandle& manager, std::string_view name, std::uint32_t access) {
  std::string text(name);
  SC_HANDLE handle = ::OpenServiceA(Sc(manager), text.c_str(), access);
  if (handle == nullptr) return Failure(::GetLastError());
  return ServiceHandle(handle);
}

Result<void> DeleteService(const ServiceHandle& service) {
  if (::DeleteService(Sc(service))) return Success();
  return Failure(::GetLastError());
}

Result<void> StartService(const ServiceHandle& service, const std::vector<std::string>& arguments) {
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  if (::StartServiceA(Sc(service), static_cast<DWORD>(pointers.size()), pointers.empty() ? nullptr : pointers.data())) {
    return Success();
  }
  return Failure(::GetLastError());
}

ServiceStatusResult ControlService(const ServiceHandle& service, std::uint32_t control) {
  ServiceStatusResult result;
  SERVICE_STATUS native{};
  result.ok = ::ControlService(Sc(service), control, &native) != FALSE;
  if (!result.ok) result.error = ::GetLastError();
  result.status = FromNative(native);
  return result;
}

ServiceStatusResult QueryServiceStatus(const ServiceHandle& service) {
  ServiceStatusResult result;
  SERVICE_STATUS native{};
  result.ok = ::QueryServiceStatus(Sc(service), &native) != FALSE;
  if (!result.ok) result.error = ::GetLastError();
  result.status = FromNative(native);
  return result;
}

Result<ServiceConfig> QueryServiceConfig(const ServiceHandle& service) {
  DWORD needed = 0;
  ::QueryServiceConfigA(Sc(service), nullptr, 0, &needed);
  DWORD error = ::GetLastError();
  if (error != ERROR_INSUFFICIENT_BUFFER) return Failure(error);
  std::vector<std::byte> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (!::QueryServiceConfigA(Sc(service), config, needed, &needed)) return Failure(::GetLastError());
  auto text = [](const char* value) { return value != nullptr ? std::string(value) : std::string(); };
  ServiceConfig result;
  result.type = config->dwServiceType;
  result.startType = config->dwStartType;
  result.errorControl = config->dwErrorControl;
  result.binaryPath = text(config->lpBinaryPathName);
  result.loadOrderGroup = text(config->lpLoadOrderGroup);
  result.tagId = config->dwTagId;
  for (const char* name = config->lpDependencies; name != nullptr && *name != '\0'; name += std::strlen(name) + 1) {
    result.dependencies.emplace_back(name);
  }
  result.serviceStartName = text(config->lpServiceStartName);
  result.displayName = text(config->lpDisplayName);
  return result;
}

Result<void> ChangeServiceDescription(const ServiceHandle& service, std::string_view description) {
  std::string text(description);
  SERVICE_DESCRIPTIONA change{};
  change.lpDescription = text.data();
  if (!::ChangeServiceConfig2A(Sc(service), SERVICE_CONFIG_DESCRIPTION, &change)) return Failure(::GetLastError());
  return Success();
}

Result<std::string> QueryServiceDescription(const ServiceHandle& service) {
  DWORD needed = 0;
  ::QueryServiceConfig2A(Sc(service), SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &needed);
  const DWORD error = ::GetLastError();
  if (error != ERROR_INSUFFICIENT_BUFFER) return Failure(error);
  std::vector<std::byte> buffer(needed);
  if (!::QueryServiceConfig2A(Sc(service), SERVICE_CONFIG_DESCRIPTION, reinterpret_cast<LPBYTE>(buffer.data()),
                              needed, &needed)) {
    return Failure(::GetLastError());
  }
  const auto* read = reinterpret_cast<const SERVICE_DESCRIPTIONA*>(buffer.data());
  return read->lpDescription != nullptr ? std::string(read->lpDescription) : std::string();
}

Result<void> StartServiceCtrlDispatcher(const std::vector<ServiceTableEntry>& table) {
  std::vector<std::string> names;
  names.reserve(table.size());
  for (const ServiceTableEntry& entry : table) names.push_back(entry.name);
  std::vector<SERVICE_TABLE_ENTRYA> native;
  for (std::string& name : names) native.push_back({name.data(), &ServiceMainTrampoline});
  native.push_back({nullptr, nullptr});
  bool ownsTable = false;
  {
    std::scoped_lock lock(g_tableMutex);
    // A second call while one runs fails in the control manager (1056); the
    // table of the running one stays.
    if (g_table.empty()) {
      g_table = table;
      ownsTable = true;
    }
  }
  const BOOL ok = ::StartServiceCtrlDispatcherA(native.data());
  const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
  if (ownsTable) {
    std::scoped_lock lock(g_tableMutex);
    g_table.clear();
  }
  if (ok) return Success();
  return Failure(error);
}

Result<ServiceStatusHandle> RegisterServiceCtrlHandler(std::string_view name, ServiceControlHandler handler) {
  std::string text(name);
  std::size_t slot = kHandlerSlots;
  {
    std::scoped_lock lock(g_tableMutex);
    for (std::size_t i = 0; i < kHandlerSlots && slot == kHandlerSlots; ++i) {
      if (!g_handlers[i] || SameTextIgnoringCase(g_handlerNames[i], text)) slot = i;
    }
    if (slot == kHandlerSlots) return Failure(ERROR_NOT_ENOUGH_MEMORY);
    g_handlers[slot] = std::move(handler);
    g_handlerNames[slot] = text;
  }
  SERVICE_STATUS_HANDLE handle = ::RegisterServiceCtrlHandlerA(text.c_str(), kTrampolines[slot]);
  if (handle == nullptr) {
    const ErrorCode error = ::GetLastError();
    std::scoped_lock lock(g_tableMutex);
    g_handlers[slot] = nullptr;
    g_handlerNames[slot].clear();
    return Failure(error);
  }
  return ServiceStatusHandle{handle};
}

Result<void> SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
  SERVICE_STATUS native{};
  native.dwServiceType = status.serviceType;
  native.dwCurrentState = status.currentState;
  native.dwControlsAccepted = status.controlsAccepted;
  native.dwWin32ExitCode = status.win32ExitCode;
  native.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
  native.dwCheckPoint = status.checkPoint;
  native.dwWaitHint = status.waitHint;
  if (::SetServiceStatus(static_cast<SERVICE_STATUS_HANDLE>(handle), &native)) return Success();
  return Failure(::GetLastError());
}

}  // namespace pw::platform

namespace pw::platform {
namespace {

// RegisterServiceCtrlHandlerExA passes a context: the handler itself. The
// control manager may call an earlier registration's context until the new
// one is in place, so handlers live as long as the process.
std::mutex g_handlerExMutex;
std::vector<std::unique_ptr<ServiceControlHandlerEx>> g_handlersEx;

DWORD WINAPI HandlerExTrampoline(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) {
  ServiceControlEvent event{control, 0, 0};
  if (control == SERVICE_CONTROL_SESSIONCHANGE && eventData != nullptr) {
    event.eventType = eventType;
    event.sessionId = static_cast<const WTSSESSION_NOTIFICATION*>(eventData)->dwSessionId;
  }
  try {
    (*static_cast<ServiceControlHandlerEx*>(context))(event);
  } catch (...) {
    ReportCurrentException();
  }
  return NO_ERROR;
}

}  // namespace

Result<ServiceStatusHandle> RegisterServiceCtrlHandlerEx(std::string_view name, ServiceControlHandlerEx handler) {
  ServiceControlHandlerEx* context = nullptr;
  {
    std::scoped_lock lock(g_handlerExMutex);
    g_handlersEx.push_back(std::make_unique<ServiceControlHandlerEx>(std::move(handler)));
    context = g_handlersEx.back().get();
  }
  const std::string text(name);
  SERVICE_STATUS_HANDLE handle = ::RegisterServiceCtrlHandlerExA(text.c_str(), &HandlerExTrampoline, context);
  if (handle == nullptr) return Failure(::GetLastError());
  return ServiceStatusHandle{handle};
}

DeviceNotification::~DeviceNotification() {
  if (handle_ != nullptr) (void)::UnregisterDeviceNotification(static_cast<HDEVNOTIFY>(handle_));
}

Result<DeviceNotification> RegisterServiceVolumeNotification(ServiceStatusHandle handle) {
  // GUID_DEVINTERFACE_VOLUME, spelt out so that no header has to define it.
  constexpr GUID kVolumeInterface = {0x53f5630d, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = kVolumeInterface;
  HDEVNOTIFY registered = ::RegisterDeviceNotificationA(handle, &filter, DEVICE_NOTIFY_SERVICE_HANDLE);
  if (registered == nullptr) return Failure(::GetLastError());
  return DeviceNotification(registered);
}

}  // namespace pw::platform
