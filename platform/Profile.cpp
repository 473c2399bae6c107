#include "platform/Profile.h"

#include <cstdint>
#include <string>

namespace pw::platform {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::int32_t ParseProfileInteger(std::string_view text, std::int32_t defaultValue) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    // Hexadecimal up to 32 bits; the bit pattern is taken as signed, so
    // 0xFFFFFFFF reads as -1.
    std::uint64_t value = 0;
    for (char c : text.substr(2)) {
      const int digit = HexDigit(c);
      if (digit < 0) return defaultValue;
      value = value * 16 + static_cast<std::uint64_t>(digit);
      if (value > 0xFFFFFFFFull) return defaultValue;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  }
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return defaultValue;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return defaultValue;
    value = value * 10 + (c - '0');
    if (value > 2147483648LL) return defaultValue;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return defaultValue;
  return static_cast<std::int32_t>(value);
}

std::int32_t ReadProfileInteger(std::string_view section, std::string_view key, std::int32_t defaultValue,
                                const std::string& path) {
  const ProfileText text = ReadProfileString(section, key, "", path, kProfileBufferSize);
  return ParseProfileInteger(text.text, defaultValue);
}

Outcome WriteProfileInteger(std::string_view section, std::string_view key, std::int32_t value,
                            const std::string& path) {
  const std::string text = std::to_string(value);
  return WriteProfileString(section, key, text, path);
}

}  // namespace pw::platform
