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
  // The size the file claims is only a first guess (a directory or a device
  // has none); reading goes on to the real end.
  std::size_t guess = 0;
  if (std::fseek(file.get(), 0, SEEK_END) == 0) {
    const long end = std::ftell(file.get());
    if (end > 0) guess = static_cast<std::size_t>(end);
  }
  if (std::fseek(file.get(), 0, SEEK_SET) != 0 || guess > limit) return std::nullopt;
  std::vector<std::uint8_t> bytes(guess + 1);
  std::size_t used = 0;
  for (;;) {
    used += std::fread(bytes.data() + used, 1, bytes.size() - used, file.get());
    if (used < bytes.size()) break;
    if (bytes.size() > limit) return std::nullopt;
    bytes.resize(bytes.size() * 2);
  }
  // A read error (a directory, a device gone) is not the end of the file.
  if (std::ferror(file.get()) || used > limit) return std::nullopt;
  bytes.resize(used);
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
