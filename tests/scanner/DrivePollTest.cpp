// The drive walk and the poll through the main window: which drives are
// opened, how the scanner is recognised and attached, device broadcasts, the
// quit request, the poll timer, and the scratch file's removal.
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/Windows.h"
#include "scanner/DrivePoll.h"
#include "tests/scanner/PollFixture.h"

namespace pw::test {
namespace {

using sim::RequestKind;
using Placement = sim::DescriptorString::Placement;

class DrivePollTest : public PollFixture {
 protected:
  std::string DevicePath() const {
    const auto& path = process.ScannerDevicePath;
    return std::string(path.data(), std::find(path.begin(), path.end(), '\0'));
  }
  // A further simulated scanner on its own drive.
  std::shared_ptr<sim::ScannerSimulator> AddScanner(char letter, platform::DriveType type) {
    auto other = std::make_shared<sim::ScannerSimulator>();
    world.AddDrive(letter, type);
    world.AttachDevice(letter, other);
    return other;
  }
  // Forgets the attachment, so that the next scan walks the drives again.
  void Detach() { process.ScannerAttached = 0; }
  void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    ASSERT_TRUE(platform::PostMessage(form->Handle(), message, wParam, lParam).ok());
    Pump();
  }
};

TEST_F(DrivePollTest, TheFirstActivationAttachesTheScannerAndAppliesTheSaveType) {
  Plug();
  StartLikeTheService();
  EXPECT_EQ(process.ScannerAttached, 1u);
  EXPECT_EQ(DevicePath(), "\\\\?\\E:");
  // The scan: descriptor, INQUIRY and the selected mode; then Apply's own
  // exchange, after the descriptor tells that the drive is still the scanner.
  EXPECT_EQ(Kinds(), (std::vector{RequestKind::StorageQuery, RequestKind::Inquiry, RequestKind::ComputerMode,
                                  RequestKind::StorageQuery, RequestKind::Inquiry, RequestKind::ComputerMode}));
  EXPECT_EQ(simulator->CurrentMode(), sim::ScannerSimulator::Mode::Computer);
  EXPECT_TRUE(form->Timer1.Enabled());
  EXPECT_EQ(form->Timer1.Interval(), ui::kComputerModePollMs);
  const sim::RecordedRequest query = simulator->RequestsOf(RequestKind::StorageQuery).at(0);
  EXPECT_EQ(query.outputSize, 551u);
  EXPECT_EQ(query.inputSize, 12u);
}

TEST_F(DrivePollTest, TheProductIsComparedUpperCasedAndTheRevisionExactly) {
  struct Row {
    sim::DescriptorString product;
    sim::DescriptorString revision;
    bool recognised;
  };
  const Row rows[] = {
      {{"SCAN"}, {"1000"}, true},
      {{"scan"}, {"1000"}, true},
      {{"ScAn"}, {"1000"}, true},
      {{"SCAN "}, {"1000"}, false},    // a trailing blank is not trimmed
      {{" SCAN"}, {"1000"}, false},
      {{"SCANNER"}, {"1000"}, false},  // a longer text that begins with it
      {{"SCA"}, {"1000"}, false},
      {{"SCAN"}, {"1000 "}, false},
      {{"SCAN"}, {"1001"}, false},
      {{"SCAN"}, {"1000", Placement::Absent}, false},       // "(NULL)"
      {{"SCAN", Placement::Absent}, {"1000"}, false},
      {{"SCAN", Placement::PastReturned}, {"1000"}, false},  // outside the returned bytes: absent
      {{"\xD3""CAN"}, {"1000"}, false},  // only ASCII letters change case
  };
  Plug();
  CreateForm();
  form->Show();  // a visible window: recognitions show it without a new activation
  for (const Row& row : rows) {
    sim::DescriptorConfig descriptor;
    descriptor.product = row.product;
    descriptor.revision = row.revision;
    simulator->SetDescriptor(descriptor);
    simulator->ClearRequests();
    Detach();
    form->ScanDrives();
    EXPECT_EQ(process.ScannerAttached, row.recognised ? 1u : 0u) << row.product.text << "/" << row.revision.text;
    // Only a recognised drive hears an INQUIRY and the mode command.
    EXPECT_EQ(Kinds().size(), row.recognised ? 3u : 1u) << row.product.text << "/" << row.revision.text;
  }
}

TEST_F(DrivePollTest, OnlyRemovableDrivesFromBOnAreOpened) {
  // Scanners everywhere the walk must not look: the floppy drive, a fixed
  // disk, an optical drive, a network drive.
  auto floppy = AddScanner('A', platform::DriveType::Removable);
  auto fixed = AddScanner('D', platform::DriveType::Fixed);
  auto optical = AddScanner('F', platform::DriveType::CdRom);
  auto network = AddScanner('G', platform::DriveType::Remote);
  CreateForm();
  form->ScanDrives();
  EXPECT_EQ(process.ScannerAttached, 0u);
  for (const auto& unseen : {floppy, fixed, optical, network}) EXPECT_EQ(unseen->RequestCount(), 0u);

  Plug();
  form->ScanDrives();
  EXPECT_EQ(process.ScannerAttached, 1u);
  EXPECT_EQ(DevicePath(), "\\\\?\\E:");
  for (const auto& unseen : {floppy, fixed, optical, network}) EXPECT_EQ(unseen->RequestCount(), 0u);
}

TEST_F(DrivePollTest, WithTwoScannersTheLowerLetterIsAttachedAndNoOtherDriveIsOpenedWhileItStays) {
  auto second = AddScanner('G', platform::DriveType::Removable);
  Plug();
  StartLikeTheService();
  EXPECT_EQ(DevicePath(), "\\\\?\\E:");
  EXPECT_EQ(second->RequestCount(), 0u);

  simulator->ClearRequests();
  form->ScanDrives();  // a further activation: attached, so nothing is opened
  EXPECT_TRUE(simulator->Requests().empty());
  EXPECT_EQ(second->RequestCount(), 0u);
}

TEST_F(DrivePollTest, TheScanSendsTheModeOfTheCurrentSelectionAppliedOrNot) {
  struct Row {
    int selection;  // -1: text typed into the combo, nothing selected
    RequestKind command;
  };
  const Row rows[] = {{1, RequestKind::ComputerMode}, {0, RequestKind::CardMode}, {-1, RequestKind::CardMode}};
  Plug();
  CreateForm();
  form->Show();
  for (const Row& row : rows) {
    if (row.selection >= 0) {
      form->SaveComboBx.UserSelect(row.selection);
    } else {
      form->SaveComboBx.SetItemIndex(-1);
    }
    form->SaveMode = 7;
    simulator->ClearRequests();
    Detach();
    form->ScanDrives();
    ASSERT_EQ(process.ScannerAttached, 1u);
    EXPECT_EQ(Kinds(), (std::vector{RequestKind::StorageQuery, RequestKind::Inquiry, row.command}))
        << "selection " << row.selection;
    // A selection is copied into SaveMode; no selection leaves it.
    EXPECT_EQ(form->SaveMode, row.selection >= 0 ? static_cast<std::uint32_t>(row.selection) : 7u);
  }
}

TEST_F(DrivePollTest, AnyOpenedRemovableDriveCopiesTheSelectionIntoSaveMode) {
  // E: carries no device: a plain flash disk, not the scanner.
  CreateForm();
  ASSERT_EQ(form->SaveMode, 1u);
  form->SaveComboBx.UserSelect(0);
  form->ScanDrives();
  EXPECT_EQ(process.ScannerAttached, 0u);
  EXPECT_EQ(form->SaveMode, 0u);
}

TEST_F(DrivePollTest, DeviceBroadcastsLeaveARescanForTheNextPoll) {
  CreateForm();
  form->Show();
  Plug();
  Pump();
  EXPECT_EQ(process.PendingDeviceEvent, 1);
  EXPECT_EQ(simulator->RequestCount(), 0u) << "the message itself does not scan";

  form->Timer1Timer();
  EXPECT_EQ(process.PendingDeviceEvent, 0);
  EXPECT_EQ(process.ScannerAttached, 1u);
  // The scan, then the same poll's exchange of the tick's kind.
  EXPECT_EQ(Kinds(), (std::vector{RequestKind::StorageQuery, RequestKind::Inquiry, RequestKind::ComputerMode,
                                  RequestKind::StorageQuery, RequestKind::Inquiry, RequestKind::LengthQuery}));

  struct Row {
    std::uintptr_t wParam;
    std::int32_t pending;
  };
  // A later event overwrites an earlier one; other events leave it.
  const Row rows[] = {{platform::kDbtDeviceRemoveComplete, 2}, {0x0007, 2}, {platform::kDbtDeviceArrival, 1},
                      {0x8003, 1}};
  for (const Row& row : rows) {
    Post(platform::wm::kDeviceChange, row.wParam, 0);
    EXPECT_EQ(process.PendingDeviceEvent, row.pending) << std::hex << row.wParam;
  }
  EXPECT_TRUE(platform::IsWindow(form->Handle()));
}

TEST_F(DrivePollTest, AQuitRequestDeletesTheSettingsFileFirstAndThenExits) {
  Plug();
  StartLikeTheService();
  ASSERT_TRUE(Exists(kSettingsPath));
  std::optional<bool> settingsGoneAtCardMode;
  device->before = [&](std::uint8_t operation) {
    if (operation == 0x55) settingsGoneAtCardMode = !Exists(kSettingsPath);
  };
  const platform::WindowHandle window = form->Handle();
  Post(ui::QuitRequestMessage, platform::kDbtDeviceArrival, 0);
  EXPECT_FALSE(Exists(kSettingsPath));
  EXPECT_EQ(settingsGoneAtCardMode, std::optional<bool>(true)) << "Exit returns the scanner to card mode";
  EXPECT_EQ(simulator->CurrentMode(), sim::ScannerSimulator::Mode::Card);
  EXPECT_EQ(releases, 1);
  EXPECT_FALSE(platform::IsWindow(window));
  EXPECT_EQ(process.PendingDeviceEvent, 1) << "its WParam counts as for WM_DEVICECHANGE";
}

TEST_F(DrivePollTest, AQuitRequestWithAnotherLParamOnlyLooksAtItsWParam) {
  Plug();
  StartLikeTheService();
  simulator->ClearRequests();
  Post(ui::QuitRequestMessage, platform::kDbtDeviceRemoveComplete, 1);
  EXPECT_TRUE(Exists(kSettingsPath));
  EXPECT_EQ(releases, 0);
  EXPECT_TRUE(platform::IsWindow(form->Handle()));
  EXPECT_EQ(process.PendingDeviceEvent, 2);
  EXPECT_TRUE(simulator->Requests().empty());
}

TEST_F(DrivePollTest, APollThatCannotOpenTheDriveSendsNothingAndDetaches) {
  Plug();
  StartLikeTheService();
  Unplug();
  Pump();
  ASSERT_EQ(process.PendingDeviceEvent, 2);
  simulator->ClearRequests();
  Advance(ui::kComputerModePollMs);
  EXPECT_EQ(process.ScannerAttached, 0u);
  EXPECT_EQ(process.PendingDeviceEvent, 1) << "the next tick walks the drives";
  EXPECT_TRUE(simulator->Requests().empty());
  Advance(ui::kComputerModePollMs);
  EXPECT_EQ(process.PendingDeviceEvent, 0);

  // Plugged in again: the arrival leads to a scan at the next tick.
  world.AddDrive('E', platform::DriveType::Removable);
  Plug();
  Advance(ui::kComputerModePollMs);
  EXPECT_EQ(process.ScannerAttached, 1u);
}

TEST_F(DrivePollTest, AScannerBackUnderAnotherLetterAfterAnUnplugMidPullIsAttachedAgainAndItsPicturePulledWhole) {
  Plug();
  StartLikeTheService();
  const std::vector<std::byte> image = PatternImage(4 * 50000, 11);
  simulator->SetChunkPolicy(sim::ChunkPolicy::Fixed(50000));
  simulator->QueueImage(image);
  int chunkReads = 0;
  device->before = [&](std::uint8_t operation) {
    if (operation != kChunkReadOperation || ++chunkReads != 2) return;
    // Out and in again within a second: E: was taken meanwhile, so it is H:.
    // Both broadcasts come while E: is still the attached path.
    device->before = nullptr;
    Unplug();
    world.AddDrive('H', platform::DriveType::Removable);
    world.AttachDevice('H', device);
  };
  for (int tick = 0; tick < 4 && !Exists(kFirstImage); ++tick) Advance(ui::kComputerModePollMs);
  EXPECT_EQ(process.ScannerAttached, 1u);
  EXPECT_EQ(DevicePath(), "\\\\?\\H:");
  ASSERT_TRUE(Exists(kFirstImage)) << "the poll that detached made the next tick walk the drives";
  EXPECT_EQ(Read(kFirstImage), Text(image));
}

TEST_F(DrivePollTest, AFailedDescriptorQueryAtPlugInIsRepeatedABoundedNumberOfTimes) {
  struct Row {
    std::uint32_t failures;  // descriptor queries that time out after the arrival
    bool attached;
    std::size_t queries;     // descriptor queries the scanner sees in all
  };
  const Row rows[] = {{1, true, 2}, {5, true, 6}, {sim::kForever, false, 6}};
  StartLikeTheService();
  char letter = 'F';
  for (const Row& row : rows) {
    // A scanner of its own for each row, plugged in under a new letter.
    auto scanner = std::make_shared<sim::ScannerSimulator>();
    scanner->AddFault({RequestKind::StorageQuery, 0, row.failures, platform::error::kSemTimeout});
    scanner->QueueImage(PatternImage(30000, 12));
    world.AddDrive(letter, platform::DriveType::Removable);
    world.AttachDevice(letter, scanner);
    for (int tick = 0; tick < 10; ++tick) Advance(ui::kComputerModePollMs);
    EXPECT_EQ(process.ScannerAttached, row.attached ? 1u : 0u) << row.failures;
    const std::size_t queries = scanner->RequestsOf(RequestKind::StorageQuery).size();
    if (row.attached) {
      // Attached, every tick checks the drive once more besides.
      EXPECT_GE(queries, row.queries) << row.failures;
      EXPECT_EQ(scanner->QueuedImages(), 0u) << row.failures << ": its picture was pulled";
    } else {
      EXPECT_EQ(queries, row.queries) << "one scan at the arrival and five more, then none";
      EXPECT_EQ(scanner->RequestCount(), row.queries) << "nothing but descriptor queries";
    }
    world.DetachDevice(letter);
    world.UnmapDrive(letter);
    Advance(ui::kComputerModePollMs);
    Advance(ui::kComputerModePollMs);
    ASSERT_EQ(process.ScannerAttached, 0u);
    ++letter;
  }
}

TEST_F(DrivePollTest, ADriveOfAnotherProductThatTakesTheScannersLetterHearsNothingButTheStorageQuery) {
  Plug();
  StartLikeTheService();
  // Between two polls the scanner goes and a card reader takes E:.
  auto reader = std::make_shared<sim::ScannerSimulator>();
  sim::DescriptorConfig descriptor;
  descriptor.product = {"CARD READER"};
  descriptor.revision = {"1.00"};
  reader->SetDescriptor(descriptor);
  world.DetachDevice('E');
  world.AttachDevice('E', reader);
  for (int tick = 0; tick < 3; ++tick) Advance(ui::kComputerModePollMs);
  EXPECT_EQ(process.ScannerAttached, 0u);
  ASSERT_FALSE(reader->Requests().empty());
  for (const sim::RecordedRequest& request : reader->Requests()) {
    EXPECT_EQ(request.kind, RequestKind::StorageQuery) << "request " << request.index;
  }
  EXPECT_EQ(reader->CurrentMode(), sim::ScannerSimulator::Mode::Unset);

  // The scanner, plugged in under another letter, is found at the next tick.
  world.AddDrive('H', platform::DriveType::Removable);
  world.AttachDevice('H', device);
  Advance(ui::kComputerModePollMs);
  EXPECT_EQ(process.ScannerAttached, 1u);
  EXPECT_EQ(DevicePath(), "\\\\?\\H:");
}

TEST_F(DrivePollTest, TheTimerPullsInSaveTypeComputerAndSendsCardModeInSaveTypeCard) {
  Plug();
  StartLikeTheService();
  simulator->ClearRequests();
  Advance(ui::kComputerModePollMs - 1);
  EXPECT_TRUE(simulator->Requests().empty());
  Advance(1);
  EXPECT_EQ(Kinds(), (std::vector{RequestKind::StorageQuery, RequestKind::Inquiry, RequestKind::LengthQuery}));

  form->SaveComboBx.UserSelect(0);
  form->ApplyBtnClick();
  simulator->ClearRequests();
  Advance(ui::kCardModePollMs - 1);
  EXPECT_TRUE(simulator->Requests().empty());
  Advance(1);
  EXPECT_EQ(Kinds(), (std::vector{RequestKind::StorageQuery, RequestKind::Inquiry, RequestKind::CardMode}));

  // Any SaveMode other than 0 pulls.
  form->SaveMode = 5;
  simulator->ClearRequests();
  form->Timer1Timer();
  EXPECT_EQ(Kinds(), (std::vector{RequestKind::StorageQuery, RequestKind::Inquiry, RequestKind::LengthQuery}));
}

TEST_F(DrivePollTest, NoTickPollsAnythingWhileNoScannerIsAttached) {
  StartLikeTheService();
  Advance(3 * ui::kComputerModePollMs);
  EXPECT_EQ(process.ScannerAttached, 0u);
  EXPECT_EQ(simulator->RequestCount(), 0u);
}

TEST_F(DrivePollTest, ARecognitionFromATickShowsTheWindowWhoseActivationScansAndAppliesInside) {
  StartLikeTheService();
  ASSERT_FALSE(platform::IsWindowVisible(form->Handle()));
  Plug();
  simulator->ClearRequests();
  Advance(ui::kComputerModePollMs);
  EXPECT_TRUE(platform::IsWindowVisible(form->Handle()));
  EXPECT_EQ(process.ScannerAttached, 1u);
  EXPECT_TRUE(form->ApplyBtn.Enabled()) << "enabled again by the recognition";
  // Outer scan: descriptor, INQUIRY, mode; showing the window activates it:
  // its scan (the scanner not yet attached) and its Apply run inside; then
  // the tick's own exchange. Every exchange after a scan begins with the
  // descriptor.
  EXPECT_EQ(Kinds(), (std::vector{RequestKind::StorageQuery, RequestKind::Inquiry, RequestKind::ComputerMode,
                                  RequestKind::StorageQuery, RequestKind::Inquiry, RequestKind::ComputerMode,
                                  RequestKind::StorageQuery, RequestKind::Inquiry, RequestKind::ComputerMode,
                                  RequestKind::StorageQuery, RequestKind::Inquiry, RequestKind::LengthQuery}));
  EXPECT_EQ(process.PendingDeviceEvent, 0);
}

}  // namespace
}  // namespace pw::test
