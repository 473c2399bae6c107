// pagewick.exe as a service of Wine's control manager: installed with
// /install /silent, registered with the stated values, started, paused,
// continued and stopped through the manager, and uninstalled again. Dialogs
// would block here, so only silent runs that succeed are used; failures are
// checked through the manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <type_traits>
#include <string>
#include <thread>
#include <vector>

#include <optional>
#include <variant>

#include "agent/ServiceConnection.h"
#include "platform/EventLog.h"
#include "platform/FileSystem.h"
#include "platform/Profile.h"
#include "platform/Security.h"
#include "platform/ServiceControl.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/Waiting.h"
#include "platform/winapi/WindowsApi.h"

#undef CreateProcess

namespace pw::service {
namespace {

using namespace std::chrono_literals;
namespace pf = platform;

constexpr const char* kServiceName = "Service1";
constexpr const char* kMarker = "c:\\run.info";
constexpr std::uint32_t kAcceptSessionChange = 0x80;

// The program's host path as Wine sees it, through drive Z:.
std::string ProgramPath() {
  std::string path = std::string("Z:") + PAGEWICK_PROGRAM;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

bool SameTextIgnoringCase(std::string a, std::string b) {
  std::transform(a.begin(), a.end(), a.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  std::transform(b.begin(), b.end(), b.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return a == b;
}

// Starts pagewick.exe with the arguments; false when it cannot be started.
bool LaunchProgram(const std::string& arguments, PROCESS_INFORMATION& process) {
  std::string commandLine = "\"" + ProgramPath() + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  process = PROCESS_INFORMATION{};
  return ::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process) != FALSE;
}

// Runs pagewick.exe with the arguments and waits for it; its exit code, or -1.
int RunProgram(const std::string& arguments) {
  PROCESS_INFORMATION process;
  if (!LaunchProgram(arguments, process)) return -1;
  const DWORD waited = ::WaitForSingleObject(process.hProcess, 60000);
  DWORD exitCode = static_cast<DWORD>(-1);
  if (waited == WAIT_OBJECT_0) ::GetExitCodeProcess(process.hProcess, &exitCode);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return waited == WAIT_OBJECT_0 ? static_cast<int>(exitCode) : -1;
}

struct Search {
  DWORD processId;
  HWND found;
};

// EnumWindows: the first visible dialog (a message box) of the process.
BOOL CALLBACK FindProcessDialog(HWND window, LPARAM data) {
  auto* wanted = reinterpret_cast<Search*>(data);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  char className[16] = {};
  ::GetClassNameA(window, className, sizeof className);
  if (owner != wanted->processId || std::string(className) != "#32770" || !::IsWindowVisible(window)) return TRUE;
  wanted->found = window;
  return FALSE;
}

struct BoxedRun {
  int exitCode = -1;
  std::vector<std::string> captions;  // of the boxes it showed, closed here
};

// Runs pagewick.exe with the arguments and closes each box it shows, as a
// user who presses OK would; its exit code (-1 when it did not end within a
// minute) and the boxes' captions.
BoxedRun RunProgramClosingBoxes(const std::string& arguments) {
  BoxedRun run;
  PROCESS_INFORMATION process;
  if (!LaunchProgram(arguments, process)) return run;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  DWORD waited = WAIT_TIMEOUT;
  while (waited == WAIT_TIMEOUT && std::chrono::steady_clock::now() < deadline) {
    waited = ::WaitForSingleObject(process.hProcess, 50);
    Search search{process.dwProcessId, nullptr};
    ::EnumWindows(&FindProcessDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) continue;
    char caption[64] = {};
    ::GetWindowTextA(search.found, caption, sizeof caption);
    run.captions.emplace_back(caption);
    ::PostMessageA(search.found, WM_CLOSE, 0, 0);
    // The box closes before the next look.
    for (int i = 0; i < 100 && ::IsWindow(search.found) && ::IsWindowVisible(search.found); ++i) ::Sleep(20);
  }
  DWORD exitCode = static_cast<DWORD>(-1);
  if (waited == WAIT_OBJECT_0) ::GetExitCodeProcess(process.hProcess, &exitCode);
  if (waited != WAIT_OBJECT_0) ::TerminateProcess(process.hProcess, 1);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  run.exitCode = waited == WAIT_OBJECT_0 ? static_cast<int>(exitCode) : -1;
  return run;
}

class ServiceWineTest : public ::testing::Test {
 protected:
  ServiceWineTest() {
    manager_ =
        pf::OpenSCManager(std::nullopt, std::nullopt, pf::manager_access::kAllAccess).value_or(pf::ServiceHandle());
  }

  void SetUp() override {
    ASSERT_TRUE(manager_.valid());
    RemoveService();  // a leftover of an earlier run that failed half way
  }

  // The registration must never outlive the test: it starts automatically.
  void TearDown() override {
    RemoveService();
    (void)pf::DeleteFile(kMarker);
  }

  void RemoveService() {
    pf::Result<pf::ServiceHandle> opened = pf::OpenService(manager_, kServiceName, pf::service_access::kAllAccess);
    if (!opened) return;
    if (pf::QueryServiceStatus(*opened).status.currentState != pf::service_state::kStopped) {
      (void)pf::ControlService(*opened, pf::service_control::kStop);
      (void)WaitForState(*opened, pf::service_state::kStopped, 30s);
    }
    (void)pf::DeleteService(*opened);
  }

  static bool WaitForState(const pf::ServiceHandle& service, std::uint32_t state, std::chrono::seconds deadline) {
    return test::WaitUntil([&] { return pf::QueryServiceStatus(service).status.currentState == state; }, deadline, 50ms);
  }

  // Installs and starts the service, opened into `service`; the test is
  // skipped where the system has no session agents (before Windows Vista).
  void InstallAndStartWithAgents(pf::ServiceHandle& service) {
    // Under Wine the service runs as the test's user, not as LocalSystem: an
    // agent talks to it only where the machine policy allows that.
    sameUserServer_.emplace(agent::kAllowServerOfSameUser, 1);
    ASSERT_TRUE(sameUserServer_->ok()) << "HKLM\\SOFTWARE\\Pagewick is written (the tests run as an administrator)";
    ASSERT_EQ(RunProgram("/install /silent"), 0);
    pf::Result<pf::ServiceHandle> opened = pf::OpenService(manager_, kServiceName, pf::service_access::kAllAccess);
    ASSERT_TRUE(opened.ok()) << "error " << opened.error();
    service = std::move(opened).value();
    ASSERT_TRUE(pf::StartService(service, {}).ok());
    ASSERT_TRUE(WaitForState(service, pf::service_state::kRunning, 60s));
    if ((pf::QueryServiceStatus(service).status.controlsAccepted & kAcceptSessionChange) == 0) {
      GTEST_SKIP() << "the system reports a version before Windows Vista: no session agents";
    }
  }

  pf::ServiceHandle manager_;
  std::optional<test::MachinePolicyValue> sameUserServer_;
};

TEST_F(ServiceWineTest, InstallStartStopUninstallThroughTheControlManager) {
  ASSERT_EQ(RunProgram("/install /silent"), 0);
  pf::Result<pf::ServiceHandle> opened = pf::OpenService(manager_, kServiceName, pf::service_access::kAllAccess);
  ASSERT_TRUE(opened.ok()) << "error " << opened.error();
  const pf::ServiceHandle& service = *opened;

  const pf::Result<pf::ServiceConfig> config = pf::QueryServiceConfig(service);
  ASSERT_TRUE(config.ok()) << "error " << config.error();
  EXPECT_EQ(config->type, 0x110u);
  EXPECT_EQ(config->startType, pf::start_type::kAuto);
  EXPECT_EQ(config->errorControl, pf::error_control::kNormal);
  EXPECT_TRUE(SameTextIgnoringCase(config->binaryPath, ProgramPath())) << config->binaryPath;
  EXPECT_EQ(config->displayName, "Pagewick");
  EXPECT_EQ(config->serviceStartName, "LocalSystem");
  const pf::Result<std::string> description = pf::QueryServiceDescription(service);
  ASSERT_TRUE(description.ok()) << "error " << description.error();
  EXPECT_EQ(description->rfind("Receives the pictures scanned on a Pagewick USB scanner", 0), 0u) << *description;
  EXPECT_EQ(pf::QueryServiceStatus(service).status.currentState, pf::service_state::kStopped);
  const bool markerAfterInstall = pf::FileExists(kMarker);

  const pf::Result<void> started = pf::StartService(service, {});
  ASSERT_TRUE(started.ok()) << "error " << started.error();
  ASSERT_TRUE(WaitForState(service, pf::service_state::kRunning, 60s));
  const pf::ServiceStatus running = pf::QueryServiceStatus(service).status;
  // Windows Vista and later (as Wine reports itself): session agents, no marker.
  const bool sessionAgents = (running.controlsAccepted & kAcceptSessionChange) != 0;
  EXPECT_EQ(running.controlsAccepted, sessionAgents ? 7u | kAcceptSessionChange : 7u);
  EXPECT_EQ(markerAfterInstall, !sessionAgents) << "the install run's ServiceCreate leaves the marker before Vista only";
  EXPECT_EQ(running.waitHint, 5000u);
  EXPECT_FALSE(pf::FileExists(kMarker)) << "the service's start removes the marker";

  ASSERT_TRUE(pf::ControlService(service, pf::service_control::kPause).ok);
  EXPECT_TRUE(WaitForState(service, pf::service_state::kPaused, 30s));
  ASSERT_TRUE(pf::ControlService(service, pf::service_control::kContinue).ok);
  EXPECT_TRUE(WaitForState(service, pf::service_state::kRunning, 30s));

  const pf::ServiceStatusResult stopping = pf::ControlService(service, pf::service_control::kStop);
  ASSERT_TRUE(stopping.ok) << "error " << stopping.error;
  EXPECT_TRUE(WaitForState(service, pf::service_state::kStopped, 30s));

  ASSERT_EQ(RunProgram("/uninstall /silent"), 0);
  opened->reset();
  const pf::Result<pf::ServiceHandle> again = pf::OpenService(manager_, kServiceName, pf::service_access::kAllAccess);
  EXPECT_FALSE(again.ok());
  EXPECT_EQ(again.error(), pf::error::kServiceDoesNotExist);
}

// A script learns from the exit code whether a silent install or uninstall
// worked: 0, or the Windows error code the failure box names.
TEST_F(ServiceWineTest, FailingSilentInstallAndUninstallEndWithTheirErrorCode) {
  const struct {
    const char* arguments;
    int exitCode;
    bool errorBox;
  } rows[] = {
      {"/install /silent", 0, false},
      {"/install /silent", 1073, true},  // ERROR_SERVICE_EXISTS
      {"-INSTALL", 1073, true},
      {"/uninstall /silent", 0, false},
      {"/uninstall /silent", 1060, true},  // ERROR_SERVICE_DOES_NOT_EXIST
  };
  for (const auto& row : rows) {
    const BoxedRun run = RunProgramClosingBoxes(row.arguments);
    EXPECT_EQ(run.exitCode, row.exitCode) << row.arguments;
    EXPECT_EQ(run.captions, row.errorBox ? std::vector<std::string>{"Error"} : std::vector<std::string>{})
        << row.arguments;
  }
}

// /install registers both event sources with pagewick.exe as their message
// file, and its message table gives every entry's text back as written (the
// program writes each one with event id 0, 1 or 2 and the text as its one string);
// /uninstall removes both registrations.
TEST_F(ServiceWineTest, InstallRegistersTheEventSourcesWhoseMessageIsTheEntrysText) {
  ASSERT_EQ(RunProgram("/install /silent"), 0);
  for (const char* source : {"Service1", "pagewick.exe"}) {
    const std::optional<pf::EventSourceRegistration> registered = pf::FindEventSourceFile(source);
    ASSERT_TRUE(registered.has_value()) << source;
    EXPECT_TRUE(SameTextIgnoringCase(registered->messageFile, ProgramPath())) << registered->messageFile;
    EXPECT_EQ(registered->typesSupported, 7u) << source;
  }

  // The message file as a log viewer reads it: the message table resource,
  // and message 0 formatted with the entry's string.
  const std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&::FreeLibrary)> loaded(
      ::LoadLibraryExA(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), &::FreeLibrary);
  HMODULE module = loaded.get();
  ASSERT_NE(module, nullptr) << ::GetLastError();
  EXPECT_NE(::FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(11)), nullptr) << "RT_MESSAGETABLE 1";
  const char* texts[] = {
      "Service failed on start: The system cannot find the file specified.",
      "Exception EAccessViolation in module pagewick.exe at 00000000.\nAccess violation.",
      "100% of %1 and %%: inserted text is not formatted again",
  };
  // Event id 0 (failures), 1 (refused locations), 2 (refused connections),
  // 3 (the service's own files made by a user, not used).
  for (DWORD eventId = 0; eventId <= 3; ++eventId) {
    for (const char* text : texts) {
      const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(text)};
      char formatted[512] = {};
      const DWORD length =
          ::FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, eventId, 0, formatted,
                           sizeof formatted, reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
      EXPECT_NE(length, 0u) << "event id " << eventId << ", error " << ::GetLastError();
      EXPECT_EQ(std::string(formatted, length), text) << "event id " << eventId;
    }
  }
  char none[64] = {};
  EXPECT_EQ(::FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, module, 4, 0, none,
                             sizeof none, nullptr),
            0u)
      << "no message past id 3: " << none;

  ASSERT_EQ(RunProgram("/uninstall /silent"), 0);
  EXPECT_FALSE(pf::FindEventSourceFile("Service1").has_value());
  EXPECT_FALSE(pf::FindEventSourceFile("pagewick.exe").has_value());
}

// Starts pagewick.exe with the arguments without waiting for it.
bool StartProgram(const std::string& arguments) {
  PROCESS_INFORMATION process;
  if (!LaunchProgram(arguments, process)) return false;
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return true;
}

// The process of the running service, 0 when it cannot be had.
DWORD ServiceProcessId() {
  SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return 0;
  SC_HANDLE service = ::OpenServiceA(manager, kServiceName, SERVICE_QUERY_STATUS);
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  const bool ok = service != nullptr && ::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                                               reinterpret_cast<BYTE*>(&status), sizeof status, &needed);
  if (service != nullptr) ::CloseServiceHandle(service);
  ::CloseServiceHandle(manager);
  return ok ? status.dwProcessId : 0;
}

struct PageSearch {
  DWORD service = 0;
  HWND found = nullptr;
};

BOOL CALLBACK LookAtWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<PageSearch*>(data);
  char className[32] = {};
  char title[32] = {};
  ::GetClassNameA(window, className, sizeof className);
  ::GetWindowTextA(window, title, sizeof title);
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  if (std::string(className) == "TMainForm" && std::string(title) == "Pagewick" && process != search->service) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// A settings page on this desktop that is not the service's own window: an agent's.
HWND FindPage() {
  PageSearch search;
  search.service = ServiceProcessId();
  ::EnumWindows(&LookAtWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::seconds deadline) {
  return test::WaitUntil(done, deadline, 100ms);
}

// The service starts an agent in the (one) session; where Wine lists it no
// session, the test starts it as the service would. The agent's page is
// found by class and title on this desktop, in a process other than the
// service's, and the agent ends with the service.
TEST_F(ServiceWineTest, AgentPageAppearsOnTheDesktopAndEndsWithTheService) {
  pf::ServiceHandle opened;
  InstallAndStartWithAgents(opened);
  if (HasFatalFailure() || IsSkipped()) return;
  const bool startedByService = WaitFor([] { return FindPage() != nullptr; }, 15s);
  if (!startedByService) {
    EXPECT_TRUE(test::KnownWineDifference("the service starts no agent: WTSEnumerateSessions lists no session"));
    // Wine also keeps the service's windows on this desktop, where a desktop
    // start would find the service's hidden page; the agent is started as the
    // service would start it.
    ASSERT_TRUE(StartProgram("/agent"));
  }
  const bool agentPage = WaitFor([] { return FindPage() != nullptr; }, 30s);
  ASSERT_TRUE(agentPage) << "the agent's page is found by class and title";
  EXPECT_TRUE(::IsWindowVisible(FindPage()) == FALSE) << "an agent started for the session shows only its icon";

  ASSERT_TRUE(pf::ControlService(opened, pf::service_control::kStop).ok);
  EXPECT_TRUE(WaitForState(opened, pf::service_state::kStopped, 30s));
  EXPECT_TRUE(WaitFor([] { return FindPage() == nullptr; }, 30s)) << "the agent ends with the service";
}

// An agent's Apply, sent over the service's pipe, reaches the settings file.
TEST_F(ServiceWineTest, SettingsFromTheAgentsPipeReachTheSettingsFile) {
  pf::ServiceHandle opened;
  InstallAndStartWithAgents(opened);
  if (HasFatalFailure() || IsSkipped()) return;
  // Under Wine the service runs as the test's user, whom an agent accepts
  // only as the machine policy allows (set by InstallAndStartWithAgents).
  agent::ServiceConnection connection(agent::ServiceConnection::Options{});
  const auto end = std::chrono::steady_clock::now() + 30s;
  bool connected = false;
  while (!(connected = connection.Connect().ok()) && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(connected) << "the service serves the agents' pipe";
  auto nextState = [&]() -> std::optional<agent::StateMessage> {
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < until) {
      for (const agent::Message& message : connection.TakeMessages()) {
        if (const auto* state = std::get_if<agent::StateMessage>(&message)) return *state;
      }
      std::this_thread::sleep_for(50ms);
    }
    return std::nullopt;
  };
  ASSERT_TRUE(nextState().has_value()) << "a new agent gets the settings";

  const std::string folder = "C:\\pagewick-agent-test";
  (void)pf::CreateDirectory(folder);
  ASSERT_TRUE(connection.Send(agent::ApplyMessage{1, folder, true}).ok());
  const std::optional<agent::StateMessage> applied = nextState();
  ASSERT_TRUE(applied.has_value());
  EXPECT_EQ(applied->saveLocation, folder);
  // From Vista on the settings are in the service's own folder below
  // ProgramData; under Wine that folder is not owned by Administrators, so
  // the service keeps them beside the executable.
  std::string settings = "C:\\ProgramData\\Pagewick\\pagewick.info";
  if (!pf::OwnedBySystemOrAdministrators("C:\\ProgramData\\Pagewick") &&
      test::KnownWineDifference("the settings folder is not owned by Administrators: settings beside the executable")) {
    settings = ProgramPath().substr(0, ProgramPath().find_last_of('\\') + 1) + "pagewick.info";
  }
  EXPECT_EQ(pf::ReadProfileString("Setting", "Path", "", settings).text, folder);
  EXPECT_EQ(pf::ReadProfileString("Setting", "AutoRoate", "", settings).text, "1");

  ASSERT_TRUE(pf::ControlService(opened, pf::service_control::kStop).ok);
  EXPECT_TRUE(WaitForState(opened, pf::service_state::kStopped, 30s));
  connection.Close();
  (void)pf::DeleteFile(settings);
  (void)pf::RemoveDirectory(folder);
}

}  // namespace
}  // namespace pw::service
