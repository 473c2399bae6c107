#include "scanner/PassThroughBuffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace pw::scanner {

void PassThroughBuffer::FreeBytes::operator()(std::byte* bytes) const noexcept { std::free(bytes); }

// calloc hands out zeroed memory without touching pages it knows to be zero
// already, so a fresh buffer costs little more than the pages a request uses.
PassThroughBuffer::PassThroughBuffer() : bytes_(static_cast<std::byte*>(std::calloc(kSize, 1))) {
  if (!bytes_) throw std::bad_alloc();
}

void PassThroughBuffer::Clear() noexcept {
  std::memset(bytes_.get(), 0, dirtyEnd_);
  dirtyEnd_ = 0;
}

void PassThroughBuffer::Touch(std::size_t end) noexcept { dirtyEnd_ = std::max(dirtyEnd_, std::min(end, kSize)); }

void PassThroughBuffer::PutByte(std::size_t offset, std::uint8_t value) noexcept {
  if (offset >= kSize) return;
  bytes_.get()[offset] = std::byte{value};
  Touch(offset + 1);
}

void PassThroughBuffer::PutWord16(std::size_t offset, std::uint16_t value) noexcept {
  PutByte(offset, static_cast<std::uint8_t>(value & 0xFFu));
  PutByte(offset + 1, static_cast<std::uint8_t>(value >> 8));
}

void PassThroughBuffer::PutWord32(std::size_t offset, std::uint32_t value) noexcept {
  for (std::size_t i = 0; i < 4; ++i) PutByte(offset + i, static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu));
}

void PassThroughBuffer::PutBytes(std::size_t offset, std::span<const std::byte> bytes) noexcept {
  if (offset >= kSize) return;
  const std::size_t count = std::min(bytes.size(), kSize - offset);
  if (count == 0) return;
  std::memcpy(bytes_.get() + offset, bytes.data(), count);
  Touch(offset + count);
}

std::span<std::byte> PassThroughBuffer::OutputSpan(std::size_t size) noexcept {
  size = std::min(size, kSize);
  Touch(size);
  return {bytes_.get(), size};
}

}  // namespace pw::scanner
