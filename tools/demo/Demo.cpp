// The demo: the program at work in a host world, told as the user would see
// it. pagewick.exe and its text table are installed under
// C:\Program Files\Pagewick; the main window is created, shown and hidden as
// the service does at its start (its activation scans the drives and applies
// the settings page, which starts the poll timer); the scanner simulator is
// plugged in as E: with three pictures; the world's clock moves on, so the
// timer polls and the pictures are pulled into Photo1, the one taken sideways
// turned upright, and the folder opens in the explorer. Then the drive fills
// up: the next picture goes to the scratch file and a message box tells the
// user. Last the scanner is unplugged.
//
//   pagewick-demo [--world DIR]   keep the world in DIR (default: a temporary folder)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/Messages.h"
#include "platform/Windows.h"
#include "platform/host/World.h"
#include "tools/scanner-sim/ScannerPicture.h"
#include "tools/scanner-sim/ScannerSimulator.h"
#include "ui/FormOwner.h"
#include "ui/MainForm.h"
#include "ui/ProcessState.h"

namespace {

constexpr const char* kProgramFolder = "C:\\Program Files\\Pagewick";
constexpr char kScannerDrive = 'E';

std::string ReadHostFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// A text file as it reads on screen: CRLF as line breaks, indented.
std::string Indented(const std::string& text) {
  std::string out = "    ";
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') continue;
    out += text[i];
    if (text[i] == '\n' && i + 1 < text.size()) out += "    ";
  }
  if (!out.empty() && out.back() != '\n') out += '\n';
  return out;
}

// What a JPEG file shows of itself: its size in pixels, its comments and its
// EXIF orientation (read from the markers before the image data).
struct JpegFacts {
  int width = 0;
  int height = 0;
  std::vector<std::string> comments;
  std::optional<int> orientation;
};

JpegFacts ReadJpegFacts(const std::string& file) {
  JpegFacts facts;
  auto byte = [&file](std::size_t at) { return static_cast<unsigned char>(file[at]); };
  if (file.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8) return facts;
  std::size_t at = 2;
  while (at + 4 <= file.size() && byte(at) == 0xFF) {
    const int code = byte(at + 1);
    if (code == 0xDA || code == 0xD9) break;
    const std::size_t length = (std::size_t{byte(at + 2)} << 8) | byte(at + 3);
    if (length < 2 || at + 2 + length > file.size()) break;
    const std::size_t data = at + 4;
    if (code == 0xFE) {
      std::string text = file.substr(data, length - 2);
      if (!text.empty() && text.back() == '\0') text.pop_back();
      facts.comments.push_back(text);
    } else if (code == 0xC0 || code == 0xC1 || code == 0xC2) {
      facts.height = (byte(data + 1) << 8) | byte(data + 2);
      facts.width = (byte(data + 3) << 8) | byte(data + 4);
    } else if (code == 0xE1 && file.compare(data, 6, std::string("Exif\0\0", 6)) == 0 && length >= 2 + 6 + 8 + 2 + 12) {
      // An Intel-order TIFF block whose IFD0 starts with Orientation, as the scanner writes it.
      const std::size_t tiff = data + 6;
      if (file.compare(tiff, 2, "II") == 0 && byte(tiff + 10) == 0x12 && byte(tiff + 11) == 0x01) {
        facts.orientation = byte(tiff + 18) | (byte(tiff + 19) << 8);
      }
    }
    at += 2 + length;
  }
  return facts;
}

std::string Describe(const JpegFacts& facts) {
  std::ostringstream out;
  out << facts.width << " x " << facts.height << " pixels";
  if (facts.orientation) out << ", EXIF orientation " << *facts.orientation;
  for (const std::string& comment : facts.comments) out << ", comment \"" << comment << "\"";
  return out.str();
}

class Demo final : public pw::ui::FormOwner {
 public:
  explicit Demo(pw::host::World& world) : world_(world), desktop_(world.Desktop()) {}

  // The window asked to go (Exit); nothing in the demo chooses it.
  void ReleaseForm(pw::ui::TMainForm&) override { released_ = true; }

  int Run() {
    Step("Installing the program");
    world_.MakeDirectories(kProgramFolder);
    world_.WriteFile(std::string(kProgramFolder) + "\\rc.info",
                     ReadHostFile(std::filesystem::path(PAGEWICK_SOURCE_DIR) / "resources" / "rc.info"));
    world_.SetModuleFileName(std::string(kProgramFolder) + "\\pagewick.exe");
    // Auto-rotation is switched through the settings file (its check box is
    // hidden on the page).
    const std::string settingsPath = "C:\\Users\\Public\\Documents\\pagewick.info";
    world_.WriteFile(settingsPath, "[Setting]\r\nAutoRoate=1\r\n");
    Say("C:\\Program Files\\Pagewick holds pagewick.exe and rc.info; " + settingsPath +
        " switches auto-rotation on (AutoRoate=1).");

    Step("The service starts: main window created, shown and hidden");
    form_ = std::make_unique<pw::ui::TMainForm>(process_, nullptr, this);
    process_.MainForm = form_.get();
    form_->FormCreate();
    form_->Show();
    form_->Hide();
    Pump();
    Say("Settings page: " + form_->SaveLbl.Caption() + " [" + form_->SaveComboBx.Text() + "], " +
        form_->PathLbl.Caption() + " " + form_->PathEdit.Text() + ", auto-rotate " +
        (form_->AutoRCheckBx.Checked() ? "on" : "off") + ".");
    Say("The activation scanned the drives (no scanner yet) and applied the page: the poll timer runs every " +
        std::to_string(form_->Timer1.Interval()) + " ms. The window is hidden again; the tray icon stays.");

    Step("The scanner is plugged in as E: with three pictures");
    auto scanner = std::make_shared<pw::sim::ScannerSimulator>();
    scanner->SetChunkPolicy(pw::sim::ChunkPolicy::Fixed(16384));
    pw::sim::PictureRecipe sideways;
    sideways.width = 640;
    sideways.height = 480;
    sideways.orientation = 8;
    sideways.dateTime = "2024:05:17 10:20:30";
    scanner->QueueImage(pw::sim::MakeScannerPicture(sideways));
    pw::sim::PictureRecipe upright = sideways;
    upright.orientation = 1;
    upright.seed = 2;
    upright.dateTime = "2024:05:17 10:21:05";
    scanner->QueueImage(pw::sim::MakeScannerPicture(upright));
    pw::sim::PictureRecipe plain = sideways;
    plain.exif = false;
    plain.seed = 3;
    scanner->QueueImage(pw::sim::MakeScannerPicture(plain));
    world_.AddDrive(kScannerDrive, pw::platform::DriveType::Removable);
    world_.AttachDevice(kScannerDrive, scanner);
    Say("Removable drive E: answers as product \"SCAN\", revision \"1000\"; it holds a picture taken sideways "
        "(EXIF orientation 8), an upright one, and one without EXIF.");

    Step("Time passes: the poll timer ticks");
    for (int tick = 0; tick < 6 && (scanner->QueuedImages() > 0 || process_.ScannerAttached == 0); ++tick) Tick();

    Step("The save location's drive fills up");
    world_.SetDriveFreeBytes('C', 3 * 1024 * 1024);
    Say("Drive C: now has 3 MiB free, less than twice the 2000000 bytes a pull asks room for.");
    desktop_.SetMessageBoxDriver([this](const pw::host::MessageBoxRecord& box, pw::host::ModalLoop&) {
      Say("A message box \"" + box.caption + "\" appears:");
      Say("  \"" + box.text + "\"");
      const std::string scratch = form_->FallbackImagePath();
      Say("  (meanwhile the picture sits in the scratch file " + scratch + ", " +
          std::to_string(world_.ReadFile(scratch).size()) + " bytes)");
      Say("The user presses OK.");
      return pw::platform::dialog_result::kOk;
    });
    sideways.seed = 4;
    scanner->QueueImage(pw::sim::MakeScannerPicture(sideways));
    Say("A fourth picture is scanned.");
    Tick();
    Say(std::string("Scratch file after the poll: ") +
        (pw::platform::FileExists(form_->FallbackImagePath()) ? "still there" : "deleted") + ".");

    Step("The scanner is unplugged");
    world_.DetachDevice(kScannerDrive);
    world_.UnmapDrive(kScannerDrive);
    Tick();

    Step("What is on disk");
    for (const pw::platform::FindEntry& entry :
         pw::platform::FindFiles(form_->PathEdit.Text() + "\\" + form_->FolderPrefix + "1\\*.*").entries) {
      Say(form_->PathEdit.Text() + "\\" + form_->FolderPrefix + "1\\" + entry.name + "  (" +
          std::to_string(entry.size) + " bytes)");
    }
    Say("Settings file " + form_->SettingsFilePath + ":");
    std::cout << Indented(world_.ReadFile(form_->SettingsFilePath));
    const bool ok = pulled_ == 3 && boxes_ == 1 && process_.ScannerAttached == 0 && !released_;
    std::cout << "\n" << (ok ? "Demo finished." : "Demo finished, but not everything happened as it should.") << "\n";
    return ok ? EXIT_SUCCESS : EXIT_FAILURE;
  }

 private:
  static void Step(const std::string& title) { std::cout << "\n== " << title << " ==\n"; }
  static void Say(const std::string& line) { std::cout << "  " << line << "\n"; }

  void Pump() {
    while (std::optional<pw::platform::Message> message = pw::platform::PeekMessage()) {
      pw::platform::DispatchMessage(*message);
    }
  }

  // One period of the poll timer on the world's clock, and what it brought.
  void Tick() {
    const bool wasAttached = process_.ScannerAttached != 0;
    const std::size_t explores = desktop_.ShellExecutes().size();
    const std::size_t boxes = desktop_.MessageBoxes().size();
    const std::vector<std::string> before = ImageFiles();
    desktop_.AdvanceTime(form_->Timer1.Interval());
    std::cout << "  -- tick at " << static_cast<double>(desktop_.Now()) / 1000.0 << " s\n";
    Pump();

    if (!wasAttached && process_.ScannerAttached != 0) {
      Say("The scanner is recognised on " + std::string(process_.ScannerDevicePath.data()) +
          " and told the save type; the main window is shown" +
          (pw::platform::IsWindowVisible(form_->Handle()) ? "" : " (and hidden again)") + ".");
    }
    if (wasAttached && process_.ScannerAttached == 0) {
      Say("The scanner's drive cannot be opened any more: it is detached, and polling stops until it comes back.");
    }
    for (const std::string& file : ImageFiles()) {
      if (std::find(before.begin(), before.end(), file) != before.end()) continue;
      ++pulled_;
      Say("Pulled " + file + ": " + Describe(ReadJpegFacts(world_.ReadFile(file))));
    }
    const auto shellExecutes = desktop_.ShellExecutes();
    for (std::size_t i = explores; i < shellExecutes.size(); ++i) {
      std::string title = shellExecutes[i].file;
      if (!title.empty() && title.back() == '\\') title.pop_back();
      title = title.substr(title.find_last_of('\\') + 1);
      const bool open = pw::platform::FindWindow("CabinetWClass", title) != nullptr;
      Say("The explorer opens \"" + shellExecutes[i].file + "\" (verb \"" + shellExecutes[i].verb + "\")" +
          (open ? ": a window titled \"" + title + "\" is on the desktop." : "."));
    }
    if (shellExecutes.size() == explores && ImageFiles().size() > before.size() && !before.empty()) {
      Say("An explorer window already shows the folder: it is not opened again.");
    }
    boxes_ += desktop_.MessageBoxes().size() - boxes;
  }

  // The numbered images below the save location's first folder.
  std::vector<std::string> ImageFiles() const {
    std::vector<std::string> files;
    const std::string folder = form_->PathEdit.Text() + "\\" + form_->FolderPrefix + "1";
    for (const pw::platform::FindEntry& entry : pw::platform::FindFiles(folder + "\\" + form_->FilePrefix + "*.*").entries) {
      files.push_back(folder + "\\" + entry.name);
    }
    std::sort(files.begin(), files.end());
    return files;
  }

  pw::host::World& world_;
  pw::host::Desktop& desktop_;
  pw::ui::ProcessState process_;
  std::unique_ptr<pw::ui::TMainForm> form_;
  bool released_ = false;
  int pulled_ = 0;
  std::size_t boxes_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::filesystem::path> worldRoot;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--world" && i + 1 < argc) {
      worldRoot = argv[++i];
    } else {
      std::cerr << "usage: pagewick-demo [--world DIR]\n";
      return 2;
    }
  }
  try {
    pw::host::World::Options options;
    if (worldRoot) options.root = *worldRoot;
    pw::host::World world(options);
    std::cout << "Host world: " << world.Root().string() << (worldRoot ? "" : " (temporary)") << "\n";
    return Demo(world).Run();
  } catch (const std::exception& error) {
    std::cerr << "demo failed: " << error.what() << "\n";
    return EXIT_FAILURE;
  }
}
