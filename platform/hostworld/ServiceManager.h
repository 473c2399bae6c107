#pragma once
// The service control manager of the host world. Its database lives in the
// world's folder (<root>/scm), so every process of the world sees the same
// registrations and states: a test, the pagewick-sc tool, and service
// processes that the manager launched.
//
// Starting a service launches its process: by default the registered binary
// as a host process with PAGEWICK_WORLD naming the world and
// PAGEWICK_SERVICE_LAUNCH naming the launch; a test may set a launcher that
// runs the program in a thread of its own process instead (AdoptLaunch). The
// dispatcher of the launched process recognises the launch; a process that
// was not launched so fails StartServiceCtrlDispatcher with 1063, as on
// Windows. Control requests travel to the dispatcher over a local socket and
// reach the registered control handler on the dispatcher thread.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ServiceControl.h"

namespace pw::hostworld {

class World;

// One registration as the database holds it, with the service's state.
struct ServiceRecord {
  std::string name;
  std::string displayName;
  std::uint32_t type = 0;
  std::uint32_t startType = 0;
  std::uint32_t errorControl = 0;
  std::string binaryPath;
  std::optional<std::string> loadOrderGroup;
  bool tagRequested = false;
  std::uint32_t tagId = 0;
  std::optional<std::vector<std::string>> dependencies;
  std::optional<std::string> account;
  std::optional<std::string> password;
  std::string description;  // ChangeServiceConfig2's SERVICE_CONFIG_DESCRIPTION; empty: none

  platform::ServiceStatus status;
  bool deletePending = false;
  std::string launchId;                     // the launch in progress or running
  std::string endedLaunchId;                // the last launch whose dispatcher connected and ended
  std::vector<std::string> launchArguments;  // StartService's arguments
  bool connected = false;                    // a dispatcher runs the service
  long processId = 0;
  std::string controlAddress;                // the dispatcher's control socket
};

struct LaunchRequest {
  std::string serviceName;
  std::string binaryPath;  // as registered (a Windows command line)
  std::string launchId;
  std::filesystem::path worldRoot;
};

// A launch gives the host process to watch, or 0 for an in-process launch.
using Launcher = std::function<platform::Result<pid_t>(const LaunchRequest&)>;

// The host program a Windows command line names, and its arguments.
struct CommandLineProgram {
  std::filesystem::path program;
  std::vector<std::string> arguments;
};
// The program as a launch finds it (a name without extension may name
// "name.exe" too); nullopt when the command line names no file.
std::optional<CommandLineProgram> FindCommandLineProgram(const World& world, std::string_view commandLine);

class ServiceManager {
 public:
  explicit ServiceManager(World& world);
  ~ServiceManager();
  ServiceManager(const ServiceManager&) = delete;
  ServiceManager& operator=(const ServiceManager&) = delete;

  // --- What tests and the tool look at.
  std::optional<ServiceRecord> Find(std::string_view name) const;
  std::vector<ServiceRecord> Services() const;
  // Every status the service reported with SetServiceStatus, oldest first.
  std::vector<platform::ServiceStatus> StatusReports(std::string_view name) const;
  void ClearStatusReports(std::string_view name);

  // --- The world's settings.
  // Whether the caller holds administrator rights: without them the manager
  // opens only for SC_MANAGER_CONNECT and enumeration (else 5). Kept in the
  // world's folder, true by default.
  void SetAdministrator(bool administrator);
  bool Administrator() const;
  void SetLauncher(Launcher launcher);
  // The default launcher: the binary as a host process.
  static platform::Result<pid_t> SpawnProcess(const LaunchRequest& request);
  void SetStartTimeout(std::chrono::milliseconds timeout);
  void SetControlTimeout(std::chrono::milliseconds timeout);
  // Makes SetServiceStatus fail with the code (nullopt: succeed again).
  void SetStatusReportFailure(std::optional<platform::ErrorCode> error);

  // Marks this process as the one launched for launchId: the in-process
  // launcher's first act. Forgets the earlier in-process launch.
  void AdoptLaunch(const std::string& launchId);

  // A control code delivered to the service's handler as the system sends it,
  // without ControlService's checks of code and state (how
  // SERVICE_CONTROL_SHUTDOWN reaches a service).
  platform::ServiceStatusResult SendControl(std::string_view name, std::uint32_t control);
  // The same with event data, as SERVICE_CONTROL_SESSIONCHANGE carries it.
  platform::ServiceStatusResult SendControlEvent(std::string_view name, const platform::ServiceControlEvent& event);
  // The system shuts down: SERVICE_CONTROL_SHUTDOWN to every running service
  // that accepts it. Returns how many were told.
  int SystemShutdown();

  // --- The backend of the platform calls (HostServiceControl.cpp).
  // Registers the service; gives its tag (0 unless one was asked for).
  platform::Result<std::uint32_t> Create(const platform::ServiceDefinition& definition);
  platform::ErrorCode MarkForDelete(std::string_view name);
  platform::ErrorCode Start(std::string_view name, const std::vector<std::string>& arguments);
  platform::ServiceStatusResult Control(std::string_view name, std::uint32_t control);
  platform::ServiceStatusResult QueryStatus(std::string_view name) const;
  platform::Result<platform::ServiceConfig> QueryConfig(std::string_view name) const;
  platform::Result<void> SetDescription(std::string_view name, std::string_view description);

  platform::Result<void> RunDispatcher(const std::vector<platform::ServiceTableEntry>& table);
  platform::Result<platform::ServiceStatusHandle> RegisterHandler(std::string_view name, platform::ServiceControlHandler handler);
  platform::Result<platform::ServiceStatusHandle> RegisterHandlerEx(std::string_view name, platform::ServiceControlHandlerEx handler);
  platform::Result<void> SetStatus(platform::ServiceStatusHandle handle, const platform::ServiceStatus& status);

 private:
  struct RunningService;
  struct ProcessSide;

  std::filesystem::path Folder() const;
  std::filesystem::path LockPath() const;
  std::filesystem::path RecordPath(std::string_view name) const;
  std::filesystem::path ReportsPath(std::string_view name) const;
  std::optional<ServiceRecord> Load(std::string_view name) const;
  bool Save(const ServiceRecord& record) const;
  void Remove(std::string_view name) const;
  platform::ServiceStatusResult Deliver(const ServiceRecord& record, std::uint32_t control,
                                        std::uint32_t eventType = 0, std::uint32_t sessionId = 0);
  void ServeControl(int connection);
  void ReapChildren();

  World& world_;
  mutable std::mutex mutex_;
  Launcher launcher_;
  std::chrono::milliseconds startTimeout_{30000};
  std::chrono::milliseconds controlTimeout_{30000};
  std::optional<platform::ErrorCode> statusFailure_;
  std::vector<pid_t> children_;
  std::unique_ptr<ProcessSide> process_;
};

}  // namespace pw::hostworld
