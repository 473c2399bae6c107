// Whole-file reads and writes through the C runtime, which takes file names in
// the system's ANSI code page on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pw::imaging {

// The file's bytes; nullopt when it cannot be opened or read, or is larger
// than limit bytes.
std::optional<std::vector<std::uint8_t>> ReadFileBytes(const char* fileName, std::size_t limit);

// Creates or replaces the file with these bytes. On failure the file is
// removed again, so no partial file stays behind.
bool WriteFileBytes(const char* fileName, std::span<const std::uint8_t> bytes);

}  // namespace pw::imaging
