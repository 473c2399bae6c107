// The system's case-insensitive comparison, in both builds: which texts are
// the same, and the order NTFS lists a folder's names in.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/TextCompare.h"

namespace pw::platform {
namespace {

TEST(TextCompare, AsciiLettersFoldAndOtherCharactersOrderByTheirUpperCase) {
  EXPECT_TRUE(SameTextIgnoringCase("img0001.JPG", "IMG0001.jpg"));
  EXPECT_TRUE(SameTextIgnoringCase("", ""));
  EXPECT_FALSE(SameTextIgnoringCase("img", "img "));
  EXPECT_FALSE(SameTextIgnoringCase("img-1", "img1"));
  EXPECT_LT(CompareTextIgnoringCase("img", "IMG0"), 0) << "a prefix sorts first";
  EXPECT_GT(CompareTextIgnoringCase("b", "A"), 0);

  // Upper-cased, '_' (0x5F) follows every letter; a hyphen is a character like
  // any other, not set apart as lstrcmpi's word sort does.
  std::vector<std::string> names = {"img_a", "imgZ", "IMG0003", "img0001", "img-0002"};
  std::sort(names.begin(), names.end(), LessTextIgnoringCase);
  EXPECT_EQ(names, (std::vector<std::string>{"img-0002", "img0001", "IMG0003", "imgZ", "img_a"}));
}

TEST(TextCompare, TheAnsiCodePageFoldsItsOwnLetters) {
  if (AnsiCodePage() != 1252) GTEST_SKIP() << "the rows are those of code page 1252, this system uses " << AnsiCodePage();
  struct Row {
    const char* a;
    const char* b;
    bool same;
  };
  const Row rows[] = {
      {"\xE4", "\xC4", true},                  // ä Ä
      {"\xE9t\xE9", "\xC9T\xC9", true},        // été ÉTÉ
      {"\x9A", "\x8A", true},                  // š Š
      {"\x9C", "\x8C", true},                  // œ Œ
      {"\x9E", "\x8E", true},                  // ž Ž
      {"\xFF", "\x9F", true},                  // ÿ Ÿ: lower case at 0xFF, upper case at 0x9F
      {"\xDF", "ss", false},                   // ß is not "ss"
      {"\xDF", "SS", false},
      {"a", "\xE1", false},                    // a á
      {"\xF7", "\xD7", false},                 // ÷ × are no pair
  };
  for (const Row& row : rows) EXPECT_EQ(SameTextIgnoringCase(row.a, row.b), row.same) << row.a << " " << row.b;

  // Names that differ only by case outside ASCII sort by their numbers.
  std::vector<std::string> names = {"\xC4" "0005.jpg", "\xE4" "0003.jpg", "\xE4" "0004.jpg"};
  std::sort(names.begin(), names.end(), LessTextIgnoringCase);
  EXPECT_EQ(names, (std::vector<std::string>{"\xE4" "0003.jpg", "\xE4" "0004.jpg", "\xC4" "0005.jpg"}));

  // The order is that of the UTF-16 characters, not of the bytes: € (0x80,
  // U+20AC) follows Ÿ (0x9F, U+0178), which follows Ü (0xDC, U+00DC).
  EXPECT_GT(CompareTextIgnoringCase("\x80", "\xFF"), 0);
  EXPECT_GT(CompareTextIgnoringCase("\x9F", "\xFC"), 0);
  EXPECT_LT(CompareTextIgnoringCase("z", "\xE4"), 0);
}

}  // namespace
}  // namespace pw::platform
