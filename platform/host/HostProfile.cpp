#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/FileSystem.h"
#include "platform/Profile.h"
#include "platform/host/HostFiles.h"
#include "platform/host/ProfileParser.h"
#include "platform/host/World.h"

namespace pw::platform {
namespace fs = std::filesystem;
using host::ResolvedPath;
using host::World;

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

// The world's write faults are asked before the file is touched: a write
// they refuse or cut short leaves the file as it was.
ErrorCode WriteWholeFile(World& world, const fs::path& hostPath, const std::string& bytes) {
  const host::WriteAllowance allowance = world.AllowWrite(hostPath, bytes.size());
  if (!allowance.ok) return allowance.error;
  if (allowance.bytes < bytes.size()) return error::kWriteFault;
  const int fd = ::open(hostPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return host::ErrorFromErrno(errno);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      const int code = errno;
      ::close(fd);
      return host::ErrorFromErrno(code);
    }
    done += static_cast<std::size_t>(wrote);
  }
  if (::close(fd) != 0) return host::ErrorFromErrno(errno);
  return error::kSuccess;
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
  std::string bytes;
  ErrorCode readError = error::kSuccess;
  if (!host::ReadWholeFile(resolved.hostPath, bytes, readError)) return DefaultText(defaultValue, bufferSize, readError);
  std::optional<std::string> value = host::FindProfileValue(bytes, section, key);
  if (!value) return DefaultText(defaultValue, bufferSize, error::kSuccess);
  return Fit(std::move(*value), bufferSize, error::kSuccess);
}

Outcome WriteProfileString(std::string_view section, std::string_view key, std::optional<std::string_view> value,
                           const std::string& path) {
  World& world = World::Current();
  std::scoped_lock lock(world.Mutex());
  const ResolvedPath resolved = world.Resolve(ProfilePath(world, path));
  if (resolved.error != error::kSuccess) return Outcome::Failure(resolved.error);
  std::string bytes;
  if (resolved.exists) {
    if (IsDirectory(resolved.hostPath)) return Outcome::Failure(error::kAccessDenied);
    if ((world.ExtraAttributes(resolved.hostPath) & attribute::kReadOnly) != 0) {
      return Outcome::Failure(error::kAccessDenied);
    }
    // The write opens the file for reading and writing, sharing both: an open
    // elsewhere without FILE_SHARE_WRITE refuses it.
    if (host::SharingConflict(world, resolved.hostPath, access::kGenericRead | access::kGenericWrite,
                              kProfileShare)) {
      return Outcome::Failure(error::kSharingViolation);
    }
    ErrorCode readError = error::kSuccess;
    if (!host::ReadWholeFile(resolved.hostPath, bytes, readError)) return Outcome::Failure(readError);
  } else if (!resolved.parentExists) {
    return Outcome::Failure(error::kPathNotFound);
  }
  const std::optional<std::string> updated = host::UpdateProfileBytes(bytes, section, key, value);
  if (!updated) return Outcome::Success();  // nothing to delete
  const ErrorCode written = WriteWholeFile(world, resolved.hostPath, *updated);
  if (written != error::kSuccess) return Outcome::Failure(written);
  if (!resolved.exists) world.SetExtraAttributes(resolved.hostPath, 0);
  return Outcome::Success();
}

}  // namespace pw::platform
