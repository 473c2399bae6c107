#include "imaging/FileBytes.h"

#include <cstdio>
#include <memory>

namespace pw::imaging {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadFileBytes(const char* fileName, std::size_t limit) {
  FilePtr file(std::fopen(fileName, "rb"));
  if (!file) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  constexpr std::size_t kChunk = 1 << 20;
  for (;;) {
    const std::size_t used = bytes.size();
    if (used > limit) return std::nullopt;
    bytes.resize(used + kChunk);
    const std::size_t got = std::fread(bytes.data() + used, 1, kChunk, file.get());
    bytes.resize(used + got);
    if (got < kChunk) break;
  }
  // A read error (a directory, a device gone) is not the end of the file.
  if (std::ferror(file.get()) || bytes.size() > limit) return std::nullopt;
  return bytes;
}

bool WriteFileBytes(const char* fileName, std::span<const std::uint8_t> bytes) {
  std::FILE* raw = std::fopen(fileName, "wb");
  if (raw == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), raw) == bytes.size();
  const bool flushed = std::fflush(raw) == 0;
  const bool closed = std::fclose(raw) == 0;
  if (written && flushed && closed) return true;
  std::remove(fileName);
  return false;
}

}  // namespace pw::imaging
