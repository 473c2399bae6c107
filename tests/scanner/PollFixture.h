#pragma once
// The program's main window in a host world, with its own drive poll and the
// scanner simulator behind removable drive E:. The window's thread is the
// test's thread: the test advances the world's clock and pumps the messages,
// as the service thread's loop does.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Messages.h"
#include "platform/StorageDevice.h"
#include "platform/hostworld/World.h"
#include "tools/scanner-sim/ScannerSimulator.h"
#include "ui/FormOwner.h"
#include "ui/MainForm.h"
#include "ui/ProcessState.h"
#include "tests/support/Installation.h"
#include "tests/support/PatternImage.h"

namespace pw::sim {
// Request kinds by name in test failures.
inline void PrintTo(RequestKind kind, std::ostream* out) { *out << RequestKindName(kind); }
}  // namespace pw::sim

namespace pw::test {

inline constexpr const char* kSettingsPath = kProgramDataSettingsPath;
inline constexpr const char* kScratchPath = "C:\\ProgramData\\Pagewick\\tmp.jpg";
inline constexpr const char* kPictures = "C:\\Users\\Public\\Pictures";
inline constexpr const char* kFirstImage = "C:\\Users\\Public\\Pictures\\Photo1\\img0001.jpg";

inline std::string Text(std::span<const std::byte> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Stands between the volume and the simulator: the test may act just before
// a request reaches the device (advance the clock as a slow device would,
// change the world in the middle of a transfer).
class HookedDevice final : public hostworld::Device {
 public:
  explicit HookedDevice(std::shared_ptr<hostworld::Device> inner) : inner_(std::move(inner)) {}

  // The SCSI operation code of a pass-through request (0x52 length query,
  // 0x53 chunk read ...), 0 for the storage query.
  std::function<void(std::uint8_t operation)> before;
  // Just after the device answered: may take the answer away (a request that
  // the device carried out but whose answer never came back).
  std::function<void(std::uint8_t operation, platform::IoControlResult& result)> after;

  platform::IoControlResult IoControl(std::uint32_t controlCode, std::span<const std::byte> input,
                                      std::span<std::byte> output) override {
    std::uint8_t operation = 0;
    if (controlCode == platform::kIoctlScsiPassThrough && input.size() > 28) {
      operation = std::to_integer<std::uint8_t>(input[28]);
    }
    if (before) before(operation);
    platform::IoControlResult result = inner_->IoControl(controlCode, input, output);
    if (after) after(operation, result);
    return result;
  }

 private:
  std::shared_ptr<hostworld::Device> inner_;
};

inline constexpr std::uint8_t kLengthQueryOperation = 0x52;
inline constexpr std::uint8_t kChunkReadOperation = 0x53;

// Records the windows that asked their owner to destroy them.
class RecordingFormOwner : public ui::FormOwner {
 public:
  void ReleaseForm(ui::TMainForm& form) override { asked.push_back(&form); }
  std::vector<ui::TMainForm*> asked;
};

class PollFixture : public ::testing::Test {
 protected:
  PollFixture() {
    world.MakeDirectories(kProgramFolder);
    world.WriteFile(std::string(kProgramFolder) + "\\rc.info", ShippedTextTable());
    world.SetModuleFileName(kModulePath);
    world.AddDrive('E', platform::DriveType::Removable);
  }
  ~PollFixture() override { form.reset(); }

  // Plugs the simulated scanner into drive E: (the world broadcasts the arrival).
  void Plug() { world.AttachDevice('E', device); }
  // Unplugs it as Windows does: the removal is broadcast and the volume is gone.
  void Unplug() {
    world.DetachDevice('E');
    world.UnmapDrive('E');
  }

  // Creates the main window with its own drive poll and runs its start-up sequence.
  ui::TMainForm& CreateForm() {
    form = ui::TMainForm::Create(process, nullptr, &owner).value();
    process.MainForm.Set(form.get());
    form->FormCreate();
    return *form;
  }
  // As the service starts: the window is created, shown (its activation scans
  // the drives and applies the page, which starts the poll timer) and hidden.
  ui::TMainForm& StartLikeTheService() {
    CreateForm();
    form->Show();
    form->Hide();
    Pump();
    return *form;
  }

  // Handles every waiting message, then, at the top of the loop as the
  // service does, destroys a window that asked to go.
  void Pump() {
    while (std::optional<platform::Message> message = platform::PeekMessage()) platform::DispatchMessage(*message);
    if (owner.asked.empty()) return;
    EXPECT_EQ(owner.asked, std::vector<ui::TMainForm*>{form.get()}) << "only the window asks, and once";
    owner.asked.clear();
    ++releases;
    form.reset();
  }
  // Lets time pass on the world's clock and handles what became due.
  void Advance(std::uint32_t milliseconds) {
    world.Desktop().AdvanceTime(milliseconds);
    Pump();
  }

  bool Exists(const std::string& windowsPath) const { return platform::FileExists(windowsPath); }
  std::string Read(const std::string& windowsPath) const { return world.ReadFile(windowsPath); }

  std::vector<sim::RequestKind> Kinds() const {
    std::vector<sim::RequestKind> kinds;
    for (const sim::RecordedRequest& r : simulator->Requests()) kinds.push_back(r.kind);
    return kinds;
  }
  // The offsets of the recorded length queries, in order.
  std::vector<std::uint32_t> QueriedOffsets() const {
    std::vector<std::uint32_t> offsets;
    for (const sim::RecordedRequest& r : simulator->RequestsOf(sim::RequestKind::LengthQuery)) {
      offsets.push_back((std::uint32_t{r.cdb[1]} << 24) | (std::uint32_t{r.cdb[2]} << 16) |
                        (std::uint32_t{r.cdb[3]} << 8) | r.cdb[4]);
    }
    return offsets;
  }

  hostworld::World world;
  std::shared_ptr<sim::ScannerSimulator> simulator = std::make_shared<sim::ScannerSimulator>();
  std::shared_ptr<HookedDevice> device = std::make_shared<HookedDevice>(simulator);
  ui::ProcessState process;
  RecordingFormOwner owner;
  std::unique_ptr<ui::TMainForm> form;
  int releases = 0;
};

}  // namespace pw::test
