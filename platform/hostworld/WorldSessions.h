#pragma once
// The terminal-services sessions of the host world. Session 0 holds the
// services and has no user; a test logs users on and off. Logging on makes a
// session with a desktop of its own and sends SERVICE_CONTROL_SESSIONCHANGE to
// every running service that accepts it; logging off ends the processes that
// were started in the session and tells the services again. The list of
// sessions and the folders users may not write are kept in the world's folder,
// so every process of the world sees them.
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pw::hostworld {

class World;
class Desktop;

struct UserSession {
  std::uint32_t id = 0;
  std::string user;
};

// A session change as the services were told it.
struct SessionChangeRecord {
  std::uint32_t eventType = 0;  // 5 logon, 6 logoff
  std::uint32_t sessionId = 0;
  int servicesTold = 0;
};

class SessionTable {
 public:
  explicit SessionTable(World& world);
  ~SessionTable();
  SessionTable(const SessionTable&) = delete;
  SessionTable& operator=(const SessionTable&) = delete;

  // Logs `user` on to a new session (1, 2, ...) and returns its id.
  std::uint32_t LogOn(std::string user);
  // Logs the session's user off. False when no such session is logged on.
  bool LogOff(std::uint32_t id);
  std::vector<UserSession> Sessions() const;
  std::optional<UserSession> Find(std::uint32_t id) const;
  std::vector<SessionChangeRecord> Changes() const;

  // The session attached to the console (the keyboard, screen and USB ports):
  // the first logon takes it while no session holds it, and it is free again
  // when its user logs off. A test may move or free it.
  std::optional<std::uint32_t> ConsoleSession() const;
  void SetConsoleSession(std::optional<std::uint32_t> id);

  // For a harness that lays out a world's folder before any of its programs
  // runs (and without a World object): `user` is logged on to session 1, at
  // the console. Nobody is told; the services hear of it when they start.
  static void SeatConsoleUser(const std::filesystem::path& worldRoot, const std::string& user);

  // The desktop of a session logged on by this world object (nullptr otherwise).
  Desktop* SessionDesktop(std::uint32_t id) const;

  // Folders (with everything below them) that a session's user may not write.
  void DenyUserWrites(std::string windowsPath);
  bool UserMayWrite(std::string_view windowsPath) const;
  // The same for a path the world has resolved already (World::FinalWindowsPathOf).
  bool UserMayWriteResolved(std::string_view resolvedWindowsPath) const;

  // Processes started in a session (StartProcessInSession) by any process of
  // the world; they end at logoff, whoever logs the user off.
  void AddProcess(std::uint32_t id, pid_t process);
  std::vector<pid_t> Processes(std::uint32_t id) const;

 private:
  void Save(const std::vector<UserSession>& sessions) const;
  int TellServices(std::uint32_t eventType, std::uint32_t id);

  // The denied folders as last read, and the file's state then: checks are
  // made on every write-side call of a thread that impersonates.
  const std::vector<std::string>& DeniedFolders() const;

  World& world_;
  mutable std::recursive_mutex mutex_;
  mutable std::vector<std::string> denied_;
  mutable std::optional<std::pair<std::int64_t, std::uintmax_t>> deniedStamp_;
  std::map<std::uint32_t, std::unique_ptr<Desktop>> desktops_;
  std::map<std::uint32_t, std::vector<pid_t>> processes_;
  std::vector<SessionChangeRecord> changes_;
};

}  // namespace pw::hostworld
