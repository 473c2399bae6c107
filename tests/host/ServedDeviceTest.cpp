// The host's served-device transport and watcher: how long a request waits
// for a device that does not answer, and a watcher that survives a failure.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/ErrorSink.h"
#include "platform/StorageDevice.h"
#include "platform/hostworld/DeviceSocket.h"
#include "platform/hostworld/UniqueFd.h"
#include "platform/hostworld/World.h"

namespace pw::host {
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

}  // namespace
}  // namespace pw::host
