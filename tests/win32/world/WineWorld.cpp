#include "tests/win32/world/WineWorld.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "platform/FileSystem.h"
#include "platform/StorageDevice.h"
#include "platform/win32/WinApi.h"
#include "tools/scanner-driver/ScannerWire.h"

#undef CreateProcess

namespace pw::wineworld {

std::optional<WorldPaths> FindWorld() {
  const char* root = std::getenv("PAGEWICK_WINE_WORLD");
  const char* drive = std::getenv("PAGEWICK_SCANNER_DRIVE");
  const char* program = std::getenv("PAGEWICK_PACKAGE");
  if (!root || !drive || !program || drive[0] == '\0') return std::nullopt;
  return WorldPaths{root, drive[0], program};
}

std::string SimulatorPort::Control(const std::string& line) const {
  const std::string path = std::string("\\\\?\\") + world_.drive + ":";
  platform::DeviceOpenResult opened = platform::OpenDevice(
      path, platform::access::kGenericRead | platform::access::kGenericWrite, platform::share::kRead | platform::share::kWrite);
  if (!opened.device.valid()) return "transport error " + std::to_string(opened.error);
  std::string answer(4096, '\0');
  const platform::IoControlResult result =
      platform::DeviceIoControl(opened.device, PW_WIRE_SIMULATOR_CONTROL, line.data(),
                                static_cast<std::uint32_t>(line.size()), answer.data(),
                                static_cast<std::uint32_t>(answer.size()));
  if (!result.ok) return "transport error " + std::to_string(result.error);
  answer.resize(result.bytesReturned);
  return answer;
}

namespace {

std::optional<std::vector<int>> ImageNumbers(const std::string& answer) {
  std::istringstream words(answer);
  std::string ok;
  std::string images;
  words >> ok >> images;
  if (ok != "ok" || images != "images") return std::nullopt;
  std::vector<int> numbers;
  for (int n = 0; words >> n;) numbers.push_back(n);
  return numbers;
}

}  // namespace

std::optional<std::vector<int>> SimulatorPort::Plug(const std::string& options) const {
  return ImageNumbers(Control("plug " + options));
}

std::optional<std::vector<int>> SimulatorPort::Queue(const std::string& options) const {
  return ImageNumbers(Control("queue " + options));
}

std::map<std::string, long> SimulatorPort::Status() const {
  std::map<std::string, long> counters;
  std::istringstream words(Control("status"));
  std::string word;
  words >> word;
  if (word != "ok") return counters;
  std::string name;
  std::string value;
  while (words >> name >> value) counters[name] = std::strtol(value.c_str(), nullptr, 10);
  return counters;
}

Bytes SimulatorPort::Image(int n) const {
  char name[32];
  std::snprintf(name, sizeof name, "%04d.jpg", n);
  return ReadWholeFile(world_.root + "\\fifo\\images\\" + name).value_or(Bytes());
}

std::optional<Bytes> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

void WriteWholeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

int RunProgram(const std::string& program, const std::string& arguments) {
  std::string commandLine = "\"" + program + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    return -1;
  }
  const DWORD waited = ::WaitForSingleObject(process.hProcess, 60000);
  DWORD exitCode = static_cast<DWORD>(-1);
  if (waited == WAIT_OBJECT_0) ::GetExitCodeProcess(process.hProcess, &exitCode);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return waited == WAIT_OBJECT_0 ? static_cast<int>(exitCode) : -1;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return condition();
}

Tally& RunTally() {
  static Tally tally;
  return tally;
}

void WriteTally(const WorldPaths& world) {
  const Tally& tally = RunTally();
  // Binary: the script on the Linux side reads plain line ends.
  std::ofstream out(world.root + "\\e2e-tally", std::ios::binary | std::ios::trunc);
  out << "images " << tally.imagesPulled << "\nfaults " << tally.faultCases << "\nlost " << tally.lost << "\n";
}

}  // namespace pw::wineworld
