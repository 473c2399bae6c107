// RunScannerRequest: the INQUIRY gate, the mode commands and the pull hook.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/scanner/ScannerFixture.h"

namespace pw::test {
namespace {

using scanner::ScannerRequestKind;
using Mode = sim::ScannerSimulator::Mode;

std::vector<sim::RequestKind> Kinds(const sim::ScannerSimulator& simulator) {
  std::vector<sim::RequestKind> kinds;
  for (const sim::RecordedRequest& r : simulator.Requests()) kinds.push_back(r.kind);
  return kinds;
}

class RecordingPuller final : public scanner::ImagePuller {
 public:
  explicit RecordingPuller(bool result) : result_(result) {}
  bool PullImage(const platform::DeviceHandle& device) override {
    ++calls;
    handle = device.get();
    return result_;
  }
  int calls = 0;
  platform::RawHandle handle = nullptr;

 private:
  bool result_;
};

TEST_F(ScannerFixture, CardModeKindSendsInquiryThenCardMode) {
  platform::DeviceHandle device = OpenVolume();
  EXPECT_TRUE(scanner::RunScannerRequest(device, ScannerRequestKind::RequestCardMode));
  EXPECT_EQ(Kinds(*simulator), (std::vector{sim::RequestKind::Inquiry, sim::RequestKind::CardMode}));
  EXPECT_EQ(simulator->CurrentMode(), Mode::Card);
}

TEST_F(ScannerFixture, ComputerModeKindSendsInquiryThenComputerMode) {
  platform::DeviceHandle device = OpenVolume();
  EXPECT_TRUE(scanner::RunScannerRequest(device, ScannerRequestKind::RequestComputerMode));
  EXPECT_EQ(Kinds(*simulator), (std::vector{sim::RequestKind::Inquiry, sim::RequestKind::ComputerMode}));
  EXPECT_EQ(simulator->CurrentMode(), Mode::Computer);
}

TEST_F(ScannerFixture, TheResultIsThatOfTheModeCommand) {
  simulator->AddFault({sim::RequestKind::ComputerMode, 0, 1, platform::error::kGenFailure});
  platform::DeviceHandle device = OpenVolume();
  EXPECT_FALSE(scanner::RunScannerRequest(device, ScannerRequestKind::RequestComputerMode));
  // No repetition within the call.
  EXPECT_EQ(Kinds(*simulator), (std::vector{sim::RequestKind::Inquiry, sim::RequestKind::ComputerMode}));
}

TEST_F(ScannerFixture, AFailedInquiryEndsTheExchangeWhateverTheKind) {
  RecordingPuller puller(true);
  for (auto kind : {ScannerRequestKind::RequestCardMode, ScannerRequestKind::RequestComputerMode,
                    ScannerRequestKind::RequestPull}) {
    simulator->ClearFaults();
    simulator->ClearRequests();
    simulator->AddFault({sim::RequestKind::Inquiry, 0, sim::kForever, platform::error::kSemTimeout});
    platform::DeviceHandle device = OpenVolume();
    EXPECT_FALSE(scanner::RunScannerRequest(device, kind, &puller)) << static_cast<int>(kind);
    EXPECT_EQ(Kinds(*simulator), (std::vector{sim::RequestKind::Inquiry})) << static_cast<int>(kind);
  }
  EXPECT_EQ(puller.calls, 0);
  EXPECT_EQ(simulator->CurrentMode(), Mode::Unset);
}

TEST_F(ScannerFixture, PullKindRunsThePullerOnTheSameDeviceAfterTheInquiry) {
  platform::DeviceHandle device = OpenVolume();
  RecordingPuller succeeding(true);
  EXPECT_TRUE(scanner::RunScannerRequest(device, ScannerRequestKind::RequestPull, &succeeding));
  EXPECT_EQ(succeeding.calls, 1);
  EXPECT_EQ(succeeding.handle, device.get());
  RecordingPuller failing(false);
  EXPECT_FALSE(scanner::RunScannerRequest(device, ScannerRequestKind::RequestPull, &failing));
  EXPECT_EQ(failing.calls, 1);
  EXPECT_EQ(Kinds(*simulator), (std::vector{sim::RequestKind::Inquiry, sim::RequestKind::Inquiry}));
}

TEST_F(ScannerFixture, PullKindWithoutAPullerSendsOnlyTheInquiry) {
  platform::DeviceHandle device = OpenVolume();
  EXPECT_FALSE(scanner::RunScannerRequest(device, ScannerRequestKind::RequestPull));
  EXPECT_EQ(Kinds(*simulator), (std::vector{sim::RequestKind::Inquiry}));
}

TEST_F(ScannerFixture, AnUnknownKindSendsNothingAfterTheInquiry) {
  platform::DeviceHandle device = OpenVolume();
  EXPECT_TRUE(scanner::RunScannerRequest(device, static_cast<ScannerRequestKind>(7)));
  EXPECT_TRUE(scanner::RunScannerRequest(device, static_cast<ScannerRequestKind>(-1)));
  EXPECT_EQ(Kinds(*simulator), (std::vector{sim::RequestKind::Inquiry, sim::RequestKind::Inquiry}));
  EXPECT_EQ(simulator->CurrentMode(), Mode::Unset);
}

TEST_F(ScannerFixture, AKeptBufferHoldsNothingOfAnEarlierExchange) {
  simulator->SetMode(Mode::Computer);
  simulator->QueueImage(PatternImage(100000, 8));
  platform::DeviceHandle device = OpenVolume();
  scanner::PassThroughBuffer buffer;
  ASSERT_TRUE(scanner::SendScannerCommand(device, buffer, scanner::ScannerCommand::LengthQueryCommand, 0).ok());
  ASSERT_TRUE(scanner::SendScannerCommand(device, buffer, scanner::ScannerCommand::ChunkReadCommand, 65536).ok());
  simulator->ClearRequests();
  EXPECT_TRUE(scanner::RunScannerRequest(device, ScannerRequestKind::RequestCardMode, buffer));
  const auto records = simulator->Requests();
  ASSERT_EQ(records.size(), 2u);
  // The mode command's reply is all that is left: nothing of the chunk.
  const auto bytes = buffer.Bytes().subspan(80);
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](std::byte b) { return b == std::byte{0}; }));
  EXPECT_EQ(simulator->CurrentMode(), Mode::Card);
}

TEST_F(ScannerFixture, ModeCommandsGoOutWithDataInAndOutputLength80) {
  platform::DeviceHandle device = OpenVolume();
  ASSERT_TRUE(scanner::RunScannerRequest(device, ScannerRequestKind::RequestCardMode));
  ASSERT_TRUE(scanner::RunScannerRequest(device, ScannerRequestKind::RequestComputerMode));
  for (sim::RequestKind kind : {sim::RequestKind::CardMode, sim::RequestKind::ComputerMode}) {
    const auto records = simulator->RequestsOf(kind);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(std::to_integer<int>(records[0].input[8]), 1);
    EXPECT_EQ(records[0].outputSize, 80u);
  }
}

}  // namespace
}  // namespace pw::test
