#pragma once
// The one buffer of a pass-through request: input and output of the I/O
// control at once.
//
//   bytes 0-43    SCSI_PASS_THROUGH header (32-bit layout)
//   bytes 44-47   zero
//   bytes 48-79   sense area (never read)
//   bytes 80-     data area, 524288 bytes
//
// Every byte reads as zero before each request is built, as if the whole
// buffer were zeroed; only the bytes that would differ are ever written. The
// device never sees the data area before a call (the input is the 44-byte
// header), so instead of zeroing it first, the buffer zeroes after a call only
// what the reply did not overwrite, and that lazily, when it is read: a chunk
// read that fills the data area costs no zeroing at all. On Windows the
// driver's reply reaches the buffer through the system's own buffer; in the
// host world the device writes into this one, and must then write every data
// byte it reports, as the scanner simulator does.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

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

  // Every byte reads as zero from now on.
  void Clear() noexcept;

  // Little-endian writes at a byte offset (header fields, CDB bytes).
  void PutByte(std::size_t offset, std::uint8_t value) noexcept;
  void PutWord32(std::size_t offset, std::uint32_t value) noexcept;
  // Copies bytes in at offset (cut at the buffer's end).
  void PutBytes(std::size_t offset, std::span<const std::byte> bytes) noexcept;

  // A request: BeginRequest hands out the first size bytes for the driver to
  // read its input from and write its reply into; EndRequest takes the call's
  // outcome. Afterwards the first bytesReturned bytes are the reply, and every
  // other byte reads as it did before the call (whatever the driver wrote
  // there); after a failed call nothing of the reply counts.
  std::span<std::byte> BeginRequest(std::size_t size);
  void EndRequest(bool ok, std::size_t bytesReturned) noexcept;

  std::span<const std::byte> Bytes() const noexcept { return Prefix(kSize); }
  std::span<const std::byte> Header() const noexcept { return Prefix(kHeaderSize); }
  std::span<const std::byte> Data() const noexcept { return Bytes().subspan(kDataOffset, kDataSize); }
  // The first count bytes of the data area (at most kDataSize), without
  // settling the rest.
  std::span<const std::byte> DataPrefix(std::size_t count) const noexcept;

 private:
  struct FreeBytes {
    void operator()(std::byte* bytes) const noexcept;
  };
  // The first end bytes as they read, zeroing what is stale among them.
  std::span<const std::byte> Prefix(std::size_t end) const noexcept;
  void Settle(std::size_t end) const noexcept;

  std::unique_ptr<std::byte, FreeBytes> bytes_;
  // Bytes before staleBegin_ hold what they read as; from staleBegin_ to
  // dirtyEnd_ they read as zero but may hold anything; from dirtyEnd_ on they
  // are zero.
  mutable std::size_t staleBegin_ = 0;
  mutable std::size_t dirtyEnd_ = 0;
  // What the bytes before staleBegin_ read as when the request began.
  std::vector<std::byte> before_;
  std::size_t requestSize_ = 0;
};

}  // namespace pw::scanner
