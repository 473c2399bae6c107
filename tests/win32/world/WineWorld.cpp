#include "tests/win32/world/WineWorld.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "platform/FileSystem.h"
#include "platform/StorageDevice.h"
#include "platform/winapi/WindowsApi.h"
#include "tools/scanner-driver/ScannerWire.h"
#include "tests/support/Waiting.h"

// After windows.h, which it needs.
#include <tlhelp32.h>

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
  platform::Result<platform::DeviceHandle> opened = platform::OpenDevice(
      path, platform::access::kGenericRead | platform::access::kGenericWrite, platform::share::kRead | platform::share::kWrite);
  if (!opened.ok()) return "transport error " + std::to_string(opened.error());
  std::string answer(4096, '\0');
  const platform::IoControlResult result =
      platform::DeviceIoControl(*opened, PW_WIRE_SIMULATOR_CONTROL, line.data(),
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
  // A run that does not end within the minute is ended with its object.
  const StartedProgram started(program, arguments);
  if (!started.WaitForExit(std::chrono::seconds(60))) return -1;
  DWORD exitCode = static_cast<DWORD>(-1);
  ::GetExitCodeProcess(started.Handle(), &exitCode);
  return static_cast<int>(exitCode);
}

StartedProgram::StartedProgram(const std::string& program, const std::string& arguments) {
  std::string commandLine = "\"" + program + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    return;
  }
  ::CloseHandle(process.hThread);
  process_ = process.hProcess;
  id_ = process.dwProcessId;
}

StartedProgram::~StartedProgram() {
  if (process_ == nullptr) return;
  if (!WaitForExit(std::chrono::milliseconds(0))) {
    ::TerminateProcess(process_, 1);
    ::WaitForSingleObject(process_, 5000);
  }
  ::CloseHandle(process_);
}

bool StartedProgram::WaitForExit(std::chrono::milliseconds deadline) const {
  return process_ != nullptr && ::WaitForSingleObject(process_, static_cast<DWORD>(deadline.count())) == WAIT_OBJECT_0;
}

namespace {

BOOL CALLBACK CollectWindow(HWND window, LPARAM data) {
  char className[256] = {};
  char title[MAX_PATH + 1] = {};
  ::GetClassNameA(window, className, sizeof className);
  ::GetWindowTextA(window, title, sizeof title);
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  reinterpret_cast<std::vector<DesktopWindow>*>(data)->push_back(
      DesktopWindow{reinterpret_cast<std::uintptr_t>(window), process, className, title, ::IsWindowVisible(window) != FALSE});
  return TRUE;
}

}  // namespace

std::vector<DesktopWindow> TopLevelWindows() {
  std::vector<DesktopWindow> windows;
  ::EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::optional<std::uint32_t> ParentProcess(std::uint32_t process) {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return std::nullopt;
  std::optional<std::uint32_t> parent;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot, &entry); more; more = ::Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == process) {
      parent = entry.th32ParentProcessID;
      break;
    }
  }
  ::CloseHandle(snapshot);
  return parent;
}

std::uint32_t ServiceProcessId(const std::string& service) {
  SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return 0;
  SC_HANDLE opened = ::OpenServiceA(manager, service.c_str(), SERVICE_QUERY_STATUS);
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  const bool ok = opened != nullptr && ::QueryServiceStatusEx(opened, SC_STATUS_PROCESS_INFO,
                                                              reinterpret_cast<BYTE*>(&status), sizeof status, &needed);
  if (opened != nullptr) ::CloseServiceHandle(opened);
  ::CloseServiceHandle(manager);
  return ok && status.dwCurrentState != SERVICE_STOPPED ? status.dwProcessId : 0;
}

bool CloseWindowAndItsProcess(const DesktopWindow& window, std::chrono::milliseconds deadline) {
  HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, window.process);
  if (process == nullptr) return !ParentProcess(window.process).has_value();
  ::PostMessageA(reinterpret_cast<HWND>(window.handle), WM_CLOSE, 0, 0);
  bool gone = ::WaitForSingleObject(process, static_cast<DWORD>(deadline.count())) == WAIT_OBJECT_0;
  if (!gone) {
    ::TerminateProcess(process, 1);
    gone = ::WaitForSingleObject(process, 5000) == WAIT_OBJECT_0;
  }
  ::CloseHandle(process);
  return gone;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  // Each look may cross into Wine's file system: look less often than the host tests do.
  return test::WaitUntil(condition, deadline, std::chrono::milliseconds(50));
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
