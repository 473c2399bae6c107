#include "platform/host/HostFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/FileSystem.h"

namespace pw::host {
namespace fs = std::filesystem;
namespace error = platform::error;
using hostworld::HandleObject;
using hostworld::World;

namespace {

constexpr std::uint32_t kReadBits = platform::access::kGenericRead | access_bit::kReadData | access_bit::kGenericAll;
constexpr std::uint32_t kWriteBits =
    platform::access::kGenericWrite | access_bit::kWriteData | access_bit::kAppendData | access_bit::kGenericAll;
constexpr std::uint32_t kDeleteBits = access_bit::kDelete | access_bit::kGenericAll;

bool Wants(std::uint32_t access, std::uint32_t bits) { return (access & bits) != 0; }

}  // namespace

OpenFile::OpenFile(int descriptor, fs::path hostPath, std::uint32_t access, std::uint32_t shareMode)
    : descriptor_(descriptor), hostPath_(OpenFileKey(hostPath)), access_(access), shareMode_(shareMode) {}

OpenFile::~OpenFile() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

void OpenFile::Renamed(const fs::path& hostPath) { hostPath_ = OpenFileKey(hostPath); }

bool OpenFile::CanRead() const { return ReadsData(access_); }
bool OpenFile::CanWrite() const { return WritesData(access_); }

bool ReadsData(std::uint32_t access) { return Wants(access, kReadBits); }
bool WritesData(std::uint32_t access) { return Wants(access, kWriteBits); }

fs::path OpenFileKey(const fs::path& hostPath) { return hostPath.lexically_normal(); }

// Windows grants an open only when it and every earlier open of the same file
// allow each other's access: reading needs FILE_SHARE_READ from the other side,
// writing FILE_SHARE_WRITE, deleting FILE_SHARE_DELETE.
bool OpensCollide(std::uint32_t access, std::uint32_t shareMode, std::uint32_t otherAccess,
                  std::uint32_t otherShareMode) {
  const auto deniedBy = [](std::uint32_t wanted, std::uint32_t share) {
    return (Wants(wanted, kReadBits) && (share & platform::share::kRead) == 0) ||
           (Wants(wanted, kWriteBits) && (share & platform::share::kWrite) == 0) ||
           (Wants(wanted, kDeleteBits) && (share & platform::share::kDelete) == 0);
  };
  if (!Wants(access, kReadBits | kWriteBits | kDeleteBits)) return false;  // attribute-only opens never collide
  return deniedBy(access, otherShareMode) || deniedBy(otherAccess, shareMode);
}

bool SharingConflict(const World& world, const fs::path& hostPath, std::uint32_t access, std::uint32_t shareMode) {
  const fs::path key = OpenFileKey(hostPath);
  bool conflict = false;
  world.ForEachHandle([&](HandleObject& object) {
    auto* file = dynamic_cast<OpenFile*>(&object);
    if (file == nullptr || conflict || file->HostPath() != key) return;
    conflict = OpensCollide(access, shareMode, file->Access(), file->ShareMode());
  });
  return conflict;
}

bool AnyOpenFile(const World& world, const fs::path& hostPath) {
  const std::string prefix = OpenFileKey(hostPath).string();
  bool found = false;
  world.ForEachHandle([&](HandleObject& object) {
    auto* file = dynamic_cast<OpenFile*>(&object);
    if (file == nullptr || found) return;
    const std::string path = file->HostPath().string();
    if (path == prefix) {
      if ((file->ShareMode() & platform::share::kDelete) == 0) found = true;
    } else if ((path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
                           path[prefix.size()] == '/')) {
      found = true;
    }
  });
  return found;
}

platform::ErrorCode ErrorFromErrno(int code) {
  switch (code) {
    case 0:
      return error::kSuccess;
    case ENOENT:
      return error::kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return error::kPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return error::kAccessDenied;
    case EEXIST:
      return error::kAlreadyExists;
    case ENOTEMPTY:
      return error::kDirNotEmpty;
    case ENOSPC:
    case EDQUOT:
      return error::kDiskFull;
    case ENOMEM:
      return error::kNotEnoughMemory;
    case EXDEV:
      return error::kNotSameDevice;
    case EBADF:
      return error::kInvalidHandle;
    case EINVAL:
      return error::kInvalidParameter;
    case EBUSY:
    case ETXTBSY:
      return error::kSharingViolation;
    default:
      return error::kGenFailure;
  }
}

platform::Result<std::string> ReadWholeFile(const fs::path& hostPath) {
  const int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return platform::Failure(ErrorFromErrno(errno));
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      const platform::ErrorCode code = ErrorFromErrno(errno);
      ::close(fd);
      return platform::Failure(code);
    }
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return content;
}

}  // namespace pw::host
