#include "storage/FreeSpaceGuard.h"

#include "platform/FileSystem.h"
#include "platform/PathText.h"

namespace pw::storage {

bool EnoughFreeSpace(const std::string& path, std::int32_t bytesNeeded) {
  const std::int64_t needKiB = bytesNeeded / 1024;
  if (needKiB <= 0) return true;
  const platform::Result<platform::DiskFreeSpace> result = platform::GetDiskFreeSpaceEx(path.substr(0, 3));
  if (!result) return false;
  const std::uint64_t freeKiB = result->totalFreeBytes / 1024;
  return freeKiB / static_cast<std::uint64_t>(needKiB) >= 2;
}

bool RoomForChunk(const std::string& path, std::uint32_t chunkBytes) {
  const platform::Result<platform::DiskFreeSpace> result = platform::GetDiskFreeSpaceEx(path.substr(0, 3));
  return result && result->totalFreeBytes >= std::uint64_t{chunkBytes} + kChunkReserveBytes;
}

std::string FallbackImagePath(const std::string& settingsFilePath) {
  return platform::ExtractFilePath(settingsFilePath) + kFallbackFileName;
}

}  // namespace pw::storage
