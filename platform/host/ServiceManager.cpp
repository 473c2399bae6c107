#include "platform/host/ExecArguments.h"
#include "platform/host/ServiceManager.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <thread>

#include "platform/ByteOrder.h"
#include "platform/ErrorSink.h"
#include "platform/host/ProcessRunning.h"
#include "platform/host/RecordText.h"
#include "platform/host/UniqueFd.h"
#include "platform/host/World.h"

extern char** environ;

namespace pw::host {
namespace fs = std::filesystem;
namespace error = platform::error;
using platform::GetLe32;
using platform::PutLe32;
namespace state = platform::service_state;
using platform::ErrorCode;
using platform::ServiceStatus;
using platform::ServiceStatusResult;

namespace {

constexpr std::uint32_t kRequestMagic = 0x43535750u;  // "PWSC" in file order
constexpr std::uint32_t kReplyMagic = 0x52535750u;    // "PWSR"
constexpr std::size_t kRequestSize = 8;
// A request with event data: the magic, the control, the event type and the session.
constexpr std::uint32_t kEventRequestMagic = 0x45535750u;  // "PWSE"
constexpr std::size_t kEventRequestSize = 16;
constexpr std::size_t kReplySize = 40;
constexpr std::uint32_t kStartWaitHint = 2000;
constexpr auto kStartPoll = std::chrono::milliseconds(5);
constexpr const char* kWorldVariable = "PAGEWICK_WORLD";
constexpr const char* kLaunchVariable = "PAGEWICK_SERVICE_LAUNCH";

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

// --- The control socket: an abstract Unix socket, so no file is left behind.

sockaddr_un AbstractAddress(const std::string& name, socklen_t& length) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t size = std::min(name.size(), sizeof(address.sun_path) - 1);
  std::memcpy(address.sun_path + 1, name.data(), size);
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + size);
  return address;
}

bool SendAll(int fd, const std::byte* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

// Receives exactly size bytes, waiting at most until the deadline.
bool ReceiveAll(int fd, std::byte* data, std::size_t size, std::chrono::steady_clock::time_point deadline) {
  while (size > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return false;
    if (ready == 0) continue;
    const ssize_t got = ::recv(fd, data, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

using Descriptor = UniqueFd;

// --- Command lines of services.

std::vector<std::string> SplitArguments(std::string_view text) {
  std::vector<std::string> arguments;
  std::string current;
  bool quoted = false;
  bool any = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (any) arguments.push_back(std::move(current));
      current.clear();
      any = false;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) arguments.push_back(std::move(current));
  return arguments;
}

bool NamesFile(const World& world, const std::string& windowsPath, fs::path& hostPath) {
  const ResolvedPath resolved = world.Resolve(windowsPath);
  std::error_code ec;
  if (resolved.error != error::kSuccess || !resolved.exists || !fs::is_regular_file(resolved.hostPath, ec)) return false;
  hostPath = resolved.hostPath;
  return true;
}

// The program of a service's command line as the system finds it: a quoted
// path ends at its closing quote; an unquoted one is tried at each blank in
// turn, the first prefix that names a file winning, with ".exe" added when the
// prefix has no extension.
bool FindProgram(const World& world, std::string_view commandLine, fs::path& program, std::vector<std::string>& rest) {
  std::string_view text = commandLine;
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  if (!text.empty() && text.front() == '"') {
    const std::size_t close = text.find('"', 1);
    const std::string path(text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    if (!NamesFile(world, path, program)) return false;
    rest = SplitArguments(close == std::string_view::npos ? std::string_view() : text.substr(close + 1));
    return true;
  }
  for (std::size_t end = 0; end <= text.size(); ++end) {
    if (end < text.size() && text[end] != ' ') continue;
    const std::string candidate(text.substr(0, end));
    const std::string name = candidate.substr(candidate.find_last_of("\\/") == std::string::npos
                                                  ? 0
                                                  : candidate.find_last_of("\\/") + 1);
    const bool hasExtension = name.find('.') != std::string::npos;
    if (NamesFile(world, candidate, program) || (!hasExtension && NamesFile(world, candidate + ".exe", program))) {
      rest = SplitArguments(end < text.size() ? text.substr(end + 1) : std::string_view());
      return true;
    }
  }
  return false;
}

ErrorCode ErrorFromSpawn(int code) {
  switch (code) {
    case ENOENT: return error::kFileNotFound;
    case EACCES:
    case EPERM: return error::kAccessDenied;
    case ENOMEM: return error::kNotEnoughMemory;
    default: return error::kGenFailure;
  }
}

}  // namespace

struct ServiceManager::RunningService {
  std::string name;  // as registered
  platform::ServiceControlHandler handler;
  platform::ServiceControlHandlerEx handlerEx;
  ServiceStatus last{};
  std::atomic<bool> stopped{false};
  // Signalled with stopped, so that the dispatcher sleeps until a request or the end.
  Descriptor stoppedEvent{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};

  void MarkStopped() {
    stopped.store(true);
    const std::uint64_t one = 1;
    if (stoppedEvent.get() >= 0) (void)!::write(stoppedEvent.get(), &one, sizeof one);
  }
};

struct ServiceManager::ProcessSide {
  std::mutex mutex;
  bool dispatcherCalled = false;
  std::optional<std::string> adoptedLaunch;
  std::shared_ptr<RunningService> running;
};

ServiceManager::ServiceManager(World& world) : world_(world), process_(std::make_unique<ProcessSide>()) {}

ServiceManager::~ServiceManager() { ReapChildren(); }

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

// --- Looking and settings

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

// --- The control program's side

ErrorCode ServiceManager::Create(const platform::ServiceDefinition& definition, std::uint32_t& tagId) {
  namespace type = platform::service_type;
  if (definition.name.empty() || definition.name.find_first_of("\\/") != std::string::npos) return error::kInvalidName;
  if (definition.binaryPath.empty()) return error::kInvalidParameter;
  const std::uint32_t kind = definition.type & ~type::kInteractiveProcess;
  if (kind != type::kOwnProcess && kind != type::kShareProcess) return error::kInvalidParameter;
  // An interactive service runs as LocalSystem only.
  if ((definition.type & type::kInteractiveProcess) != 0 && definition.account &&
      !NamesEqual(*definition.account, "LocalSystem")) {
    return error::kInvalidParameter;
  }
  if (definition.startType < platform::start_type::kAuto || definition.startType > platform::start_type::kDisabled) {
    return error::kInvalidParameter;
  }
  if (definition.errorControl > platform::error_control::kCritical) return error::kInvalidParameter;
  // A tag orders services within their load-order group.
  if (definition.requestTag && (!definition.loadOrderGroup || definition.loadOrderGroup->empty())) {
    return error::kInvalidParameter;
  }

  FileLock lock(LockPath());
  if (std::optional<ServiceRecord> existing = Load(definition.name)) {
    return existing->deletePending ? error::kServiceMarkedForDelete : error::kServiceExists;
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
      return error::kDuplicateServiceName;
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
  if (!Save(record)) return error::kAccessDenied;
  std::error_code removed;
  fs::remove(ReportsPath(definition.name), removed);
  tagId = record.tagId;
  return error::kSuccess;
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

  const LaunchResult launched = launcher ? launcher(request) : SpawnProcess(request);
  if (launched.error != error::kSuccess) return abandon(launched.error);
  if (launched.processId > 0) {
    std::scoped_lock lock(mutex_);
    children_.push_back(launched.processId);
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
    if (launched.processId > 0) {
      int status = 0;
      if (::waitpid(launched.processId, &status, WNOHANG) == launched.processId) {
        std::scoped_lock lock(mutex_);
        std::erase(children_, launched.processId);
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

platform::ServiceConfigResult ServiceManager::QueryConfig(std::string_view name) const {
  platform::ServiceConfigResult result;
  std::optional<ServiceRecord> record = Find(name);
  if (!record) {
    result.error = error::kServiceMarkedForDelete;
    return result;
  }
  result.ok = true;
  result.config.type = record->type;
  result.config.startType = record->startType;
  result.config.errorControl = record->errorControl;
  result.config.binaryPath = record->binaryPath;
  result.config.loadOrderGroup = record->loadOrderGroup.value_or("");
  result.config.tagId = record->tagId;
  result.config.dependencies = record->dependencies.value_or(std::vector<std::string>{});
  // No account name means LocalSystem.
  result.config.serviceStartName = record->account.value_or("LocalSystem");
  result.config.displayName = record->displayName;
  return result;
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
  Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  socklen_t length = 0;
  const sockaddr_un address = AbstractAddress(record.controlAddress, length);
  if (socket.get() < 0 || ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
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
  if (!SendAll(socket.get(), request, withEvent ? kEventRequestSize : kRequestSize) ||
      !ReceiveAll(socket.get(), reply, sizeof reply, std::chrono::steady_clock::now() + timeout) ||
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

// --- The service process's side

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
  Descriptor listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
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
    socklen_t length = 0;
    const sockaddr_un bound = AbstractAddress(address, length);
    ErrorCode refusal = error::kSuccess;
    if (!main) {
      refusal = error::kServiceNotInExe;
    } else if (listener.get() < 0 || ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&bound), length) != 0 ||
               ::listen(listener.get(), 8) != 0) {
      refusal = error::kGenFailure;
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
      platform::ReportCurrentException();
    }
  });

  // Serve control requests until the service reports that it has stopped.
  while (!running->stopped.load()) {
    pollfd entries[2] = {{listener.get(), POLLIN, 0}, {running->stoppedEvent.get(), POLLIN, 0}};
    // Without the event (no descriptor left) the end is noticed by polling.
    const int ready = ::poll(entries, 2, running->stoppedEvent.get() >= 0 ? -1 : 20);
    if (ready <= 0 || (entries[0].revents & POLLIN) == 0) continue;
    const int connection = ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    Descriptor owned(connection);
    ServeControl(connection);
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
  if (!ReceiveAll(connection, request, kRequestSize, deadline)) return;
  const std::uint32_t magic = GetLe32(request);
  if (magic == kEventRequestMagic) {
    if (!ReceiveAll(connection, request + kRequestSize, kEventRequestSize - kRequestSize, deadline)) return;
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
      platform::ReportCurrentException();
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
  (void)SendAll(connection, reply, sizeof reply);
}

platform::RegisterHandlerResult ServiceManager::RegisterHandler(std::string_view name,
                                                                platform::ServiceControlHandler handler) {
  platform::RegisterHandlerResult result;
  std::scoped_lock lock(process_->mutex);
  if (!process_->running || !NamesEqual(process_->running->name, name)) {
    result.error = error::kServiceDoesNotExist;
    return result;
  }
  process_->running->handler = std::move(handler);
  process_->running->handlerEx = nullptr;
  result.handle = process_->running.get();
  return result;
}

platform::RegisterHandlerResult ServiceManager::RegisterHandlerEx(std::string_view name,
                                                                  platform::ServiceControlHandlerEx handler) {
  platform::RegisterHandlerResult result;
  std::scoped_lock lock(process_->mutex);
  if (!process_->running || !NamesEqual(process_->running->name, name)) {
    result.error = error::kServiceDoesNotExist;
    return result;
  }
  process_->running->handler = nullptr;
  process_->running->handlerEx = std::move(handler);
  result.handle = process_->running.get();
  return result;
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

// --- Launching host processes

LaunchResult ServiceManager::SpawnProcess(const LaunchRequest& request) {
  LaunchResult result;
  World& world = World::Current();
  fs::path program;
  std::vector<std::string> rest;
  if (!FindProgram(world, request.binaryPath, program, rest)) {
    result.error = error::kFileNotFound;
    return result;
  }
  std::vector<std::string> argumentTexts{program.string()};
  argumentTexts.insert(argumentTexts.end(), rest.begin(), rest.end());
  std::vector<std::string> environmentTexts;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    // A service runs as LocalSystem, never in a user's session.
    if (text.starts_with(std::string(kWorldVariable) + "=") || text.starts_with(std::string(kLaunchVariable) + "=") ||
        text.starts_with("PAGEWICK_SESSION=")) {
      continue;
    }
    environmentTexts.emplace_back(text);
  }
  environmentTexts.push_back(std::string(kWorldVariable) + "=" + request.worldRoot.string());
  environmentTexts.push_back(std::string(kLaunchVariable) + "=" + request.launchId);
  std::vector<char*> argv = NullTerminatedPointers(argumentTexts);
  std::vector<char*> envp = NullTerminatedPointers(environmentTexts);

  // A service has no console: its output goes to a log file of the world.
  const fs::path logs = request.worldRoot / "scm" / "logs";
  std::error_code ec;
  fs::create_directories(logs, ec);
  const std::string logPath = (logs / (FileKey(request.serviceName) + ".log")).string();

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    result.error = ErrorFromSpawn(spawned);
    return result;
  }
  result.processId = child;
  return result;
}

void ServiceManager::ReapChildren() {
  std::scoped_lock lock(mutex_);
  std::erase_if(children_, [](pid_t child) {
    int status = 0;
    return ::waitpid(child, &status, WNOHANG) == child;
  });
}

bool FindCommandLineProgram(const World& world, std::string_view commandLine, fs::path& program,
                            std::vector<std::string>& arguments) {
  return FindProgram(world, commandLine, program, arguments);
}

}  // namespace pw::host
