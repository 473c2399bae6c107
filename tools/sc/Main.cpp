// pagewick-sc: controls the services of a host world as sc.exe does on
// Windows: create, delete, start, stop, pause, continue, interrogate, send a
// control code, query status and configuration, and a system shutdown. It
// also prints the world's event log and seats a user at the console.
//
//   pagewick-sc [--world DIR] <command> [service] [options]
//
// The world is DIR, or the folder PAGEWICK_WORLD names. Like sc.exe it prints
// a failure's Win32 code; the exit status is 0 on success and 1 on failure.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/ErrorText.h"
#include "platform/ServiceControl.h"
#include "platform/hostworld/EventLogStore.h"
#include "platform/hostworld/ServiceManager.h"
#include "platform/hostworld/World.h"
#include "platform/hostworld/WorldSessions.h"

namespace {

namespace pf = pw::platform;

constexpr const char* kUsage =
    "usage: pagewick-sc [--world DIR] <command> [service] [options]\n"
    "commands:\n"
    "  create <name> binPath= <path> [DisplayName= <text>] [type= own|share|interact]\n"
    "                [start= auto|demand|disabled] [error= ignore|normal|severe|critical]\n"
    "                [obj= <account>] [password= <text>] [group= <group>] [depend= <a/b>]\n"
    "  delete <name>\n"
    "  start <name> [arguments...]\n"
    "  stop|pause|continue|interrogate <name>\n"
    "  control <name> <code>\n"
    "  query <name>          status\n"
    "  qc <name>             configuration\n"
    "  qdescription <name>   description\n"
    "  wait <name> <STATE> [milliseconds]   wait until the service is in the state\n"
    "  shutdown              the system shuts down: every running service that accepts it is told\n"
    "  eventlog              print the world's event log\n"
    "  admin yes|no          whether callers hold administrator rights\n"
    "  console <user>        <user> is logged on at the console (session 1); before the services start\n";

const char* StateName(std::uint32_t state) {
  switch (state) {
    case pf::service_state::kStopped: return "STOPPED";
    case pf::service_state::kStartPending: return "START_PENDING";
    case pf::service_state::kStopPending: return "STOP_PENDING";
    case pf::service_state::kRunning: return "RUNNING";
    case pf::service_state::kContinuePending: return "CONTINUE_PENDING";
    case pf::service_state::kPausePending: return "PAUSE_PENDING";
    case pf::service_state::kPaused: return "PAUSED";
    default: return "UNKNOWN";
  }
}

std::string TypeText(std::uint32_t type) {
  std::ostringstream out;
  out << std::hex << type << "  ";
  const std::uint32_t kind = type & ~pf::service_type::kInteractiveProcess;
  out << (kind == pf::service_type::kOwnProcess ? "WIN32_OWN_PROCESS"
                                                 : kind == pf::service_type::kShareProcess ? "WIN32_SHARE_PROCESS" : "?");
  if (type & pf::service_type::kInteractiveProcess) out << " (interactive)";
  return out.str();
}

std::string Hex(std::uint32_t value) {
  std::ostringstream out;
  out << "0x" << std::hex << value;
  return out.str();
}

int Fail(const std::string& call, pf::ErrorCode code) {
  std::cout << "[SC] " << call << " FAILED " << code << ":\n\n" << pf::SystemErrorMessage(code) << "\n";
  return static_cast<int>(code);
}

void PrintStatus(const std::string& name, const pf::ServiceStatus& status, long processId) {
  std::cout << "\nSERVICE_NAME: " << name << "\n";
  std::cout << "        TYPE               : " << TypeText(status.serviceType) << "\n";
  std::cout << "        STATE              : " << status.currentState << "  " << StateName(status.currentState) << "\n";
  std::vector<std::string> accepts;
  accepts.push_back(status.controlsAccepted & pf::service_accept::kStop ? "STOPPABLE" : "NOT_STOPPABLE");
  accepts.push_back(status.controlsAccepted & pf::service_accept::kPauseContinue ? "PAUSABLE" : "NOT_PAUSABLE");
  accepts.push_back(status.controlsAccepted & pf::service_accept::kShutdown ? "ACCEPTS_SHUTDOWN"
                                                                             : "IGNORES_SHUTDOWN");
  std::cout << "                                (" << accepts[0] << ", " << accepts[1] << ", " << accepts[2] << ")\n";
  std::cout << "        WIN32_EXIT_CODE    : " << status.win32ExitCode << "  (" << Hex(status.win32ExitCode) << ")\n";
  std::cout << "        SERVICE_EXIT_CODE  : " << status.serviceSpecificExitCode << "  ("
            << Hex(status.serviceSpecificExitCode) << ")\n";
  std::cout << "        CHECKPOINT         : " << Hex(status.checkPoint) << "\n";
  std::cout << "        WAIT_HINT          : " << Hex(status.waitHint) << "\n";
  std::cout << "        PID                : " << processId << "\n";
}

long ProcessIdOf(const pw::host::World& world, const std::string& name) {
  std::optional<pw::host::ServiceRecord> record = world.Services().Find(name);
  return record ? record->processId : 0;
}

pf::ServiceHandle OpenManager(int& failure) {
  pf::Result<pf::ServiceHandle> manager =
      pf::OpenSCManager(std::nullopt, std::nullopt, pf::manager_access::kAllAccess);
  if (!manager) {
    // Without administrator rights the manager opens for connecting only.
    manager = pf::OpenSCManager(std::nullopt, std::nullopt, pf::manager_access::kConnect);
  }
  if (!manager) {
    failure = Fail("OpenSCManager", manager.error());
    return pf::ServiceHandle();
  }
  return std::move(manager).value();
}

// sc.exe's "key= value" options.
std::map<std::string, std::string> Options(const std::vector<std::string>& args, std::size_t from) {
  std::map<std::string, std::string> options;
  for (std::size_t i = from; i + 1 < args.size(); i += 2) {
    std::string key = args[i];
    if (!key.empty() && key.back() == '=') key.pop_back();
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    options[key] = args[i + 1];
  }
  return options;
}

int Create(const std::vector<std::string>& args) {
  std::map<std::string, std::string> options = Options(args, 2);
  if (!options.count("binpath")) {
    std::cerr << "create needs binPath= <path>\n";
    return 87;
  }
  pf::ServiceDefinition definition;
  definition.name = args[1];
  if (options.count("displayname")) definition.displayName = options["displayname"];
  definition.access = pf::service_access::kAllAccess;
  const std::string type = options.count("type") ? options["type"] : "own";
  definition.type = type == "share" ? pf::service_type::kShareProcess : pf::service_type::kOwnProcess;
  if (type == "interact") definition.type |= pf::service_type::kInteractiveProcess;
  const std::string start = options.count("start") ? options["start"] : "demand";
  definition.startType = start == "auto" ? pf::start_type::kAuto
                         : start == "disabled" ? pf::start_type::kDisabled : pf::start_type::kDemand;
  const std::string severity = options.count("error") ? options["error"] : "normal";
  definition.errorControl = severity == "ignore" ? 0 : severity == "severe" ? 2 : severity == "critical" ? 3 : 1;
  definition.binaryPath = options["binpath"];
  if (options.count("group")) definition.loadOrderGroup = options["group"];
  if (options.count("depend")) {
    std::vector<std::string> names;
    std::istringstream in(options["depend"]);
    for (std::string name; std::getline(in, name, '/');) names.push_back(name);
    definition.dependencies = names;
  }
  if (options.count("obj")) definition.account = options["obj"];
  if (options.count("password")) definition.password = options["password"];
  int failure = 0;
  pf::ServiceHandle manager = OpenManager(failure);
  if (!manager) return failure;
  const pf::Result<pf::ServiceHandle> created = pf::CreateService(manager, definition);
  if (!created) return Fail("CreateService", created.error());
  std::cout << "[SC] CreateService SUCCESS\n";
  return 0;
}

int WithService(const std::string& name, std::uint32_t access, const std::function<int(const pf::ServiceHandle&)>& act) {
  int failure = 0;
  pf::ServiceHandle manager = OpenManager(failure);
  if (!manager) return failure;
  const pf::Result<pf::ServiceHandle> service = pf::OpenService(manager, name, access);
  if (!service) return Fail("OpenService", service.error());
  return act(*service);
}

int Run(const pw::host::World& world, const std::vector<std::string>& args) {
  const std::string& command = args[0];
  if (command == "eventlog") {
    for (const pw::host::EventLogEntry& entry : pw::host::EventLogEntries(world)) {
      std::cout << entry.source << " [type " << entry.type << "]";
      for (const std::string& text : entry.strings) std::cout << " " << text;
      std::cout << "\n";
    }
    return 0;
  }
  if (command == "shutdown") {
    std::cout << "[SC] shutdown: " << world.Services().SystemShutdown() << " service(s) told\n";
    return 0;
  }
  if (command == "console" && args.size() >= 2) {
    pw::host::SessionTable::SeatConsoleUser(world.Root(), args[1]);
    return 0;
  }
  if (command == "admin" && args.size() >= 2) {
    world.Services().SetAdministrator(args[1] == "yes");
    return 0;
  }
  if (args.size() < 2) {
    std::cerr << kUsage;
    return 87;
  }
  const std::string& name = args[1];
  if (command == "create") return Create(args);
  if (command == "delete") {
    return WithService(name, pf::service_access::kDelete, [](const pf::ServiceHandle& service) {
      const pf::Result<void> deleted = pf::DeleteService(service);
      if (!deleted) return Fail("DeleteService", deleted.error());
      std::cout << "[SC] DeleteService SUCCESS\n";
      return 0;
    });
  }
  if (command == "start") {
    std::vector<std::string> arguments(args.begin() + 2, args.end());
    return WithService(name, pf::service_access::kStart | pf::service_access::kQueryStatus,
                       [&](const pf::ServiceHandle& service) {
                         const pf::Result<void> started = pf::StartService(service, arguments);
                         if (!started) return Fail("StartService", started.error());
                         PrintStatus(name, pf::QueryServiceStatus(service).status, ProcessIdOf(world, name));
                         return 0;
                       });
  }
  const std::map<std::string, std::uint32_t> controls = {
      {"stop", pf::service_control::kStop},
      {"pause", pf::service_control::kPause},
      {"continue", pf::service_control::kContinue},
      {"interrogate", pf::service_control::kInterrogate}};
  if (controls.count(command) || command == "control") {
    std::uint32_t code = 0;
    if (command == "control") {
      if (args.size() < 3) {
        std::cerr << kUsage;
        return 87;
      }
      code = static_cast<std::uint32_t>(std::strtoul(args[2].c_str(), nullptr, 0));
    } else {
      code = controls.at(command);
    }
    return WithService(name, pf::service_access::kAllAccess, [&](const pf::ServiceHandle& service) {
      const pf::ServiceStatusResult result = pf::ControlService(service, code);
      if (!result.ok) return Fail("ControlService", result.error);
      PrintStatus(name, result.status, ProcessIdOf(world, name));
      return 0;
    });
  }
  if (command == "query") {
    return WithService(name, pf::service_access::kQueryStatus, [&](const pf::ServiceHandle& service) {
      const pf::ServiceStatusResult result = pf::QueryServiceStatus(service);
      if (!result.ok) return Fail("QueryServiceStatus", result.error);
      PrintStatus(name, result.status, ProcessIdOf(world, name));
      return 0;
    });
  }
  if (command == "qc") {
    return WithService(name, pf::service_access::kQueryConfig, [&](const pf::ServiceHandle& service) {
      const pf::Result<pf::ServiceConfig> result = pf::QueryServiceConfig(service);
      if (!result) return Fail("QueryServiceConfig", result.error());
      const pf::ServiceConfig& config = *result;
      std::cout << "[SC] QueryServiceConfig SUCCESS\n\nSERVICE_NAME: " << name << "\n";
      std::cout << "        TYPE               : " << TypeText(config.type) << "\n";
      std::cout << "        START_TYPE         : " << config.startType << "\n";
      std::cout << "        ERROR_CONTROL      : " << config.errorControl << "\n";
      std::cout << "        BINARY_PATH_NAME   : " << config.binaryPath << "\n";
      std::cout << "        LOAD_ORDER_GROUP   : " << config.loadOrderGroup << "\n";
      std::cout << "        TAG                : " << config.tagId << "\n";
      std::cout << "        DISPLAY_NAME       : " << config.displayName << "\n";
      std::cout << "        DEPENDENCIES       :";
      for (const std::string& dependency : config.dependencies) std::cout << " " << dependency;
      std::cout << "\n        SERVICE_START_NAME : " << config.serviceStartName << "\n";
      return 0;
    });
  }
  if (command == "qdescription") {
    return WithService(name, pf::service_access::kQueryConfig, [&](const pf::ServiceHandle& service) {
      const pf::Result<std::string> result = pf::QueryServiceDescription(service);
      if (!result) return Fail("QueryServiceConfig2", result.error());
      std::cout << "[SC] QueryServiceConfig2 SUCCESS\n\nSERVICE_NAME: " << name << "\nDESCRIPTION:  " << *result
                << "\n";
      return 0;
    });
  }
  if (command == "wait" && args.size() >= 3) {
    const auto timeout = std::chrono::milliseconds(args.size() >= 4 ? std::strtoul(args[3].c_str(), nullptr, 10) : 30000);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    return WithService(name, pf::service_access::kQueryStatus, [&](const pf::ServiceHandle& service) {
      for (;;) {
        const pf::ServiceStatusResult result = pf::QueryServiceStatus(service);
        if (result.ok && args[2] == StateName(result.status.currentState)) return 0;
        if (std::chrono::steady_clock::now() >= deadline) {
          std::cout << "[SC] wait: " << name << " is " << StateName(result.status.currentState) << ", not "
                    << args[2] << "\n";
          return static_cast<int>(pf::error::kServiceRequestTimeout);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
  }
  std::cerr << kUsage;
  return 87;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::optional<std::string> root;
  if (args.size() >= 2 && args[0] == "--world") {
    root = args[1];
    args.erase(args.begin(), args.begin() + 2);
  } else if (const char* fromEnvironment = std::getenv("PAGEWICK_WORLD")) {
    root = fromEnvironment;
  }
  if (!root || args.empty()) {
    std::cerr << kUsage;
    return 1;
  }
  try {
    pw::host::World::Options options;
    options.root = *root;
    pw::host::World world(options);
    // The Win32 code has been printed; an exit status keeps only 8 bits (1060
    // would read as 36, a multiple of 256 as success), so any failure is 1.
    return Run(world, args) == 0 ? 0 : 1;
  } catch (const std::exception& error) {
    std::cerr << "pagewick-sc: " << error.what() << "\n";
    return 1;
  }
}
