#pragma once
// What the service manager's files share: the platform names they speak, the
// control wire's format, the variables a launch passes on, the records'
// conversions, the program of a command line, and a service process's state.
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/ServiceControl.h"
#include "platform/hostworld/RecordText.h"
#include "platform/hostworld/ServiceManager.h"
#include "platform/hostworld/UniqueFd.h"

namespace pw::hostworld {
class World;

namespace scm {

namespace fs = std::filesystem;
namespace error = platform::error;
namespace state = platform::service_state;
using platform::ErrorCode;
using platform::GetLe32;
using platform::PutLe32;
using platform::ServiceStatus;
using platform::ServiceStatusResult;

inline constexpr std::uint32_t kRequestMagic = 0x43535750u;  // "PWSC" in file order
inline constexpr std::uint32_t kReplyMagic = 0x52535750u;    // "PWSR"
inline constexpr std::size_t kRequestSize = 8;
// A request with event data: the magic, the control, the event type and the session.
inline constexpr std::uint32_t kEventRequestMagic = 0x45535750u;  // "PWSE"
inline constexpr std::size_t kEventRequestSize = 16;
inline constexpr std::size_t kReplySize = 40;
inline constexpr std::uint32_t kStartWaitHint = 2000;
inline constexpr auto kStartPoll = std::chrono::milliseconds(5);
inline constexpr const char* kWorldVariable = "PAGEWICK_WORLD";
inline constexpr const char* kLaunchVariable = "PAGEWICK_SERVICE_LAUNCH";

// The file name of a service's record.
std::string FileKey(std::string_view name);
// A fresh id that ties a started process to its start.
std::string NewLaunchId();
Record ToRecord(const ServiceRecord& service);
ServiceRecord FromRecord(const Record& record);
platform::ServiceStatus StoppedStatus(std::uint32_t type, platform::ErrorCode exitCode);

}  // namespace scm

struct ServiceManager::RunningService {
  std::string name;  // as registered
  platform::ServiceControlHandler handler;
  platform::ServiceControlHandlerEx handlerEx;
  platform::ServiceStatus last{};
  std::atomic<bool> stopped{false};
  // Signalled with stopped, so that the dispatcher sleeps until a request or the end.
  UniqueFd stoppedEvent{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};

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

}  // namespace pw::hostworld
