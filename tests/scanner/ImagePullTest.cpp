// The image pull against the scanner simulator: the waiting check, the
// transfer with its repetitions, the file, the fallback and its message box,
// the explorer window, and the ways a pull ends early.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/PathText.h"
#include "platform/Shell.h"
#include "platform/Windows.h"
#include "platform/hostworld/DebugTraceLog.h"
#include "platform/hostworld/WorldSessions.h"
#include "scanner/ImagePull.h"
#include "storage/FreeSpaceGuard.h"
#include "platform/hostworld/WorldSecurity.h"
#include "tests/scanner/PollFixture.h"
#include "tests/scanner/ScannerFixture.h"
#include "tools/scanner-sim/ScannerPicture.h"

namespace pw::test {
namespace {

using sim::RequestKind;
namespace error = platform::error;

constexpr std::uint32_t kChunk = 65536;
constexpr const char* kFirstPartial = "C:\\Users\\Public\\Pictures\\Photo1\\img0001.partial";

class ImagePullTest : public PollFixture {
 protected:
  // A visible main window with the scanner attached and the timer running.
  void SetUp() override {
    Plug();
    CreateForm();
    form->Show();
    ASSERT_EQ(process.ScannerAttached, 1u);
    simulator->SetChunkPolicy(sim::ChunkPolicy::Fixed(kChunk));
    simulator->ClearRequests();
  }

  // One pull on its own, as RunScannerRequest runs it after the INQUIRY.
  bool PullOnce() {
    scanner::PassThroughBuffer buffer;
    scanner::PollHost& host = *form;
    scanner::ImagePull pull(host.Pull(), host.Notifier(), host.Scanner(), buffer);
    platform::DeviceHandle volume = OpenVolume();
    return pull.PullImage(volume);
  }
  // One tick of the poll timer.
  void Tick() { Advance(ui::kComputerModePollMs); }

  // Lists planted transfers in the service's record, as the run of the
  // service that made them would have; an open record reads them again.
  void ListTransfers(const std::vector<std::string>& paths) {
    const std::string record = platform::ExtractFilePath(kSettingsPath) + scanner::kTransferJournalName;
    std::string text = platform::FileExists(record) ? world.ReadFile(record) : std::string();
    for (const std::string& path : paths) text += "+" + path + "\n";
    world.WriteFile(record, text);
    if (form && form->Landing().Transfers().IsOpen()) {
      ASSERT_TRUE(form->Landing().Transfers().Open(record).ok());
    }
  }

  std::vector<std::uint32_t> ChunkLengths() const {
    std::vector<std::uint32_t> lengths;
    for (const sim::RecordedRequest& r : simulator->RequestsOf(RequestKind::ChunkRead)) {
      lengths.push_back(r.outputSize - 80);
    }
    return lengths;
  }
  std::vector<hostworld::ShellExecuteRecord> Explores() const { return world.Desktop().ShellExecutes(); }
  std::vector<hostworld::MessageBoxRecord> Boxes() const { return world.Desktop().MessageBoxes(); }
  std::string Image(const std::vector<std::byte>& bytes) const { return Text(bytes); }
};

TEST_F(ImagePullTest, NothingWaitingOrAFailedFirstQueryTakesNoNameAndChangesNothing) {
  struct Row {
    const char* what;
    std::optional<platform::ErrorCode> firstQueryError;
    bool imageWaits;
  };
  const Row rows[] = {{"nothing waits", std::nullopt, false},
                      {"first query times out", error::kSemTimeout, true},
                      {"first query fails", error::kGenFailure, true}};
  for (const Row& row : rows) {
    simulator->ClearFaults();
    simulator->ClearRequests();
    if (row.imageWaits && simulator->QueuedImages() == 0) simulator->QueueImage(PatternImage(1000, 1));
    if (row.firstQueryError) simulator->AddFault({RequestKind::LengthQuery, 0, sim::kForever, *row.firstQueryError});
    ASSERT_TRUE(platform::SetCurrentDirectory("C:\\Users").ok());
    const std::int32_t counter = form->FolderCounter;

    EXPECT_FALSE(PullOnce()) << row.what;
    EXPECT_EQ(Kinds(), (std::vector{RequestKind::LengthQuery})) << row.what;
    EXPECT_FALSE(platform::DirectoryExists(std::string(kPictures) + "\\Photo1")) << row.what << ": no name was taken";
    EXPECT_EQ(form->FolderCounter, counter) << row.what;
    EXPECT_EQ(platform::GetCurrentDirectory(), "C:\\Users") << row.what;
    EXPECT_TRUE(Explores().empty()) << row.what;
  }
}

TEST_F(ImagePullTest, ATickPullsTheWholeImageWithTheExactRequests) {
  const std::vector<std::byte> image = PatternImage(3 * kChunk + 1234, 2);
  simulator->QueueImage(image);
  ASSERT_TRUE(platform::SetCurrentDirectory("C:\\Users").ok());
  Tick();

  EXPECT_EQ(Read(kFirstImage), Image(image));
  EXPECT_EQ(simulator->QueuedImages(), 0u);
  EXPECT_EQ(form->FolderCounter, 1);
  EXPECT_EQ(form->ActiveSavePath, kPictures);
  EXPECT_EQ(platform::GetCurrentDirectory(), "C:\\") << "back to SystemDriveRoot";

  std::vector<sim::RecordedRequest> requests = simulator->Requests();
  // The tick first makes sure the drive is still the scanner.
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.front().kind, RequestKind::StorageQuery);
  requests.erase(requests.begin());
  std::vector<std::array<std::uint8_t, 6>> cdbs;
  std::vector<std::uint32_t> outputSizes;
  for (const sim::RecordedRequest& r : requests) {
    cdbs.push_back({r.cdb[0], r.cdb[1], r.cdb[2], r.cdb[3], r.cdb[4], r.cdb[5]});
    outputSizes.push_back(r.outputSize);
    EXPECT_EQ(r.inputSize, 44u);
  }
  using Cdb = std::array<std::uint8_t, 6>;
  EXPECT_EQ(cdbs, (std::vector<Cdb>{{0x12, 0, 0, 0, 0x50, 0},
                                     {0x52, 0, 0, 0, 0, 0},
                                     {0x53, 0, 0, 0, 0, 0},
                                     {0x52, 0, 0x01, 0x00, 0x00, 0},
                                     {0x53, 0, 0, 0, 0, 0},
                                     {0x52, 0, 0x02, 0x00, 0x00, 0},
                                     {0x53, 0, 0, 0, 0, 0},
                                     {0x52, 0, 0x03, 0x00, 0x00, 0},
                                     {0x53, 0, 0, 0, 0, 0},
                                     {0x52, 0, 0x03, 0x04, 0xD2, 0}}));
  EXPECT_EQ(outputSizes, (std::vector<std::uint32_t>{160, 84, 65616, 84, 65616, 84, 65616, 84, 1234 + 80, 84}));

  const auto explores = Explores();
  ASSERT_EQ(explores.size(), 1u);
  EXPECT_EQ(explores[0].verb, "explore");
  EXPECT_EQ(explores[0].file, std::string(kPictures) + "\\Photo1\\");
  EXPECT_EQ(explores[0].parameters, "");
  EXPECT_EQ(explores[0].directory, "");
  EXPECT_EQ(explores[0].show, platform::kSwShow);
  EXPECT_EQ(explores[0].owner, form->Handle());
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ImagePullTest, APullThatEndsWithTheMarkerSucceedsAndOneThatFailsDoesNot) {
  simulator->QueueImage(PatternImage(1000, 3));
  EXPECT_TRUE(PullOnce());
  simulator->QueueImage(PatternImage(3 * kChunk, 4));
  simulator->AddFault({RequestKind::ChunkRead, 2, 1, error::kDeviceNotConnected});
  EXPECT_FALSE(PullOnce());
}

TEST_F(ImagePullTest, ATimedOutChunkReadThatSucceedsOnItsThirdRepetitionIsWrittenOnce) {
  const std::vector<std::byte> image = PatternImage(3 * kChunk, 5);
  simulator->QueueImage(image);
  // The second chunk: the first attempt and two repetitions time out.
  simulator->AddFault({RequestKind::ChunkRead, 1, 3, error::kSemTimeout});
  EXPECT_TRUE(PullOnce());
  EXPECT_EQ(Read(kFirstImage), Image(image));
  EXPECT_EQ(ChunkLengths().size(), 3u + 3u);
  EXPECT_EQ(QueriedOffsets(), (std::vector<std::uint32_t>{0, kChunk, 2 * kChunk, 3 * kChunk}));
}

TEST_F(ImagePullTest, AChunkReadThatTimesOutSixTimesIsWrittenAsZerosAndAskedForAgain) {
  const std::vector<std::byte> image = PatternImage(3 * kChunk, 6);
  simulator->QueueImage(image);
  simulator->AddFault({RequestKind::ChunkRead, 1, 6, error::kSemTimeout});
  EXPECT_TRUE(PullOnce());
  // The same offset is asked again, and its chunk overwrites the zeros.
  EXPECT_EQ(QueriedOffsets(), (std::vector<std::uint32_t>{0, kChunk, kChunk, 2 * kChunk, 3 * kChunk}));
  EXPECT_EQ(ChunkLengths().size(), 3u + 6u);
  EXPECT_EQ(Read(kFirstImage), Image(image));
}

// A chunk that never came after six attempts is held by zeros; when the
// scanner then goes, what arrived is kept under the partial name, never
// under the image's, and the picture stays on the scanner.
TEST_F(ImagePullTest, WhenTheScannerGoesAfterAChunkThatNeverCameOnlyWhatArrivedIsKept) {
  const std::vector<std::byte> image = PatternImage(3 * kChunk, 7);
  simulator->QueueImage(image);
  simulator->AddFault({RequestKind::ChunkRead, 1, 6, error::kSemTimeout});
  // The length query after the six attempts: the scanner is gone.
  simulator->AddFault({RequestKind::LengthQuery, 2, sim::kForever, error::kDeviceNotConnected});
  EXPECT_FALSE(PullOnce());
  // The zeros that held the second chunk's place are not kept: only what arrived.
  EXPECT_EQ(Read(kFirstPartial), Image(image).substr(0, kChunk));
  EXPECT_FALSE(Exists(kFirstImage)) << "nothing under the image's name";
  EXPECT_TRUE(Explores().empty()) << "no folder window for a picture that did not arrive";
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text.find(kFirstPartial) != std::string::npos, true) << Boxes()[0].text;
  EXPECT_EQ(simulator->QueuedImages(), 1u) << "the scanner keeps an image it never finished";
}

// A length query that fails with another error ends the transfer: what
// arrived is kept under the partial name, not turned, no folder is opened,
// the current directory is reset and the user is told once. The picture
// comes again whole under the number it would have had, and the partial,
// which it begins with, goes.
TEST_F(ImagePullTest, AFailedLengthQueryKeepsWhatArrivedAsPartialAndThePictureComesAgainUnderItsNumber) {
  const std::vector<std::byte> image = PatternImage(3 * kChunk, 8);
  simulator->QueueImage(image);  // unfinished, it stays queued for the next rounds
  form->AutoRCheckBx.SetChecked(true);
  for (int round = 0; round < 2; ++round) {
    simulator->ClearFaults();
    int lengthQueries = 0;
    device->before = [&](std::uint8_t operation) {
      // The query after the first chunk: the scanner is gone.
      if (operation != kLengthQueryOperation || ++lengthQueries != 2) return;
      simulator->AddFault({RequestKind::Any, 0, sim::kForever, error::kDeviceNotConnected});
    };
    ASSERT_TRUE(platform::SetCurrentDirectory("C:\\Users").ok());
    EXPECT_FALSE(PullOnce()) << "round " << round;
    device->before = nullptr;
    EXPECT_EQ(Read(kFirstPartial), Image(image).substr(0, kChunk)) << "round " << round;
    EXPECT_FALSE(Exists(kFirstImage)) << "round " << round;
    EXPECT_TRUE(Explores().empty()) << "round " << round;
    EXPECT_EQ(platform::GetCurrentDirectory(), "C:\\") << "round " << round;
    EXPECT_EQ(Boxes().size(), 1u) << "round " << round << ": the same fault again is not told again";
  }
  simulator->ClearFaults();
  EXPECT_TRUE(PullOnce());
  EXPECT_EQ(Read(kFirstImage), Image(image)) << "the picture keeps its number";
  EXPECT_FALSE(Exists(kFirstPartial)) << "the whole picture holds everything the partial held";
  EXPECT_EQ(Explores().size(), 1u);
  EXPECT_EQ(simulator->QueuedImages(), 0u);
}

TEST_F(ImagePullTest, APictureTheScannerOffersAgainIsSavedOnceAndWhole) {
  const auto name = [](int number, const char* extension) {
    return std::string(kPictures) + "\\Photo1\\img000" + std::to_string(number) + extension;
  };
  // Hides the end of the picture from the pull: the next length query answers
  // the marker too early (the scanner keeps the picture).
  const auto markerAfterChunks = [&](std::uint32_t chunks) {
    const auto asked = static_cast<std::uint32_t>(simulator->RequestsOf(RequestKind::LengthQuery).size());
    simulator->AddLengthOverride({asked + chunks, 0xCCDDEEFFu});
  };

  // An early end marker: the cut-short picture gives way to the whole one.
  const std::vector<std::byte> first = PatternImage(3 * kChunk, 21);
  simulator->QueueImage(first);
  markerAfterChunks(2);
  EXPECT_TRUE(PullOnce());
  ASSERT_EQ(Read(name(1, ".jpg")), Image(first).substr(0, 2 * kChunk));
  EXPECT_TRUE(PullOnce());
  EXPECT_EQ(Read(name(1, ".jpg")), Image(first)) << "the whole picture takes its place";
  EXPECT_FALSE(Exists(name(2, ".jpg")));

  // The same picture offered again after its marker: nothing new appears.
  const std::vector<std::byte> second = PatternImage(2 * kChunk + 17, 22);
  simulator->QueueImage(second);
  simulator->QueueImage(second);
  EXPECT_TRUE(PullOnce());
  EXPECT_TRUE(PullOnce());
  EXPECT_EQ(Read(name(2, ".jpg")), Image(second));
  EXPECT_FALSE(Exists(name(3, ".jpg")));

  // Every byte written, the last length query failed: the picture comes again.
  const std::vector<std::byte> third = PatternImage(2 * kChunk, 23);
  simulator->QueueImage(third);
  int lengthQueries = 0;
  device->before = [&](std::uint8_t operation) {
    if (operation != kLengthQueryOperation || ++lengthQueries != 3) return;
    simulator->AddFault({RequestKind::Any, 0, sim::kForever, error::kDeviceNotConnected});
  };
  EXPECT_FALSE(PullOnce());
  device->before = nullptr;
  simulator->ClearFaults();
  EXPECT_TRUE(PullOnce());
  EXPECT_EQ(Read(name(3, ".jpg")), Image(third));
  EXPECT_FALSE(Exists(name(3, ".partial")));
  EXPECT_FALSE(Exists(name(4, ".jpg")));

  // A cut-short picture the user changed since is the user's: it stays, and
  // the whole picture lands beside it.
  const std::vector<std::byte> fourth = PatternImage(3 * kChunk, 24);
  simulator->QueueImage(fourth);
  markerAfterChunks(1);
  EXPECT_TRUE(PullOnce());
  ASSERT_EQ(Read(name(4, ".jpg")), Image(fourth).substr(0, kChunk));
  world.WriteFile(name(4, ".jpg"), "the user's own picture");
  EXPECT_TRUE(PullOnce());
  EXPECT_EQ(Read(name(4, ".jpg")), "the user's own picture");
  EXPECT_EQ(Read(name(5, ".jpg")), Image(fourth));
  EXPECT_EQ(simulator->QueuedImages(), 0u);
}

// Another program (an indexer, a virus scanner) opens the picture the moment
// it takes its name, so the turn cannot open it: the picture stays as it
// came, the failed turn is traced, and the rest of the landing runs: its
// folder opens and it is the picture saved last, which is not saved twice.
TEST_F(ImagePullTest, APictureHeldOpenWhenItIsTurnedLandsAsItCame) {
  form->AutoRCheckBx.SetChecked(true);
  sim::PictureRecipe details;
  details.orientation = 8;
  details.seed = 31;
  const std::vector<std::byte> sideways = sim::MakeScannerPicture(details);
  simulator->QueueImage(sideways);
  std::optional<platform::FileHandle> held;  // opened on the service's thread under the world's lock
  world.SetRenameObserver([&](const std::filesystem::path& hostPath) {
    if (held || hostPath.filename() != "img0001.jpg") return;
    held = std::move(platform::CreateFile(kFirstImage, platform::access::kGenericRead, platform::share::kRead,
                                          platform::Disposition::OpenExisting)
                         .file);
  });
  hostworld::ClearDebugTrace();
  const bool pulled = PullOnce();
  world.SetRenameObserver(nullptr);
  ASSERT_TRUE(held && held->valid()) << "the picture was never held open";
  held.reset();
  EXPECT_TRUE(pulled);
  EXPECT_EQ(Read(kFirstImage), Image(sideways)) << "unturned, whole, under its name";
  EXPECT_EQ(Explores().size(), 1u) << "its folder opens";
  const std::vector<std::string> trace = hostworld::DebugTraceLines();
  ASSERT_EQ(trace.size(), 1u);
  EXPECT_EQ(trace[0].rfind("Image pull: the turn of " + std::string(kFirstImage) + " failed with error 32", 0), 0u)
      << trace[0];

  simulator->QueueImage(sideways);
  EXPECT_TRUE(PullOnce());
  EXPECT_FALSE(Exists(std::string(kPictures) + "\\Photo1\\img0002.jpg")) << "the picture saved last is not saved again";
  EXPECT_EQ(simulator->QueuedImages(), 0u);
}

TEST_F(ImagePullTest, AFirstAnswerOfTheMarkerStartsAPullThatEndsWithAnEmptyFile) {
  simulator->QueueImage({});
  EXPECT_TRUE(PullOnce());
  EXPECT_TRUE(Exists(kFirstImage));
  EXPECT_EQ(Read(kFirstImage), "");
  EXPECT_TRUE(ChunkLengths().empty());
  EXPECT_EQ(QueriedOffsets(), (std::vector<std::uint32_t>{0, 0}));
  EXPECT_EQ(Explores().size(), 1u);
  EXPECT_EQ(simulator->QueuedImages(), 0u);
}

TEST_F(ImagePullTest, ANegativeFirstAnswerStartsAPullWithoutAChunkRead) {
  const std::vector<std::byte> image = PatternImage(1000, 10);
  simulator->QueueImage(image);
  simulator->AddLengthOverride({0, 0x80000000u});
  EXPECT_TRUE(PullOnce());
  EXPECT_EQ(QueriedOffsets(), (std::vector<std::uint32_t>{0, 0, 1000}));
  EXPECT_EQ(Read(kFirstImage), Image(image));
}

TEST_F(ImagePullTest, ASaveLocationThatCannotBeMadeSendsTheImageBelowTheDefaultLocation) {
  form->PathEdit.SetText("Q:\\Scans");  // no drive Q:
  const std::vector<std::byte> image = PatternImage(5000, 11);
  simulator->QueueImage(image);
  EXPECT_TRUE(PullOnce());
  EXPECT_EQ(form->PathEdit.Text(), kPictures);
  EXPECT_EQ(form->ActiveSavePath, kPictures);
  EXPECT_EQ(Read(kFirstImage), Image(image));
  ASSERT_EQ(Explores().size(), 1u);
  EXPECT_EQ(Explores()[0].file, std::string(kPictures) + "\\Photo1\\");
}

TEST_F(ImagePullTest, WithoutRoomTheImageIsDrainedIntoTheScratchFileAndTheUserIsTold) {
  world.SetDriveFreeBytes('C', 3999743);  // one byte short of twice 2000000 in whole KiB
  world.WriteFile(kScratchPath, std::string(300000, 'x'));  // an old scratch file is replaced whole
  const std::vector<std::byte> image = PatternImage(2 * kChunk + 17, 12);
  simulator->QueueImage(image);
  std::optional<std::string> scratchDuringBox;
  world.Desktop().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord&, hostworld::ModalLoop&) {
    scratchDuringBox = Read(kScratchPath);
    return platform::dialog_result::kOk;
  });
  Tick();

  ASSERT_TRUE(scratchDuringBox.has_value());
  EXPECT_EQ(*scratchDuringBox, Image(image));
  EXPECT_FALSE(Exists(kScratchPath)) << "the poll deletes the scratch file once the box is closed";
  EXPECT_FALSE(Exists(kFirstImage));
  EXPECT_TRUE(Explores().empty());
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, form->LoadText(ui::text::kDiskFullMessage));
  EXPECT_EQ(boxes[0].caption, "Pagewick Message");
  EXPECT_EQ(boxes[0].style, 0x1040u);
  EXPECT_EQ(boxes[0].language, 0);
  EXPECT_EQ(boxes[0].owner, form->Handle());
  EXPECT_EQ(simulator->QueuedImages(), 0u);
}

// A scratch file someone else put there first (their own file, a hard link
// or a symbolic link to a system file) is never written through: the scratch
// file is always a new one, the service's own.
TEST_F(ImagePullTest, TheScratchFileIsAlwaysCreatedNew) {
  world.SetDriveFreeBytes('C', 1000);
  world.WriteFile("C:\\Windows\\victim.dll", "keep");
  const std::filesystem::path victim = world.HostPath("C:\\Windows\\victim.dll");
  const std::filesystem::path scratch = world.HostPath(kScratchPath);
  for (const char* planted : {"file", "hard link", "symbolic link"}) {
    SCOPED_TRACE(planted);
    std::filesystem::create_directories(scratch.parent_path());
    std::filesystem::remove(scratch);
    if (std::string(planted) == "file") {
      world.WriteFile(kScratchPath, "a user's");
      ASSERT_TRUE(hostworld::SetEntryOwner(kScratchPath, "alice"));
    } else if (std::string(planted) == "hard link") {
      std::filesystem::create_hard_link(victim, scratch);
    } else {
      std::filesystem::create_symlink(victim, scratch);
    }
    const std::vector<std::byte> image = PatternImage(1000, 21);
    simulator->QueueImage(image);
    std::string ownerDuringBox;
    std::optional<std::string> scratchDuringBox;
    world.Desktop().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord&, hostworld::ModalLoop&) {
      ownerDuringBox = hostworld::EntryOwner(kScratchPath);
      scratchDuringBox = Read(kScratchPath);
      return platform::dialog_result::kOk;
    });
    Tick();
    EXPECT_EQ(world.ReadFile("C:\\Windows\\victim.dll"), "keep");
    ASSERT_TRUE(scratchDuringBox.has_value());
    EXPECT_EQ(*scratchDuringBox, Image(image));
    EXPECT_EQ(ownerDuringBox, hostworld::kSystemOwner);
  }
}

TEST_F(ImagePullTest, NoSecondBoxWhileAWindowWithTheCaptionIsOpen) {
  world.SetDriveFreeBytes('C', 1000);
  const platform::WindowHandle earlier = world.Desktop().OpenForeignWindow("#32770", "Pagewick Message");
  simulator->QueueImage(PatternImage(1000, 13));
  Tick();
  EXPECT_TRUE(Boxes().empty());
  EXPECT_FALSE(Exists(kScratchPath));
  EXPECT_EQ(simulator->QueuedImages(), 0u);
  world.Desktop().CloseForeignWindow(earlier);
}

// Ticks go on inside the disk-full box, and the poll deletes the scratch
// file, but no picture is pulled while the box is open: one box stands for
// one picture, and the next waits on the scanner.
TEST_F(ImagePullTest, ATickInsideTheBoxDeletesTheScratchFileButPullsNoFurtherPicture) {
  world.SetDriveFreeBytes('C', 1000);
  simulator->QueueImage(PatternImage(1000, 14));
  simulator->QueueImage(PatternImage(2000, 15));
  std::vector<bool> scratchSeen;
  std::size_t queuedInside = 0;
  world.Desktop().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord&, hostworld::ModalLoop& loop) {
    scratchSeen.push_back(Exists(kScratchPath));
    loop.AdvanceTime(ui::kComputerModePollMs);
    loop.AdvanceTime(ui::kComputerModePollMs);
    scratchSeen.push_back(Exists(kScratchPath));
    queuedInside = simulator->QueuedImages();
    return platform::dialog_result::kOk;
  });
  Tick();
  EXPECT_EQ(scratchSeen, (std::vector<bool>{true, false}));
  EXPECT_EQ(queuedInside, 1u) << "the second picture was not drained while the box was open";
  EXPECT_EQ(Boxes().size(), 1u);
  EXPECT_FALSE(Exists(kScratchPath));
}

TEST_F(ImagePullTest, AScratchFileThatCannotBeCreatedLeavesTheImageOnTheScanner) {
  world.SetDriveFreeBytes('C', 1000);
  world.WriteFile(kScratchPath, "in use");
  platform::OpenResult held = platform::CreateFile(kScratchPath, platform::access::kGenericRead,
                                                   platform::share::kNone, platform::Disposition::OpenExisting);
  ASSERT_TRUE(held.file.valid());
  simulator->QueueImage(PatternImage(1000, 16));
  ASSERT_TRUE(platform::SetCurrentDirectory("C:\\Users").ok());
  hostworld::ClearDebugTrace();
  EXPECT_FALSE(PullOnce());
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(simulator->QueuedImages(), 1u);
  EXPECT_TRUE(ChunkLengths().empty()) << "nothing more is sent";
  EXPECT_EQ(platform::GetCurrentDirectory(), "C:\\");
  const std::vector<std::string> trace = hostworld::DebugTraceLines();
  ASSERT_EQ(trace.size(), 1u);
  EXPECT_EQ(trace[0].rfind("Image pull: CreateFileA " + std::string(kScratchPath) + " failed with error 80", 0), 0u)
      << trace[0];
}

// The notice of an incomplete picture holds nothing back: a user away from
// the computer who leaves it open does not stop the pulls.
TEST_F(ImagePullTest, TheIncompletePictureNoticeLetsTheNextTickPullThePictureWhole) {
  const std::vector<std::byte> image = PatternImage(3 * kChunk, 9);
  simulator->QueueImage(image);
  simulator->AddFault({RequestKind::ChunkRead, 1, 1, error::kGenFailure});
  bool wholeInsideTheBox = false;
  world.Desktop().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord&, hostworld::ModalLoop& loop) {
    loop.AdvanceTime(ui::kComputerModePollMs);
    wholeInsideTheBox = Exists(kFirstImage) && Read(kFirstImage) == Image(image);
    return platform::dialog_result::kOk;
  });
  Tick();
  EXPECT_TRUE(wholeInsideTheBox);
  EXPECT_EQ(Boxes().size(), 1u);
  EXPECT_FALSE(Exists(kFirstPartial));
  EXPECT_EQ(simulator->QueuedImages(), 0u);
}

TEST_F(ImagePullTest, AChunkTheFileDoesNotTakeEndsThePullAndTheScannerKeepsTheImage) {
  struct Row {
    const char* what;
    hostworld::WriteFault fault;
  };
  const Row rows[] = {{"the second write fails", hostworld::WriteFault::FailWrite(2)},
                      {"the second write is cut short", hostworld::WriteFault::ShortWrite(2, 100)},
                      {"the disk fills in the second chunk", hostworld::WriteFault::DiskFullAfter(kChunk + 10)},
                      {"the disk fills, as a handle reports it", hostworld::WriteFault::DiskFullAfter(kChunk, error::kHandleDiskFull)}};
  // On a drive of their own: the service's record of transfers on C: is not
  // counted among the picture's writes.
  world.AddDrive('D', platform::DriveType::Fixed);
  world.MakeDirectories("D:\\Scans");
  form->PathEdit.SetText("D:\\Scans");
  int round = 0;
  for (const Row& row : rows) {
    ++round;
    const std::vector<std::byte> image = PatternImage(3 * kChunk, static_cast<std::uint8_t>(40 + round));
    simulator->QueueImage(image);
    const std::string destination = "D:\\Scans\\Photo1\\img000" + std::to_string(round) + ".jpg";
    world.SetWriteFault('D', row.fault);
    simulator->ClearRequests();

    EXPECT_FALSE(PullOnce()) << row.what;
    EXPECT_EQ(simulator->QueuedImages(), 1u) << row.what << ": the scanner keeps the image";
    EXPECT_EQ(ChunkLengths().size(), 2u) << row.what << ": nothing is read after the failed write";
    EXPECT_FALSE(Exists(destination)) << row.what << ": nothing under the image's name";

    // Without the fault the next pull takes the whole image into that name.
    world.ClearWriteFaults();
    EXPECT_TRUE(PullOnce()) << row.what;
    EXPECT_EQ(Read(destination), Image(image)) << row.what;
    EXPECT_EQ(simulator->QueuedImages(), 0u) << row.what;
  }
}

TEST_F(ImagePullTest, TheFolderIsOpenedOnlyWhenNoWindowShowsIt) {
  struct Row {
    const char* title;  // of an explorer window already open, or nullptr
    std::size_t explores;
  };
  const Row rows[] = {{nullptr, 1},
                      {"Photo1", 0},
                      {"C:\\Users\\Public\\Pictures\\Photo1", 0},
                      {"Photo2", 1},
                      {"C:\\Users\\Public\\Pictures", 1}};
  for (const Row& row : rows) {
    for (platform::WindowHandle w : world.Desktop().TopLevelWindows()) {
      if (w != form->Handle()) world.Desktop().CloseForeignWindow(w);
    }
    const platform::WindowHandle open =
        row.title != nullptr ? world.Desktop().OpenForeignWindow("CabinetWClass", row.title) : nullptr;
    const std::size_t before = Explores().size();
    // Each a picture of its own: the same bytes again would not be saved again.
    simulator->QueueImage(PatternImage(100, 17 + static_cast<std::uint32_t>(&row - rows)));
    EXPECT_TRUE(PullOnce());
    EXPECT_EQ(Explores().size() - before, row.explores) << (row.title ? row.title : "(none)");
    if (open != nullptr) world.Desktop().CloseForeignWindow(open);
  }
}

TEST_F(ImagePullTest, TwoImagesInTheSameFolderOpenItOnce) {
  simulator->QueueImage(PatternImage(100, 18));
  Tick();
  simulator->QueueImage(PatternImage(200, 19));
  Tick();
  EXPECT_TRUE(Exists(std::string(kPictures) + "\\Photo1\\img0002.jpg"));
  EXPECT_EQ(Explores().size(), 1u) << "the window opened for the first image shows the folder";
}

TEST_F(ImagePullTest, AtADriveRootTheFullPathTitleFollowsTheRootRule) {
  world.AddDrive('D', platform::DriveType::Fixed);
  form->PathEdit.SetText("D:\\");
  world.Desktop().OpenForeignWindow("CabinetWClass", "D:\\Photo1");
  simulator->QueueImage(PatternImage(100, 20));
  EXPECT_TRUE(PullOnce());
  EXPECT_TRUE(Exists("D:\\Photo1\\img0001.jpg"));
  EXPECT_TRUE(Explores().empty()) << "D:\\Photo1 is the window's title, not D:\\\\Photo1";
}

TEST_F(ImagePullTest, ALengthTheDataAreaCannotHoldEndsThePullAsAFailedRequest) {
  const std::vector<std::byte> image = PatternImage(3 * kChunk, 21);
  simulator->QueueImage(image);
  simulator->AddLengthOverride({1, 524289});  // the answer after the first chunk
  EXPECT_FALSE(PullOnce());
  EXPECT_EQ(ChunkLengths(), (std::vector<std::uint32_t>{kChunk})) << "no read of 524289 bytes";
  EXPECT_EQ(Read(kFirstPartial), Image(image).substr(0, kChunk));
  EXPECT_FALSE(Exists(kFirstImage));
  EXPECT_TRUE(Explores().empty());
  EXPECT_EQ(simulator->QueuedImages(), 1u);
}

TEST_F(ImagePullTest, TheLargestChunkFillsTheWholeDataArea) {
  const std::vector<std::byte> image = PatternImage(524288 + 5, 22);
  simulator->SetChunkPolicy(sim::ChunkPolicy::Fixed(524288));
  simulator->QueueImage(image);
  EXPECT_TRUE(PullOnce());
  EXPECT_EQ(ChunkLengths(), (std::vector<std::uint32_t>{524288, 5}));
  EXPECT_EQ(Read(kFirstImage), Image(image));
}

TEST_F(ImagePullTest, AScannerThatAnswersNothingInsideAnImageEndsThePullAfterTheQueryBound) {
  auto quiet = std::make_shared<sim::ScannerSimulator>(sim::SimulatorOptions{false, false});
  quiet->SetMode(sim::ScannerSimulator::Mode::Computer);
  quiet->SetChunkPolicy(sim::ChunkPolicy::Script({1000, 0}));  // one chunk, then "nothing yet" for ever
  const std::vector<std::byte> image = PatternImage(5000, 23);
  quiet->QueueImage(image);
  auto counted = std::make_shared<HookedDevice>(quiet);
  std::size_t lengthQueries = 0;
  std::size_t chunkReads = 0;
  counted->before = [&](std::uint8_t operation) {
    if (operation == kLengthQueryOperation) ++lengthQueries;
    if (operation == kChunkReadOperation) ++chunkReads;
  };
  world.AttachDevice('E', counted);
  EXPECT_FALSE(PullOnce());
  // The first query, then the bound's worth after the chunk. (Requests of the
  // window's own Apply, when it is activated again after the notice box,
  // are not the pull's.)
  EXPECT_EQ(lengthQueries, 1u + scanner::kStallLimitQueries);
  EXPECT_EQ(chunkReads, 1u);
  EXPECT_EQ(Read(kFirstPartial), Image(image).substr(0, 1000));
  EXPECT_FALSE(Exists(kFirstImage));
  EXPECT_EQ(quiet->QueuedImages(), 1u) << "asked for again from its start at the next poll";
}

TEST_F(ImagePullTest, AScannerThatStopsDeliveringEndsThePullOnceTheImageHasNotGrownForTheStallLimit) {
  struct Row {
    const char* what;
    sim::FaultRule fault;
    std::uint8_t slowOperation;  // takes 2 s, as a request that times out does
    std::size_t chunkReads;
    std::size_t lengthQueries;
  };
  const Row rows[] = {
      // The first chunk arrives; then each query times out after 2 s: the
      // fifth reaches 10 s.
      {"length queries time out", {RequestKind::LengthQuery, 1, sim::kForever, error::kSemTimeout},
       kLengthQueryOperation, 1, 6},
      // The second chunk: six attempts of 2 s each, 12 s without growth by
      // the query after them.
      {"chunk reads time out", {RequestKind::ChunkRead, 1, sim::kForever, error::kSemTimeout},
       kChunkReadOperation, 1 + 6, 3},
  };
  // The clock moves with the requests here: no tick of the poll timer may join in.
  form->Timer1.SetEnabled(false);
  for (const Row& row : rows) {
    auto slow = std::make_shared<sim::ScannerSimulator>();
    slow->SetMode(sim::ScannerSimulator::Mode::Computer);
    slow->SetChunkPolicy(sim::ChunkPolicy::Fixed(1000));
    slow->QueueImage(PatternImage(5000, 24));
    slow->AddFault(row.fault);
    auto hooked = std::make_shared<HookedDevice>(slow);
    hooked->before = [&](std::uint8_t operation) {
      if (operation == row.slowOperation) world.Desktop().AdvanceTime(2000);
    };
    world.AttachDevice('E', hooked);
    EXPECT_FALSE(PullOnce()) << row.what;
    EXPECT_EQ(slow->RequestsOf(RequestKind::ChunkRead).size(), row.chunkReads) << row.what;
    EXPECT_EQ(slow->RequestsOf(RequestKind::LengthQuery).size(), row.lengthQueries) << row.what;
    EXPECT_EQ(slow->QueuedImages(), 1u) << row.what;
  }
}

TEST_F(ImagePullTest, AtTheNamingCapTheImageStaysOnTheScanner) {
  const std::filesystem::path pictures = world.HostPath(kPictures);
  for (int n = 1; n <= 9999; ++n) std::filesystem::create_directory(pictures / ("Photo" + std::to_string(n)));
  world.WriteFile(std::string(kPictures) + "\\Photo9999\\img9999.jpg", "the last image");
  simulator->QueueImage(PatternImage(1000, 25));
  ASSERT_TRUE(platform::SetCurrentDirectory("C:\\Users").ok());

  Tick();
  EXPECT_EQ(Read(std::string(kPictures) + "\\Photo9999\\img9999.jpg"), "the last image");
  EXPECT_FALSE(platform::DirectoryExists(std::string(kPictures) + "\\Photo10000"));
  EXPECT_EQ(simulator->QueuedImages(), 1u);
  EXPECT_TRUE(ChunkLengths().empty());
  EXPECT_EQ(platform::GetCurrentDirectory(), "C:\\");
  EXPECT_TRUE(Explores().empty());
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(process.ScannerAttached, 1u) << "failures inside the exchange never detach";

  simulator->ClearRequests();
  Tick();
  EXPECT_EQ(QueriedOffsets(), (std::vector<std::uint32_t>{0})) << "the next tick asks from offset 0 again";
}

TEST_F(ImagePullTest, ExitChosenInsideTheBoxReleasesTheWindowOnlyAfterThePoll) {
  world.SetDriveFreeBytes('C', 1000);
  simulator->QueueImage(PatternImage(1000, 26));
  world.Desktop().SetMenuDriver([](const hostworld::MenuRecord& menu, hostworld::ModalLoop&) -> std::uint32_t {
    for (const auto& [id, text] : menu.items) {
      if (text == "Exit") return id;
    }
    return 0;
  });
  int releasesInsideBox = -1;
  world.Desktop().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord&, hostworld::ModalLoop& loop) {
    EXPECT_TRUE(world.Desktop().ClickTrayIcon(1, hostworld::MouseButton::Right));
    loop.Pump();
    loop.Pump();
    releasesInsideBox = releases;
    EXPECT_EQ(owner.asked.size(), 1u) << "Exit asked the owner";
    return platform::dialog_result::kOk;
  });
  Tick();
  EXPECT_EQ(releasesInsideBox, 0);
  EXPECT_EQ(releases, 1);
  EXPECT_EQ(form, nullptr);
  EXPECT_FALSE(Exists(kScratchPath)) << "the poll finished its work before the window went";
  EXPECT_EQ(simulator->CurrentMode(), sim::ScannerSimulator::Mode::Card) << "Exit's own poll";
}

// The service's window on Windows Vista and later: the pull acts in the save
// location as the user at the console and follows no link out of it.
class ConsoleUserPullTest : public ImagePullTest {
 protected:
  void SetUp() override {
    ImagePullTest::SetUp();
    form->SetActsForConsoleUser(true);
    world.MakeDirectories("C:\\Windows\\System32");
    world.WriteFile("C:\\Windows\\System32\\config.sys", "the system's");
    world.UserSessions().DenyUserWrites("C:\\Windows");
  }
  // Pulls into the location; the entries of System32 afterwards.
  bool PullInto(const std::string& location) {
    form->PathEdit.SetText(location);
    return PullOnce();
  }
  std::vector<std::string> SystemFolder() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(world.HostPath("C:\\Windows\\System32"))) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }
  std::size_t CannotSaveBoxesFor(const std::string& location) const {
    std::size_t count = 0;
    for (const hostworld::MessageBoxRecord& box : Boxes()) {
      if (box.text.find("cannot be saved in " + location) != std::string::npos) ++count;
    }
    return count;
  }
};

// A standard user may write in the location, so may plant a link where the
// pull will write: each is refused, nothing lands outside the location, the
// picture stays on the scanner and the user is told once.
TEST_F(ConsoleUserPullTest, ALinkPlantedInTheLocationMakesThePullRefuse) {
  world.UserSessions().LogOn("alice");
  struct Row {
    const char* what;
    std::vector<std::string> folders;  // made below the location first
    std::string link;                  // below the location
    bool junction;                     // else a symbolic link to a file
  };
  const Row rows[] = {
      {"a junction as the first Photo<n>", {}, "Photo1", true},
      {"a junction as the next Photo<n>", {"Photo1"}, "Photo2", true},
      {"a junction named like a transfer file", {"Photo1"}, "Photo1\\~0000000", true},
      {"a junction as img0001.jpg", {"Photo1"}, "Photo1\\img0001.jpg", true},
      {"a file link as img0001.jpg", {"Photo1"}, "Photo1\\img0001.jpg", false},
  };
  simulator->QueueImage(PatternImage(3 * kChunk, 40));
  int index = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string location = "C:\\Scans" + std::to_string(index++);
    world.MakeDirectories(location);
    for (const std::string& folder : row.folders) world.MakeDirectories(location + "\\" + folder);
    if (row.junction) {
      world.CreateJunction(location + "\\" + row.link, "C:\\Windows\\System32");
    } else {
      world.CreateFileSymlink(location + "\\" + row.link, "C:\\Windows\\System32\\config.sys");
    }
    EXPECT_FALSE(PullInto(location));
    EXPECT_FALSE(PullInto(location)) << "the next poll";
    EXPECT_EQ(SystemFolder(), std::vector<std::string>{"config.sys"});
    EXPECT_EQ(Read("C:\\Windows\\System32\\config.sys"), "the system's");
    EXPECT_EQ(simulator->QueuedImages(), 1u) << "the picture stays on the scanner";
    EXPECT_EQ(CannotSaveBoxesFor(location), 1u) << "told once";
    EXPECT_TRUE(Explores().empty());
  }
}

TEST_F(ConsoleUserPullTest, ThePullWaitsForAConsoleUserAndIsRefusedWhereThatUserMayNotWrite) {
  const std::vector<std::byte> image = PatternImage(2 * kChunk + 5, 41);
  simulator->QueueImage(image);
  world.MakeDirectories("C:\\Scans");

  // Nobody at the console: nothing is written and nobody is told.
  EXPECT_FALSE(PullInto("C:\\Scans"));
  EXPECT_FALSE(platform::DirectoryExists("C:\\Scans\\Photo1"));
  EXPECT_EQ(simulator->QueuedImages(), 1u);
  EXPECT_TRUE(Boxes().empty());

  // A user at the console who may not write there: refused, told once.
  const std::uint32_t alice = world.UserSessions().LogOn("alice");
  world.UserSessions().DenyUserWrites("C:\\Scans");
  EXPECT_FALSE(PullInto("C:\\Scans"));
  EXPECT_FALSE(PullInto("C:\\Scans"));
  EXPECT_FALSE(platform::DirectoryExists("C:\\Scans\\Photo1"));
  EXPECT_EQ(simulator->QueuedImages(), 1u);
  EXPECT_EQ(CannotSaveBoxesFor("C:\\Scans"), 1u);

  // The console user leaves; the next one may write in the new location.
  world.UserSessions().LogOff(alice);
  world.UserSessions().LogOn("bob");
  EXPECT_TRUE(PullInto("C:\\Users\\Public\\Pictures"));
  EXPECT_EQ(Read(kFirstImage), Image(image));
  EXPECT_EQ(simulator->QueuedImages(), 0u);
}

// On a drive that passes the start check, each chunk needs room for itself
// and a small reserve: a picture that fits is saved whole however little it
// leaves beyond the reserve; one that would eat into the reserve is stopped,
// keeps nothing, and the next poll takes the disk-full path.
TEST_F(ImagePullTest, EachChunkLeavesTheReserveAndAPictureThatFitsIsSavedWhole) {
  constexpr std::uint64_t kFree = 6 * 1024 * 1024;  // past the start check's 3999744 bytes
  constexpr std::uint64_t kFloor = kChunk + storage::kChunkReserveBytes;
  struct Row {
    const char* what;
    std::uint64_t leftFree;  // after the whole picture
    bool saved;
  };
  const Row rows[] = {{"twice the floor left", 2 * kFloor, true},
                      {"just over the floor left", kFloor + 1, true},
                      {"less than the floor, not even the reserve, left", storage::kChunkReserveBytes - 1, false}};
  world.AddDrive('D', platform::DriveType::Fixed);
  world.MakeDirectories("D:\\Scans");
  form->PathEdit.SetText("D:\\Scans");
  std::uint32_t number = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    world.SetDriveFreeBytes('D', kFree);
    const std::vector<std::byte> image = PatternImage(kFree - row.leftFree, static_cast<std::uint8_t>(70 + number));
    simulator->QueueImage(image);
    const std::size_t boxesBefore = Boxes().size();
    const std::string next = "D:\\Scans\\Photo1\\img000" + std::to_string(number + 1) + ".jpg";
    EXPECT_EQ(PullOnce(), row.saved);
    if (row.saved) {
      ++number;
      EXPECT_EQ(Read(next), Image(image));
      EXPECT_EQ(simulator->QueuedImages(), 0u);
      continue;
    }
    // Nothing is kept, nothing said yet; the picture waits on the scanner.
    EXPECT_FALSE(Exists(next));
    EXPECT_FALSE(Exists(platform::ChangeFileExt(next, ".partial")));
    EXPECT_TRUE(platform::FindFiles("D:\\Scans\\Photo1\\~*").value_or(platform::FindEntries()).empty())
        << "the transfer is deleted";
    EXPECT_EQ(simulator->QueuedImages(), 1u);
    EXPECT_EQ(Boxes().size(), boxesBefore);
    // The next poll drains it into the scratch file and says the disk is full.
    Tick();
    EXPECT_EQ(simulator->QueuedImages(), 0u);
    EXPECT_FALSE(Exists(kScratchPath));
    EXPECT_FALSE(Exists(next));
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), boxesBefore + 1);
    EXPECT_EQ(boxes.back().text, form->LoadText(ui::text::kDiskFullMessage));
  }
}

// A drive that cannot tell its free space is not written on a guess: the
// picture takes the disk-full path into the scratch file.
// A drive whose free space cannot be read is not known to have room, nor to
// be full: the picture is neither written there nor drained into the
// scratch file (which would lose it), but stays on the scanner.
TEST_F(ImagePullTest, AFailedFreeSpaceQueryKeepsThePictureOnTheScanner) {
  world.AddDrive('D', platform::DriveType::Fixed);
  world.SetDriveFreeSpaceError('D', error::kNotReady);
  form->PathEdit.SetText("D:\\Scans");
  simulator->QueueImage(PatternImage(kChunk + 3, 43));
  PullOnce();
  EXPECT_FALSE(Exists("D:\\Scans\\Photo1\\img0001.jpg"));
  EXPECT_EQ(simulator->QueuedImages(), 1u) << "the picture stays on the scanner";
  EXPECT_EQ(simulator->ImagesDelivered(), 0u);
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].text.find("D:\\Scans"), std::string::npos) << boxes[0].text;
  EXPECT_NE(boxes[0].text, form->LoadText(ui::text::kDiskFullMessage));
}


// The scanner lets a picture go once it has answered a length query with the
// end marker: when that query reaches it, no byte of the picture may be only
// in the system's cache. A power cut right after the pull leaves it whole.
TEST_F(ImagePullTest, ThePicturesBytesAreOnTheDiskBeforeTheScannerLetsItGo) {
  struct Row {
    const char* what;
    std::size_t size;
    std::uint32_t chunk;
    bool endsAsAJpeg;  // FF D9: a whole picture can be complete there
  };
  const Row rows[] = {
      {"one chunk", 1000, kChunk, true},
      {"many chunks", 3 * kChunk + 1234, kChunk, true},
      {"the end-of-image marker split over two chunks", 2 * 4096 + 1, 4096, true},
      {"a picture that does not end as a JPEG: flushed after the marker", 5000, 1024, false},
  };
  form->Timer1.SetEnabled(false);
  world.Cache().Track();
  const std::filesystem::path folder = world.HostPath(std::string(kPictures) + "\\Photo1");
  int number = 0;
  for (const Row& row : rows) {
    std::vector<std::byte> image = PatternImage(row.size, 40 + static_cast<std::uint32_t>(number));
    image[0] = std::byte{0xFF};
    image[1] = std::byte{0xD8};
    image[row.size - 2] = std::byte{0xFF};
    image[row.size - 1] = row.endsAsAJpeg ? std::byte{0xD9} : std::byte{0x00};
    auto scanner = std::make_shared<sim::ScannerSimulator>();
    scanner->SetMode(sim::ScannerSimulator::Mode::Computer);
    scanner->SetChunkPolicy(sim::ChunkPolicy::Fixed(row.chunk));
    scanner->QueueImage(image);
    auto hooked = std::make_shared<HookedDevice>(scanner);
    std::vector<std::filesystem::path> cachedAtLastQuery;
    hooked->before = [&](std::uint8_t operation) {
      if (operation != kLengthQueryOperation) return;
      cachedAtLastQuery.clear();
      for (const std::filesystem::path& file : world.Cache().UnflushedFiles()) {
        if (file.parent_path() == folder) cachedAtLastQuery.push_back(file);
      }
    };
    world.AttachDevice('E', hooked);
    ASSERT_TRUE(PullOnce()) << row.what;
    ++number;
    if (row.endsAsAJpeg) {
      EXPECT_TRUE(cachedAtLastQuery.empty()) << row.what << ": " << cachedAtLastQuery.front();
    }
    world.Cache().CutPower(hostworld::CutLoss::Zeros);
    char name[64];
    std::snprintf(name, sizeof name, "\\Photo1\\img%04d.jpg", number);
    EXPECT_EQ(Read(std::string(kPictures) + name), Image(image)) << row.what;
  }
}

// A picture as far as settling can tell: SOI, a JFIF header, a frame header,
// a scan header, entropy-coded bytes (no 0xFF among them) and EOI.
std::string WholePicture(std::size_t entropyBytes, std::uint32_t seed) {
  std::string bytes = {'\xFF', '\xD8', '\xFF', '\xE0', 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
  bytes += std::string{'\xFF', '\xC0', 0, 11, 8, 0, 16, 0, 16, 1, 1, 0x11, 0};
  bytes += std::string{'\xFF', '\xDA', 0, 8, 1, 1, 0, 0, 63, 0};
  for (std::byte b : PatternImage(entropyBytes, seed)) bytes.push_back(static_cast<char>(std::to_integer<int>(b) & 0x7F));
  return bytes + std::string{'\xFF', '\xD9'};
}

// Leftovers of an earlier run (a power cut, a killed service) in the save
// location's image folders, settled before the location's first pull.
TEST_F(ImagePullTest, LeftoverTransferFilesAreSettledBeforeTheFirstPullIntoTheLocation) {
  const std::string a = WholePicture(3000, 1);
  const std::string b = WholePicture(2000, 2);
  const std::string c = WholePicture(2000, 3);  // the same size as b, other bytes
  const std::string shortA = a.substr(0, 1500);
  const std::string zeroTail = a.substr(0, 1500) + std::string(a.size() - 1500, '\0');
  struct Entry {
    std::string path;  // below the location
    std::optional<std::string> bytes;  // nothing: absent
  };
  struct Row {
    const char* what;
    std::vector<std::string> folders;
    std::vector<Entry> before;
    std::vector<Entry> after;
    std::string pulledTo;  // where the pull that follows lands
    bool link = false;     // Photo1 holds a link named like a transfer
  };
  // What the scanner offers next where it is not a fresh picture.
  std::map<std::string, std::string> offered;
  std::vector<Row> rows = {
      {"an empty transfer is deleted", {"Photo1"}, {{"Photo1\\~0000001", ""}}, {{"Photo1\\~0000001", {}}},
       "Photo1\\img0001.jpg"},
      {"a whole picture not yet saved takes the next number",
       {"Photo1"},
       {{"Photo1\\img0001.jpg", b}, {"Photo1\\img0002.jpg", c}, {"Photo1\\~00a0b0C", a}},
       {{"Photo1\\~00a0b0C", {}}, {"Photo1\\img0002.jpg", c}, {"Photo1\\img0003.jpg", a}},
       "Photo1\\img0004.jpg"},
      {"a whole picture an image already holds is deleted",
       {"Photo1"},
       {{"Photo1\\img0001.jpg", c}, {"Photo1\\img0002.jpg", b}, {"Photo1\\~FFFFFFF", b}},
       {{"Photo1\\~FFFFFFF", {}}, {"Photo1\\img0002.jpg", b}, {"Photo1\\img0003.partial", {}}},
       "Photo1\\img0003.jpg"},
      {"a short picture becomes the partial of the next number",
       {"Photo1"},
       {{"Photo1\\img0001.jpg", b}, {"Photo1\\~1234567", shortA}},
       {{"Photo1\\~1234567", {}}, {"Photo1\\img0002.partial", shortA}},
       "Photo1\\img0002.jpg"},
      {"a short picture that holds an earlier partial's bytes replaces it",
       {"Photo1"},
       {{"Photo1\\img0001.partial", a.substr(0, 700)}, {"Photo1\\~1234567", shortA}},
       {{"Photo1\\~1234567", {}}, {"Photo1\\img0001.partial", shortA}},
       "Photo1\\img0001.jpg"},
      {"a short picture that a partial begins with is dropped",
       {"Photo1"},
       {{"Photo1\\img0001.partial", shortA}, {"Photo1\\~1234567", a.substr(0, 700)}},
       {{"Photo1\\~1234567", {}}, {"Photo1\\img0001.partial", shortA}},
       "Photo1\\img0001.jpg"},
      // Zeros that held the place of chunks that never came: it starts
      // like a picture but does not end like one.
      {"a zero-filled tail is kept as a partial",
       {"Photo1"},
       {{"Photo1\\~1234567", zeroTail}},
       {{"Photo1\\~1234567", {}}, {"Photo1\\img0001.partial", zeroTail}},
       "Photo1\\img0001.jpg"},
      {"two transfers in one folder take two numbers",
       {"Photo1"},
       {{"Photo1\\~0000002", b}, {"Photo1\\~0000001", a}},
       {{"Photo1\\img0001.jpg", a}, {"Photo1\\img0002.jpg", b}, {"Photo1\\~0000001", {}}, {"Photo1\\~0000002", {}}},
       "Photo1\\img0003.jpg"},
      {"a transfer in an older folder takes that folder's next number",
       {"Photo1", "Photo2"},
       {{"Photo1\\img0001.jpg", c}, {"Photo1\\~abcdef0", a}, {"Photo2\\img0001.jpg", b}},
       {{"Photo1\\img0002.jpg", a}, {"Photo1\\~abcdef0", {}}},
       "Photo2\\img0002.jpg"},
      // Only "~" and seven hex digits naming a file is a transfer.
      {"names unlike a transfer's and folders are left alone",
       {"Photo1", "Photo2", "Photo1\\~7777777"},
       {{"Photo1\\~12345678", a}, {"Photo1\\~123456", a}, {"Photo1\\~123456g", a}, {"Photo1\\~1234567.jpg", a},
        {"Photo01\\~1234567", a}},
       {{"Photo1\\~12345678", a}, {"Photo1\\~123456", a}, {"Photo1\\~123456g", a}, {"Photo1\\~1234567.jpg", a},
        {"Photo01\\~1234567", a}, {"Photo1\\img0001.jpg", {}}, {"Photo1\\img0001.partial", {}}},
       "Photo2\\img0001.jpg",
       true},
  };
  // The crash came after the picture's last byte but before the scanner let
  // it go: it is offered again, and is not saved a second time.
  rows.push_back({"a whole picture the scanner still holds is saved once",
                  {"Photo1"},
                  {{"Photo1\\~0000001", a}},
                  {{"Photo1\\~0000001", {}}, {"Photo1\\img0002.jpg", {}}},
                  "Photo1\\img0001.jpg"});
  offered[rows.back().what] = a;
  // Many folders: one listing of each, every transfer settled in its own.
  Row many{"a location with many folders", {}, {}, {}, "Photo60\\img0001.jpg"};
  for (int n = 1; n <= 60; ++n) many.folders.push_back("Photo" + std::to_string(n));
  many.before = {{"Photo7\\img0001.jpg", c}, {"Photo7\\~0000007", a}, {"Photo60\\~0000060", shortA}};
  many.after = {{"Photo7\\img0002.jpg", a}, {"Photo60\\img0001.partial", shortA}, {"Photo7\\~0000007", {}},
                {"Photo60\\~0000060", {}}};
  rows.push_back(many);

  for (const bool consoleUser : {false, true}) {
    form->SetActsForConsoleUser(consoleUser);
    if (consoleUser) world.UserSessions().LogOn("alice");
    int index = 0;
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.what) + (consoleUser ? " (console user)" : ""));
      const std::string location = std::string(consoleUser ? "C:\\ScansU" : "C:\\Scans") + std::to_string(index++);
      world.MakeDirectories(location + "\\Photo1");
      for (const std::string& folder : row.folders) world.MakeDirectories(location + "\\" + folder);
      std::vector<std::string> planted;
      for (const Entry& entry : row.before) {
        world.MakeDirectories(platform::ExtractFilePath(location + "\\" + entry.path));
        world.WriteFile(location + "\\" + entry.path, *entry.bytes);
        planted.push_back(location + "\\" + entry.path);
      }
      ListTransfers(planted);
      // A link named like a transfer is not followed, nor touched.
      world.MakeDirectories("C:\\Elsewhere");
      world.WriteFile("C:\\Elsewhere\\target", "not a picture");
      if (row.link) world.CreateFileSymlink(location + "\\Photo1\\~7777770", "C:\\Elsewhere\\target");
      form->PathEdit.SetText(location);
      const auto again = offered.find(row.what);
      const std::vector<std::byte> pulled =
          again != offered.end()
              ? std::vector<std::byte>(reinterpret_cast<const std::byte*>(again->second.data()),
                                       reinterpret_cast<const std::byte*>(again->second.data() + again->second.size()))
              : PatternImage(kChunk + 9, static_cast<std::uint32_t>(50 + index));
      simulator->QueueImage(pulled);
      EXPECT_TRUE(PullOnce());
      for (const Entry& entry : row.after) {
        const std::string path = location + "\\" + entry.path;
        if (!entry.bytes) {
          EXPECT_FALSE(platform::GetFileAttributes(path).has_value()) << path;
        } else {
          EXPECT_EQ(Read(path), *entry.bytes) << path;
        }
      }
      EXPECT_EQ(Read("C:\\Elsewhere\\target"), "not a picture");
      EXPECT_EQ(platform::GetFileAttributes(location + "\\Photo1\\~7777770").has_value(), row.link);
      // The pulled picture takes the number after those the leftovers took.
      EXPECT_EQ(Read(location + "\\" + row.pulledTo), Image(pulled));
    }
  }
}

// A stop or pause that cancels the length query able to bring the end marker,
// after the scanner answered it: the scanner has let the picture go, so it
// never comes again. The whole, flushed transfer stays under its own name and
// listed in the service's record, and the next start gives it its number (a
// partial made of it would never be named).
TEST_F(ImagePullTest, AStopThatCancelsTheQueryAbleToBringTheEndMarkerLeavesTheTransferForTheNextStart) {
  const std::string picture = WholePicture(2 * kChunk - 45, 25);  // two whole chunks
  simulator->QueueImage(std::vector<std::byte>(reinterpret_cast<const std::byte*>(picture.data()),
                                               reinterpret_cast<const std::byte*>(picture.data() + picture.size())));
  int lengthQueries = 0;
  device->after = [&](std::uint8_t operation, platform::IoControlResult& result) {
    if (operation != kLengthQueryOperation || ++lengthQueries != 3) return;
    process.InterruptPull = 1;
    result = {false, 0, error::kOperationAborted};
  };
  EXPECT_FALSE(PullOnce());
  device->after = nullptr;
  process.InterruptPull = 0;
  ASSERT_EQ(simulator->QueuedImages(), 0u) << "the scanner answered the marker and forgot the picture";
  EXPECT_FALSE(Exists(kFirstImage));
  EXPECT_FALSE(Exists(kFirstPartial));
  std::vector<std::string> transfers;
  const std::string folder = std::string(kPictures) + "\\Photo1\\";
  for (const platform::FindEntry& entry : platform::FindFiles(folder + "~*").value_or(platform::FindEntries())) {
    transfers.push_back(folder + entry.name);
  }
  ASSERT_EQ(transfers.size(), 1u);
  EXPECT_EQ(Read(transfers[0]), picture);
  EXPECT_TRUE(form->Landing().Transfers().Lists(transfers[0]));
  EXPECT_TRUE(Boxes().empty()) << "a stop is not a fault to report";

  // The next start of the service.
  form.reset();
  process.SettledLocation.clear();
  StartLikeTheService();
  EXPECT_EQ(Read(kFirstImage), picture);
  EXPECT_FALSE(Exists(transfers[0]));
  EXPECT_FALSE(Exists(kFirstPartial));
}

// The service's window settles the location's leftovers when it starts; on
// Windows Vista and later as the user at the console, and with nobody there
// they wait for the location's first pull.
TEST_F(ImagePullTest, TheServiceWindowSettlesLeftoverTransfersWhenItStarts) {
  const std::string a = WholePicture(3000, 4);
  const std::string b = WholePicture(2500, 5);
  struct Row {
    const char* what;
    bool consoleUser;
    bool settledAtStart;
  };
  const Row rows[] = {{"the process's own rights (before Vista)", false, true},
                      {"nobody at the console: the first pull settles them", true, false},
                      {"the console user's rights", true, true}};
  const std::string folder = std::string(kPictures) + "\\Photo1";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    // A new run of the service.
    form.reset();
    process.SettledLocation.clear();
    std::filesystem::remove_all(world.HostPath(folder));
    world.MakeDirectories(folder);
    world.WriteFile(folder + "\\img0001.jpg", b);
    world.WriteFile(folder + "\\~0000001", a);
    ListTransfers({folder + "\\~0000001"});
    CreateForm();
    form->SetActsForConsoleUser(row.consoleUser);
    form->Show();
    form->Hide();
    Pump();
    EXPECT_EQ(Exists(folder + "\\img0002.jpg"), row.settledAtStart);
    EXPECT_EQ(Exists(folder + "\\~0000001"), !row.settledAtStart);
    if (!row.settledAtStart) {
      world.UserSessions().LogOn("alice");
      const std::vector<std::byte> pulled = PatternImage(kChunk, 60);
      simulator->QueueImage(pulled);
      EXPECT_TRUE(PullOnce());
      EXPECT_FALSE(Exists(folder + "\\~0000001"));
      EXPECT_EQ(Read(folder + "\\img0003.jpg"), Image(pulled));
    }
    EXPECT_EQ(Read(folder + "\\img0002.jpg"), a);
    EXPECT_EQ(Read(folder + "\\img0001.jpg"), b);
  }
}

}  // namespace
}  // namespace pw::test
