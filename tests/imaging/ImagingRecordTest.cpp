// The record, the comments, the saved markers and every way a call can fail.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>

#include "tests/imaging/ImagingFixture.h"

namespace pw::test {
namespace {

using ImagingRecordTest = ImagingFixture;

const std::string kVersion = " Pagewick Ver 019";
const std::string kDate = "2024:05:17 10:20:30";

TEST_F(ImagingRecordTest, SavedFileKeepsItsExifWithTheOrientationReset) {
  for (const bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "Motorola order" : "Intel order");
    ExifLayout exif;
    exif.bigEndian = bigEndian;
    exif.orientation = 6;
    exif.software = "Scanner 2.1";
    exif.pixelDimensions = std::make_pair(48u, 64u);  // as stored
    EncodeOptions options;
    options.exif = exif;
    const Bytes saved = Resave(EncodeJpeg(StoredForOrientation(CellPattern(64, 48, 3), 6), options));

    const auto markers = ReadMarkers(saved);
    ASSERT_FALSE(markers.empty());
    EXPECT_EQ(markers.front().code, 0xE1) << "EXIF stays first: the file had no JFIF header";
    const auto block = ReadExifBlock(saved);
    ASSERT_TRUE(block);
    EXPECT_EQ(ReadExifTag(*block, 0x0112)->number, 1u);
    EXPECT_EQ(ReadExifTag(*block, 0x0131)->text, "Scanner 2.1");
    EXPECT_EQ(ReadExifTag(*block, 0x0132)->text, kDate);
    EXPECT_EQ(ReadExifTag(*block, 0xA002, true)->number, 64u) << "pixel width of the upright picture";
    EXPECT_EQ(ReadExifTag(*block, 0xA003, true)->number, 48u);
  }
}

TEST_F(ImagingRecordTest, JfifHeaderStaysWhereTheFileHadOne) {
  ExifLayout exif;
  exif.orientation = 8;
  EncodeOptions options;
  options.exif = exif;
  options.jfif = true;
  const Bytes saved = Resave(EncodeJpeg(StoredForOrientation(CellPattern(64, 48, 3), 8), options));
  const auto markers = ReadMarkers(saved);
  ASSERT_GE(markers.size(), 2u);
  EXPECT_EQ(markers[0].code, 0xE0);
  EXPECT_EQ(markers[1].code, 0xE1);
}

// SOI, the EXIF block, any other kept APPn, libjpeg's Adobe marker where its
// colour model needs one, then the comments: read from the saved file's bytes.
TEST_F(ImagingRecordTest, ExifComesRightAfterTheStartAndTheAdobeMarkerAfterTheKeptOnes) {
  struct Case {
    const char* name;
    int channels;
    bool adobe;  // libjpeg marks CMYK data with an Adobe APP14 (transform 0)
  };
  const Case cases[] = {{"YCbCr", 3, false}, {"grey", 1, false}, {"CMYK", 4, true}};
  ASSERT_EQ(PwImgSetComment(0, kVersion.c_str(), static_cast<std::uint32_t>(kVersion.size() + 1)), 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExifLayout exif;
    exif.orientation = 6;
    EncodeOptions options;
    options.exif = exif;
    const Picture stored = c.channels == 4   ? BlankPicture(48, 64, 4)
                           : c.channels == 1 ? GreyPicture(StoredForOrientation(CellPattern(64, 48, 3), 6))
                                             : StoredForOrientation(CellPattern(64, 48, 3), 6);
    const Bytes saved = Resave(EncodeJpeg(stored, options));

    const auto markers = ReadMarkers(saved);
    ASSERT_GE(markers.size(), 2u);
    EXPECT_EQ(markers.front().code, 0xE1);
    EXPECT_EQ(Bytes(markers.front().data.begin(), markers.front().data.begin() + 6),
              (Bytes{'E', 'x', 'i', 'f', 0, 0}));
    std::vector<int> codes;
    for (const JpegMarker& marker : markers) {
      if ((marker.code >= 0xE0 && marker.code <= 0xEF) || marker.code == 0xFE) codes.push_back(marker.code);
    }
    const std::vector<int> expected =
        c.adobe ? std::vector<int>{0xE1, 0xEE, 0xFE} : std::vector<int>{0xE1, 0xFE};
    EXPECT_EQ(codes, expected);
    for (const JpegMarker& marker : markers) {
      if (marker.code != 0xEE) continue;
      EXPECT_EQ(marker.data, (Bytes{'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 0}));
    }
    EXPECT_EQ(ReadJpegCoefficients(saved).components.size(), static_cast<std::size_t>(c.channels));
  }
}

TEST_F(ImagingRecordTest, ExifMovesAheadOfOtherKeptMarkers) {
  Bytes file = ScannerJpeg(CellPattern(64, 48, 3), 6);
  const Bytes app2{0xFF, 0xE2, 0x00, 0x06, 'p', 'r', 'o', 'f'};
  file.insert(file.begin() + 2, app2.begin(), app2.end());  // right after SOI, ahead of the EXIF block
  ASSERT_EQ(ReadMarkers(file).front().code, 0xE2);
  std::vector<JpegMarker> apps;
  for (const JpegMarker& marker : ReadMarkers(Resave(file))) {
    if (marker.code >= 0xE0 && marker.code <= 0xEF) apps.push_back(marker);
  }
  ASSERT_EQ(apps.size(), 2u);
  EXPECT_EQ(apps[0].code, 0xE1);
  EXPECT_EQ(apps[1].code, 0xE2);
  EXPECT_EQ(apps[1].data, (Bytes{'p', 'r', 'o', 'f'}));
}

TEST_F(ImagingRecordTest, ScannerLayoutSurvivesSoASecondPassLeavesTheFile) {
  const Bytes saved = Resave(ScannerJpeg(CellPattern(64, 48, 3), 8, kDate));
  ASSERT_GT(saved.size(), 146u);
  EXPECT_EQ(saved[30], 1) << "Orientation value, reset";
  EXPECT_EQ(std::string(saved.begin() + 126, saved.begin() + 145), kDate);
  EXPECT_EQ(saved[145], 0);

  RawRecord record{};
  const std::string again = Write("again.jpg", saved);
  ASSERT_EQ(PwImgLoadFile(again.c_str(), record.data(), PWIMG_RECORD_SIZE, 0, 1, nullptr, nullptr), 1);
  EXPECT_EQ(FieldsOf(record).orientation, 1u);
  EXPECT_EQ(FieldsOf(record).width, 64u);
  PwImgFreeRecord(record.data());
}

TEST_F(ImagingRecordTest, CommentsAreWrittenInTypeOrderInsteadOfTheOldOnes) {
  ASSERT_EQ(PwImgSetComment(9, kDate.c_str(), static_cast<std::uint32_t>(kDate.size() + 1)), 1);
  ASSERT_EQ(PwImgSetComment(0, kVersion.c_str(), static_cast<std::uint32_t>(kVersion.size() + 1)), 1);
  EncodeOptions options;
  options.comments = {"from the scanner"};
  const Bytes saved = Resave(ScannerJpeg(CellPattern(64, 48, 3), 8, kDate, options));
  EXPECT_EQ(ReadComments(saved), (std::vector<std::string>{kVersion, kDate}));

  if (!HaveProgram("exiftool")) GTEST_SKIP() << "exiftool (libimage-exiftool-perl) is not installed";
  const std::string path = Write("commented.jpg", saved);
  const std::string listing = PathOf("comments.txt");
  ASSERT_EQ(std::system(("exiftool -a -s3 -Comment '" + path + "' > '" + listing + "'").c_str()), 0);
  const Bytes text = ReadFileBytes(listing);
  EXPECT_EQ(std::string(text.begin(), text.end()), kVersion + "\n" + kDate + "\n");
}

TEST_F(ImagingRecordTest, CommentTextEndsAtItsZeroOrItsLength) {
  struct Case {
    const char* text;
    std::uint32_t length;
    std::vector<std::string> written;
  };
  const Case cases[] = {
      {"abc", 4, {"abc"}},
      {"abcdef", 3, {"ab"}},      // the length counts a zero that is not there
      {"a\0bc", 5, {"a"}},        // stops at the first zero
      {"", 1, {""}},              // empty, but set
      {"abc", 0, {}},             // no length: cleared
      {nullptr, 5, {}},           // no text: cleared
  };
  const Bytes file = ScannerJpeg(CellPattern(16, 16, 3), 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("length ") + std::to_string(c.length));
    ASSERT_EQ(PwImgSetComment(3, "before", 7), 1);
    EXPECT_EQ(PwImgSetComment(3, c.text, c.length), 1);
    EXPECT_EQ(ReadComments(Resave(file)), c.written);
  }
}

TEST_F(ImagingRecordTest, CommentsOutsideTheMarkerLimitsAreRefused) {
  EXPECT_EQ(PwImgSetComment(PWIMG_MAX_COMMENT_TYPE + 1, "x", 2), 0);
  const std::string longest(PWIMG_MAX_COMMENT_LENGTH, 'x');
  EXPECT_EQ(PwImgSetComment(1, longest.c_str(), static_cast<std::uint32_t>(longest.size() + 1)), 1);
  const std::string tooLong = longest + "x";
  EXPECT_EQ(PwImgSetComment(2, tooLong.c_str(), static_cast<std::uint32_t>(tooLong.size() + 1)), 0);
  const auto comments = ReadComments(Resave(ScannerJpeg(CellPattern(16, 16, 3), 1)));
  ASSERT_EQ(comments.size(), 1u);
  EXPECT_EQ(comments[0].size(), PWIMG_MAX_COMMENT_LENGTH);
}

TEST_F(ImagingRecordTest, CommentsStayForEveryLaterSave) {
  ASSERT_EQ(PwImgSetComment(0, kVersion.c_str(), static_cast<std::uint32_t>(kVersion.size() + 1)), 1);
  const Bytes file = ScannerJpeg(CellPattern(16, 16, 3), 1);
  EXPECT_EQ(ReadComments(Resave(file)), std::vector<std::string>{kVersion});
  EXPECT_EQ(ReadComments(Resave(file)), std::vector<std::string>{kVersion});
}

TEST_F(ImagingRecordTest, BadFilesFailAndLeaveARecordWithNothingToFree) {
  const Bytes good = ScannerJpeg(GradientPicture(64, 48), 8);
  Bytes corrupt = good;
  for (std::size_t i = corrupt.size() / 2; i < corrupt.size() / 2 + 64; ++i) corrupt[i] = 0xFF;
  Bytes hugeHeader = good;  // SOF0 claims 65000 x 65000 pixels
  for (std::size_t i = 0; i + 9 < hugeHeader.size(); ++i) {
    if (hugeHeader[i] == 0xFF && hugeHeader[i + 1] == 0xC0) {
      hugeHeader[i + 5] = hugeHeader[i + 7] = 0xFD;
      hugeHeader[i + 6] = hugeHeader[i + 8] = 0xE8;
      break;
    }
  }
  std::filesystem::create_directories(folder_ / "folder.jpg");
  struct Case {
    const char* name;
    std::optional<Bytes> content;  // nullopt: no such file
  };
  const Case cases[] = {
      {"missing.jpg", std::nullopt},
      {"empty.jpg", Bytes{}},
      {"one-byte.jpg", Bytes{0xFF}},
      {"start-only.jpg", Bytes{0xFF, 0xD8}},
      {"text.jpg", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'}},
      {"png.jpg", Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13}},
      {"truncated-half.jpg", Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2))},
      {"truncated-end.jpg", Bytes(good.begin(), good.end() - 2)},  // only the end marker missing
      {"headers-only.jpg", Bytes(good.begin(), good.begin() + 400)},
      {"corrupt-scan.jpg", corrupt},
      {"huge.jpg", hugeHeader},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.content ? Write(c.name, *c.content) : PathOf(c.name);
    RawRecord record;
    record.fill(0xFF);  // as if left over from earlier use
    EXPECT_EQ(PwImgLoadFile(path.c_str(), record.data(), PWIMG_RECORD_SIZE, 0, 1, nullptr, nullptr), 0);
    EXPECT_FALSE(HoldsData(record));
    EXPECT_EQ(record, RawRecord{}) << "zeroed";
  }
  RawRecord record{};
  EXPECT_EQ(PwImgLoadFile(PathOf("folder.jpg").c_str(), record.data(), PWIMG_RECORD_SIZE, 0, 1, nullptr, nullptr), 0);
  EXPECT_FALSE(HoldsData(record));
  EXPECT_EQ(LeakedBlocks(), 0);
}

TEST_F(ImagingRecordTest, ArgumentsOutsideTheContractFail) {
  const std::string path = Write("good.jpg", ScannerJpeg(CellPattern(16, 16, 3), 8));
  int marker = 0;
  struct Case {
    const char* what;
    std::int32_t bitsPerPixel;
    std::int32_t flags;
    void* reserved1;
    void* reserved2;
  };
  const Case cases[] = {
      {"8 bits", 8, 1, nullptr, nullptr},     {"32 bits", 32, 1, nullptr, nullptr},
      {"unknown flag", 0, 3, nullptr, nullptr}, {"load options", 0, 1, &marker, nullptr},
      {"file info", 0, 1, nullptr, &marker},
  };
  for (const Case& c : cases) {
    RawRecord record{};
    EXPECT_EQ(PwImgLoadFile(path.c_str(), record.data(), PWIMG_RECORD_SIZE, c.bitsPerPixel, c.flags, c.reserved1,
                            c.reserved2),
              0)
        << c.what;
    EXPECT_FALSE(HoldsData(record)) << c.what;
  }

  // A record too small is cleared as far as it goes and nothing beyond.
  std::array<std::uint8_t, PWIMG_RECORD_SIZE + 8> big;
  big.fill(0xAB);
  EXPECT_EQ(PwImgLoadFile(path.c_str(), big.data(), 40, 0, 1, nullptr, nullptr), 0);
  EXPECT_EQ(big[39], 0);
  EXPECT_EQ(big[40], 0xAB);
  EXPECT_EQ(PwImgLoadFile(path.c_str(), nullptr, PWIMG_RECORD_SIZE, 0, 1, nullptr, nullptr), 0);
  RawRecord record{};
  EXPECT_EQ(PwImgLoadFile(nullptr, record.data(), PWIMG_RECORD_SIZE, 0, 1, nullptr, nullptr), 0);
  EXPECT_EQ(LeakedBlocks(), 0);
}

TEST_F(ImagingRecordTest, FreeReleasesTheDataOnceAndClearsTheBit) {
  const std::string path = Write("good.jpg", ScannerJpeg(CellPattern(64, 48, 3), 6));
  RawRecord record{};
  ASSERT_EQ(PwImgLoadFile(path.c_str(), record.data(), PWIMG_RECORD_SIZE, 0, 1, nullptr, nullptr), 1);
  EXPECT_TRUE(HoldsData(record));
  EXPECT_GT(LeakedBlocks(), 0);
  PwImgFreeRecord(record.data());
  EXPECT_FALSE(HoldsData(record));
  EXPECT_EQ(LeakedBlocks(), 0);
  PwImgFreeRecord(record.data());  // harmless a second time
  PwImgFreeRecord(nullptr);
  RawRecord stranger;
  stranger.fill(0xFF);  // bit set, but never filled by a load
  PwImgFreeRecord(stranger.data());
  EXPECT_EQ(LeakedBlocks(), 0);
}

TEST_F(ImagingRecordTest, SaveRefusesWhatItCannotWrite) {
  const std::string source = Write("good.jpg", ScannerJpeg(CellPattern(16, 16, 3), 1));
  RawRecord record{};
  ASSERT_EQ(PwImgLoadFile(source.c_str(), record.data(), PWIMG_RECORD_SIZE, 0, 1, nullptr, nullptr), 1);
  const std::string target = PathOf("out.jpg");
  int marker = 0;
  struct Case {
    const char* what;
    std::int32_t format;
    std::int32_t bitsPerPixel;
    std::int32_t quality;
    void* reserved;
  };
  const Case cases[] = {
      {"other format", 10, 24, 50, nullptr}, {"8 bits", 98, 8, 50, nullptr},
      {"quality 0", 98, 24, 0, nullptr},     {"quality 101", 98, 24, 101, nullptr},
      {"options", 98, 24, 50, &marker},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PwImgSaveFile(target.c_str(), record.data(), c.format, c.bitsPerPixel, c.quality, c.reserved), 0)
        << c.what;
    EXPECT_FALSE(std::filesystem::exists(target)) << c.what;
  }
  const std::string noFolder = PathOf("missing/out.jpg");
  EXPECT_EQ(PwImgSaveFile(noFolder.c_str(), record.data(), 98, 24, 50, nullptr), 0);
  RawRecord empty{};
  EXPECT_EQ(PwImgSaveFile(target.c_str(), empty.data(), 98, 24, 50, nullptr), 0) << "nothing loaded";
  EXPECT_FALSE(std::filesystem::exists(target));

  WriteFileBytes(target, Bytes(10, 0x55));
  EXPECT_EQ(PwImgSaveFile(target.c_str(), record.data(), 98, 24, 50, nullptr), 1) << "an existing file is replaced";
  EXPECT_EQ(DecodeJpeg(ReadFileBytes(target)).width, 16u);
  PwImgFreeRecord(record.data());
}

}  // namespace
}  // namespace pw::test
