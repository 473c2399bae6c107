#pragma once
// Open files of the host backend and the share-mode rules Windows applies
// between them (Linux has none, so the world keeps the record).
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/Errors.h"
#include "platform/Result.h"
#include "platform/hostworld/World.h"

namespace pw::host {

// Access bits beyond GENERIC_READ/GENERIC_WRITE that the share check knows.
namespace access_bit {
inline constexpr std::uint32_t kReadData = 0x0001;
inline constexpr std::uint32_t kWriteData = 0x0002;
inline constexpr std::uint32_t kAppendData = 0x0004;
inline constexpr std::uint32_t kDelete = 0x00010000;
inline constexpr std::uint32_t kGenericAll = 0x10000000;
}  // namespace access_bit

// An open file: a POSIX descriptor plus the access and share mode it was opened with.
class OpenFile final : public hostworld::HandleObject {
 public:
  OpenFile(int descriptor, std::filesystem::path hostPath, std::uint32_t access, std::uint32_t shareMode);
  ~OpenFile() override;
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  int Descriptor() const { return descriptor_; }
  const std::filesystem::path& HostPath() const { return hostPath_; }
  bool CanRead() const;
  bool CanWrite() const;
  std::uint32_t Access() const { return access_; }
  std::uint32_t ShareMode() const { return shareMode_; }
  // The file was renamed through this handle.
  void Renamed(const std::filesystem::path& hostPath);

 private:
  int descriptor_;
  std::filesystem::path hostPath_;
  std::uint32_t access_;
  std::uint32_t shareMode_;
};

// The form of a host path under which open files are recorded.
std::filesystem::path OpenFileKey(const std::filesystem::path& hostPath);

// Whether an access mask asks to read or to write data.
bool ReadsData(std::uint32_t access);
bool WritesData(std::uint32_t access);

// Windows' share rule between a new open and an earlier open of the same file
// or volume: each side's read, write and delete access must be allowed by the
// other side's share mode; an open asking for none of them never collides.
bool OpensCollide(std::uint32_t access, std::uint32_t shareMode, std::uint32_t otherAccess,
                  std::uint32_t otherShareMode);

// True when opening hostPath with this access and share mode collides with a
// file the world already has open (ERROR_SHARING_VIOLATION on Windows).
// Hold the world's lock across this check and the AddHandle that follows.
bool SharingConflict(const hostworld::World& world, const std::filesystem::path& hostPath, std::uint32_t access,
                     std::uint32_t shareMode);

// True when a folder may not be renamed: a file below it is open, or the
// folder itself is open without FILE_SHARE_DELETE (a handle that shares
// delete goes with the folder to its new name).
bool AnyOpenFile(const hostworld::World& world, const std::filesystem::path& hostPath);

// The user this thread acts for (platform::Impersonation), if any.
const std::string* ImpersonatedUser();

// The Win32 error code that matches a POSIX errno value.
platform::ErrorCode ErrorFromErrno(int error);

// Reads a whole file of the host file system.
platform::Result<std::string> ReadWholeFile(const std::filesystem::path& hostPath);

}  // namespace pw::host
