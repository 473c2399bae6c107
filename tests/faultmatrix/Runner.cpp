// Runs one row of the fault matrix against the real executables and checks
// the promise: no crash, stop within 5 s, every picture the scanner delivered
// saved once and whole under its number, the user's files untouched, nothing
// else that looks like a picture.
#include <sys/mount.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/hostworld/WorldSessions.h"
#include "tests/faultmatrix/ChildProcess.h"
#include "tests/faultmatrix/Scenario.h"
#include "tests/imaging/JpegSamples.h"
#include "tools/scanner-sim/ScannerPicture.h"

namespace pw::faultmatrix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kStopBound = 5000ms;
constexpr auto kDeliveryDeadline = 40s;
constexpr const char* kService = "Service1";
constexpr const char* kVersionComment = " Pagewick Ver 019";

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& path, std::string_view bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

long Since(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Hard links where the file system allows, copies elsewhere: the program finds
// its text table and imaging modules beside its own path.
void Place(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::create_hard_link(from, to, ec);
  if (ec) fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

// A tmpfs drive of a given size; unmounted (lazily) when it goes.
class TmpfsDrive {
 public:
  TmpfsDrive(const fs::path& folder, std::uint64_t bytes) : folder_(folder) {
    fs::create_directories(folder);
    const std::string options = "size=" + std::to_string(bytes);
    mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~TmpfsDrive() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  TmpfsDrive(const TmpfsDrive&) = delete;
  TmpfsDrive& operator=(const TmpfsDrive&) = delete;
  bool Mounted() const { return mounted_; }
  bool MakeReadOnly() {
    return ::mount("tmpfs", folder_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }

 private:
  fs::path folder_;
  bool mounted_ = false;
};

std::string ImageBytes(const ImagePlan& plan, std::uint32_t seed, const std::string& dateTime) {
  if (plan.kind == ImageKind::Bytes) {
    // Random bytes framed as a JPEG as far as a file can tell: SOI, a JFIF
    // header, a frame and a scan header, entropy-coded bytes without 0xFF, EOI.
    const std::string header = {'\xFF', '\xD8', '\xFF', '\xE0', 0,      16,     'J',    'F', 'I', 'F', 0,
                                1,      1,      0,      0,      1,      0,      1,      0,   0,   '\xFF',
                                '\xC0', 0,      11,     8,      0,      16,     0,      16,  1,   1,
                                0x11,   0,      '\xFF', '\xDA', 0,      8,      1,      1,   0,   0,
                                63,     0};
    std::string bytes(std::max<std::size_t>(plan.size, header.size() + 2), '\0');
    std::mt19937 generator(seed);
    for (char& c : bytes) c = static_cast<char>(generator() % 0xFFu);
    bytes.replace(0, header.size(), header);
    bytes[bytes.size() - 2] = '\xFF';
    bytes[bytes.size() - 1] = '\xD9';
    return bytes;
  }
  sim::PictureRecipe recipe;
  recipe.orientation = plan.kind == ImageKind::SidewaysPicture ? 8 : 1;
  recipe.dateTime = dateTime;
  recipe.seed = seed;
  const std::vector<std::byte> picture = sim::MakeScannerPicture(recipe);
  return {reinterpret_cast<const char*>(picture.data()), picture.size()};
}

// The user's files every writable save folder starts with: two that look like
// pictures (so the next number is 3), files named as the auto-rotate step
// names its scratch file for an existing and for the next picture, and notes.
std::map<fs::path, std::string> StandardSeeds(const fs::path& saveFolder) {
  return {
      {saveFolder / "Photo1" / "img0001.jpg", "\xFF\xD8 the user's own picture one \xFF\xD9"},
      {saveFolder / "Photo1" / "IMG0002.JPG", "\xFF\xD8 the user's own picture two \xFF\xD9"},
      {saveFolder / "Photo1" / "img0001.jpg.autorotate.tmp", "the user's file with the auto-rotate step's name"},
      {saveFolder / "Photo1" / "img0003.jpg.autorotate.tmp", "the user's file named after the next picture"},
      {saveFolder / "Photo1" / "notes.txt", "the user's notes"},
      {saveFolder / "readme.txt", "the user's readme"},
  };
}

struct Delivered {
  std::string bytes;
  const ImagePlan* plan = nullptr;
  std::string dateTime;
};

// Every file below folder, recursively (a missing folder has none).
std::vector<fs::path> FilesBelow(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return files;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec)) files.push_back(it->path());
  }
  return files;
}

class Run {
 public:
  Run(const Scenario& scenario, const Tools& tools, const fs::path& folder)
      : scenario_(scenario), tools_(tools), folder_(folder), world_(folder / "w") {
    result_.name = scenario.name;
  }

  ScenarioResult Go() {
    const auto start = Clock::now();
    try {
      Execute();
    } catch (const std::exception& e) {
      Fail(std::string("harness: ") + e.what());
    }
    result_.runMs = Since(start);
    return std::move(result_);
  }

 private:
  void Fail(std::string text) { result_.failures.push_back(std::move(text)); }

  std::map<std::string, std::string> Environment() const { return {{"PAGEWICK_WORLD", world_.string()}}; }

  ToolRun Control(const std::vector<std::string>& arguments, std::chrono::milliseconds deadline = 15s) {
    return RunTool(tools_.controlTool, arguments, Environment(), folder_ / "sc.out", deadline);
  }

  bool UsesDriveF() const {
    return scenario_.save == SaveKind::OwnDrive || scenario_.save == SaveKind::FullDrive ||
           scenario_.save == SaveKind::ReadOnlyDrive || scenario_.save == SaveKind::SmallDrive;
  }

  std::string SaveLocationText() const {
    switch (scenario_.save) {
      case SaveKind::Missing: return "C:\\NoSuch\\Deeper\\Scans";
      case SaveKind::OwnDrive:
      case SaveKind::FullDrive:
      case SaveKind::ReadOnlyDrive:
      case SaveKind::SmallDrive: return "F:\\Scans";
      default: return "C:\\Scans";
    }
  }

  fs::path SaveFolder() const { return UsesDriveF() ? world_ / "drive_f" / "Scans" : world_ / "drive_c" / "Scans"; }
  fs::path DefaultPictures() const { return world_ / "drive_c" / "Users" / "Public" / "Pictures"; }
  fs::path Documents() const { return world_ / "drive_c" / "Users" / "Public" / "Documents"; }

  // Where the pictures land when everything goes right, relative to the world's root.
  std::vector<std::string> ExpectedNames() const {
    if (!scenario_.expectedNames.empty()) return scenario_.expectedNames;
    std::string base;
    int first = 3;
    switch (scenario_.save) {
      case SaveKind::Plain: base = "drive_c/Scans/Photo1/"; break;
      case SaveKind::OwnDrive:
      case SaveKind::SmallDrive: base = "drive_f/Scans/Photo1/"; break;
      default:
        // The save location cannot hold a folder: the default save location takes over.
        base = "drive_c/Users/Public/Pictures/Photo1/";
        first = 2;
        break;
    }
    std::vector<std::string> names;
    for (std::size_t i = 0; i < scenario_.images.size(); ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "img%04d.jpg", first + static_cast<int>(i));
      names.push_back(base + name);
    }
    return names;
  }

  void Seed(const fs::path& path, std::string bytes) {
    WriteAll(path, bytes);
    seeds_[path] = std::move(bytes);
  }

  void PrepareWorld() {
    fs::remove_all(folder_);
    fs::create_directories(world_ / "drive_c");
    // The program, its imaging modules and its text table, as installed.
    const fs::path app = world_ / "app";
    fs::create_directories(app / "tools");
    fs::create_directories(app / "imaging");
    Place(tools_.program, app / "tools" / "pagewick");
    for (const fs::directory_entry& entry : fs::directory_iterator(tools_.imagingFolder)) {
      if (entry.path().extension() == ".so") Place(entry.path(), app / "imaging" / entry.path().filename());
    }
    if (scenario_.textTable) {
      WriteAll(app / "tools" / "rc.info", *scenario_.textTable);
    } else {
      fs::copy_file(tools_.textTable, app / "tools" / "rc.info");
    }
    program_ = (app / "tools" / "pagewick").string();

    // The settings file the program reads at start.
    const std::string settings =
        scenario_.settingsText.value_or("[Setting]\r\nMode=1\r\nPath=" + SaveLocationText() + "\r\nAutoRoate=" +
                                        (scenario_.autoRotate ? "1" : "0") + "\r\n");
    WriteAll(Documents() / "pagewick.info", settings);

    // Someone is at the console: the service saves pictures with that user's rights.
    hostworld::SessionTable::SeatConsoleUser(world_, "user");

    // The default save location holds a picture of the user's already.
    Seed(DefaultPictures() / "Photo1" / "img0001.jpg", "\xFF\xD8 the user's picture in the default place \xFF\xD9");
    Seed(DefaultPictures() / "Photo1" / "img0002.jpg.autorotate.tmp", "the user's file named after the next picture");

    if (UsesDriveF()) {
      std::uint64_t bytes = scenario_.driveBytes;
      if (scenario_.save == SaveKind::FullDrive) bytes = 1u << 20;
      drive_ = std::make_unique<TmpfsDrive>(world_ / "drive_f", bytes);
      if (!drive_->Mounted()) {
        result_.skipped = true;
        result_.skipReason = "cannot mount a drive of its own here (needs root)";
        return;
      }
    }
    switch (scenario_.save) {
      case SaveKind::Plain:
      case SaveKind::OwnDrive:
      case SaveKind::SmallDrive:
      case SaveKind::ReadOnlyDrive:
        for (auto& [path, bytes] : StandardSeeds(SaveFolder())) Seed(path, bytes);
        break;
      case SaveKind::IsAFile: Seed(world_ / "drive_c" / "Scans", "the user's file named Scans"); break;
      case SaveKind::PhotoIsAFile: Seed(SaveFolder() / "Photo1", "the user's file named Photo1"); break;
      default: break;
    }
    if (scenario_.seed) {
      scenario_.seed(SaveFolder());
      for (const fs::path& file : FilesBelow(SaveFolder())) {
        if (!seeds_.count(file)) seeds_[file] = ReadAll(file);
      }
    }
    if (scenario_.save == SaveKind::ReadOnlyDrive && !drive_->MakeReadOnly()) {
      result_.skipped = true;
      result_.skipReason = "cannot make the drive read-only here";
    }
  }

  std::vector<std::string> SimulatorArguments() {
    std::vector<std::string> arguments{"--root",      world_.string(),
                                       "--drive",     "E",
                                       "--event-log", (folder_ / "events.log").string(),
                                       "--delivered-dir", (folder_ / "delivered").string()};
    std::uint32_t seed = static_cast<std::uint32_t>(std::hash<std::string>{}(scenario_.name));
    for (std::size_t i = 0; i < scenario_.images.size(); ++i) {
      char dateTime[32];
      std::snprintf(dateTime, sizeof dateTime, "2024:05:%02zu %02zu:%02u:%02u", 1 + i % 28, i % 24, seed % 60,
                    (seed / 60) % 60);
      const fs::path file = folder_ / "in" / (std::to_string(i) + ".bin");
      WriteAll(file, ImageBytes(scenario_.images[i], seed + static_cast<std::uint32_t>(i), dateTime));
      dateTimes_.push_back(dateTime);
      arguments.push_back("--image");
      arguments.push_back(file.string());
    }
    arguments.insert(arguments.end(), scenario_.simArguments.begin(), scenario_.simArguments.end());
    return arguments;
  }

  bool WaitForSocket(char letter) {
    const fs::path socket = world_ / "devices" / (std::string(1, letter) + ".sock");
    const auto deadline = Clock::now() + 10s;
    while (Clock::now() < deadline) {
      std::error_code ec;
      if (fs::exists(socket, ec)) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  std::size_t DeliveredCount() const {
    std::size_t count = 0;
    std::error_code ec;
    for (fs::directory_iterator it(folder_ / "delivered", ec), end; !ec && it != end; it.increment(ec)) {
      if (it->path().extension() == ".bin") ++count;
    }
    return count;
  }

  std::size_t ChunksAnswered() const {
    std::ifstream in(folder_ / "events.log");
    std::size_t chunks = 0;
    for (std::string line; std::getline(in, line);) chunks += line.rfind("chunk ", 0) == 0 ? 1u : 0u;
    return chunks;
  }

  // Whether a transfer file ("~" and seven hex digits) is on a drive.
  bool TransferFileLeft() const {
    std::vector<fs::path> files = FilesBelow(world_ / "drive_c");
    if (UsesDriveF()) {
      const std::vector<fs::path> more = FilesBelow(world_ / "drive_f");
      files.insert(files.end(), more.begin(), more.end());
    }
    return std::any_of(files.begin(), files.end(), [](const fs::path& file) {
      const std::string name = Lower(file.filename().string());
      return name.size() == 8 && name[0] == '~' && name.find_first_not_of("0123456789abcdef", 1) == std::string::npos;
    });
  }

  // Starts the service and takes charge of its process; false on failure.
  bool StartService() {
    const ToolRun started = Control({"start", kService});
    if (!started.finished || started.exitCode != 0) {
      if (CrashHit()) return false;
      Fail("pagewick-sc start failed (" + std::to_string(started.exitCode) + "): " + started.output);
      return false;
    }
    const std::size_t at = started.output.find("PID");
    const std::size_t colon = started.output.find(':', at == std::string::npos ? 0 : at);
    long pid = at == std::string::npos || colon == std::string::npos ? 0 : std::strtol(&started.output[colon + 1], nullptr, 10);
    if (pid <= 0) {
      // The plan's crash may come before the tool reads the status back: the
      // service is already stopped, with no process.
      if (CrashHit()) return false;
      Fail("no service process id in: " + started.output);
      return false;
    }
    service_ = std::make_unique<ForeignProcess>(static_cast<pid_t>(pid));
    // Control requests are accepted once the service runs.
    const ToolRun running = Control({"wait", kService, "RUNNING", "15000"}, 20s);
    if (running.exitCode != 0) {
      if (!CrashHit()) Fail("the service did not reach RUNNING: " + running.output);
      return false;
    }
    return true;
  }

  // Whether the crash plan's change has come and was not yet dealt with.
  bool CrashHit() const {
    std::error_code ec;
    return scenario_.crash && !result_.crashed && fs::exists(hostworld::WriteCache::HitFile(world_), ec);
  }

  // Gives a service process that is going a moment to end.
  bool WaitUntilEnded() {
    const auto deadline = Clock::now() + 5s;
    while (service_ && !service_->Ended() && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
    return service_ && service_->Ended();
  }

  // Whether the service process that ended was killed by the crash plan:
  // the first time only, as the plan is taken once.
  bool CrashedAsPlanned() {
    if (!CrashHit() || !service_) return false;
    // A service that died before the control tool that launched it had gone
    // was not ours to reap, and has no status: the plan's report, written just
    // before its kill, says enough.
    const std::optional<int> status = service_->Status();
    if (status && !WIFSIGNALED(*status)) return false;
    result_.crashed = true;
    restartedAt_ = Clock::now();
    service_.reset();
    return true;
  }

  // Records how the service process ended: normally, or a crash.
  void CheckServiceEnding() {
    if (!service_) return;
    if (CrashedAsPlanned()) {
      crashedWhileStopping_ = true;
      return;
    }
    if (const std::optional<int> status = service_->Status()) {
      if (WIFSIGNALED(*status)) {
        Fail("the service process died of signal " + std::to_string(WTERMSIG(*status)));
      } else if (WIFEXITED(*status) && WEXITSTATUS(*status) != 0) {
        Fail("the service process exited with " + std::to_string(WEXITSTATUS(*status)));
      }
    }
  }

  // Stops the service and times it until the process is gone.
  void TimedStop(const char* when) {
    if (!service_) return;
    const auto start = Clock::now();
    ToolRun stopped = Control({"stop", kService}, 20s);
    // A service in a pending state accepts no control (1061) and is asked again.
    while (stopped.exitCode == (1061 & 0xFF) && !service_->Ended() && Clock::now() - start < 10s) {
      std::this_thread::sleep_for(50ms);
      stopped = Control({"stop", kService}, 20s);
    }
    if (!stopped.finished || (stopped.exitCode != 0 && !service_->Ended())) {
      // The crash plan's change may come while the service stops: it is gone
      // before it could answer; the ending below starts it once more.
      if (!CrashHit() || !WaitUntilEnded()) {
        Fail(std::string("pagewick-sc stop failed ") + when + ": " + stopped.output);
      }
    }
    const auto deadline = start + 30s;
    while (!service_->Ended() && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
    const long took = Since(start);
    result_.stopMs = took;
    if (!service_->Ended()) {
      Fail(std::string("the service did not stop within 30 s ") + when);
      service_->Kill();
    } else if (took > kStopBound.count()) {
      Fail(std::string("stop ") + when + " took " + std::to_string(took) + " ms (bound 5000 ms)");
    }
    CheckServiceEnding();
    service_.reset();
  }

  void Act(const ControlStep& step) {
    switch (step.action) {
      case ControlAction::Interrogate: (void)Control({"interrogate", kService}); break;
      case ControlAction::PauseContinue: {
        (void)Control({"pause", kService});
        const ToolRun paused = Control({"wait", kService, "PAUSED", "20000"}, 25s);
        if (paused.exitCode != 0) Fail("the service did not pause: " + paused.output);
        (void)Control({"continue", kService});
        const ToolRun running = Control({"wait", kService, "RUNNING", "10000"}, 15s);
        if (running.exitCode != 0) Fail("the service did not continue: " + running.output);
        break;
      }
      case ControlAction::StopThenRestart:
        TimedStop("during the pull");
        (void)StartService();
        break;
      case ControlAction::PauseStopRestart:
        (void)Control({"pause", kService});
        TimedStop("right after a pause during the pull");
        (void)StartService();
        break;
    }
  }

  void Execute() {
    PrepareWorld();
    if (result_.skipped) return;
    const std::vector<std::string> simulatorArguments = SimulatorArguments();

    // A drive of its own for the save location: a device that is not the scanner brings drive F:.
    std::unique_ptr<ChildProcess> disk;
    if (UsesDriveF()) {
      disk = std::make_unique<ChildProcess>(
          tools_.simulator, std::vector<std::string>{"--root", world_.string(), "--drive", "F", "--product", "DISK"},
          std::map<std::string, std::string>{}, folder_ / "disk.out");
      if (!WaitForSocket('F')) Fail("the drive F: device did not come up");
    }
    ChildProcess simulator(tools_.simulator, simulatorArguments, {}, folder_ / "sim.out");
    if (!simulator.Started() || !WaitForSocket('E')) {
      Fail("the scanner simulator did not come up: " + ReadAll(folder_ / "sim.out"));
      return;
    }

    const ToolRun installed = RunTool(program_, {"/install", "/silent"}, Environment(), folder_ / "install.out", 20s);
    if (!installed.finished || installed.exitCode != 0) {
      Fail("install failed: " + installed.output);
      return;
    }
    if (scenario_.crash) hostworld::WriteCache::WritePlan(world_, *scenario_.crash);
    if (!StartService()) {
      // The crash plan's change may come while the service starts: it
      // starts once more on what survived.
      if (!CrashHit()) return;
      (void)WaitUntilEnded();
      result_.crashed = true;
      restartedAt_ = Clock::now();
      service_.reset();
      if (!StartService()) return;
    }

    // Run until every picture is delivered (or for the row's time), doing the row's control steps on the way.
    const auto start = Clock::now();
    const bool waitForAll = scenario_.expect == Expect::SavedOnce || scenario_.expect == Expect::DrainedToScratch;
    std::size_t nextStep = 0;
    for (;;) {
      if (service_ && service_->Ended() && CrashedAsPlanned()) {
        // The machine comes back: the service starts again on what survived.
        if (!StartService()) break;
        continue;
      }
      if (service_ && service_->Ended()) {
        Fail("the service process ended by itself");
        CheckServiceEnding();
        service_.reset();
        break;
      }
      while (nextStep < scenario_.controls.size() &&
             ChunksAnswered() >= static_cast<std::size_t>(scenario_.controls[nextStep].afterChunks) &&
             Clock::now() - start >= scenario_.controls[nextStep].afterRun) {
        Act(scenario_.controls[nextStep++]);
      }
      if (scenario_.applyMidway && !applied_ && DeliveredCount() >= 1) {
        applied_ = true;
        StartApply();
      }
      PollApply();
      const bool allDelivered = DeliveredCount() >= scenario_.images.size();
      // After a crash the restarted service first settles what the crash left.
      const bool settled = !result_.crashed || Clock::now() >= restartedAt_ + 2500ms;
      if (waitForAll && allDelivered && settled && !applier_ && nextStep >= scenario_.controls.size()) break;
      if (!waitForAll && Clock::now() - start >= scenario_.runFor) break;
      if (Clock::now() - start >= kDeliveryDeadline) {
        if (waitForAll) {
          Fail("only " + std::to_string(DeliveredCount()) + " of " + std::to_string(scenario_.images.size()) +
               " pictures delivered within 40 s");
        }
        break;
      }
      std::this_thread::sleep_for(20ms);
    }
    TimedStop("at the end");
    if (crashedWhileStopping_) {
      // The crash came while the service stopped: it starts once more on
      // what survived, settles it, and stops.
      if (StartService()) {
        std::this_thread::sleep_for(2500ms);
        TimedStop("after the crash");
      }
    } else if (TransferFileLeft()) {
      // The stop cancelled the request that was bringing a picture's end
      // marker: the whole transfer stays listed for the next start to name,
      // which this start must do.
      if (StartService()) {
        std::this_thread::sleep_for(2500ms);
        TimedStop("after a stop that left a transfer");
      }
    }
    if (scenario_.crash && scenario_.crash->atChange == 0) {
      result_.changes = std::strtoull(ReadAll(hostworld::WriteCache::CountFile(world_)).c_str(), nullptr, 10);
    }

    if (!simulator.Terminate(3s)) Fail("the scanner simulator did not end");
    if (disk) (void)disk->Terminate(3s);
    if (scenario_.otherDriveHearsOnlyTheDescriptor) CheckOtherDrive(ReadAll(folder_ / "sim.out"));

    if (scenario_.tamper) scenario_.tamper(world_);
    Check();
  }

  // A user's Apply through the service's pipe, from a process in session 1:
  // this test binary again, running only its disabled apply test. It runs
  // beside the loop, which starts a crashed service again while it waits.
  void StartApply() {
    std::error_code ec;
    fs::remove(ApplyOutput(), ec);
    applyStarted_ = Clock::now();
    applier_ = std::make_unique<ChildProcess>(
        "/proc/self/exe", std::vector<std::string>{"--gtest_filter=CrashPointApply.*", "--gtest_also_run_disabled_tests"},
        std::map<std::string, std::string>{{"PAGEWICK_WORLD", world_.string()},
                                           {"PAGEWICK_SESSION", "1"},
                                           {"PAGEWICK_APPLY_LOCATION", SaveLocationText()}},
        ApplyOutput());
  }

  void PollApply() {
    if (!applier_) return;
    const std::optional<int> status = applier_->WaitForExit(0ms);
    const bool late = !status && Clock::now() - applyStarted_ >= 20s;
    if (!status && !late) return;
    if (late) (void)applier_->Terminate(1s);
    if (late || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
      Fail("the Apply could not be sent: " + ReadAll(ApplyOutput()).substr(0, 400));
    }
    applier_.reset();
  }

  fs::path ApplyOutput() const { return folder_ / "apply.out"; }

  // The settings as a file holds them: [Setting] keys, lower case.
  static std::map<std::string, std::string> SettingsOf(const std::string& text) {
    std::map<std::string, std::string> keys;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::size_t equals = line.find('=');
      if (equals != std::string::npos) keys[Lower(line.substr(0, equals))] = line.substr(equals + 1);
    }
    return keys;
  }

  // The settings file reads back whole, as the old or the new settings,
  // wherever the service keeps it.
  void CheckSettingsFile() {
    std::vector<fs::path> found;
    for (const fs::path& file : FilesBelow(world_ / "drive_c")) {
      if (Lower(file.filename().string()) == "pagewick.info") found.push_back(file);
    }
    if (found.empty()) {
      Fail("no settings file is left");
      return;
    }
    for (const fs::path& file : found) {
      const std::map<std::string, std::string> keys = SettingsOf(ReadAll(file));
      const std::string where = fs::relative(file, world_).generic_string();
      auto value = [&](const std::string& key) {
        const auto it = keys.find(key);
        return it == keys.end() ? std::string("(missing)") : it->second;
      };
      if (value("mode") != "1" || value("path") != SaveLocationText()) {
        Fail("the settings file " + where + " lost its values: mode " + value("mode") + ", path " + value("path"));
      }
      const std::string before = scenario_.autoRotate ? "1" : "0";
      const std::string autoRotate = value("autoroate");
      if (autoRotate != before && !(scenario_.applyMidway && autoRotate == "1")) {
        Fail("the settings file " + where + " holds neither the old nor the new settings: AutoRoate " + autoRotate);
      }
    }
  }

  // The simulator's count of what the drive that took the scanner's letter
  // heard: some descriptor queries, nothing else.
  void CheckOtherDrive(const std::string& output) {
    const std::string sign = "other drive heard: ";
    const std::size_t at = output.find(sign);
    if (at == std::string::npos) {
      Fail("the simulator reports no other drive");
      return;
    }
    const std::string line = output.substr(at + sign.size(), output.find('\n', at) - at - sign.size());
    std::istringstream words(line);
    std::string kind;
    long count = 0;
    while (words >> kind >> count) {
      if ((kind == "descriptor") != (count > 0)) Fail("the other drive heard " + line);
    }
  }

  // Reads the delivered pictures, in queue order.
  std::map<std::size_t, Delivered> DeliveredImages() const {
    std::map<std::size_t, Delivered> delivered;
    std::error_code ec;
    for (fs::directory_iterator it(folder_ / "delivered", ec), end; !ec && it != end; it.increment(ec)) {
      if (it->path().extension() != ".bin") continue;
      const std::size_t index = std::stoul(it->path().stem().string());
      Delivered image;
      image.bytes = ReadAll(it->path());
      if (index < scenario_.images.size()) {
        image.plan = &scenario_.images[index];
        image.dateTime = dateTimes_[index];
      }
      delivered[index] = std::move(image);
    }
    return delivered;
  }

  // A saved file holds the delivered picture: the same bytes, or with
  // auto-rotate on for a sideways picture, the picture turned upright with
  // both comments.
  bool Holds(const std::string& saved, const Delivered& image) const {
    const bool turned = scenario_.autoRotate && image.plan != nullptr && image.plan->kind == ImageKind::SidewaysPicture;
    if (!turned) return saved == image.bytes;
    // A crash between the landing and the turn leaves the picture as the
    // scanner sent it: whole, only not turned.
    if (scenario_.crash && saved == image.bytes) return true;
    try {
      const test::Bytes bytes(saved.begin(), saved.end());
      const std::vector<std::string> comments = test::ReadComments(bytes);
      if (comments != std::vector<std::string>{kVersionComment, image.dateTime}) return false;
      // Stored 160 x 120 with a dark bar along its top edge and a dark block
      // in its top-left corner; upright, the bar is the left edge and the
      // block the bottom-left corner.
      const test::Picture upright = test::DecodeJpeg(bytes);
      auto dark = [&upright](std::uint32_t x, std::uint32_t y) {
        const std::uint8_t* p = upright.At(x, y);
        return p[0] < 60 && p[1] < 60 && p[2] < 100;
      };
      return upright.width == 120 && upright.height == 160 && dark(5, 80) && dark(30, 150) && !dark(100, 80) &&
             !dark(30, 10);
    } catch (const std::exception&) {
      return false;
    }
  }

  void Check() {
    const std::map<std::size_t, Delivered> delivered = DeliveredImages();
    result_.delivered = delivered.size();

    // The service's own log: no sanitizer report, no uncaught exception.
    for (const fs::path& log : FilesBelow(world_ / "scm" / "logs")) {
      const std::string text = ReadAll(log);
      for (const char* sign : {"AddressSanitizer", "LeakSanitizer", "runtime error:", "terminate called"}) {
        if (text.find(sign) != std::string::npos) {
          Fail(std::string("the service's log holds a report (") + sign + "): " + text.substr(0, 400));
        }
      }
    }

    // The user's files are as they were.
    for (const auto& [path, bytes] : seeds_) {
      std::error_code ec;
      if (!fs::is_regular_file(path, ec)) {
        Fail("the user's file " + fs::relative(path, world_).string() + " is gone");
      } else if (ReadAll(path) != bytes) {
        Fail("the user's file " + fs::relative(path, world_).string() + " was changed");
      }
    }

    // Every file that looks like a picture is one the scanner delivered, whole, under an image name.
    // Four digits, or more past the last number a folder can hold.
    static const std::regex imageName("img[0-9]{4,}\\.jpg", std::regex::icase);
    const fs::path scratch = Documents() / "tmp.jpg";
    std::map<std::size_t, std::vector<std::string>> savedAs;
    std::vector<fs::path> files = FilesBelow(world_ / "drive_c");
    if (UsesDriveF()) {
      const std::vector<fs::path> more = FilesBelow(world_ / "drive_f");
      files.insert(files.end(), more.begin(), more.end());
    }
    static const std::regex partialName("img[0-9]{4,}\\.partial", std::regex::icase);
    for (const fs::path& file : files) {
      if (seeds_.count(file)) continue;
      const std::string name = Lower(file.filename().string());
      // What an interrupted transfer brought is kept under a name no viewer
      // opens and no numbering counts; a transfer file ("~" and seven
      // characters) must not outlive its pull.
      if (std::regex_match(file.filename().string(), partialName)) continue;
      if (name.size() == 8 && name[0] == '~' && name.find_first_not_of("0123456789abcdef", 1) == std::string::npos) {
        Fail("a transfer file was left behind: " + fs::relative(file, world_).generic_string());
        continue;
      }
      const bool looksLikePicture = name.rfind("img", 0) == 0 || Lower(file.extension().string()) == ".jpg";
      if (!looksLikePicture) continue;
      const std::string relative = fs::relative(file, world_).generic_string();
      if (file == scratch) {
        Fail("the scratch file " + relative + " is still there");
        continue;
      }
      if (!std::regex_match(file.filename().string(), imageName)) {
        Fail("a file that looks like a picture: " + relative);
        continue;
      }
      const std::string saved = ReadAll(file);
      bool matched = false;
      for (const auto& [index, image] : delivered) {
        if (Holds(saved, image)) {
          savedAs[index].push_back(relative);
          matched = true;
          break;
        }
      }
      if (!matched) {
        Fail(relative + " (" + std::to_string(saved.size()) + " bytes) is not a whole picture the scanner delivered");
      }
    }

    // Each delivered picture once, under the number it should have.
    const std::vector<std::string> expected = ExpectedNames();
    for (const auto& [index, image] : delivered) {
      const std::vector<std::string>& names = savedAs[index];
      if (scenario_.expect == Expect::DrainedToScratch) {
        ++result_.drained;
        if (!names.empty()) Fail("picture " + std::to_string(index) + " was refused room but saved as " + names[0]);
        continue;
      }
      if (names.empty()) {
        ++result_.lost;
        Fail("picture " + std::to_string(index) + " (" + std::to_string(image.bytes.size()) +
             " bytes) was delivered but not saved");
      } else if (names.size() > 1) {
        Fail("picture " + std::to_string(index) + " was saved " + std::to_string(names.size()) + " times: " + names[0] +
             ", " + names[1]);
      } else if (index < expected.size() && expected[index] != "?" && Lower(names[0]) != Lower(expected[index])) {
        Fail("picture " + std::to_string(index) + " was saved as " + names[0] + ", expected " + expected[index]);
      }
    }
    if (scenario_.crash) CheckSettingsFile();
    if (scenario_.expect == Expect::NotDelivered && !delivered.empty()) {
      Fail(std::to_string(delivered.size()) + " pictures were taken from the scanner although none could be saved");
    }
  }

  const Scenario& scenario_;
  const Tools& tools_;
  const fs::path folder_;
  const fs::path world_;
  std::string program_;
  ScenarioResult result_;
  std::map<fs::path, std::string> seeds_;
  std::vector<std::string> dateTimes_;
  std::unique_ptr<TmpfsDrive> drive_;
  std::unique_ptr<ForeignProcess> service_;
  bool applied_ = false;
  std::unique_ptr<ChildProcess> applier_;
  Clock::time_point applyStarted_{};
  bool crashedWhileStopping_ = false;
  Clock::time_point restartedAt_{};
};

}  // namespace

ScenarioResult RunScenario(const Scenario& scenario, const Tools& tools, const std::filesystem::path& folder) {
  Run run(scenario, tools, folder);
  return run.Go();
}

}  // namespace pw::faultmatrix
