#include <mutex>

#include "platform/FileSystem.h"
#include "platform/SystemInfo.h"
#include "platform/hostworld/World.h"

namespace pw::platform {
namespace {

// GetVersionExA also takes the larger OSVERSIONINFOEXA record.
constexpr std::uint32_t kOsVersionInfoExSize = 156;

}  // namespace

bool GetVersionEx(OsVersionInfo& info) {
  if (info.size != kOsVersionInfoSize && info.size != kOsVersionInfoExSize) return false;
  const std::uint32_t size = info.size;
  info = hostworld::World::Current().Version();
  info.size = size;
  return true;
}

std::optional<std::string> GetWindowsDirectory(std::size_t bufferSize) {
  std::optional<std::string> directory = hostworld::World::Current().WindowsDirectory();
  // The text and its terminating zero must fit the buffer.
  if (!directory || directory->empty() || directory->size() >= bufferSize) return std::nullopt;
  return directory;
}

std::string GetModuleFileName() { return hostworld::World::Current().ModuleFileName(); }

std::optional<std::string> GetSpecialFolderPath(WindowHandle /*owner*/, int csidl, bool create) {
  hostworld::World& world = hostworld::World::Current();
  std::scoped_lock lock(world.Mutex());
  const std::optional<std::string> folder = world.SpecialFolder(csidl);
  if (!folder || folder->empty()) return std::nullopt;
  if (DirectoryExists(*folder)) return folder;
  if (!create) return std::nullopt;
  const hostworld::ResolvedPath resolved = world.Resolve(*folder);
  if (resolved.error != error::kSuccess) return std::nullopt;
  std::error_code ec;
  std::filesystem::create_directories(resolved.hostPath, ec);
  if (ec || !DirectoryExists(*folder)) return std::nullopt;
  return folder;
}

}  // namespace pw::platform

namespace pw::platform {

std::optional<std::uint32_t> ReadMachinePolicyDword(std::string_view valueName) {
  return hostworld::World::Current().MachinePolicyDword(valueName);
}

}  // namespace pw::platform
