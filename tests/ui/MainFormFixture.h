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
#include "platform/host/World.h"
#include "scanner/PollHost.h"
#include "ui/FormOwner.h"
#include "ui/MainForm.h"
#include "ui/ProcessState.h"

namespace pw::ui::test {

inline constexpr const char* kProgramFolder = "C:\\Program Files\\Pagewick";
inline constexpr const char* kModulePath = "C:\\Program Files\\Pagewick\\pagewick.exe";
inline constexpr const char* kTextTablePath = "C:\\Program Files\\Pagewick\\rc.info";
// The settings file from Vista on; before Vista, and before the move, in Public Documents.
inline constexpr const char* kSettingsPath = "C:\\ProgramData\\Pagewick\\pagewick.info";
inline constexpr const char* kPublicSettingsPath = "C:\\Users\\Public\\Documents\\pagewick.info";

inline std::string ShippedTextTable() {
  std::ifstream in(std::filesystem::path(PAGEWICK_SOURCE_DIR) / "resources" / "rc.info", std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

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
    form = std::make_unique<TMainForm>(process, &link, &owner);
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

  host::World world;
  ProcessState process;
  RecordingScannerLink link;
  RecordingFormOwner owner;
  std::unique_ptr<TMainForm> form;
  int releases = 0;
};

}  // namespace pw::ui::test
