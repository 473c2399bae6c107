// The auto-rotate step: what it reads from the file, the calls it makes into
// the imaging component, and that the image is never lost on the way.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/hostworld/World.h"
#include "storage/AutoRotate.h"
#include "tests/imaging/JpegSamples.h"
#include "tests/imaging/PictureChecks.h"
#include "tests/support/TestEnvironment.h"

namespace pw::storage {
namespace {

// Stands in for the component: records every call with its arguments and
// answers as the test tells it.
class FakeImaging final : public ImagingLibrary {
 public:
  struct Call {
    std::string entry;
    std::string fileName;
    std::vector<std::int64_t> numbers;
    bool pointersNull = true;
    std::string text;  // comment text as passed, length - 1 bytes

    bool operator==(const Call&) const = default;
  };

  int loadStatus = 1;
  bool loadLeavesData = true;  // bit 0 of byte 36 after the load
  int carriedCommentStatus = 1;
  int saveStatus = 1;
  std::optional<std::string> saveWrites = "re-saved image";
  // Whether the step had closed the file when the load came.
  std::optional<bool> fileFreeAtLoad;
  // A file that another program opens, unshared, while the save runs.
  std::string openDuringSave;
  platform::FileHandle heldOpen;
  std::vector<Call> calls;

  int LoadFile(const std::string& fileName, BitmapRecord& record, std::uint32_t recordSize, std::int32_t bitsPerPixel,
               std::int32_t flags, void* loadOptions, void* fileInfo) override {
    calls.push_back({"load", fileName, {recordSize, bitsPerPixel, flags}, !loadOptions && !fileInfo, {}});
    fileFreeAtLoad = platform::CreateFile(fileName, platform::access::kGenericRead, platform::share::kNone,
                                          platform::Disposition::OpenExisting)
                         .file.valid();
    record.fill(std::byte{0x5A});
    record[kBitmapFlagsOffset] = loadLeavesData ? std::byte{0x5B} : std::byte{0x5A};
    return loadStatus;
  }

  int SetComment(std::uint32_t type, const char* text, std::uint32_t length) override {
    calls.push_back({"comment", {}, {type, length}, true, std::string(text, length > 0 ? length - 1 : 0)});
    EXPECT_EQ(text[length - 1], '\0') << "the length counts the terminating zero";
    return type == kCarriedCommentType ? carriedCommentStatus : 1;
  }

  int SaveFile(const std::string& fileName, BitmapRecord&, std::int32_t format, std::int32_t bitsPerPixel,
               std::int32_t quality, void* saveOptions) override {
    calls.push_back({"save", fileName, {format, bitsPerPixel, quality}, saveOptions == nullptr, {}});
    if (!openDuringSave.empty()) {
      heldOpen = platform::CreateFile(openDuringSave, platform::access::kGenericRead, platform::share::kNone,
                                      platform::Disposition::OpenExisting)
                     .file;
      EXPECT_TRUE(heldOpen.valid());
    }
    if (saveWrites) {
      auto created = platform::CreateFile(fileName, platform::access::kGenericWrite, platform::share::kNone,
                                          platform::Disposition::CreateAlways);
      // As the component does: a file it cannot write is a failed save.
      if (!created.file) return 0;
      const auto* bytes = reinterpret_cast<const std::byte*>(saveWrites->data());
      if (!platform::WriteFileAt(created.file, 0, {bytes, saveWrites->size()}).ok) return 0;
    }
    return saveStatus;
  }

  void FreeRecord(BitmapRecord& record) override {
    calls.push_back({"free", {}, {}, true, {}});
    EXPECT_TRUE(HoldsData(record));
    record[kBitmapFlagsOffset] &= ~kBitmapHoldsData;
  }

  std::vector<std::string> Entries() const {
    std::vector<std::string> entries;
    for (const Call& call : calls) entries.push_back(call.entry);
    return entries;
  }
};

// A file of the given length: byte 30 the probe, bytes 126 on the carried
// text (cut off where the file ends), the rest filler.
std::string HeaderFile(std::size_t length, std::uint8_t probe, const std::string& carried) {
  std::string bytes(length, 'x');
  if (length > kProbeOffset) bytes[kProbeOffset] = static_cast<char>(probe);
  for (std::size_t i = 0; i < carried.size() && kCarriedTextOffset + i < length; ++i) {
    bytes[kCarriedTextOffset + i] = carried[i];
  }
  return bytes;
}

const std::string kDate = "2024:05:17 10:20:30";  // 19 characters
const std::string kDateWithZero = kDate + std::string(1, '\0');

class AutoRotateTest : public ::testing::Test {
 protected:
  std::string Place(const std::string& bytes) {
    folder.WriteFile("img0001.jpg", bytes);
    return path;
  }
  std::string Content() const { return folder.ReadFile("img0001.jpg"); }
  // Any file besides the image (and the files a test put there itself).
  bool ScratchLeft(std::size_t ownFiles = 1) const {
    return platform::FindFiles(folder / "*").value_or(platform::FindEntries()).size() != ownFiles;
  }

  hostworld::World world;
  test::ScratchFolder folder;
  std::string path = folder / "img0001.jpg";
  FakeImaging imaging;
};

TEST_F(AutoRotateTest, ResavesAnImageWhoseProbeByteIsEightWithBothComments) {
  struct Case {
    const char* what;
    std::string carried;   // bytes 126..145 as the file holds them
    std::string expected;  // comment 9's text
  };
  const Case cases[] = {
      {"19 characters and a zero", kDateWithZero, kDate},
      {"20 characters, no zero", "2024:05:17 10:20:30Z", "2024:05:17 10:20:30Z"},
      {"zero at byte 126", std::string("\0" "2024:05:17 10:20:3", 20), ""},
      {"zero inside", std::string("2024:\0" "05:17 10:20:3", 20), "2024:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    imaging.calls.clear();
    Place(HeaderFile(4096, 8, c.carried));
    EXPECT_TRUE(AutoRotateImage(path, imaging).ok());

    const std::string scratch = folder / "~ggggggg";
    const std::vector<FakeImaging::Call> expected = {
        {"load", path, {168, 0, 1}, true, {}},
        {"comment", {}, {0, 18}, true, " Pagewick Ver 019"},
        {"comment", {}, {9, static_cast<std::int64_t>(c.expected.size() + 1)}, true, c.expected},
        {"save", scratch, {98, 24, 50}, true, {}},
        {"free", {}, {}, true, {}},
    };
    EXPECT_EQ(imaging.calls, expected);
    EXPECT_EQ(Content(), "re-saved image");
    EXPECT_FALSE(ScratchLeft());
  }
}

TEST_F(AutoRotateTest, ImagesWithAnyOtherProbeValueStayUntouched) {
  for (const int probe : {0, 1, 6, 7, 9, int{'8'}, 0x88, 0xFF}) {
    SCOPED_TRACE(probe);
    const std::string original = HeaderFile(4096, static_cast<std::uint8_t>(probe), kDateWithZero);
    Place(original);
    EXPECT_TRUE(AutoRotateImage(path, imaging).ok());
    EXPECT_TRUE(imaging.calls.empty());
    EXPECT_EQ(Content(), original);
  }
}

TEST_F(AutoRotateTest, ShortFilesCountTheirMissingBytesAsAbsent) {
  struct Case {
    std::size_t length;
    bool resaved;
    std::string carried;  // comment 9's text when re-saved
  };
  const Case cases[] = {
      {0, false, {}},
      {30, false, {}},  // no byte 30: nothing to probe
      {31, true, ""},   // byte 30 but no carried text at all
      {126, true, ""},
      {140, true, kDate.substr(0, 14)},  // the text ends with the file
      {145, true, kDate},
      {146, true, kDate},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("length " + std::to_string(c.length));
    imaging.calls.clear();
    Place(HeaderFile(c.length, 8, kDateWithZero));
    EXPECT_TRUE(AutoRotateImage(path, imaging).ok());
    if (!c.resaved) {
      EXPECT_TRUE(imaging.calls.empty());
      continue;
    }
    ASSERT_EQ(imaging.calls.size(), 5u);
    EXPECT_EQ(imaging.calls[2].text, c.carried);
    EXPECT_EQ(imaging.calls[2].numbers, (std::vector<std::int64_t>{9, static_cast<std::int64_t>(c.carried.size() + 1)}));
  }
}

TEST_F(AutoRotateTest, TheFileIsClosedBeforeTheComponentOpensIt) {
  Place(HeaderFile(4096, 8, kDateWithZero));
  EXPECT_TRUE(AutoRotateImage(path, imaging).ok());
  ASSERT_TRUE(imaging.fileFreeAtLoad.has_value());
  EXPECT_TRUE(*imaging.fileFreeAtLoad);
}

TEST_F(AutoRotateTest, AFailedLoadLeavesTheFileAndFreesOnlyWhatTheRecordHolds) {
  for (const bool leavesData : {false, true}) {
    SCOPED_TRACE(leavesData ? "record holds data" : "record empty");
    imaging.calls.clear();
    imaging.loadStatus = 0;
    imaging.loadLeavesData = leavesData;
    const std::string original = HeaderFile(4096, 8, kDateWithZero);
    Place(original);
    EXPECT_TRUE(AutoRotateImage(path, imaging).ok());
    const std::vector<std::string> expected =
        leavesData ? std::vector<std::string>{"load", "free"} : std::vector<std::string>{"load"};
    EXPECT_EQ(imaging.Entries(), expected);
    EXPECT_EQ(Content(), original);
  }
}

TEST_F(AutoRotateTest, AFailedCarriedCommentSkipsTheSave) {
  imaging.carriedCommentStatus = 0;
  const std::string original = HeaderFile(4096, 8, kDateWithZero);
  Place(original);
  EXPECT_TRUE(AutoRotateImage(path, imaging).ok());
  EXPECT_EQ(imaging.Entries(), (std::vector<std::string>{"load", "comment", "comment", "free"}));
  EXPECT_EQ(Content(), original);
}

TEST_F(AutoRotateTest, AFailedSaveKeepsTheOldImage) {
  struct Case {
    const char* what;
    int status;
    std::optional<std::string> writes;
  };
  const Case cases[] = {
      {"nothing written", 0, std::nullopt},
      {"a partial file written", 0, std::string("half an im")},
      {"success reported, no file", 1, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    imaging.calls.clear();
    imaging.saveStatus = c.status;
    imaging.saveWrites = c.writes;
    const std::string original = HeaderFile(4096, 8, kDateWithZero);
    Place(original);
    EXPECT_TRUE(AutoRotateImage(path, imaging).ok());
    EXPECT_EQ(imaging.Entries(), (std::vector<std::string>{"load", "comment", "comment", "save", "free"}));
    EXPECT_EQ(Content(), original);
    EXPECT_FALSE(ScratchLeft());
  }
}

TEST_F(AutoRotateTest, AnImageThatCannotBeReplacedStaysAsItWas) {
  // Another program opens the image while the new one is being saved.
  imaging.openDuringSave = path;
  const std::string original = HeaderFile(4096, 8, kDateWithZero);
  Place(original);
  EXPECT_TRUE(AutoRotateImage(path, imaging).ok());
  imaging.heldOpen.reset();
  EXPECT_EQ(Content(), original);
  EXPECT_FALSE(ScratchLeft());
}

// The re-saved image goes to a fresh name: files of the user's that carry a
// scratch-like name are neither overwritten nor consumed.
TEST_F(AutoRotateTest, TheScratchNameIsNeverAFileThatExists) {
  folder.WriteFile("img0001.jpg.autorotate.tmp", "the user's own file");
  folder.WriteFile("~ggggggg", "another file of the user's");
  folder.WriteFile("~ggggggh", "and a third");
  Place(HeaderFile(4096, 8, kDateWithZero));
  EXPECT_TRUE(AutoRotateImage(path, imaging).ok());
  EXPECT_EQ(Content(), "re-saved image");
  EXPECT_EQ(folder.ReadFile("img0001.jpg.autorotate.tmp"), "the user's own file");
  EXPECT_EQ(folder.ReadFile("~ggggggg"), "another file of the user's");
  EXPECT_EQ(folder.ReadFile("~ggggggh"), "and a third");
  EXPECT_FALSE(ScratchLeft(4));
}

// Windows' *A calls stop at 259 characters: a scratch name longer than the
// image's would leave an image with a long path unturned.
TEST_F(AutoRotateTest, AnImageWhosePathIsLongIsTurnedAllTheSame) {
  for (const std::size_t length : {std::size_t{245}, std::size_t{252}, std::size_t{259}}) {
    SCOPED_TRACE("path length " + std::to_string(length));
    imaging.calls.clear();
    const std::string name = "img0001.jpg";
    const std::string deep = folder / std::string(length - folder.Path().size() - 2 - name.size(), 'd');
    ASSERT_TRUE(platform::CreateDirectory(deep).ok());
    const std::string image = deep + "\\" + name;
    ASSERT_EQ(image.size(), length);
    world.WriteFile(image, HeaderFile(4096, 8, kDateWithZero));

    EXPECT_TRUE(AutoRotateImage(image, imaging).ok());
    EXPECT_EQ(world.ReadFile(image), "re-saved image");
    ASSERT_EQ(imaging.Entries(), (std::vector<std::string>{"load", "comment", "comment", "save", "free"}));
    const std::string scratch = imaging.calls[3].fileName;
    EXPECT_LE(scratch.size(), image.size());
    EXPECT_EQ(scratch.find_first_of("0123456789", deep.size()), std::string::npos)
        << scratch << ": no number for the naming's listing to count";
    EXPECT_EQ(platform::FindFiles(deep + "\\*").value_or(platform::FindEntries()).size(), 1u) << "no scratch left";
    ASSERT_TRUE(platform::DeleteFile(image).ok());
    ASSERT_TRUE(platform::RemoveDirectory(deep).ok());
  }
}

// The disk refuses the new image part-way: the old one stays, and so does
// nothing else.
TEST_F(AutoRotateTest, ASaveTheDiskRefusesLeavesTheImageAsItWas) {
  struct Case {
    const char* what;
    hostworld::WriteFault fault;
  };
  const Case cases[] = {{"the disk is full", hostworld::WriteFault::DiskFullAfter(5)},
                        {"the write is cut short", hostworld::WriteFault::ShortWrite(1, 4)},
                        {"the write fails", hostworld::WriteFault::FailWrite(1)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string original = HeaderFile(4096, 8, kDateWithZero);
    Place(original);
    world.SetWriteFault('C', c.fault);
    EXPECT_TRUE(AutoRotateImage(path, imaging).ok());
    world.ClearWriteFaults();
    EXPECT_EQ(Content(), original);
    EXPECT_FALSE(ScratchLeft());
  }
}

TEST_F(AutoRotateTest, AFileThatCannotBeOpenedFailsWithTheSystemError) {
  EXPECT_EQ(AutoRotateImage(folder / "missing.jpg", imaging).error(), platform::error::kFileNotFound);

  const std::string original = HeaderFile(4096, 8, kDateWithZero);
  Place(original);
  auto held = platform::CreateFile(path, platform::access::kGenericRead, platform::share::kRead,
                                   platform::Disposition::OpenExisting);
  ASSERT_TRUE(held.file.valid());
  EXPECT_EQ(AutoRotateImage(path, imaging).error(), platform::error::kSharingViolation)
      << "opened with no sharing, and in use";
  held.file.reset();

  ASSERT_TRUE(platform::SetFileAttributes(path, platform::attribute::kReadOnly));
  EXPECT_EQ(AutoRotateImage(path, imaging).error(), platform::error::kAccessDenied) << "read-only: no write access";
  ASSERT_TRUE(platform::SetFileAttributes(path, platform::attribute::kNormal));
  EXPECT_TRUE(imaging.calls.empty());
  EXPECT_EQ(Content(), original);
}

// The linked component: the whole step for real.
class AutoRotateWithComponentTest : public AutoRotateTest {
 protected:
  ~AutoRotateWithComponentTest() override {
    for (std::uint32_t type : {kVersionCommentType, kCarriedCommentType}) LinkedImagingLibrary().SetComment(type, nullptr, 0);
  }
  static std::string Text(const test::Bytes& bytes) { return {bytes.begin(), bytes.end()}; }
  static test::Bytes BytesOf(const std::string& text) { return {text.begin(), text.end()}; }
};

TEST_F(AutoRotateWithComponentTest, AResavedImageOpensUprightWithBothComments) {
  const test::Picture upright = test::CellPattern(64, 48, 3);
  Place(Text(test::ScannerJpeg(upright, 8, kDate)));

  EXPECT_TRUE(AutoRotateImage(path).ok());

  const test::Bytes saved = BytesOf(Content());
  const test::Picture decoded = test::DecodeJpeg(saved);
  test::ExpectCellsUpright(decoded, 64, 48, 3);
  EXPECT_EQ(test::ReadComments(saved), (std::vector<std::string>{" Pagewick Ver 019", kDate}));
  EXPECT_EQ(saved[kProbeOffset], 1) << "upright now";
  EXPECT_FALSE(ScratchLeft());

  // Upright now: a second pass leaves the file as it is.
  EXPECT_TRUE(AutoRotateImage(path).ok());
  EXPECT_EQ(BytesOf(Content()), saved);
}

TEST_F(AutoRotateWithComponentTest, APartlyPulledImageStaysAsItIs) {
  const test::Bytes whole = test::ScannerJpeg(test::GradientPicture(64, 48), 8, kDate);
  const std::string partial = Text(whole).substr(0, whole.size() / 2);
  Place(partial);
  EXPECT_TRUE(AutoRotateImage(path).ok());
  EXPECT_EQ(Content(), partial);
  EXPECT_FALSE(ScratchLeft());
}

}  // namespace
}  // namespace pw::storage
