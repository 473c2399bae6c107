#pragma once
// A host world with pagewick.exe and its text table installed, and a main
// window object ready for its start-up sequence.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/World.h"
#include "ui/MainForm.h"
#include "ui/ProcessState.h"
#include "ui/ScannerLink.h"

namespace pw::ui::test {

inline constexpr const char* kProgramFolder = "C:\\Program Files\\Pagewick";
inline constexpr const char* kModulePath = "C:\\Program Files\\Pagewick\\pagewick.exe";
inline constexpr const char* kTextTablePath = "C:\\Program Files\\Pagewick\\rc.info";
inline constexpr const char* kSettingsPath = "C:\\Users\\Public\\Documents\\pagewick.info";

inline std::string ShippedTextTable() {
  std::ifstream in(std::filesystem::path(PAGEWICK_SOURCE_DIR) / "resources" / "rc.info", std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Records the scanner exchanges the window asks for.
class RecordingScannerLink : public ScannerLink {
 public:
  void ScanDrives(TMainForm&) override { ++scans; }
  void PollScanner(TMainForm&, scanner::ScannerRequestKind kind) override { polls.push_back(kind); }
  int scans = 0;
  std::vector<scanner::ScannerRequestKind> polls;
};

class MainFormTest : public ::testing::Test {
 protected:
  MainFormTest() {
    world.MakeDirectories(kProgramFolder);
    world.WriteFile(kTextTablePath, ShippedTextTable());
    world.SetModuleFileName(kModulePath);
  }

  TMainForm& CreateForm() {
    form = std::make_unique<TMainForm>(process, &link);
    process.MainForm = form.get();
    form->FormCreate();
    return *form;
  }

  bool Exists(const std::string& windowsPath) const {
    return std::filesystem::exists(world.HostPath(windowsPath));
  }

  std::string Settings() const { return world.ReadFile(kSettingsPath); }

  host::World world;
  ProcessState process;
  RecordingScannerLink link;
  std::unique_ptr<TMainForm> form;
};

}  // namespace pw::ui::test
