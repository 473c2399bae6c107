// The demo: runs the program in a host world and shows what it did. It
// installs pagewick.exe with its text table under C:\Program Files\Pagewick,
// creates the main window (start-up sequence), applies the settings page and
// prints the application state and the settings file.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "platform/host/World.h"
#include "ui/MainForm.h"
#include "ui/ProcessState.h"

namespace {

constexpr const char* kProgramFolder = "C:\\Program Files\\Pagewick";

std::string ReadHostFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string Printable(std::string text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    out += c;
  }
  return out;
}

void PrintState(const pw::ui::TMainForm& form, const pw::ui::ProcessState& process) {
  std::cout << "Application state\n";
  std::cout << "  FilePrefix       = \"" << form.FilePrefix << "\"\n";
  std::cout << "  FolderPrefix     = \"" << form.FolderPrefix << "\"\n";
  std::cout << "  FolderCounter    = " << form.FolderCounter << "\n";
  std::cout << "  SaveMode         = " << form.SaveMode << "\n";
  std::cout << "  SystemDriveRoot  = \"" << form.SystemDriveRoot << "\"\n";
  std::cout << "  DefaultSavePath  = \"" << form.DefaultSavePath << "\"\n";
  std::cout << "  ActiveSavePath   = \"" << form.ActiveSavePath << "\"\n";
  std::cout << "  OsVersion        = " << form.OsVersion.majorVersion << "." << form.OsVersion.minorVersion
            << " build " << form.OsVersion.buildNumber << ", platform " << form.OsVersion.platformId << "\n";
  std::cout << "  SettingsFilePath = \"" << form.SettingsFilePath << "\"\n";
  std::cout << "  PendingDeviceEvent = " << process.PendingDeviceEvent
            << ", ScannerAttached = " << process.ScannerAttached << "\n";
  std::cout << "Settings page\n";
  std::cout << "  " << form.SaveLbl.Caption() << " [" << form.SaveComboBx.Text() << "] (item "
            << form.SaveComboBx.ItemIndex() << " of " << form.SaveComboBx.Items().size() << ")\n";
  std::cout << "  " << form.PathLbl.Caption() << " " << form.PathEdit.Text() << "  [" << form.BrowseBtn.Caption()
            << "]\n";
  std::cout << "  [" << form.ApplyBtn.Caption() << (form.ApplyBtn.Enabled() ? "" : " (disabled)") << "]  ["
            << form.CancelBtn.Caption() << "]\n";
  std::cout << "  auto-rotate: " << (form.AutoRCheckBx.Checked() ? "on" : "off") << "; poll timer: "
            << (form.Timer1.Enabled() ? "every " + std::to_string(form.Timer1.Interval()) + " ms" : "stopped")
            << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::filesystem::path> worldRoot;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--world" && i + 1 < argc) worldRoot = argv[++i];
  }
  try {
    pw::host::World::Options options;
    if (worldRoot) options.root = *worldRoot;
    pw::host::World world(options);
    std::cout << "Host world: " << world.Root().string() << (worldRoot ? "" : " (temporary)") << "\n";

    world.MakeDirectories(kProgramFolder);
    world.WriteFile(std::string(kProgramFolder) + "\\rc.info",
                    ReadHostFile(std::filesystem::path(PAGEWICK_SOURCE_DIR) / "resources" / "rc.info"));
    world.SetModuleFileName(std::string(kProgramFolder) + "\\pagewick.exe");

    pw::ui::ProcessState process;
    pw::ui::TMainForm form(process, nullptr);
    process.MainForm = &form;

    std::cout << "\n== Start-up sequence ==\n";
    form.FormCreate();
    PrintState(form, process);

    std::cout << "\n== Apply ==\n";
    form.ApplyBtnClick();
    PrintState(form, process);

    std::cout << "\n== Settings file " << form.SettingsFilePath << " ==\n";
    std::cout << Printable(world.ReadFile(form.SettingsFilePath));
    return EXIT_SUCCESS;
  } catch (const std::exception& error) {
    std::cerr << "demo failed: " << error.what() << "\n";
    return EXIT_FAILURE;
  }
}
