#include "platform/hostworld/WorldSessions.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/ServiceControl.h"
#include "platform/Sessions.h"
#include "platform/hostworld/Desktop.h"
#include "platform/hostworld/ServiceManager.h"
#include "platform/hostworld/ProcessRunning.h"
#include "platform/hostworld/RecordText.h"
#include "platform/hostworld/World.h"

namespace pw::hostworld {
namespace fs = std::filesystem;

namespace {

fs::path SessionsFile(const fs::path& root) { return root / "sessions"; }
fs::path SessionsFile(const World& world) { return SessionsFile(world.Root()); }
fs::path DeniedFile(const World& world) { return world.Root() / "user-write-denied"; }
fs::path ProcessesFile(const World& world) { return world.Root() / "session-processes"; }
// Held while a process of the world changes the processes file: the service
// adds its agents while a test's logoff takes the session's processes out.
fs::path ProcessesLockFile(const World& world) { return world.Root() / "session-processes.lock"; }
fs::path ConsoleFile(const fs::path& root) { return root / "console-session"; }
fs::path ConsoleFile(const World& world) { return ConsoleFile(world.Root()); }

// The processes started in sessions, by any process of the world.
std::vector<std::pair<std::uint32_t, pid_t>> LoadProcesses(const World& world) {
  std::vector<std::pair<std::uint32_t, pid_t>> processes;
  std::ifstream in(ProcessesFile(world));
  std::uint32_t session = 0;
  pid_t process = 0;
  while (in >> session >> process) processes.emplace_back(session, process);
  return processes;
}

void SaveProcesses(const World& world, const std::vector<std::pair<std::uint32_t, pid_t>>& processes) {
  std::ostringstream text;
  for (const auto& [session, process] : processes) text << session << ' ' << process << '\n';
  (void)ReplaceFileText(ProcessesFile(world), text.str());
}

// Ends a process as a logoff does. A child of this process is reaped; one
// started by another process of the world (the service) is waited for until
// it is gone or only waits for its parent to reap it.
void EndProcess(pid_t process) {
  ::kill(process, SIGTERM);
  if (::waitpid(process, nullptr, 0) == process) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ProcessRunning(process) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::vector<UserSession> Load(const World& world) {
  std::vector<UserSession> sessions;
  std::ifstream in(SessionsFile(world));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    UserSession session;
    if (fields >> session.id && std::getline(fields >> std::ws, session.user)) sessions.push_back(session);
  }
  return sessions;
}

std::vector<std::string> LoadDenied(const World& world) {
  std::vector<std::string> paths;
  std::ifstream in(DeniedFile(world));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) paths.push_back(line);
  }
  return paths;
}

// Whether `path` is `folder` or lies below it; both resolved Windows paths.
bool Within(std::string_view path, std::string_view folder) {
  if (path.size() < folder.size() || !NamesEqual(path.substr(0, folder.size()), folder)) return false;
  return path.size() == folder.size() || path[folder.size()] == '\\' || folder.back() == '\\';
}

}  // namespace

SessionTable::SessionTable(World& world) : world_(world) {}

SessionTable::~SessionTable() {
  // The processes this one started (a service's agents) are given a moment
  // to end on their own, as they do when the service stops, and then ended:
  // no process outlives the world it runs in.
  const auto grace = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (auto& [id, processes] : processes_) {
    for (pid_t process : processes) {
      while (::waitpid(process, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= grace) {
          ::kill(process, SIGTERM);
          ::waitpid(process, nullptr, 0);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
  }
}

void SessionTable::Save(const std::vector<UserSession>& sessions) const {
  // Other processes of the world (the service) read the table at any time.
  std::string text;
  for (const UserSession& session : sessions) text += std::to_string(session.id) + ' ' + session.user + '\n';
  (void)ReplaceFileText(SessionsFile(world_), text);
}

std::uint32_t SessionTable::LogOn(std::string user) {
  std::uint32_t id = 1;
  {
    std::scoped_lock lock(mutex_);
    std::vector<UserSession> sessions = Load(world_);
    for (const UserSession& session : sessions) id = std::max(id, session.id + 1);
    sessions.push_back({id, std::move(user)});
    Save(sessions);
    if (!ConsoleSession()) SetConsoleSession(id);
    desktops_[id] = std::make_unique<Desktop>(world_);
  }
  const int told = TellServices(platform::session_change::kLogon, id);
  std::scoped_lock lock(mutex_);
  changes_.push_back({platform::session_change::kLogon, id, told});
  return id;
}

bool SessionTable::LogOff(std::uint32_t id) {
  std::vector<pid_t> processes;
  {
    std::scoped_lock lock(mutex_);
    std::vector<UserSession> sessions = Load(world_);
    const auto found = std::find_if(sessions.begin(), sessions.end(), [&](const UserSession& s) { return s.id == id; });
    if (found == sessions.end()) return false;
    sessions.erase(found);
    Save(sessions);
    if (ConsoleSession() == id) SetConsoleSession(std::nullopt);
    processes_.erase(id);
    const FileLock processesLock(ProcessesLockFile(world_));
    std::vector<std::pair<std::uint32_t, pid_t>> all = LoadProcesses(world_);
    std::erase_if(all, [&](const auto& entry) {
      if (entry.first != id) return false;
      processes.push_back(entry.second);
      return true;
    });
    SaveProcesses(world_, all);
  }
  // The session's processes end with it, as Windows ends them at logoff.
  for (pid_t process : processes) EndProcess(process);
  const int told = TellServices(platform::session_change::kLogoff, id);
  std::scoped_lock lock(mutex_);
  desktops_.erase(id);
  changes_.push_back({platform::session_change::kLogoff, id, told});
  return true;
}

int SessionTable::TellServices(std::uint32_t eventType, std::uint32_t id) {
  int told = 0;
  for (const ServiceRecord& record : world_.Services().Services()) {
    if (record.status.currentState != platform::service_state::kRunning) continue;
    if ((record.status.controlsAccepted & platform::session_change::kAccept) == 0) continue;
    const platform::ServiceControlEvent event{platform::session_change::kControl, eventType, id};
    if (world_.Services().SendControlEvent(record.name, event).ok) ++told;
  }
  return told;
}

std::vector<UserSession> SessionTable::Sessions() const {
  std::scoped_lock lock(mutex_);
  return Load(world_);
}

std::optional<UserSession> SessionTable::Find(std::uint32_t id) const {
  for (const UserSession& session : Sessions()) {
    if (session.id == id) return session;
  }
  return std::nullopt;
}

std::vector<SessionChangeRecord> SessionTable::Changes() const {
  std::scoped_lock lock(mutex_);
  return changes_;
}

void SessionTable::SeatConsoleUser(const fs::path& worldRoot, const std::string& user) {
  (void)ReplaceFileText(SessionsFile(worldRoot), "1 " + user + '\n');
  (void)ReplaceFileText(ConsoleFile(worldRoot), "1\n");
}

std::optional<std::uint32_t> SessionTable::ConsoleSession() const {
  std::scoped_lock lock(mutex_);
  std::ifstream in(ConsoleFile(world_));
  std::uint32_t id = 0;
  if (in >> id) return id;
  return std::nullopt;
}

void SessionTable::SetConsoleSession(std::optional<std::uint32_t> id) {
  std::scoped_lock lock(mutex_);
  (void)ReplaceFileText(ConsoleFile(world_), id ? std::to_string(*id) + '\n' : std::string());
}

Desktop* SessionTable::SessionDesktop(std::uint32_t id) const {
  std::scoped_lock lock(mutex_);
  const auto found = desktops_.find(id);
  return found == desktops_.end() ? nullptr : found->second.get();
}

void SessionTable::DenyUserWrites(std::string windowsPath) {
  // Resolved before the table's lock: the world's lock is always taken first.
  const ResolvedPath resolved = world_.Resolve(windowsPath);
  std::scoped_lock lock(mutex_);
  std::ofstream out(DeniedFile(world_), std::ios::app);
  out << (resolved.error == platform::error::kSuccess ? resolved.windowsPath : windowsPath) << '\n';
}

bool SessionTable::UserMayWrite(std::string_view windowsPath) const {
  const ResolvedPath resolved = world_.Resolve(windowsPath);
  if (resolved.error != platform::error::kSuccess) return true;  // the probe itself reports the bad path
  return UserMayWriteResolved(resolved.windowsPath);
}

bool SessionTable::UserMayWriteResolved(std::string_view resolvedWindowsPath) const {
  std::scoped_lock lock(mutex_);
  for (const std::string& denied : DeniedFolders()) {
    if (Within(resolvedWindowsPath, denied)) return false;
  }
  return true;
}

const std::vector<std::string>& SessionTable::DeniedFolders() const {
  std::error_code ec;
  const fs::path file = DeniedFile(world_);
  const auto size = fs::file_size(file, ec);
  std::optional<std::pair<std::int64_t, std::uintmax_t>> stamp;
  if (!ec) {
    const auto written = fs::last_write_time(file, ec);
    if (!ec) stamp = std::make_pair(static_cast<std::int64_t>(written.time_since_epoch().count()), size);
  }
  if (!stamp || stamp != deniedStamp_) {
    denied_ = LoadDenied(world_);
    deniedStamp_ = stamp;
  }
  return denied_;
}

void SessionTable::AddProcess(std::uint32_t id, pid_t process) {
  std::scoped_lock lock(mutex_);
  processes_[id].push_back(process);
  const FileLock processesLock(ProcessesLockFile(world_));
  (void)AppendLine(ProcessesFile(world_), std::to_string(id) + ' ' + std::to_string(process));
}

std::vector<pid_t> SessionTable::Processes(std::uint32_t id) const {
  std::scoped_lock lock(mutex_);
  std::vector<pid_t> processes;
  for (const auto& [session, process] : LoadProcesses(world_)) {
    if (session == id) processes.push_back(process);
  }
  return processes;
}

}  // namespace pw::hostworld
