// Shows the main window in a host world and prints the simulated desktop:
// the window appears through a click on the tray icon, then the user picks
// the card save type, cancels, and opens the page again from the tray menu.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/Messages.h"
#include "platform/Windows.h"
#include "platform/hostworld/World.h"
#include "ui/MainForm.h"
#include "ui/ProcessState.h"

namespace {

constexpr const char* kProgramFolder = "C:\\Program Files\\Pagewick";

void Pump() {
  while (std::optional<pw::platform::Message> message = pw::platform::PeekMessage()) {
    pw::platform::DispatchMessage(*message);
  }
}

void PrintDesktop(const char* moment, pw::hostworld::World& world, const pw::ui::TMainForm& form) {
  std::cout << "== " << moment << "\n";
  for (pw::platform::WindowHandle window : world.Desktop().TopLevelWindows()) {
    std::string title = pw::platform::GetWindowText(window);
    if (title.empty()) continue;
    std::cout << "  window \"" << title << "\" " << (pw::platform::IsWindowVisible(window) ? "visible" : "hidden")
              << (pw::platform::GetForegroundWindow() == window ? ", foreground" : "") << "\n";
  }
  std::cout << "  tray icons: " << world.Desktop().TrayIcons().size() << "\n";
  if (!pw::platform::IsWindowVisible(form.Handle())) return;
  std::cout << "  +-- Pagewick ---------------------------------------------+\n";
  std::cout << "  | " << form.SaveLbl.Caption() << "  [" << form.SaveComboBx.Text() << " v]\n";
  std::cout << "  | " << form.PathLbl.Caption() << "  " << form.PathEdit.Text()
            << (form.BrowseBtn.Enabled() ? "  [" : "  (") << form.BrowseBtn.Caption()
            << (form.BrowseBtn.Enabled() ? "]" : ")") << "\n";
  std::cout << "  | picture: " << (form.DesImage.Picture() == form.SDImage.Picture() ? "memory card" : "computer")
            << "\n";
  std::cout << "  |" << std::string(30, ' ') << "[" << form.ApplyBtn.Caption()
            << (form.ApplyBtn.Enabled() ? "" : " (disabled)") << "]  [" << form.CancelBtn.Caption() << "]\n";
  std::cout << "  +---------------------------------------------------------+\n";
}

std::string ReadHostFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

int main() {
  try {
    pw::hostworld::World world;
    world.MakeDirectories(kProgramFolder);
    world.WriteFile(std::string(kProgramFolder) + "\\rc.info",
                    ReadHostFile(std::filesystem::path(PAGEWICK_SOURCE_DIR) / "resources" / "rc.info"));
    world.SetModuleFileName(std::string(kProgramFolder) + "\\pagewick.exe");
    pw::platform::EnsureMessageQueue();

    pw::ui::ProcessState process;
    const std::unique_ptr<pw::ui::TMainForm> made = pw::ui::TMainForm::Create(process, nullptr).value();
    pw::ui::TMainForm& form = *made;
    process.MainForm.Set(&form);
    form.FormCreate();
    PrintDesktop("created", world, form);

    world.Desktop().ClickTrayIcon(1, pw::hostworld::MouseButton::Left);
    Pump();
    PrintDesktop("tray icon clicked", world, form);

    form.SaveComboBx.UserSelect(0);
    PrintDesktop("card save type picked", world, form);
    form.CancelBtn.Click();
    PrintDesktop("Cancel pressed", world, form);

    world.Desktop().SetMenuDriver([](const pw::hostworld::MenuRecord& menu, pw::hostworld::ModalLoop&) {
      std::cout << "  tray menu:";
      for (const auto& [id, text] : menu.items) std::cout << " [" << text << "]";
      std::cout << " -> " << menu.items.front().second << "\n";
      return menu.items.front().first;
    });
    world.Desktop().ClickTrayIcon(1, pw::hostworld::MouseButton::Right);
    Pump();
    PrintDesktop("Settings chosen from the tray menu (activation applied the card type)", world, form);
  } catch (const std::exception& e) {
    std::cerr << "pagewick-window-demo: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
