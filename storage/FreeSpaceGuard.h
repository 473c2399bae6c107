#pragma once
// The free-space guard and the scratch file that takes an image when the save
// location's drive lacks room.
#include <cstdint>
#include <string>

namespace pw::storage {

// The size the pull asks room for, whatever the image's size.
inline constexpr std::int32_t kPullBytesNeeded = 2000000;
inline constexpr const char* kFallbackFileName = "tmp.jpg";

// True when the drive of the path (its first three characters) has at least
// twice the needed size free, both counted in whole KiB; true as well when
// less than 1 KiB is needed. When the drive's free space cannot be read the
// answer is false: a drive that cannot say how full it is is not written on
// a guess.
bool EnoughFreeSpace(const std::string& path, std::int32_t bytesNeeded);

// What a pull leaves free on the drive beyond each chunk it writes: room for
// the file system's own records, the rename that names the picture and the
// service's small files, and for other programs to go on working. Small
// beside the start check's margin, so a picture that passed that check and
// fits on the drive is saved whole; an endless one stops here.
inline constexpr std::uint64_t kChunkReserveBytes = 1024 * 1024;

// True when the drive of the path (its first three characters) has room for
// a chunk of the given size and the reserve beyond it; false when its free
// space cannot be read.
bool RoomForChunk(const std::string& path, std::uint32_t chunkBytes);

// "tmp.jpg" in the folder of the settings file.
std::string FallbackImagePath(const std::string& settingsFilePath);

}  // namespace pw::storage
