#pragma once
// The one buffer of a pass-through request: input and output of the I/O
// control at once.
//
//   bytes 0-43    SCSI_PASS_THROUGH header (32-bit layout)
//   bytes 44-47   zero
//   bytes 48-79   sense area (never read)
//   bytes 80-     data area, 524288 bytes
//
// Every byte is zero before each request is built. The buffer remembers how
// far bytes may have changed since it was last all zero (its own writes and
// the output span it handed to the driver; neither the driver nor anything
// else writes elsewhere), so Clear() writes only that prefix and a small
// request does not pay for the whole half megabyte.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace pw::scanner {

class PassThroughBuffer {
 public:
  static constexpr std::size_t kHeaderSize = 44;
  static constexpr std::size_t kSenseOffset = 48;
  static constexpr std::size_t kSenseSize = 32;
  static constexpr std::size_t kDataOffset = 80;
  static constexpr std::size_t kDataSize = 524288;
  static constexpr std::size_t kSize = kDataOffset + kDataSize;  // 524368

  // All zero. Throws std::bad_alloc when the memory cannot be had.
  PassThroughBuffer();
  PassThroughBuffer(const PassThroughBuffer&) = delete;
  PassThroughBuffer& operator=(const PassThroughBuffer&) = delete;

  // Sets all 524368 bytes to zero.
  void Clear() noexcept;

  // Little-endian writes at a byte offset (header fields, CDB bytes).
  void PutByte(std::size_t offset, std::uint8_t value) noexcept;
  void PutWord16(std::size_t offset, std::uint16_t value) noexcept;
  void PutWord32(std::size_t offset, std::uint32_t value) noexcept;
  // Copies bytes in at offset (cut at the buffer's end).
  void PutBytes(std::size_t offset, std::span<const std::byte> bytes) noexcept;

  // The first size bytes, for the driver to write its reply into.
  std::span<std::byte> OutputSpan(std::size_t size) noexcept;

  std::span<const std::byte> Bytes() const noexcept { return {bytes_.get(), kSize}; }
  std::span<const std::byte> Header() const noexcept { return Bytes().first(kHeaderSize); }
  std::span<const std::byte> Data() const noexcept { return Bytes().subspan(kDataOffset, kDataSize); }

 private:
  struct FreeBytes {
    void operator()(std::byte* bytes) const noexcept;
  };
  void Touch(std::size_t end) noexcept;

  std::unique_ptr<std::byte, FreeBytes> bytes_;
  std::size_t dirtyEnd_ = 0;  // every byte from here on is zero
};

}  // namespace pw::scanner
