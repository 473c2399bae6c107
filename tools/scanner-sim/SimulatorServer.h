#pragma once
// Serves one device over a Unix socket in the framing of
// platform/hostworld/DeviceSocket.h: one thread accepts, one thread per connection
// answers its requests in turn. While the socket file exists the device is
// plugged in; Unplug() removes the file and drops every connection (after the
// reply in progress), so the world's next look at its drives finds it gone.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/hostworld/UniqueFd.h"
#include "platform/hostworld/World.h"

namespace pw::sim {

class SimulatorServer {
 public:
  // Binds and listens at socketPath (its folder is created; a stale socket
  // file is replaced) and starts serving. Throws std::system_error.
  SimulatorServer(std::shared_ptr<hostworld::Device> device, std::filesystem::path socketPath);
  ~SimulatorServer();
  SimulatorServer(const SimulatorServer&) = delete;
  SimulatorServer& operator=(const SimulatorServer&) = delete;

  const std::filesystem::path& SocketPath() const { return socketPath_; }

  // Any thread, also from inside the device's own IoControl: the socket file
  // goes at once, the connections after the reply being sent.
  void Unplug();
  bool Plugged() const { return !unplugged_.load(); }
  // Requests served so far.
  std::uint64_t Served() const { return served_.load(); }

 private:
  void Accept();
  void ServeConnection(int fd);

  std::shared_ptr<hostworld::Device> device_;
  std::filesystem::path socketPath_;
  hostworld::UniqueFd listenFd_;
  hostworld::UniqueFd wakeFd_;  // eventfd that ends the poll
  std::atomic<bool> unplugged_{false};
  std::atomic<std::uint64_t> served_{0};
  std::thread acceptor_;
  std::mutex connectionsMutex_;
  std::vector<int> connections_;  // open connection sockets
  std::vector<std::thread> connectionThreads_;
};

}  // namespace pw::sim
