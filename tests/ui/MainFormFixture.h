#pragma once
// A host world with pagewick.exe and its text table installed, and a main
// window object ready for its start-up sequence.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Messages.h"
#include "platform/hostworld/World.h"
#include "scanner/PollHost.h"
#include "ui/FormOwner.h"
#include "ui/MainForm.h"
#include "ui/ProcessState.h"
#include "tests/support/Installation.h"

namespace pw::ui::test {

using pw::test::kModulePath;
using pw::test::kProgramFolder;
using pw::test::kPublicSettingsPath;
using pw::test::kTextTablePath;
using pw::test::ShippedTextTable;
inline constexpr const char* kSettingsPath = pw::test::kProgramDataSettingsPath;

// Records the scanner exchanges the window asks for.
class RecordingScannerLink : public scanner::ScannerLink {
 public:
  void ScanDrives(scanner::PollHost&) override { ++scans; }
  void PollScanner(scanner::PollHost&, scanner::ScannerRequestKind kind) override { polls.push_back(kind); }
  int scans = 0;
  std::vector<scanner::ScannerRequestKind> polls;
};

// Records the windows that asked their owner to destroy them.
class RecordingFormOwner : public FormOwner {
 public:
  void ReleaseForm(TMainForm& form) override { asked.push_back(&form); }
  std::vector<TMainForm*> asked;
};

class MainFormTest : public ::testing::Test {
 protected:
  MainFormTest() {
    world.MakeDirectories(kProgramFolder);
    world.WriteFile(kTextTablePath, ShippedTextTable());
    world.SetModuleFileName(kModulePath);
  }

  TMainForm& CreateForm() {
    form = TMainForm::Create(process, &link, &owner).value();
    process.MainForm.Set(form.get());
    form->FormCreate();
    return *form;
  }

  bool Exists(const std::string& windowsPath) const {
    return std::filesystem::exists(world.HostPath(windowsPath));
  }

  std::string Settings() const { return world.ReadFile(kSettingsPath); }

  // The test's thread is the window's: handles every waiting message, then,
  // at the top of the loop as the service does, destroys a window that asked
  // to go.
  void Pump() {
    while (std::optional<platform::Message> message = platform::PeekMessage()) platform::DispatchMessage(*message);
    if (owner.asked.empty()) return;
    EXPECT_EQ(owner.asked, std::vector<TMainForm*>{form.get()}) << "only the window asks, and once";
    owner.asked.clear();
    ++releases;
    form.reset();
  }

  hostworld::World world;
  ProcessState process;
  RecordingScannerLink link;
  RecordingFormOwner owner;
  std::unique_ptr<TMainForm> form;
  int releases = 0;
};

}  // namespace pw::ui::test
