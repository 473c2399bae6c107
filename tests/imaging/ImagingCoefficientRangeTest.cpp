// Files whose DCT coefficients lie outside what an 8-bit JPEG can hold: a
// corrupt scan decodes to such values, and writing them with the standard
// Huffman tables gave a saved file that no longer decoded.
#include <gtest/gtest.h>

#include "tests/imaging/ImagingFixture.h"

namespace pw::test {
namespace {

using ImagingCoefficientRangeTest = ImagingFixture;

// A 16 x 16 grey picture, arithmetic-coded (which has no limit on magnitude),
// all blocks zero but coefficient `index` of the last block set to value.
Bytes GreyWithCoefficient(int index, int value) {
  // libjpeg keeps the address of the arrays until the compression finishes.
  jvirt_barray_ptr arrays[1] = {};
  const auto write = [&](jpeg_compress_struct& info) {
    jpeg_set_quality(&info, 100, TRUE);  // all quantisers 1
    info.arith_code = TRUE;
    auto* common = reinterpret_cast<j_common_ptr>(&info);
    arrays[0] = info.mem->request_virt_barray(common, JPOOL_IMAGE, TRUE, 2, 2, 1);
    jpeg_write_coefficients(&info, arrays);
    for (JDIMENSION row = 0; row < 2; ++row) {
      JBLOCKROW blocks = info.mem->access_virt_barray(common, arrays[0], row, 1, TRUE)[0];
      if (row == 1) blocks[1][index] = static_cast<JCOEF>(value);
    }
    return true;
  };
  auto file = jpeg::Compress({16, 16, 1, JCS_GRAYSCALE}, write);
  if (!file) throw std::runtime_error("cannot encode sample");
  return std::move(*file);
}

TEST_F(ImagingCoefficientRangeTest, CoefficientsBeyondEightBitsAreNotSavedLosslessly) {
  struct Case {
    const char* name;
    int index;
    int value;
  };
  const Case cases[] = {
      {"dc-high", 0, 1024}, {"dc-low", 0, -1025}, {"dc-far", 0, 20000},
      {"ac-high", 1, 1024}, {"ac-low", 63, -1024}, {"ac-far", 9, -30000},
  };
  const std::string target = PathOf("saved.jpg");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Write(std::string(c.name) + ".jpg", GreyWithCoefficient(c.index, c.value));
    for (std::int32_t flags : {0, 1}) {
      RawRecord record{};
      ASSERT_EQ(PwImgLoadFile(path.c_str(), record.data(), PWIMG_RECORD_SIZE, 0, flags, nullptr, nullptr), 1);
      EXPECT_EQ(PwImgSaveFile(target.c_str(), record.data(), PWIMG_FORMAT_JPEG_EXIF, 24, 50, nullptr), 0);
      EXPECT_FALSE(std::filesystem::exists(target));
      EXPECT_TRUE(HoldsData(record));
      PwImgFreeRecord(record.data());
    }
    // Decoded to pixels the picture is clamped as any decoder does, and saves.
    RawRecord pixels{};
    ASSERT_EQ(PwImgLoadFile(path.c_str(), pixels.data(), PWIMG_RECORD_SIZE, 24, 1, nullptr, nullptr), 1);
    EXPECT_EQ(PwImgSaveFile(target.c_str(), pixels.data(), PWIMG_FORMAT_JPEG_EXIF, 24, 50, nullptr), 1);
    EXPECT_NO_THROW(DecodeJpeg(ReadFileBytes(target)));
    PwImgFreeRecord(pixels.data());
    std::filesystem::remove(target);
  }
  EXPECT_EQ(LeakedBlocks(), 0);
}

TEST_F(ImagingCoefficientRangeTest, ExtremeValidCoefficientsSaveToAFileThatDecodesAgain) {
  // The largest values an 8-bit file can hold, with the standard Huffman
  // tables the save writes: each saved file must read back unchanged.
  struct Case {
    const char* name;
    int index;
    int value;
  };
  const Case cases[] = {{"dc-high", 0, 1023}, {"dc-low", 0, -1024}, {"ac-high", 1, 1023}, {"ac-low", 63, -1023}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes saved = Resave(GreyWithCoefficient(c.index, c.value), 0);
    const JpegCoefficients read = ReadJpegCoefficients(saved);
    ASSERT_EQ(read.components.size(), 1u);
    const std::vector<int>& blocks = read.components[0].dequantized;
    ASSERT_EQ(blocks.size(), 4u * 64u);
    EXPECT_EQ(blocks[3 * 64 + static_cast<std::size_t>(c.index)], c.value);
  }
  EXPECT_EQ(LeakedBlocks(), 0);
}

}  // namespace
}  // namespace pw::test
