#pragma once
// The attack suite's world: the real service of a host world (its own drive
// poll, the scanner simulator on removable drive E:) and its real pipe, with a
// standard user, mallory, logged on at the console. A test plays that user
// (or another session's) and asserts that nothing outside what the user may
// touch was created, changed or handed to them.
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>
#include <variant>

#include "agent/AgentProtocol.h"
#include "agent/ServiceConnection.h"
#include "platform/NamedPipe.h"
#include "platform/Sessions.h"
#include "platform/Shell.h"
#include "platform/hostworld/WorldSecurity.h"
#include "platform/hostworld/WorldSessions.h"
#include "tests/support/host/UserPipeServer.h"
#include "tests/service/ServiceFixture.h"
#include "tools/scanner-sim/ScannerSimulator.h"

namespace pw::service::test {

namespace ag = agent;
namespace fs = std::filesystem;

inline constexpr const char* kSystem32 = "C:\\Windows\\System32";
inline constexpr const char* kMalloryScans = "C:\\Users\\mallory\\Scans";

// What lies below a folder of the host file system: each entry's kind, size
// and bytes, links as links (never followed).
inline std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(root, ec))) return entries;
  for (fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end; !ec && it != end;
       it.increment(ec)) {
    const fs::path& path = it->path();
    const fs::file_status status = fs::symlink_status(path, ec);
    std::string description;
    if (fs::is_symlink(status)) {
      description = "link to " + fs::read_symlink(path, ec).string();
    } else if (fs::is_directory(status)) {
      description = "folder";
    } else {
      std::ifstream in(path, std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      description = "file " + bytes.str();
    }
    entries[fs::relative(path, root, ec).string()] = description;
  }
  return entries;
}

class AttackTest : public ServiceHostTest {
 protected:
  AttackTest() : ServiceHostTest(10, 0) {
    // The service polls through its own drive poll: the scanner is real.
    world.Services().SetLauncher([this](const hostworld::LaunchRequest& request) {
      world.Services().AdoptLaunch(request.launchId);
      launched.push_back(std::make_unique<ProgramRun>(std::vector<std::string>{kModulePath}, nullptr));
      return pid_t{0};
    });
    // Session agents started by the service only record their start.
    world.WriteFile(kModulePath, "#!/bin/sh\nexit 0\n");
    ::chmod(world.HostPath(kModulePath).c_str(), 0755);
    world.SetWindowsDirectory("C:\\Windows");
    world.MakeDirectories(kSystem32);
    world.WriteFile(std::string(kSystem32) + "\\config.sys", "the system's own");
    world.MakeDirectories("C:\\Users\\ann\\Documents");
    world.WriteFile("C:\\Users\\ann\\Documents\\letter.txt", "ann's");
    world.MakeDirectories(kMalloryScans);
    world.AddDrive('E', pf::DriveType::Removable);
    // What a standard user may not change: the system, the program, and
    // another user's profile.
    for (const char* denied : {"C:\\Windows", "C:\\Program Files", "C:\\Users\\ann"}) {
      world.UserSessions().DenyUserWrites(denied);
    }
    mallory = world.UserSessions().LogOn("mallory");
    protectedBefore = ProtectedState();
  }
  ~AttackTest() override { ::unsetenv("PAGEWICK_SESSION"); }

  std::map<std::string, std::string> ProtectedState() {
    std::map<std::string, std::string> state;
    for (const char* folder : {"C:\\Windows", "C:\\Program Files", "C:\\Users\\ann"}) {
      for (auto& [path, description] : Snapshot(world.HostPath(folder))) {
        state[std::string(folder) + "\\" + path] = description;
      }
    }
    return state;
  }
  // The attack's verdict on what the user may not touch.
  void ExpectProtectedUnchanged() {
    const std::map<std::string, std::string> now = ProtectedState();
    for (const auto& [path, description] : now) {
      const auto before = protectedBefore.find(path);
      EXPECT_TRUE(before != protectedBefore.end() && before->second == description) << "created or changed: " << path;
    }
    for (const auto& [path, description] : protectedBefore) {
      EXPECT_TRUE(now.contains(path)) << "removed: " << path;
    }
  }

  // A connection of the given session: the hostile agent.
  std::unique_ptr<ag::ServiceConnection> Connect(std::uint32_t session) {
    ::setenv("PAGEWICK_SESSION", std::to_string(session).c_str(), 1);
    auto connection = std::make_unique<ag::ServiceConnection>(ag::ServiceConnection::Options{});
    const bool connected = WaitUntil([&] { return connection->Connect().ok(); });
    ::unsetenv("PAGEWICK_SESSION");
    return connected ? std::move(connection) : nullptr;
  }

  // The messages of type T that reach the connection before the deadline
  // (all of them after it, when `until` never holds).
  template <typename T>
  std::vector<T> Received(ag::ServiceConnection& connection, const std::function<bool(const T&)>& until,
                          std::chrono::milliseconds deadline = kDeadline) {
    std::vector<T> found;
    (void)WaitUntil(
        [&] {
          for (const ag::Message& message : connection.TakeMessages()) {
            if (const T* body = std::get_if<T>(&message)) found.push_back(*body);
          }
          return !found.empty() && until(found.back());
        },
        deadline);
    return found;
  }

  // Sends an Apply as the agent of the session and returns the location the
  // service has in force afterwards, as its next state message says.
  std::string ApplyAs(std::uint32_t session, std::uint32_t saveType, const std::string& location) {
    auto agent = Connect(session);
    if (!agent) return "(no connection)";
    (void)Received<ag::StateMessage>(*agent, [](const ag::StateMessage&) { return true; });
    if (!agent->Send(ag::ApplyMessage{saveType, location, false}).ok()) return "(not sent)";
    const std::vector<ag::StateMessage> states =
        Received<ag::StateMessage>(*agent, [](const ag::StateMessage&) { return true; });
    return states.empty() ? "(no answer)" : states.back().saveLocation;
  }

  // Plugs the scanner with pictures waiting and lets the poll timer tick
  // until the condition holds or the ticks run out.
  void PlugScanner(std::size_t pictures = 1) {
    for (std::size_t i = 0; i < pictures; ++i) simulator->QueueGeneratedImage(60000, static_cast<std::uint32_t>(i + 1));
    world.AttachDevice('E', simulator);
  }
  bool TickUntil(const std::function<bool()>& condition, int ticks = 8) {
    for (int i = 0; i < ticks && !condition(); ++i) {
      world.Desktop().AdvanceTime(ui::kComputerModePollMs);
      (void)WaitUntil(condition, 300ms);
    }
    return condition();
  }
  // Every picture is in a real folder of the location or still on the scanner.
  // The scanner lets a picture go when it has sent its end marker, a moment
  // before the service renames the finished transfer file to its image name.
  void ExpectNothingLost(std::size_t pictures, const std::string& location) {
    const fs::path root = world.HostPath(location);
    auto accounted = [&] {
      std::size_t saved = 0;
      std::error_code ec;
      for (fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end; !ec && it != end;
           it.increment(ec)) {
        if (it->is_regular_file() && !it->is_symlink() && it->path().extension() == ".jpg") ++saved;
      }
      return saved + simulator->QueuedImages();
    };
    (void)WaitUntil([&] { return accounted() == pictures; });
    EXPECT_EQ(accounted(), pictures) << "pictures saved or still on the scanner";
  }

  std::shared_ptr<sim::ScannerSimulator> simulator = std::make_shared<sim::ScannerSimulator>();
  std::uint32_t mallory = 0;
  std::map<std::string, std::string> protectedBefore;
};

}  // namespace pw::service::test
