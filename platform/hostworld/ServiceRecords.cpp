// The service manager's records in the world's folder: one file per service,
// its status reports, and the manager's own settings.
#include "platform/hostworld/ServiceManager.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <random>
#include <sstream>

#include "platform/hostworld/ProcessRunning.h"
#include "platform/hostworld/RecordText.h"
#include "platform/hostworld/ServiceManagerParts.h"
#include "platform/hostworld/World.h"

namespace pw::hostworld {

using namespace scm;

namespace {

std::uint32_t Number(const Record& record, const std::string& key) {
  auto it = record.find(key);
  if (it == record.end()) return 0;
  return static_cast<std::uint32_t>(std::strtoul(it->second.c_str(), nullptr, 10));
}

std::optional<std::string> Optional(const Record& record, const std::string& key) {
  auto it = record.find(key);
  if (it == record.end()) return std::nullopt;
  return it->second;
}

}  // namespace

namespace scm {

// The file name of a service's record: its name in lower case, anything but
// letters, digits, '.', '-' and '_' percent-encoded.
std::string FileKey(std::string_view name) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string key;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
    if (std::isalnum(u) || u == '.' || u == '-' || u == '_') {
      key += static_cast<char>(u);
    } else {
      key += '%';
      key += kHex[u >> 4];
      key += kHex[u & 0xF];
    }
  }
  return key;
}

std::string NewLaunchId() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  std::ostringstream id;
  id << ::getpid() << '-' << ++counter << '-' << std::hex << random() << random();
  return id.str();
}

Record ToRecord(const ServiceRecord& service) {
  Record record;
  auto put = [&](const std::string& key, std::uint64_t value) { record[key] = std::to_string(value); };
  record["name"] = service.name;
  record["displayName"] = service.displayName;
  put("type", service.type);
  put("startType", service.startType);
  put("errorControl", service.errorControl);
  record["binaryPath"] = service.binaryPath;
  if (service.loadOrderGroup) record["loadOrderGroup"] = *service.loadOrderGroup;
  put("tagRequested", service.tagRequested ? 1 : 0);
  put("tagId", service.tagId);
  if (service.dependencies) record["dependencies"] = EncodeList(*service.dependencies);
  if (service.account) record["account"] = *service.account;
  if (service.password) record["password"] = *service.password;
  if (!service.description.empty()) record["description"] = service.description;
  put("state", service.status.currentState);
  put("controlsAccepted", service.status.controlsAccepted);
  put("win32ExitCode", service.status.win32ExitCode);
  put("serviceSpecificExitCode", service.status.serviceSpecificExitCode);
  put("checkPoint", service.status.checkPoint);
  put("waitHint", service.status.waitHint);
  put("deletePending", service.deletePending ? 1 : 0);
  record["launchId"] = service.launchId;
  record["endedLaunchId"] = service.endedLaunchId;
  record["launchArguments"] = EncodeList(service.launchArguments);
  put("connected", service.connected ? 1 : 0);
  put("processId", static_cast<std::uint64_t>(service.processId));
  record["controlAddress"] = service.controlAddress;
  return record;
}

ServiceRecord FromRecord(const Record& record) {
  ServiceRecord service;
  service.name = Optional(record, "name").value_or("");
  service.displayName = Optional(record, "displayName").value_or("");
  service.type = Number(record, "type");
  service.startType = Number(record, "startType");
  service.errorControl = Number(record, "errorControl");
  service.binaryPath = Optional(record, "binaryPath").value_or("");
  service.loadOrderGroup = Optional(record, "loadOrderGroup");
  service.tagRequested = Number(record, "tagRequested") != 0;
  service.tagId = Number(record, "tagId");
  if (auto list = Optional(record, "dependencies")) service.dependencies = DecodeList(*list);
  service.account = Optional(record, "account");
  service.password = Optional(record, "password");
  service.description = Optional(record, "description").value_or("");
  service.status.serviceType = service.type;
  service.status.currentState = Number(record, "state");
  service.status.controlsAccepted = Number(record, "controlsAccepted");
  service.status.win32ExitCode = Number(record, "win32ExitCode");
  service.status.serviceSpecificExitCode = Number(record, "serviceSpecificExitCode");
  service.status.checkPoint = Number(record, "checkPoint");
  service.status.waitHint = Number(record, "waitHint");
  service.deletePending = Number(record, "deletePending") != 0;
  service.launchId = Optional(record, "launchId").value_or("");
  service.endedLaunchId = Optional(record, "endedLaunchId").value_or("");
  service.launchArguments = DecodeList(Optional(record, "launchArguments").value_or(""));
  service.connected = Number(record, "connected") != 0;
  service.processId = static_cast<long>(Number(record, "processId"));
  service.controlAddress = Optional(record, "controlAddress").value_or("");
  return service;
}

ServiceStatus StoppedStatus(std::uint32_t type, ErrorCode exitCode) {
  return {type, state::kStopped, 0, exitCode, 0, 0, 0};
}

}  // namespace scm

fs::path ServiceManager::Folder() const { return world_.Root() / "scm"; }

fs::path ServiceManager::LockPath() const { return Folder() / "lock"; }

fs::path ServiceManager::RecordPath(std::string_view name) const {
  return Folder() / "services" / (FileKey(name) + ".svc");
}

fs::path ServiceManager::ReportsPath(std::string_view name) const {
  return Folder() / "services" / (FileKey(name) + ".reports");
}

std::optional<ServiceRecord> ServiceManager::Load(std::string_view name) const {
  std::optional<Record> record = ReadRecord(RecordPath(name));
  if (!record) return std::nullopt;
  ServiceRecord service = FromRecord(*record);
  // A service process that died (killed, or the power went) without
  // reporting its stop is stopped with ERROR_PROCESS_ABORTED, as the
  // control manager marks it, and may be started again.
  if (service.connected && service.processId > 0 && !ProcessRunning(static_cast<pid_t>(service.processId))) {
    service.connected = false;
    service.processId = 0;
    service.launchId.clear();
    service.launchArguments.clear();
    service.controlAddress.clear();
    service.status = StoppedStatus(service.type, error::kProcessAborted);
    Save(service);
  }
  return service;
}

bool ServiceManager::Save(const ServiceRecord& record) const { return WriteRecord(RecordPath(record.name), ToRecord(record)); }

void ServiceManager::Remove(std::string_view name) const {
  std::error_code ec;
  fs::remove(RecordPath(name), ec);
}

std::optional<ServiceRecord> ServiceManager::Find(std::string_view name) const {
  FileLock lock(LockPath());
  return Load(name);
}

std::vector<ServiceRecord> ServiceManager::Services() const {
  FileLock lock(LockPath());
  std::vector<ServiceRecord> services;
  std::error_code ec;
  for (fs::directory_iterator it(Folder() / "services", ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() != ".svc") continue;
    if (std::optional<Record> record = ReadRecord(it->path())) services.push_back(FromRecord(*record));
  }
  std::sort(services.begin(), services.end(),
            [](const ServiceRecord& a, const ServiceRecord& b) { return FileKey(a.name) < FileKey(b.name); });
  return services;
}

std::vector<ServiceStatus> ServiceManager::StatusReports(std::string_view name) const {
  FileLock lock(LockPath());
  std::vector<ServiceStatus> reports;
  for (const std::string& line : ReadLines(ReportsPath(name))) {
    std::istringstream in(line);
    ServiceStatus status;
    in >> status.serviceType >> status.currentState >> status.controlsAccepted >> status.win32ExitCode >>
        status.serviceSpecificExitCode >> status.checkPoint >> status.waitHint;
    if (in) reports.push_back(status);
  }
  return reports;
}

void ServiceManager::ClearStatusReports(std::string_view name) {
  FileLock lock(LockPath());
  std::error_code ec;
  fs::remove(ReportsPath(name), ec);
}

void ServiceManager::SetAdministrator(bool administrator) {
  FileLock lock(LockPath());
  Record config = ReadRecord(Folder() / "config").value_or(Record{});
  config["administrator"] = administrator ? "1" : "0";
  WriteRecord(Folder() / "config", config);
}

bool ServiceManager::Administrator() const {
  FileLock lock(LockPath());
  std::optional<Record> config = ReadRecord(Folder() / "config");
  if (!config) return true;
  auto it = config->find("administrator");
  return it == config->end() || it->second != "0";
}

}  // namespace pw::hostworld
