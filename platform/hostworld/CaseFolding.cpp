#include "platform/hostworld/CaseFolding.h"

#include <array>
#include <cstddef>

namespace pw::hostworld {
namespace {

// Code page 1252 as MultiByteToWideChar maps it: bytes 0x80-0x9F to their
// Unicode characters (the five unassigned ones to the C1 controls of the same
// value), every other byte to the code point of its value.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char16_t Unicode(unsigned char byte) {
  return byte >= 0x80 && byte <= 0x9F ? kHighControls[byte - 0x80] : static_cast<char16_t>(byte);
}

// The simple upper-case mapping of the characters code page 1252 holds, as
// CharUpperBuffW applies it.
constexpr char16_t Upper(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= 0x00E0 && c <= 0x00FE && c != 0x00F7)) return static_cast<char16_t>(c - 0x20);
  switch (c) {
    case 0x00B5: return 0x039C;  // micro sign: Greek capital mu
    case 0x00FF: return 0x0178;
    case 0x0161: return 0x0160;
    case 0x0153: return 0x0152;
    case 0x017E: return 0x017D;
    case 0x0192: return 0x0191;
    default: return c;
  }
}

constexpr std::array<char16_t, 256> MakeFoldTable() {
  std::array<char16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) table[i] = Upper(Unicode(static_cast<unsigned char>(i)));
  return table;
}

constexpr std::array<char16_t, 256> kFolded = MakeFoldTable();

}  // namespace

int CompareTextIgnoringCase(std::string_view a, std::string_view b) {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const char16_t x = kFolded[static_cast<unsigned char>(a[i])];
    const char16_t y = kFolded[static_cast<unsigned char>(b[i])];
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace pw::hostworld
