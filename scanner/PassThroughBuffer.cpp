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

void PassThroughBuffer::Clear() noexcept { staleBegin_ = 0; }

void PassThroughBuffer::Settle(std::size_t end) const noexcept {
  end = std::min(end, dirtyEnd_);
  if (end <= staleBegin_) return;
  std::memset(bytes_.get() + staleBegin_, 0, end - staleBegin_);
  staleBegin_ = end;
}

std::span<const std::byte> PassThroughBuffer::Prefix(std::size_t end) const noexcept {
  end = std::min(end, kSize);
  Settle(end);
  return {bytes_.get(), end};
}

std::span<const std::byte> PassThroughBuffer::DataPrefix(std::size_t count) const noexcept {
  return Prefix(kDataOffset + std::min(count, kDataSize)).subspan(kDataOffset);
}

void PassThroughBuffer::PutByte(std::size_t offset, std::uint8_t value) noexcept {
  const std::byte b{value};
  PutBytes(offset, {&b, 1});
}

void PassThroughBuffer::PutWord32(std::size_t offset, std::uint32_t value) noexcept {
  for (std::size_t i = 0; i < 4; ++i) PutByte(offset + i, static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu));
}

void PassThroughBuffer::PutBytes(std::size_t offset, std::span<const std::byte> bytes) noexcept {
  if (offset >= kSize) return;
  const std::size_t count = std::min(bytes.size(), kSize - offset);
  if (count == 0) return;
  const std::size_t end = offset + count;
  Settle(end);  // the bytes between what reads as written and offset become real zeros
  std::memcpy(bytes_.get() + offset, bytes.data(), count);
  staleBegin_ = std::max(staleBegin_, end);
  dirtyEnd_ = std::max(dirtyEnd_, staleBegin_);
}

std::span<std::byte> PassThroughBuffer::BeginRequest(std::size_t size) {
  size = std::min(size, kSize);
  // The header, its padding and the sense area go to the driver as built
  // (zeros where nothing was written); the data area is the device's to fill.
  Settle(std::min(size, kDataOffset));
  // The written part is the header in practice: a few dozen bytes to keep.
  before_.assign(bytes_.get(), bytes_.get() + staleBegin_);
  dirtyEnd_ = std::max(dirtyEnd_, size);
  requestSize_ = size;
  return {bytes_.get(), size};
}

void PassThroughBuffer::EndRequest(bool ok, std::size_t bytesReturned) noexcept {
  const std::size_t reply = ok ? std::min(bytesReturned, requestSize_) : 0;
  const std::size_t written = before_.size();
  // What the reply did not cover reads as before the call: the written part
  // is put back, everything after it reads as zero again.
  if (reply < written) std::memcpy(bytes_.get() + reply, before_.data() + reply, written - reply);
  staleBegin_ = std::max(reply, written);
}

}  // namespace pw::scanner
