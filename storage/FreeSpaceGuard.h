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
// a guess (the pull asks before every chunk, so a wrong guess would fill it).
bool EnoughFreeSpace(const std::string& path, std::int32_t bytesNeeded);

// "tmp.jpg" in the folder of the settings file.
std::string FallbackImagePath(const std::string& settingsFilePath);

}  // namespace pw::storage
