// The imaging modules as the shipped program uses them: pwimgfil.dll and
// pwimgkrn.dll, linked at start, turning a scanner picture upright.
#include <gtest/gtest.h>

#include <string>

#include "platform/FileSystem.h"
#include "storage/AutoRotate.h"
#include "tests/imaging/JpegSamples.h"
#include "tests/imaging/PictureChecks.h"
#include "tests/support/TestEnvironment.h"

namespace pw::storage {
namespace {

const std::string kDate = "2024:05:17 10:20:30";

TEST(ImagingModules, AutoRotateResavesAScannerPictureUprightWithBothComments) {
  test::ScratchFolder folder;
  const test::Bytes file = test::ScannerJpeg(test::CellPattern(64, 48, 3), 8, kDate);
  folder.WriteFile("img0001.jpg", std::string(file.begin(), file.end()));

  EXPECT_TRUE(AutoRotateImage(folder / "img0001.jpg").ok());

  const std::string text = folder.ReadFile("img0001.jpg");
  const test::Bytes saved(text.begin(), text.end());
  const test::Picture decoded = test::DecodeJpeg(saved);
  test::ExpectCellsUpright(decoded, 64, 48, 3);
  EXPECT_EQ(test::ReadComments(saved), (std::vector<std::string>{" Pagewick Ver 019", kDate}));
  EXPECT_EQ(saved[kProbeOffset], 1);
  EXPECT_EQ(platform::FindFiles(folder / "*").value_or(platform::FindEntries()).size(), 1u) << "no scratch file left";
}

TEST(ImagingModules, AFailedLoadLeavesARecordWithNothingToFree) {
  test::ScratchFolder folder;
  folder.WriteFile("broken.jpg", std::string(100, '\x08'));
  BitmapRecord record;
  record.fill(std::byte{0xFF});
  EXPECT_EQ(LinkedImagingLibrary().LoadFile(folder / "broken.jpg", record, kBitmapRecordSize, 0, 1, nullptr, nullptr),
            0);
  EXPECT_FALSE(HoldsData(record));
  const std::string original = folder.ReadFile("broken.jpg");
  EXPECT_TRUE(AutoRotateImage(folder / "broken.jpg").ok());
  EXPECT_EQ(folder.ReadFile("broken.jpg"), original);
}

}  // namespace
}  // namespace pw::storage
