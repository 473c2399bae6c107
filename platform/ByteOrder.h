#pragma once
// Little-endian fields in byte buffers: Windows structures (pass-through
// header, storage descriptor, icon directory) and the host world's wire
// formats. Header-only, so that every layer may use it, the imaging modules
// too. The caller keeps the field inside the buffer.
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

namespace pw::platform {

template <typename Byte>
concept ByteUnit = sizeof(Byte) == 1 && (std::is_same_v<std::remove_cv_t<Byte>, std::byte> ||
                                         std::is_integral_v<std::remove_cv_t<Byte>>);

template <ByteUnit Byte>
constexpr std::uint16_t GetLe16(const Byte* at) noexcept {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(at[0]) | (static_cast<std::uint8_t>(at[1]) << 8));
}

template <ByteUnit Byte>
constexpr std::uint32_t GetLe32(const Byte* at) noexcept {
  return static_cast<std::uint32_t>(GetLe16(at)) | (static_cast<std::uint32_t>(GetLe16(at + 2)) << 16);
}

template <ByteUnit Byte>
constexpr void PutLe16(Byte* at, std::uint16_t value) noexcept {
  at[0] = static_cast<Byte>(value & 0xFFu);
  at[1] = static_cast<Byte>(value >> 8);
}

template <ByteUnit Byte>
constexpr void PutLe32(Byte* at, std::uint32_t value) noexcept {
  PutLe16(at, static_cast<std::uint16_t>(value & 0xFFFFu));
  PutLe16(at + 2, static_cast<std::uint16_t>(value >> 16));
}

// The same at a byte offset of a buffer.
inline std::uint16_t GetLe16(std::span<const std::byte> bytes, std::size_t at) noexcept {
  return GetLe16(bytes.subspan(at, 2).data());
}
inline std::uint32_t GetLe32(std::span<const std::byte> bytes, std::size_t at) noexcept {
  return GetLe32(bytes.subspan(at, 4).data());
}
inline void PutLe32(std::span<std::byte> bytes, std::size_t at, std::uint32_t value) noexcept {
  PutLe32(bytes.subspan(at, 4).data(), value);
}

}  // namespace pw::platform
