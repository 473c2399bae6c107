// The host's served-device transport and watcher: how long a request waits
// for a device that does not answer, and a watcher that survives a failure;
// and the Unix-socket helper beneath it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/ErrorSink.h"
#include "platform/StorageDevice.h"
#include "platform/hostworld/DeviceSocket.h"
#include "platform/hostworld/UniqueFd.h"
#include "platform/hostworld/UnixSocket.h"
#include "platform/hostworld/World.h"

namespace pw::hostworld {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A device socket whose peer never answers: connections wait in its backlog.
class FrozenDevice {
 public:
  explicit FrozenDevice(const fs::path& path) : path_(path) {
    fs::create_directories(path.parent_path());
    fd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bound_ = fd_.valid() && ::bind(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
             ::listen(fd_.get(), 4) == 0;
  }
  ~FrozenDevice() {
    std::error_code ec;
    fs::remove(path_, ec);
  }
  FrozenDevice(const FrozenDevice&) = delete;
  FrozenDevice& operator=(const FrozenDevice&) = delete;

  bool Bound() const { return bound_; }
  std::shared_ptr<SocketDevice> Device() const {
    struct stat info {};
    ::stat(path_.c_str(), &info);
    return std::make_shared<SocketDevice>(path_, info.st_dev, info.st_ino, false);
  }

 private:
  fs::path path_;
  UniqueFd fd_;
  bool bound_ = false;
};

// A pass-through request of the 32-bit layout with the given TimeOutValue.
std::vector<std::byte> PassThrough(std::uint32_t timeoutSeconds) {
  std::vector<std::byte> request(device_socket::kPassThroughHeaderSize + 16);
  platform::PutLe32(request.data() + device_socket::kTimeOutValueOffset, timeoutSeconds);
  return request;
}

TEST(ServedDeviceTransport, WaitsAsLongAsThePassThroughRequestAllows) {
  struct Row {
    const char* what;
    std::uint32_t code;
    std::vector<std::byte> input;
    std::uint32_t waitMs;
  };
  const Row rows[] = {
      {"the request's 2 s and a margin", platform::kIoctlScsiPassThrough, PassThrough(2), 2250},
      {"1 s", platform::kIoctlScsiPassThrough, PassThrough(1), 1250},
      {"no time-out: the fallback", platform::kIoctlScsiPassThrough, PassThrough(0), 10000},
      {"longer than the fallback", platform::kIoctlScsiPassThrough, PassThrough(60), 10000},
      {"too short to carry a time-out", platform::kIoctlScsiPassThrough, std::vector<std::byte>(20), 10000},
      {"the descriptor query has none", platform::kIoctlStorageQueryProperty, PassThrough(2), 10000},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(device_socket::ReplyTimeoutMs(row.code, row.input), row.waitMs) << row.what;
  }
}

// A frozen scanner: the request fails with ERROR_SEM_TIMEOUT once its own
// time-out has passed, not after the transport's ten-second fallback.
TEST(ServedDeviceTransport, FrozenDeviceTimesOutWithTheRequestsOwnTimeOut) {
  World world;
  FrozenDevice frozen(device_socket::SocketPathFor(world.Root(), 'E'));
  ASSERT_TRUE(frozen.Bound());
  std::shared_ptr<SocketDevice> device = frozen.Device();
  const std::vector<std::byte> request = PassThrough(1);
  std::vector<std::byte> output(request.size());
  const auto start = std::chrono::steady_clock::now();
  const platform::IoControlResult result = device->IoControl(platform::kIoctlScsiPassThrough, request, output);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, platform::error::kSemTimeout);
  EXPECT_GE(waited, 1s);
  EXPECT_LT(waited, 5s) << "waited for the fallback instead of the request's own time-out";
}

// A refresh that fails (here the folder of the drive to be made is a file)
// is reported; the watcher's thread goes on and plugs the device once it can.
TEST(ServedDeviceWatcherTest, FailureIsReportedAndTheWatcherGoesOn) {
  World world;
  std::mutex mutex;
  std::vector<std::string> reported;
  platform::ErrorSink previous = platform::SetErrorSink([&](std::string_view what) {
    std::scoped_lock lock(mutex);
    reported.emplace_back(what);
  });
  const fs::path blocker = world.Root() / "drive_e";
  std::ofstream(blocker).put('x');
  FrozenDevice frozen(device_socket::SocketPathFor(world.Root(), 'E'));
  ASSERT_TRUE(frozen.Bound());
  auto waitUntil = [](const auto& condition) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  };
  {
    ServedDeviceWatcher watcher(world, 5ms);
    EXPECT_TRUE(waitUntil([&] {
      std::scoped_lock lock(mutex);
      return !reported.empty();
    }));
    fs::remove(blocker);
    EXPECT_TRUE(waitUntil([&] { return world.FindDrive('E').has_value(); })) << "the watcher still runs";
  }
  platform::SetErrorSink(std::move(previous));
  std::scoped_lock lock(mutex);
  ASSERT_FALSE(reported.empty());
  EXPECT_TRUE(reported[0].starts_with("Served device watcher: ")) << reported[0];
}

// The world's Unix-socket helper, which the control manager, the named pipes
// and the device socket share: what each call does when the other side is
// there, gone, silent or in the way.
TEST(UnixSocketTest, EachCallSucceedsOrFailsAsTheSocketsDo) {
  const std::string name = "pagewick-socket-test-" + std::to_string(::getpid());
  const auto bytes = [](std::string_view text) { return std::as_bytes(std::span(text.data(), text.size())); };
  const auto pair = [] {
    int fds[2] = {-1, -1};
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    return std::pair<UniqueFd, UniqueFd>(UniqueFd(fds[0]), UniqueFd(fds[1]));
  };
  struct Case {
    const char* what;
    std::function<void()> check;
  };
  const std::vector<Case> cases = {
      {"two parts arrive whole and in order",
       [&] {
         auto [a, b] = pair();
         ASSERT_TRUE(SendAll(a.get(), bytes("head"), bytes("payload")));
         std::array<std::byte, 11> got{};
         ASSERT_TRUE(ReceiveAll(b.get(), got));
         EXPECT_EQ(std::string(reinterpret_cast<const char*>(got.data()), got.size()), "headpayload");
       }},
      {"a silent peer ends the wait at the deadline",
       [&] {
         auto [a, b] = pair();
         std::array<std::byte, 4> got{};
         EXPECT_FALSE(ReceiveAll(b.get(), got, std::chrono::steady_clock::now() + 20ms));
       }},
      {"a peer that goes half-way is no whole message",
       [&] {
         auto [a, b] = pair();
         ASSERT_TRUE(SendAll(a.get(), bytes("ab")));
         a.reset();
         std::array<std::byte, 4> got{};
         EXPECT_FALSE(ReceiveAll(b.get(), got));
       }},
      {"a send to a peer that went fails without a signal",
       [&] {
         auto [a, b] = pair();
         b.reset();
         EXPECT_FALSE(SendAll(a.get(), bytes("lost")));
       }},
      {"nobody listening refuses the connection",
       [&] {
         const UniqueFd client = ConnectSocket(SOCK_STREAM, AbstractSocketAddress(name + "-nobody"));
         EXPECT_FALSE(client.valid());
         EXPECT_EQ(errno, ECONNREFUSED);
       }},
      {"a listener, a client and the accepted connection talk; a second listener is refused",
       [&] {
         const SocketAddress address = AbstractSocketAddress(name);
         EXPECT_EQ(address.AbstractName(), name);
         const UniqueFd listener = ListenSocket(SOCK_STREAM, address, 4);
         ASSERT_TRUE(listener.valid());
         EXPECT_FALSE(ListenSocket(SOCK_STREAM, address, 4).valid());
         EXPECT_EQ(errno, EADDRINUSE);
         const UniqueFd client = ConnectSocket(SOCK_STREAM, address, std::chrono::seconds(1));
         ASSERT_TRUE(client.valid());
         const UniqueFd served = AcceptSocket(listener.get());
         ASSERT_TRUE(served.valid());
         ASSERT_TRUE(SendAll(client.get(), bytes("ping")));
         std::array<std::byte, 4> got{};
         EXPECT_TRUE(ReceiveAll(served.get(), got, std::chrono::steady_clock::now() + 1s));
       }},
      {"a socket file's path longer than an address holds has no address",
       [&] {
         EXPECT_FALSE(FileSocketAddress(std::string(sizeof(sockaddr_un::sun_path), 'x')).has_value());
         EXPECT_TRUE(FileSocketAddress(std::string(sizeof(sockaddr_un::sun_path) - 1, 'x')).has_value());
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.check();
  }
}

}  // namespace
}  // namespace pw::hostworld
