// Bytes that stand for a picture in the tests that pull one: a fixed
// pseudo-random pattern of the given size, different for each seed, so that
// a byte out of place or a chunk twice shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pw::test {

inline std::vector<std::byte> PatternImage(std::size_t size, std::uint32_t seed) {
  std::vector<std::byte> bytes(size);
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::byte& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<std::byte>(state >> 24);
  }
  return bytes;
}

}  // namespace pw::test
