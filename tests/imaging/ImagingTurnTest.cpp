// Turning pictures upright on load: all eight orientations, losslessly where
// the DCT blocks allow it, and the same coefficients jpegtran produces.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "tests/imaging/ImagingFixture.h"
#include "tests/imaging/PictureChecks.h"

namespace pw::test {
namespace {

using ImagingTurnTest = ImagingFixture;

double MeanDifference(const Picture& a, const Picture& b) {
  if (a.samples.size() != b.samples.size()) return 1e9;
  double sum = 0;
  for (std::size_t i = 0; i < a.samples.size(); ++i) sum += std::abs(int{a.samples[i]} - int{b.samples[i]});
  return sum / static_cast<double>(a.samples.size());
}

void ExpectSameCoefficients(const JpegCoefficients& ours, const JpegCoefficients& reference) {
  ASSERT_EQ(ours.width, reference.width);
  ASSERT_EQ(ours.height, reference.height);
  ASSERT_EQ(ours.colorSpace, reference.colorSpace);
  ASSERT_EQ(ours.components.size(), reference.components.size());
  for (std::size_t c = 0; c < ours.components.size(); ++c) {
    const ComponentBlocks& a = ours.components[c];
    const ComponentBlocks& b = reference.components[c];
    EXPECT_EQ(a.hSamp, b.hSamp) << "component " << c;
    EXPECT_EQ(a.vSamp, b.vSamp) << "component " << c;
    ASSERT_EQ(a.widthInBlocks, b.widthInBlocks) << "component " << c;
    ASSERT_EQ(a.heightInBlocks, b.heightInBlocks) << "component " << c;
    EXPECT_EQ(a.quant, b.quant) << "component " << c;
    EXPECT_TRUE(a.dequantized == b.dequantized) << "component " << c << " coefficients differ";
  }
}

struct Sampling {
  const char* name;
  int channels;
  int lumaH;
  int lumaV;
};

constexpr Sampling kSamplings[] = {
    {"colour 4:2:0", 3, 2, 2},
    {"colour 4:2:2", 3, 2, 1},
    {"colour 4:4:4", 3, 1, 1},
    {"grey", 1, 1, 1},
};

TEST_F(ImagingTurnTest, EveryOrientationComesOutUpright) {
  for (const Sampling& sampling : kSamplings) {
    const Picture upright = CellPattern(64, 48, sampling.channels);
    EncodeOptions options;
    options.lumaH = sampling.lumaH;
    options.lumaV = sampling.lumaV;
    for (int orientation = 1; orientation <= 8; ++orientation) {
      SCOPED_TRACE(std::string(sampling.name) + ", orientation " + std::to_string(orientation));
      RawRecord record{};
      const Bytes saved = Resave(ScannerJpeg(upright, orientation, "2024:05:17 10:20:30", options), 1, &record);
      const PwImgRecord fields = FieldsOf(record);
      EXPECT_EQ(fields.storage, PWIMG_STORAGE_COEFFICIENTS) << "whole MCUs turn losslessly";
      EXPECT_EQ(fields.width, 64u);
      EXPECT_EQ(fields.height, 48u);
      EXPECT_EQ(fields.fileWidth, orientation >= 5 ? 48u : 64u);
      EXPECT_EQ(fields.orientation, static_cast<std::uint32_t>(orientation));
      EXPECT_EQ(fields.flags & PWIMG_RECORD_TRIMMED, 0u);
      EXPECT_EQ(fields.bitsPerPixel, sampling.channels == 1 ? 8u : 24u);

      const Picture decoded = DecodeJpeg(saved);
      ExpectCellsUpright(decoded, 64, 48, sampling.channels);
      EXPECT_LT(MeanDifference(decoded, upright), 3.0);

      // Fine detail too: the stored file's own pixels, turned, within the
      // rounding of libjpeg's integer inverse DCT and upsampling.
      const Picture detailed =
          sampling.channels == 1 ? GreyPicture(GradientPicture(64, 48)) : GradientPicture(64, 48);
      const Bytes file = ScannerJpeg(detailed, orientation, "2024:05:17 10:20:30", options);
      const int inverse = orientation == 6 ? 8 : orientation == 8 ? 6 : orientation;
      const Picture reference = StoredForOrientation(DecodeJpeg(file), inverse);
      EXPECT_LT(MeanDifference(DecodeJpeg(Resave(file)), reference), 0.5);
    }
  }
  EXPECT_EQ(LeakedBlocks(), 0);
}

TEST_F(ImagingTurnTest, LosslessTurnMatchesJpegtranBitForBit) {
  if (!HaveProgram("jpegtran")) GTEST_SKIP() << "jpegtran (libjpeg-turbo-progs) is not installed";
  // 96 x 64 stored, whole 16 x 16 MCUs: -rotate 270 needs no trimming.
  const Bytes file = ScannerJpeg(GradientPicture(64, 96), 8);
  const Bytes ours = Resave(file);
  const std::string source = Write("source.jpg", file);
  const std::string reference = PathOf("jpegtran.jpg");
  ASSERT_EQ(std::system(("jpegtran -rotate 270 -outfile '" + reference + "' '" + source + "'").c_str()), 0);
  const Bytes theirs = ReadFileBytes(reference);

  ExpectSameCoefficients(ReadJpegCoefficients(ours), ReadJpegCoefficients(theirs));
  EXPECT_EQ(DecodeJpeg(ours).samples, DecodeJpeg(theirs).samples) << "same coefficients, same pixels";
}

TEST_F(ImagingTurnTest, EveryOrientationMatchesJpegtranTrimmingPartialEdges) {
  if (!HaveProgram("jpegtran")) GTEST_SKIP() << "jpegtran (libjpeg-turbo-progs) is not installed";
  const char* const kJpegtranTurn[] = {
      "", "", "-flip horizontal", "-rotate 180", "-flip vertical",
      "-transpose", "-rotate 90", "-transverse", "-rotate 270"};
  struct Variant {
    Sampling sampling;
    bool progressive;
  };
  const Variant variants[] = {
      {kSamplings[0], false}, {kSamplings[1], false}, {kSamplings[2], false},
      {kSamplings[3], false}, {kSamplings[0], true},
  };
  for (const Variant& variant : variants) {
    EncodeOptions options;
    options.lumaH = variant.sampling.lumaH;
    options.lumaV = variant.sampling.lumaV;
    options.progressive = variant.progressive;
    // No dimension a multiple of 8 or 16.
    const Picture stored =
        variant.sampling.channels == 1 ? GreyPicture(GradientPicture(100, 75)) : GradientPicture(100, 75);
    for (int orientation = 2; orientation <= 8; ++orientation) {
      SCOPED_TRACE(std::string(variant.sampling.name) + (variant.progressive ? " progressive" : "") +
                   ", orientation " + std::to_string(orientation));
      ExifLayout exif;
      exif.orientation = static_cast<std::uint16_t>(orientation);
      options.exif = exif;
      const Bytes file = EncodeJpeg(stored, options);
      RawRecord record{};
      const Bytes ours = Resave(file, PWIMG_LOAD_UPRIGHT, &record);
      const std::string source = Write("source.jpg", file);
      const std::string reference = PathOf("jpegtran.jpg");
      const std::string command = std::string("jpegtran ") + kJpegtranTurn[orientation] + " -trim -outfile '" +
                                  reference + "' '" + source + "'";
      ASSERT_EQ(std::system(command.c_str()), 0) << command;
      const JpegCoefficients theirs = ReadJpegCoefficients(ReadFileBytes(reference));
      ExpectSameCoefficients(ReadJpegCoefficients(ours), theirs);

      const PwImgRecord fields = FieldsOf(record);
      EXPECT_EQ(fields.width, theirs.width);
      EXPECT_EQ(fields.height, theirs.height);
      const bool trimmed = orientation != 5;  // a plain transpose mirrors nothing
      EXPECT_EQ((fields.flags & PWIMG_RECORD_TRIMMED) != 0, trimmed);
    }
  }
}

// A mirrored edge loses its partial iMCU: 8 times the largest sampling factor
// along that edge, less one pixel at most, which is 31 for 4:1 sampling.
TEST_F(ImagingTurnTest, TrimmedEdgeIsAtMostOneIMcuLessOnePixel) {
  struct Case {
    const char* name;
    int channels;
    int lumaH;
    int lumaV;
    std::uint32_t iMcuWidth;
    std::uint32_t iMcuHeight;
  };
  const Case cases[] = {
      {"grey", 1, 1, 1, 8, 8},
      {"colour 4:4:4", 3, 1, 1, 8, 8},
      {"colour 4:2:2", 3, 2, 1, 16, 8},
      {"colour 4:2:0", 3, 2, 2, 16, 16},
      {"colour 4:1:1", 3, 4, 1, 32, 8},
      {"colour 1 x 4", 3, 1, 4, 8, 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Two whole iMCUs and the largest partial one each way.
    const std::uint32_t width = 3 * c.iMcuWidth - 1;
    const std::uint32_t height = 3 * c.iMcuHeight - 1;
    EncodeOptions options;
    options.lumaH = c.lumaH;
    options.lumaV = c.lumaV;
    ExifLayout exif;
    exif.orientation = 3;  // turned half round: both edges are mirrored
    options.exif = exif;
    const Picture stored = c.channels == 1 ? GreyPicture(GradientPicture(width, height)) : GradientPicture(width, height);
    RawRecord record{};
    const Bytes saved = Resave(EncodeJpeg(stored, options), PWIMG_LOAD_UPRIGHT, &record);
    const PwImgRecord fields = FieldsOf(record);
    EXPECT_EQ(fields.storage, PWIMG_STORAGE_COEFFICIENTS);
    EXPECT_NE(fields.flags & PWIMG_RECORD_TRIMMED, 0u);
    EXPECT_EQ(width - fields.width, c.iMcuWidth - 1);
    EXPECT_EQ(height - fields.height, c.iMcuHeight - 1);
    const Picture decoded = DecodeJpeg(saved);
    EXPECT_EQ(decoded.width, 2 * c.iMcuWidth);
    EXPECT_EQ(decoded.height, 2 * c.iMcuHeight);
  }
  EXPECT_EQ(LeakedBlocks(), 0);
}

TEST_F(ImagingTurnTest, WithoutTheUprightFlagThePictureStaysAsStored) {
  const Bytes file = ScannerJpeg(CellPattern(64, 48, 3), 6);
  RawRecord record{};
  const Bytes saved = Resave(file, 0, &record);
  EXPECT_EQ(FieldsOf(record).width, 48u);
  EXPECT_EQ(FieldsOf(record).height, 64u);
  ExpectSameCoefficients(ReadJpegCoefficients(saved), ReadJpegCoefficients(file));
  const auto exif = ReadExifBlock(saved);
  ASSERT_TRUE(exif);
  EXPECT_EQ(ReadExifTag(*exif, 0x0112)->number, 6u) << "still needs turning";
}

TEST_F(ImagingTurnTest, PicturesSmallerThanOneBlockRowTurnThroughPixels) {
  // Upright 6 x 10: top half red, bottom half blue. Stored for orientation 8
  // it is 10 x 6, and the turn mirrors its 10 columns: less than one 16-pixel
  // MCU, so dropping the partial edge would leave nothing.
  Picture upright = BlankPicture(6, 10, 3);
  for (std::uint32_t y = 0; y < 10; ++y) {
    for (std::uint32_t x = 0; x < 6; ++x) {
      std::uint8_t* p = upright.At(x, y);
      p[0] = y < 5 ? 230 : 20;
      p[1] = 20;
      p[2] = y < 5 ? 20 : 230;
    }
  }
  RawRecord record{};
  const Bytes saved = Resave(ScannerJpeg(upright, 8), PWIMG_LOAD_UPRIGHT, &record);
  EXPECT_EQ(FieldsOf(record).storage, PWIMG_STORAGE_PIXELS);
  const Picture decoded = DecodeJpeg(saved);
  ASSERT_EQ(decoded.width, 6u);
  ASSERT_EQ(decoded.height, 10u);
  EXPECT_GT(decoded.At(3, 1)[0], 150);
  EXPECT_LT(decoded.At(3, 1)[2], 100);
  EXPECT_GT(decoded.At(3, 8)[2], 150);
  EXPECT_LT(decoded.At(3, 8)[0], 100);
  EXPECT_EQ(LeakedBlocks(), 0);
}

TEST_F(ImagingTurnTest, TwentyFourBitLoadDecodesAndSaveEncodesAtTheQualityGiven) {
  const Picture grey = GreyPicture(GradientPicture(64, 48), 0);
  ExifLayout exif;
  exif.orientation = 3;
  EncodeOptions options;
  options.exif = exif;
  const std::string source = Write("grey.jpg", EncodeJpeg(grey, options));

  RawRecord record{};
  ASSERT_EQ(PwImgLoadFile(source.c_str(), record.data(), PWIMG_RECORD_SIZE, 24, 1, nullptr, nullptr), 1);
  EXPECT_EQ(FieldsOf(record).storage, PWIMG_STORAGE_PIXELS);
  EXPECT_EQ(FieldsOf(record).bitsPerPixel, 24u);
  const std::string low = PathOf("low.jpg"), high = PathOf("high.jpg");
  ASSERT_EQ(PwImgSaveFile(low.c_str(), record.data(), PWIMG_FORMAT_JPEG_EXIF, 24, 10, nullptr), 1);
  ASSERT_EQ(PwImgSaveFile(high.c_str(), record.data(), PWIMG_FORMAT_JPEG_EXIF, 24, 95, nullptr), 1);
  PwImgFreeRecord(record.data());

  const Picture decoded = DecodeJpeg(ReadFileBytes(high));
  EXPECT_EQ(decoded.channels, 3);
  // Turned 180 degrees: the stored top-left is now bottom-right.
  EXPECT_NEAR(decoded.At(63, 47)[0], grey.At(0, 0)[0], 12);
  EXPECT_NEAR(decoded.At(0, 0)[1], grey.At(63, 47)[0], 12);
  EXPECT_LT(ReadFileBytes(low).size(), ReadFileBytes(high).size());
  EXPECT_EQ(LeakedBlocks(), 0);
}

TEST_F(ImagingTurnTest, CmykPicturesCannotBecomeTwentyFourBit) {
  // libjpeg has no CMYK to RGB conversion; keeping samples (0) still works.
  Picture cmyk = BlankPicture(32, 32, 4);
  std::fill(cmyk.samples.begin(), cmyk.samples.end(), std::uint8_t{128});
  const std::string source = Write("cmyk.jpg", EncodeJpeg(cmyk));

  RawRecord record{};
  EXPECT_EQ(PwImgLoadFile(source.c_str(), record.data(), PWIMG_RECORD_SIZE, 24, 1, nullptr, nullptr), 0);
  EXPECT_FALSE(HoldsData(record));
  ASSERT_EQ(PwImgLoadFile(source.c_str(), record.data(), PWIMG_RECORD_SIZE, 0, 1, nullptr, nullptr), 1);
  EXPECT_EQ(FieldsOf(record).bitsPerPixel, 32u);
  const std::string saved = PathOf("saved.jpg");
  EXPECT_EQ(PwImgSaveFile(saved.c_str(), record.data(), PWIMG_FORMAT_JPEG_EXIF, 24, 50, nullptr), 1);
  PwImgFreeRecord(record.data());
  EXPECT_EQ(ReadJpegCoefficients(ReadFileBytes(saved)).colorSpace, JCS_CMYK);
  EXPECT_EQ(LeakedBlocks(), 0);
}

}  // namespace
}  // namespace pw::test
