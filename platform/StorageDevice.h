#pragma once
// Logical drives and volume handles with the two I/O controls the scanner link
// uses (IOCTL_STORAGE_QUERY_PROPERTY and IOCTL_SCSI_PASS_THROUGH).
#include <cstdint>
#include <string>

#include "platform/Errors.h"
#include "platform/Handle.h"
#include "platform/Result.h"

namespace pw::platform {

enum class DriveType : std::uint32_t {
  Unknown = 0,
  NoRootDir = 1,
  Removable = 2,
  Fixed = 3,
  Remote = 4,
  CdRom = 5,
  RamDisk = 6,
};

// GetLogicalDrives: bit 0 is A:.
std::uint32_t GetLogicalDrives();
// GetDriveTypeA on a root text such as "E:\".
DriveType GetDriveType(const std::string& root);

inline constexpr std::uint32_t kIoctlStorageQueryProperty = 0x002D1400u;
inline constexpr std::uint32_t kIoctlScsiPassThrough = 0x0004D004u;

struct DeviceHandleTraits {
  static RawHandle Invalid() noexcept;
  static void Close(RawHandle handle) noexcept;
};
using DeviceHandle = ScopedHandle<DeviceHandleTraits>;

// CreateFileA on a volume path such as "\\?\E:" with the given access and share
// flags, no security attributes, OPEN_EXISTING, no flags, no template.
Result<DeviceHandle> OpenDevice(const std::string& devicePath, std::uint32_t desiredAccess, std::uint32_t shareMode);

// Not a Result: a call that fails with ERROR_MORE_DATA (234) has still
// filled the buffer, and bytesReturned tells how much of it.
struct [[nodiscard]] IoControlResult {
  bool ok = false;
  std::uint32_t bytesReturned = 0;
  ErrorCode error = error::kSuccess;  // the last error, taken at once after a failed call
};

// DeviceIoControl without an overlapped structure. input and output may be the
// same buffer, as the pass-through request uses it.
IoControlResult DeviceIoControl(const DeviceHandle& device, std::uint32_t controlCode, const void* input,
                                std::uint32_t inputSize, void* output, std::uint32_t outputSize);

}  // namespace pw::platform
