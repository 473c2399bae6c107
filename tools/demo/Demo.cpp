// The demo: the main job done by the real executables in a fresh host world.
// pagewick installs itself (silently), the scanner simulator's executable is
// plugged in as removable drive E: with sample photographs (two taken
// sideways, with EXIF orientation 8), pagewick-sc starts the service, and
// each picture is reported as it lands in Photo1: its name, its size and the
// rate of its transfer, then a summary. pagewick-sc stops the service. Then
// the save location's drive fills up: the world's free-space figure for C: is
// set low, the next picture goes to the scratch file and the message box with
// the disk-full text is shown. Last pagewick uninstalls itself.
//
// The world's free-space figures and its record of message boxes live in the
// memory of the process that holds the world; they do not cross into the
// service's process. So the disk-full step runs the same program code (the
// main window, its poll and its pull) in this process, in the same world and
// with the settings the service left behind, after the service has stopped.
//
// A picture that does not arrive ends the demo with a non-zero exit status
// and one line saying which.
//
//   pagewick-demo [--world DIR] [--plug-after-start]
//     --world DIR          keep the world in DIR (default: a temporary folder, removed)
//     --plug-after-start   plug the scanner in while the service runs (default: before it starts)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/Messages.h"
#include "platform/hostworld/DeviceSocket.h"
#include "platform/hostworld/ProcessRunning.h"
#include "platform/hostworld/UniqueFd.h"
#include "platform/hostworld/World.h"
#include "platform/hostworld/WorldSessions.h"
#include "tools/scanner-sim/ScannerPicture.h"
#include "tools/scanner-sim/ScannerSimulator.h"
#include "ui/MainForm.h"
#include "ui/ProcessState.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr char kScannerDrive = 'E';
constexpr const char* kServiceName = "Service1";
// The scanner hands out the pictures in pieces no larger than a USB transfer.
constexpr const char* kChunkPolicy = "random:7:16384:65536";
constexpr auto kPictureDeadline = 30s;
constexpr auto kCommandDeadline = 30s;

// A failure of the demo: what did not happen, in one line.
struct DemoFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void Step(const std::string& title) { std::cout << "\n== " << title << " ==\n" << std::flush; }
void Say(const std::string& line) { std::cout << "  " << line << "\n" << std::flush; }

std::string Megabytes(std::uintmax_t bytes) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(2) << static_cast<double>(bytes) / 1e6 << " MB";
  return out.str();
}

std::string ReadHostFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteHostFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw DemoFailure("cannot write " + path.string());
}

// EXIF orientation and pixel size of a JPEG, read from its markers.
struct JpegFacts {
  int width = 0;
  int height = 0;
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
    if ((code == 0xC0 || code == 0xC1 || code == 0xC2) && length >= 7) {
      facts.height = (byte(data + 1) << 8) | byte(data + 2);
      facts.width = (byte(data + 3) << 8) | byte(data + 4);
    } else if (code == 0xE1 && length >= 2 + 6 + 8 + 2 + 12 && file.compare(data, 6, std::string("Exif\0\0", 6)) == 0) {
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
  std::string text = std::to_string(facts.width) + " x " + std::to_string(facts.height);
  if (facts.orientation) text += ", orientation " + std::to_string(*facts.orientation);
  return text;
}

// A child process with PAGEWICK_WORLD naming the world; its output goes to a
// log file. Killed and reaped when the object goes, unless it ended before.
class Child {
 public:
  Child(const std::vector<std::string>& arguments, const fs::path& log) {
    std::vector<std::string> args = arguments;
    std::vector<char*> argv;
    for (std::string& argument : args) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const std::string logText = log.string();
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = ::open(logText.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (fd >= 0) {
        ::dup2(fd, STDOUT_FILENO);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
      }
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    if (pid_ < 0) throw DemoFailure("cannot start " + arguments[0]);
  }
  ~Child() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The exit code once the process has ended within the timeout.
  std::optional<int> Wait(Clock::duration timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      int status = 0;
      if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (Clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(5ms);
    }
  }

  // Asks the process to end (as a user unplugs the scanner) and reaps it.
  void Terminate() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    if (!Wait(5s)) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
};

// Reports the numbered pictures that land below the save location: a file
// is created when its pull starts and closed after its last chunk (the
// auto-rotate step may rewrite it later).
class LandingWatch {
 public:
  struct Landing {
    std::string name;  // Photo1\img0001.jpg
    fs::path path;
    std::uintmax_t bytes = 0;
    double seconds = 0;
  };

  explicit LandingWatch(fs::path saveLocation) : saveLocation_(std::move(saveLocation)) {
    fd_.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!fd_.valid()) throw DemoFailure("inotify is not available");
    Add(saveLocation_);
  }
  LandingWatch(const LandingWatch&) = delete;
  LandingWatch& operator=(const LandingWatch&) = delete;

  // The next landing, or nothing when none came before the deadline.
  std::optional<Landing> Next(Clock::time_point deadline) {
    while (Clock::now() < deadline) {
      if (!landed_.empty()) {
        Landing landing = landed_.front();
        landed_.erase(landed_.begin());
        return landing;
      }
      pollfd waiting{fd_.get(), POLLIN, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (::poll(&waiting, 1, static_cast<int>(std::clamp<long long>(left, 0, 100))) > 0) Drain();
    }
    return std::nullopt;
  }

 private:
  void Add(const fs::path& folder) {
    const int wd = ::inotify_add_watch(fd_.get(), folder.c_str(), IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO);
    if (wd < 0) throw DemoFailure("cannot watch " + folder.string());
    folders_[wd] = folder;
    folderWatch_[folder] = wd;
  }

  static bool IsPicture(const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0;
  }

  void Started(const fs::path& file, Clock::time_point when) {
    if (!started_.count(file) && !done_.count(file)) started_[file] = when;
  }

  void Drain() {
    alignas(inotify_event) char buffer[16384];
    for (;;) {
      const ssize_t got = ::read(fd_.get(), buffer, sizeof buffer);
      if (got <= 0) return;
      const auto now = Clock::now();
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (event->len == 0 || !folders_.count(event->wd)) continue;
        const fs::path path = folders_[event->wd] / event->name;
        if ((event->mask & IN_CREATE) && (event->mask & IN_ISDIR)) {
          // A new image folder: its first picture may be there already.
          Add(path);
          std::error_code ec;
          for (const auto& entry : fs::directory_iterator(path, ec)) {
            const std::string name = entry.path().filename().string();
            if (IsPicture(name)) Started(entry.path(), now);
            if (!name.empty() && name[0] == '~') transferStarted_[folderWatch_[path]] = now;
          }
        } else if ((event->mask & IN_CREATE) && event->name[0] == '~') {
          // A picture arrives in a transfer file of its folder and takes its
          // name once whole.
          transferStarted_[event->wd] = now;
        } else if ((event->mask & IN_MOVED_TO) && IsPicture(event->name) && !done_.count(path)) {
          const auto transfer = transferStarted_.find(event->wd);
          started_[path] = transfer != transferStarted_.end() ? transfer->second : now;
          if (transfer != transferStarted_.end()) transferStarted_.erase(transfer);
          Land(path, now);
        } else if ((event->mask & IN_CREATE) && IsPicture(event->name)) {
          Started(path, now);
        } else if ((event->mask & IN_CLOSE_WRITE) && started_.count(path)) {
          Land(path, now);
        }
      }
    }
  }

  void Land(const fs::path& path, Clock::time_point now) {
    Landing landing;
    landing.path = path;
    landing.name = fs::relative(path, saveLocation_).string();
    std::replace(landing.name.begin(), landing.name.end(), '/', '\\');
    std::error_code ec;
    landing.bytes = fs::file_size(path, ec);
    // As this watcher saw it: from the wake-up that saw the transfer (or the
    // file) created to the one that saw the picture take its name (or close).
    landing.seconds = std::chrono::duration<double>(now - started_[path]).count();
    started_.erase(path);
    done_.insert(path);
    landed_.push_back(landing);
  }

  fs::path saveLocation_;
  pw::hostworld::UniqueFd fd_;
  std::map<int, fs::path> folders_;
  std::map<fs::path, int> folderWatch_;
  std::map<fs::path, Clock::time_point> started_;
  std::map<int, Clock::time_point> transferStarted_;  // by folder
  std::set<fs::path> done_;
  std::vector<Landing> landed_;
};

// A sample photograph as the scanner makes it.
struct Sample {
  std::string what;
  pw::sim::PictureRecipe recipe;
};

std::vector<Sample> Samples() {
  std::vector<Sample> samples;
  auto add = [&samples](std::string what, int width, int height, std::uint16_t orientation, bool exif,
                        std::uint32_t seed, std::string when) {
    Sample sample;
    sample.what = std::move(what);
    sample.recipe.width = width;
    sample.recipe.height = height;
    sample.recipe.orientation = orientation;
    sample.recipe.exif = exif;
    sample.recipe.seed = seed;
    sample.recipe.dateTime = std::move(when);
    sample.recipe.quality = 95;
    samples.push_back(std::move(sample));
  };
  add("taken sideways (EXIF orientation 8)", 4000, 3000, 8, true, 11, "2024:05:17 10:20:30");
  add("upright (EXIF orientation 1)", 4000, 3000, 1, true, 12, "2024:05:17 10:21:05");
  add("taken sideways (EXIF orientation 8)", 2592, 1944, 8, true, 13, "2024:05:17 10:22:40");
  add("without EXIF", 2592, 1944, 1, false, 14, "");
  return samples;
}

class Demo {
 public:
  Demo(fs::path root, bool plugAfterStart)
      : root_(std::move(root)), logs_(root_ / "demo-logs"), plugAfterStart_(plugAfterStart) {
    fs::create_directories(logs_);
    ::setenv("PAGEWICK_WORLD", root_.c_str(), 1);
  }

  // Never leaves a service process or a simulator behind.
  ~Demo() {
    simulator_.reset();
    try {
      if (serviceStarted_) {
        (void)Tool("stop " + std::string(kServiceName), false);
        (void)Tool("wait " + std::string(kServiceName) + " STOPPED 10000", false);
        (void)ProcessGone(serviceProcess_, 10s);
      }
      if (installed_) (void)Program("/uninstall /silent", false);
    } catch (const std::exception& error) {
      std::cerr << "demo: clean-up: " << error.what() << "\n";
    }
  }
  Demo(const Demo&) = delete;
  Demo& operator=(const Demo&) = delete;

  void Run() {
    Step("A fresh host world");
    Say(root_.string());
    Say("programs: " + std::string(PAGEWICK_PROGRAM));

    Step("pagewick /install /silent");
    Program("/install /silent");
    installed_ = true;
    Say(OneLine(Tool("qc " + std::string(kServiceName)), "BINARY_PATH_NAME"));
    Say(OneLine(Tool("qc " + std::string(kServiceName)), "DISPLAY_NAME"));
    // Auto-rotation is switched on through the settings file, as a user
    // does on the settings page.
    const fs::path settings = root_ / "drive_c" / "Users" / "Public" / "Documents" / "pagewick.info";
    WriteHostFile(settings, "[Setting]\r\nAutoRoate=1\r\n");
    Say("C:\\Users\\Public\\Documents\\pagewick.info: AutoRoate=1 (turn sideways pictures upright)");

    // Someone sits at the computer: the service saves pictures with that
    // user's rights, and with nobody at the console they wait on the scanner.
    Step("A user logs on at the console");
    {
      pw::hostworld::World::Options options;
      options.root = root_;
      pw::hostworld::World world(options);
      Say("session " + std::to_string(world.UserSessions().LogOn("demo")) + ": demo");
    }

    // The standalone service notices a scanner that is there when it starts;
    // --plug-after-start plugs it in while the service runs instead.
    if (plugAfterStart_) {
      StartService();
      PlugScanner();
    } else {
      PlugScanner();
      StartService();
    }
    WatchPictures();

    Step("The service stops");
    Tool("stop " + std::string(kServiceName));
    Tool("wait " + std::string(kServiceName) + " STOPPED 10000");
    serviceStarted_ = false;
    if (!ProcessGone(serviceProcess_, 10s)) throw DemoFailure("the service process did not end after STOPPED");
    simulator_->Terminate();
    simulator_.reset();
    Say("STOPPED; the scanner is unplugged.");

    DiskFull();

    Step("pagewick /uninstall /silent");
    Program("/uninstall /silent");
    installed_ = false;
    if (Tool("query " + std::string(kServiceName), false).exitCode == 0) {
      throw DemoFailure("Service1 is still registered after /uninstall");
    }
    Say("Service1 is no longer registered.");
  }

 private:
  struct Outcome {
    int exitCode = -1;
    std::string output;
  };

  Outcome Execute(const std::vector<std::string>& arguments, bool mustSucceed) {
    const fs::path log = logs_ / ("command-" + std::to_string(++commands_) + ".log");
    Child child(arguments, log);
    const std::optional<int> code = child.Wait(kCommandDeadline);
    std::string line;
    for (const std::string& argument : arguments) line += (line.empty() ? "" : " ") + fs::path(argument).filename().string();
    if (!code) throw DemoFailure(line + " did not end within " + std::to_string(kCommandDeadline.count()) + " s");
    Outcome outcome{*code, ReadHostFile(log)};
    if (mustSucceed && outcome.exitCode != 0) {
      throw DemoFailure(line + " failed with exit code " + std::to_string(outcome.exitCode) + ": " + outcome.output);
    }
    return outcome;
  }
  Outcome Program(const std::string& arguments, bool mustSucceed = true) {
    return Execute(Split(PAGEWICK_PROGRAM + (" " + arguments)), mustSucceed);
  }
  Outcome Tool(const std::string& arguments, bool mustSucceed = true) {
    return Execute(Split(PAGEWICK_SC + (" " + arguments)), mustSucceed);
  }

  // Whether the process has ended (a zombie counts as ended) within the timeout.
  static bool ProcessGone(long processId, Clock::duration timeout) {
    if (processId <= 0) return true;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      if (!pw::hostworld::ProcessRunning(static_cast<pid_t>(processId))) return true;
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(10ms);
    }
  }

  static std::vector<std::string> Split(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> parts;
    for (std::string part; in >> part;) parts.push_back(part);
    return parts;
  }

  static std::string OneLine(const Outcome& outcome, const std::string& key) {
    std::istringstream in(outcome.output);
    for (std::string line; std::getline(in, line);) {
      if (line.find(key) != std::string::npos) return line.substr(line.find_first_not_of(' '));
    }
    return key + ": ?";
  }

  // Whether the file is the sideways picture of the recipe turned upright.
  static bool TurnedUpright(const fs::path& file, const pw::sim::PictureRecipe& recipe) {
    if (recipe.orientation != 8) return false;
    const JpegFacts facts = ReadJpegFacts(ReadHostFile(file));
    return facts.orientation == 1 && facts.width == recipe.height && facts.height == recipe.width;
  }

  void PlugScanner() {
    Step("The scanner simulator is plugged in as " + std::string(1, kScannerDrive) + ":");
    const fs::path samples = root_ / "samples";
    fs::create_directories(samples);
    std::vector<std::string> arguments = {PAGEWICK_SCANNER_SIM, "--root", root_.string(), "--drive",
                                          std::string(1, kScannerDrive), "--chunk", kChunkPolicy};
    int number = 0;
    for (const Sample& sample : Samples()) {
      const std::vector<std::byte> picture = pw::sim::MakeScannerPicture(sample.recipe);
      const fs::path file = samples / ("sample" + std::to_string(++number) + ".jpg");
      WriteHostFile(file, std::string(reinterpret_cast<const char*>(picture.data()), picture.size()));
      sampleBytes_.push_back(picture.size());
      arguments.push_back("--image");
      arguments.push_back(file.string());
      Say("sample " + std::to_string(number) + ": " + std::to_string(sample.recipe.width) + " x " +
          std::to_string(sample.recipe.height) + ", " + sample.what + ", " + Megabytes(picture.size()));
    }
    simulator_ = std::make_unique<Child>(arguments, logs_ / "scanner-sim.log");
    const fs::path socket = pw::hostworld::device_socket::SocketPathFor(root_, kScannerDrive);
    const auto deadline = Clock::now() + 10s;
    while (!fs::exists(socket)) {
      if (Clock::now() >= deadline || simulator_->Wait(0s)) throw DemoFailure("the scanner simulator did not plug in");
      std::this_thread::sleep_for(10ms);
    }
    Say("pagewick-scanner-sim serves " + std::string(1, kScannerDrive) + ": (product \"SCAN\", revision \"1000\"), " +
        "chunks " + kChunkPolicy);
  }

  void StartService() {
    Step("pagewick-sc start Service1");
    watch_ = std::make_unique<LandingWatch>(root_ / "drive_c" / "Users" / "Public" / "Pictures");
    Tool("start " + std::string(kServiceName));
    serviceStarted_ = true;
    Tool("wait " + std::string(kServiceName) + " RUNNING 10000");
    const Outcome query = Tool("query " + std::string(kServiceName));
    Say(OneLine(query, "STATE"));
    const std::string pid = OneLine(query, "PID");
    serviceProcess_ = std::atol(pid.substr(pid.find(':') + 1).c_str());
    Say("the service runs in process " + std::to_string(serviceProcess_));
  }

  void WatchPictures() {
    Step("Pictures landing in C:\\Users\\Public\\Pictures");
    const std::vector<Sample> samples = Samples();
    std::uintmax_t total = 0;
    for (std::size_t i = 0; i < sampleBytes_.size(); ++i) {
      const std::optional<LandingWatch::Landing> landing = watch_->Next(Clock::now() + kPictureDeadline);
      if (!landing) {
        throw DemoFailure("picture " + std::to_string(i + 1) + " of " + std::to_string(sampleBytes_.size()) +
                          " did not arrive within " + std::to_string(kPictureDeadline.count()) + " s");
      }
      // On a busy machine auto-rotate may turn a sideways picture before this
      // watcher looks at it: then it holds the turned picture, not the bytes sent.
      const bool turnedBeforeSeen =
          landing->bytes != sampleBytes_[i] && TurnedUpright(landing->path, samples[i].recipe);
      if (landing->bytes != sampleBytes_[i] && !turnedBeforeSeen) {
        throw DemoFailure(landing->name + " holds " + std::to_string(landing->bytes) + " bytes, the scanner sent " +
                          std::to_string(sampleBytes_[i]));
      }
      std::ostringstream line;
      line << std::left << std::setw(20) << landing->name << std::right << std::setw(10) << landing->bytes
           << " bytes  ";
      // Below a millisecond the watcher's own wake-ups decide the figure.
      if (landing->seconds >= 0.001) {
        line << std::fixed << std::setprecision(1) << std::setw(6) << landing->seconds * 1000 << " ms "
             << std::setw(7) << static_cast<double>(landing->bytes) / 1e6 / landing->seconds << " MB/s";
      } else {
        line << "  < 1 ms  > " << std::fixed << std::setprecision(0) << static_cast<double>(landing->bytes) / 1e3
             << " MB/s";
      }
      if (turnedBeforeSeen) line << "  (already turned upright; the scanner sent " << sampleBytes_[i] << " bytes)";
      Say(line.str());
      total += sampleBytes_[i];
      landed_.push_back(*landing);
    }

    // The auto-rotate step rewrites a sideways picture after its transfer.
    std::this_thread::sleep_for(500ms);
    Step("Summary");
    Say(std::to_string(landed_.size()) + " pictures, " + std::to_string(total) + " bytes pulled, in C:\\Users\\Public\\Pictures\\Photo1");
    for (const LandingWatch::Landing& landing : landed_) {
      const std::string bytes = ReadHostFile(landing.path);
      Say(landing.name + ": " + std::to_string(bytes.size()) + " bytes on disk, " + Describe(ReadJpegFacts(bytes)));
    }
  }

  // The drive of the save location fills up: the program's main window, poll
  // and pull in this process, in the same world with the same settings.
  void DiskFull() {
    Step("The drive fills up (the program's code in this process, same world and settings)");
    pw::hostworld::World::Options options;
    options.root = root_;
    pw::hostworld::World world(options);
    world.SetModuleFileName(world.WindowsPathOf(PAGEWICK_PROGRAM).value_or("Z:\\pagewick"));
    pw::ui::ProcessState process;
    auto form = pw::ui::TMainForm::Create(process).value();
    process.MainForm.Set(form.get());
    form->FormCreate();
    form->Show();
    form->Hide();
    Pump();

    auto scanner = std::make_shared<pw::sim::ScannerSimulator>();
    scanner->SetChunkPolicy(pw::sim::ChunkPolicy::Fixed(65536));
    scanner->QueueImage(pw::sim::MakeScannerPicture(Samples().front().recipe));
    world.AddDrive(kScannerDrive, pw::platform::DriveType::Removable);
    world.AttachDevice(kScannerDrive, scanner);
    world.SetDriveFreeBytes('C', 3 * 1024 * 1024);
    Say("C: has 3 MiB free, less than twice the 2000000 bytes a pull asks room for; one more picture is scanned.");

    const std::string scratch = form->FallbackImagePath();
    bool scratchHeld = false;
    world.Desktop().SetMessageBoxDriver([&](const pw::hostworld::MessageBoxRecord&, pw::hostworld::ModalLoop&) {
      scratchHeld = pw::platform::FileExists(scratch);
      return pw::platform::dialog_result::kOk;
    });
    const std::size_t imagesBefore = ImageCount();
    for (int tick = 0; tick < 10 && world.Desktop().MessageBoxes().empty(); ++tick) Tick(world, *form);
    const std::vector<pw::hostworld::MessageBoxRecord> boxes = world.Desktop().MessageBoxes();
    if (boxes.empty()) throw DemoFailure("the disk-full message box was not shown");
    Say("The world records a message box:");
    Say("  caption: \"" + boxes.front().caption + "\"");
    Say("  text:    \"" + boxes.front().text + "\"");
    if (!scratchHeld) throw DemoFailure("the picture was not in the scratch file " + scratch + " while the box was open");
    Say("While it was open the picture was in the scratch file " + scratch + ".");
    Tick(world, *form);
    if (pw::platform::FileExists(scratch)) throw DemoFailure("the scratch file " + scratch + " was not deleted");
    if (ImageCount() != imagesBefore) throw DemoFailure("a picture landed in Photo1 although the disk was full");
    Say("The next poll deleted the scratch file; Photo1 still holds " + std::to_string(imagesBefore) + " pictures.");
    world.DetachDevice(kScannerDrive);
    form.reset();
  }

  static void Pump() {
    while (std::optional<pw::platform::Message> message = pw::platform::PeekMessage()) {
      pw::platform::DispatchMessage(*message);
    }
  }

  // One period of the poll timer on the world's clock.
  static void Tick(pw::hostworld::World& world, pw::ui::TMainForm& form) {
    world.Desktop().AdvanceTime(form.Timer1.Interval());
    Pump();
  }

  std::size_t ImageCount() const {
    std::error_code ec;
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(root_ / "drive_c" / "Users" / "Public" / "Pictures" / "Photo1", ec)) {
      if (entry.is_regular_file()) ++count;
    }
    return count;
  }

  fs::path root_;
  fs::path logs_;
  bool plugAfterStart_ = false;
  int commands_ = 0;
  bool installed_ = false;
  bool serviceStarted_ = false;
  long serviceProcess_ = 0;
  std::unique_ptr<Child> simulator_;
  std::unique_ptr<LandingWatch> watch_;
  std::vector<std::uintmax_t> sampleBytes_;
  std::vector<LandingWatch::Landing> landed_;
};

// The world's folder: the one given, or a temporary one removed at the end.
class WorldFolder {
 public:
  explicit WorldFolder(std::optional<fs::path> given) {
    if (given) {
      path_ = fs::absolute(*given);
      fs::create_directories(path_);
      return;
    }
    std::string pattern = (fs::temp_directory_path() / "pagewick-demo-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw DemoFailure("cannot make a temporary folder");
    path_ = pattern;
    temporary_ = true;
  }
  ~WorldFolder() {
    std::error_code ec;
    if (temporary_) fs::remove_all(path_, ec);
  }
  WorldFolder(const WorldFolder&) = delete;
  WorldFolder& operator=(const WorldFolder&) = delete;
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
  bool temporary_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  std::optional<fs::path> worldRoot;
  bool plugAfterStart = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--world" && i + 1 < argc) {
      worldRoot = argv[++i];
    } else if (arg == "--plug-after-start") {
      plugAfterStart = true;
    } else {
      std::cerr << "usage: pagewick-demo [--world DIR] [--plug-after-start]\n";
      return 2;
    }
  }
  const auto started = Clock::now();
  try {
    WorldFolder folder(worldRoot);
    {
      Demo demo(folder.Path(), plugAfterStart);
      demo.Run();
    }
    std::cout << "\nDemo finished in " << std::fixed << std::setprecision(1)
              << std::chrono::duration<double>(Clock::now() - started).count() << " s.\n";
    return EXIT_SUCCESS;
  } catch (const std::exception& error) {
    std::cout << std::flush;
    std::cerr << "demo failed: " << error.what() << "\n";
    return EXIT_FAILURE;
  }
}
