#include "imaging/Exif.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

namespace pw::imaging {
namespace {

constexpr std::uint8_t kExifSignature[] = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::string_view kXmpSignature{"http://ns.adobe.com/xap/1.0/\0", 29};

constexpr std::uint16_t kTagOrientation = 0x0112;
constexpr std::uint16_t kTagExifIfd = 0x8769;
constexpr std::uint16_t kTagPixelXDimension = 0xA002;
constexpr std::uint16_t kTagPixelYDimension = 0xA003;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;
constexpr std::uint16_t kTypeIfd = 13;
constexpr std::size_t kEntrySize = 12;

// The TIFF structure inside an EXIF block, with bounds-checked access in its
// own byte order. Offsets are relative to the TIFF header.
class Tiff {
 public:
  static std::optional<Tiff> Open(std::span<const std::uint8_t> app1) {
    if (!IsExifBlock(app1)) return std::nullopt;
    Tiff tiff(app1.subspan(sizeof kExifSignature));
    if (tiff.data_.size() < 8) return std::nullopt;
    if (tiff.data_[0] == 'I' && tiff.data_[1] == 'I') {
      tiff.bigEndian_ = false;
    } else if (tiff.data_[0] == 'M' && tiff.data_[1] == 'M') {
      tiff.bigEndian_ = true;
    } else {
      return std::nullopt;
    }
    if (tiff.Read16(2) != 42) return std::nullopt;
    return tiff;
  }

  std::optional<std::uint32_t> Ifd0() const { return Read32(4); }

  // The offset of the entry with this tag in the IFD at ifdOffset.
  std::optional<std::size_t> FindEntry(std::uint32_t ifdOffset, std::uint16_t tag) const {
    const auto count = Read16(ifdOffset);
    if (!count) return std::nullopt;
    for (std::size_t i = 0; i < *count; ++i) {
      const std::size_t entry = std::size_t{ifdOffset} + 2 + i * kEntrySize;
      if (entry > data_.size() || data_.size() - entry < kEntrySize) return std::nullopt;
      if (Read16(entry) == tag) return entry;
    }
    return std::nullopt;
  }

  // The first value of a SHORT or LONG entry that holds one value.
  std::optional<std::uint32_t> Value(std::size_t entry) const {
    const auto type = Read16(entry + 2);
    const auto count = Read32(entry + 4);
    if (!type || !count || *count != 1) return std::nullopt;
    if (*type == kTypeShort) return Read16(entry + 8);
    if (*type == kTypeLong || *type == kTypeIfd) return Read32(entry + 8);
    return std::nullopt;
  }

  // Writes value into a SHORT or LONG entry that holds one value. app1 is the
  // writable block this structure was opened on.
  void SetValue(std::span<std::uint8_t> app1, std::size_t entry, std::uint32_t value) const {
    const auto type = Read16(entry + 2);
    const auto count = Read32(entry + 4);
    if (!type || !count || *count != 1) return;
    const std::size_t at = sizeof kExifSignature + entry + 8;
    if (*type == kTypeShort && value <= 0xFFFF) Write(app1.subspan(at, 2), value);
    if (*type == kTypeLong) Write(app1.subspan(at, 4), value);
  }

 private:
  explicit Tiff(std::span<const std::uint8_t> data) : data_(data) {}

  std::optional<std::uint16_t> Read16(std::size_t offset) const {
    if (offset > data_.size() || data_.size() - offset < 2) return std::nullopt;
    const std::uint8_t a = data_[offset], b = data_[offset + 1];
    return static_cast<std::uint16_t>(bigEndian_ ? (a << 8) | b : (b << 8) | a);
  }
  std::optional<std::uint32_t> Read32(std::size_t offset) const {
    const auto first = Read16(offset);
    const auto second = Read16(offset + 2);
    if (!first || !second) return std::nullopt;
    return bigEndian_ ? (std::uint32_t{*first} << 16) | *second : (std::uint32_t{*second} << 16) | *first;
  }
  // Stores value in the bytes of out (2 or 4) in this structure's byte order.
  void Write(std::span<std::uint8_t> out, std::uint32_t value) const {
    for (std::size_t i = 0; i < out.size(); ++i) {
      const std::size_t shift = 8 * (bigEndian_ ? out.size() - 1 - i : i);
      out[i] = static_cast<std::uint8_t>((value >> shift) & 0xFF);
    }
  }

  std::span<const std::uint8_t> data_;
  bool bigEndian_ = false;
};

// Replaces the orientation digit after `prefix` when `suffix` follows it.
void ReplaceXmpDigit(std::span<std::uint8_t> packet, std::string_view prefix, std::string_view suffix) {
  const auto* begin = reinterpret_cast<const char*>(packet.data());
  const std::string_view text(begin, packet.size());
  for (std::size_t at = text.find(prefix); at != std::string_view::npos; at = text.find(prefix, at + 1)) {
    const std::size_t digit = at + prefix.size();
    if (digit >= text.size() || text.size() - digit - 1 < suffix.size()) return;
    if (text[digit] >= '1' && text[digit] <= '8' && text.substr(digit + 1, suffix.size()) == suffix) {
      packet[digit] = '1';
    }
  }
}

}  // namespace

bool IsExifBlock(std::span<const std::uint8_t> app1) {
  return app1.size() >= sizeof kExifSignature && std::equal(std::begin(kExifSignature), std::end(kExifSignature), app1.begin());
}

bool IsXmpBlock(std::span<const std::uint8_t> app1) {
  return app1.size() >= kXmpSignature.size() &&
         std::memcmp(app1.data(), kXmpSignature.data(), kXmpSignature.size()) == 0;
}

std::uint32_t ReadExifOrientation(std::span<const std::uint8_t> app1) {
  const auto tiff = Tiff::Open(app1);
  if (!tiff) return 1;
  const auto ifd0 = tiff->Ifd0();
  if (!ifd0) return 1;
  const auto entry = tiff->FindEntry(*ifd0, kTagOrientation);
  if (!entry) return 1;
  const auto value = tiff->Value(*entry);
  return value && *value >= 1 && *value <= 8 ? *value : 1;
}

void MarkExifUpright(std::span<std::uint8_t> app1, std::uint32_t width, std::uint32_t height) {
  const auto tiff = Tiff::Open(app1);
  if (!tiff) return;
  const auto ifd0 = tiff->Ifd0();
  if (!ifd0) return;
  if (const auto entry = tiff->FindEntry(*ifd0, kTagOrientation)) tiff->SetValue(app1, *entry, 1);
  const auto exifEntry = tiff->FindEntry(*ifd0, kTagExifIfd);
  if (!exifEntry) return;
  const auto exifIfd = tiff->Value(*exifEntry);
  if (!exifIfd) return;
  if (const auto entry = tiff->FindEntry(*exifIfd, kTagPixelXDimension)) tiff->SetValue(app1, *entry, width);
  if (const auto entry = tiff->FindEntry(*exifIfd, kTagPixelYDimension)) tiff->SetValue(app1, *entry, height);
}

void MarkXmpUpright(std::span<std::uint8_t> app1) {
  if (!IsXmpBlock(app1)) return;
  ReplaceXmpDigit(app1, "tiff:Orientation=\"", "\"");
  ReplaceXmpDigit(app1, "tiff:Orientation='", "'");
  ReplaceXmpDigit(app1, "<tiff:Orientation>", "</tiff:Orientation>");
}

}  // namespace pw::imaging
