#include <mutex>

#include "platform/FileSystem.h"
#include "platform/Profile.h"
#include "platform/host/HostFiles.h"
#include "platform/ProfileParser.h"
#include "platform/hostworld/World.h"

namespace pw::platform {
namespace fs = std::filesystem;
using hostworld::ResolvedPath;
using hostworld::World;

namespace {

constexpr std::uint32_t kProfileShare = share::kRead | share::kWrite;

// A bare file name lies in the Windows directory, as the profile calls look it up there.
std::string ProfilePath(const World& world, const std::string& path) {
  if (path.find_first_of("\\/:") != std::string::npos) return path;
  const std::optional<std::string> windows = world.WindowsDirectory();
  return windows ? *windows + "\\" + path : path;
}

// Cuts the text to bufferSize - 1 characters; ERROR_MORE_DATA when cut.
ProfileText Fit(std::string text, std::size_t bufferSize, ErrorCode error) {
  const std::size_t room = bufferSize == 0 ? 0 : bufferSize - 1;
  if (text.size() > room) {
    text.resize(room);
    error = error::kMoreData;
  }
  return {std::move(text), error};
}

// The default loses its trailing spaces (only spaces) and is cut like a value.
ProfileText DefaultText(std::string_view defaultValue, std::size_t bufferSize, ErrorCode error) {
  while (!defaultValue.empty() && defaultValue.back() == ' ') defaultValue.remove_suffix(1);
  return Fit(std::string(defaultValue), bufferSize, error);
}

bool IsDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

}  // namespace

ProfileText ReadProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                              const std::string& path, std::size_t bufferSize) {
  World& world = World::Current();
  std::scoped_lock lock(world.Mutex());
  const ResolvedPath resolved = world.Resolve(ProfilePath(world, path));
  if (resolved.error != error::kSuccess) return DefaultText(defaultValue, bufferSize, resolved.error);
  if (!resolved.exists) {
    return DefaultText(defaultValue, bufferSize,
                       resolved.parentExists ? error::kFileNotFound : error::kPathNotFound);
  }
  if (IsDirectory(resolved.hostPath)) return DefaultText(defaultValue, bufferSize, error::kAccessDenied);
  if (host::SharingConflict(world, resolved.hostPath, access::kGenericRead, kProfileShare)) {
    return DefaultText(defaultValue, bufferSize, error::kSharingViolation);
  }
  const Result<std::string> bytes = host::ReadWholeFile(resolved.hostPath);
  if (!bytes) return DefaultText(defaultValue, bufferSize, bytes.error());
  std::optional<std::string> value = platform::FindProfileValue(*bytes, section, key);
  if (!value) return DefaultText(defaultValue, bufferSize, error::kSuccess);
  return Fit(std::move(*value), bufferSize, error::kSuccess);
}

}  // namespace pw::platform
