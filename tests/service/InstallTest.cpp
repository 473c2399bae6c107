// The process entry's install and uninstall runs: switches, the values the
// control manager receives, the dialogs, and ServiceCreate in every mode.
#include <regex>
#include <thread>

#include "platform/Dialogs.h"
#include "platform/SystemInfo.h"
#include "platform/NotifyIcon.h"
#include "platform/PathText.h"
#include "platform/hostworld/WorldSessions.h"
#include "service/ServiceApplication.h"
#include "service/Switches.h"
#include "tests/service/ServiceFixture.h"

namespace pw::service::test {
namespace {

using InstallTest = ServiceHostTest;

// Whether the arguments install, uninstall or run the service, and silently.
TEST(SwitchesTest, ArgumentsAreSwitchesOnlyAsAWholeWithAPrefix) {
  struct Row {
    std::vector<std::string> arguments;
    RunMode mode;
    bool silent;
  };
  const Row rows[] = {
      {{"/install"}, RunMode::Install, false},
      {{"-install"}, RunMode::Install, false},
      {{"/INSTALL"}, RunMode::Install, false},
      {{"-InStAlL", "-SILENT"}, RunMode::Install, true},
      {{"install"}, RunMode::Service, false},     // no prefix
      {{"/install:x"}, RunMode::Service, false},  // the rest must be the name as a whole
      {{"--install"}, RunMode::Service, false},   // "-install" after the prefix
      {{"/"}, RunMode::Service, false},
      {{"/uninstall"}, RunMode::Uninstall, false},
      {{"/uninstall", "/install"}, RunMode::Install, false},  // INSTALL wins, order aside
      {{"/install", "/uninstall"}, RunMode::Install, false},
      {{"/silent"}, RunMode::Service, true},  // alone it changes nothing
      {{"/Silent", "/UnInstall"}, RunMode::Uninstall, true},
      {{}, RunMode::Service, false},
      {{"/agent"}, RunMode::Agent, false},
      {{"-AGENT", "/silent"}, RunMode::Agent, true},
      {{"/agent", "/uninstall"}, RunMode::Uninstall, false},  // installing and uninstalling win
      {{"/agents"}, RunMode::Service, false},
  };
  for (const Row& row : rows) {
    const CommandLine line = ParseCommandLine(row.arguments);
    std::string shown;
    for (const std::string& argument : row.arguments) shown += argument + " ";
    EXPECT_EQ(line.mode, row.mode) << shown;
    EXPECT_EQ(line.silent, row.silent) << shown;
  }
}

TEST_F(InstallTest, InstallRegistersEveryValueOfTheDefinition) {
  world.SetModuleFileName("C:\\Pagewick\\pagewick.exe");
  EXPECT_EQ(RunProgram({"/install"}), 0);
  std::optional<hostworld::ServiceRecord> record = world.Services().Find("Service1");
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->name, "Service1");
  EXPECT_EQ(record->displayName, "Pagewick");
  EXPECT_EQ(record->type, 0x110u) << "own process, interactive";
  EXPECT_EQ(record->startType, 2u) << "automatic start";
  EXPECT_EQ(record->errorControl, 1u);
  EXPECT_EQ(record->binaryPath, "C:\\Pagewick\\pagewick.exe") << "the module path, no arguments";
  EXPECT_EQ(record->loadOrderGroup, std::optional<std::string>("")) << "an empty group string";
  EXPECT_FALSE(record->tagRequested);
  EXPECT_EQ(record->dependencies, std::optional<std::vector<std::string>>(std::vector<std::string>{}))
      << "an empty dependency list";
  EXPECT_FALSE(record->account.has_value()) << "no account name: LocalSystem";
  EXPECT_EQ(record->password, std::optional<std::string>("")) << "an empty password string";
  EXPECT_EQ(record->status.currentState, pf::service_state::kStopped) << "installing does not start the service";

  const std::vector<hostworld::MessageBoxRecord> boxes = world.Desktop().MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Information");
  EXPECT_EQ(boxes[0].text, "Service installed successfully");
  EXPECT_EQ(boxes[0].style, pf::mb::kOk | pf::mb::kIconInformation);
}

// An unquoted path with a blank would let the control manager run
// "C:\Program.exe" first: the registered path is quoted.
TEST_F(InstallTest, PathWithABlankIsRegisteredQuoted) {
  EXPECT_EQ(RunProgram({"/install", "/silent"}), 0);
  std::optional<hostworld::ServiceRecord> record = world.Services().Find("Service1");
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->binaryPath, "\"C:\\Program Files\\Pagewick\\pagewick.exe\"");
  // The text table beside it gives the description services.msc shows.
  EXPECT_EQ(record->description.rfind("Receives the pictures scanned on a Pagewick USB scanner", 0), 0u)
      << record->description;
  EXPECT_TRUE(world.Desktop().MessageBoxes().empty()) << "SILENT: no success message";
}

TEST_F(InstallTest, SecondInstallShowsTheErrorDialogWith1073) {
  Install();
  for (const char* silent : {"", "/silent"}) {
    const std::size_t before = world.Desktop().MessageBoxes().size();
    std::vector<std::string> arguments{"/install"};
    if (*silent != '\0') arguments.emplace_back(silent);
    EXPECT_EQ(RunProgram(arguments), 1073) << "ERROR_SERVICE_EXISTS as the exit code; " << silent;
    const std::vector<hostworld::MessageBoxRecord> boxes = world.Desktop().MessageBoxes();
    ASSERT_EQ(boxes.size(), before + 1) << "one dialog, no success message; " << silent;
    EXPECT_EQ(boxes.back().caption, "Error");
    EXPECT_EQ(boxes.back().style, pf::mb::kOk | pf::mb::kIconError);
    EXPECT_EQ(boxes.back().text,
              "Service \"Pagewick\" failed to install with error: \"Win32 Error.  Code: 1073.\n"
              "The specified service already exists.\"");
  }
}

// From Windows Vista on the service runs its folder's files as LocalSystem:
// a folder that standard users may change is refused with a box that says
// where to copy the program. Before Vista the install goes on as it did.
TEST_F(InstallTest, InstallRefusesAProgramFolderThatStandardUsersMayChangeFromVistaOn) {
  struct Row {
    std::uint32_t major;
    const char* module;
    bool denyUsers;  // an administrator took the users' write access away
    bool installed;
  };
  const Row rows[] = {
      {10, "C:\\Program Files\\Pagewick\\pagewick.exe", false, true},
      {10, "C:\\Program Files (x86)\\Pagewick\\pagewick.exe", false, true},
      {10, "C:\\Windows\\pagewick.exe", false, true},
      {10, "C:\\Tools\\pagewick.exe", false, false},  // made in the root of C: by default
      {10, "C:\\Users\\Public\\pagewick.exe", false, false},
      {10, "C:\\Tools\\pagewick.exe", true, true},
      {10, "C:\\Apps\\Pagewick\\pagewick.exe", true, false},  // users may rename C:\Apps and put another there
      {6, "D:\\Scanner\\pagewick.exe", false, false},
      {5, "C:\\Tools\\pagewick.exe", false, true},  // Windows XP: as specified
  };
  world.SetWindowsDirectory("C:\\Windows");
  world.AddDrive('D', pf::DriveType::Fixed);
  for (const Row& row : rows) {
    world.SetVersion(pf::kPlatformNt, row.major, 0, row.major == 5 ? 2600 : 19045);
    world.SetModuleFileName(row.module);
    world.MakeDirectories(pf::ExtractFilePath(row.module));
    if (row.denyUsers) world.UserSessions().DenyUserWrites(pf::ExtractFilePath(row.module));
    const std::size_t before = world.Desktop().MessageBoxes().size();
    EXPECT_EQ(RunProgram({"/install", "/silent"}), row.installed ? 0 : static_cast<int>(kProgramFolderRefused))
        << row.module << " on " << row.major;
    EXPECT_EQ(world.Services().Find("Service1").has_value(), row.installed) << row.module << " on " << row.major;
    const std::vector<hostworld::MessageBoxRecord> boxes = world.Desktop().MessageBoxes();
    if (row.installed) {
      EXPECT_EQ(boxes.size(), before) << row.module;
      EXPECT_EQ(RunProgram({"/uninstall", "/silent"}), 0);
      continue;
    }
    ASSERT_EQ(boxes.size(), before + 1) << row.module;
    EXPECT_EQ(boxes.back().caption, "Error");
    EXPECT_NE(boxes.back().text.find("failed to install"), std::string::npos) << boxes.back().text;
    EXPECT_NE(boxes.back().text.find("below Program Files"), std::string::npos) << boxes.back().text;
  }
}

// From Vista on /install registers both event sources with the executable as
// their message file, and /uninstall removes them; before Vista neither run
// touches the event log's registrations.
TEST_F(InstallTest, InstallRegistersTheEventSourcesAndUninstallRemovesThem) {
  struct Row {
    std::uint32_t major;
    const char* module;
    bool registers;
  };
  const Row rows[] = {
      {10, "C:\\Program Files\\Pagewick\\pagewick.exe", true},
      {10, "C:\\Program Files (x86)\\Pagewick\\PageWick.EXE", true},
      {6, "C:\\Program Files\\Pagewick\\pagewick.exe", true},
      {5, "C:\\Program Files\\Pagewick\\pagewick.exe", false},
  };
  for (const Row& row : rows) {
    world.SetVersion(pf::kPlatformNt, row.major, 0, row.major == 5 ? 2600 : 19045);
    world.SetModuleFileName(row.module);
    world.MakeDirectories(pf::ExtractFilePath(row.module));
    const std::string file = pf::ExtractFileName(row.module);
    ASSERT_EQ(RunProgram({"/install", "/silent"}), 0);
    ASSERT_TRUE(world.Services().Find("Service1").has_value()) << row.module;
    for (const std::string& source : {std::string("Service1"), file}) {
      const std::optional<pf::EventSourceRegistration> registered = pf::FindEventSourceFile(source);
      ASSERT_EQ(registered.has_value(), row.registers) << source << " on " << row.major;
      if (!registered) continue;
      EXPECT_EQ(registered->messageFile, row.module) << "the full path, unquoted";
      EXPECT_EQ(registered->typesSupported, 7u) << "error, warning and information";
    }
    EXPECT_FALSE(pf::FindEventSourceFile("Pagewick").has_value()) << "the display name is no source";
    ASSERT_EQ(RunProgram({"/uninstall", "/silent"}), 0);
    EXPECT_FALSE(pf::FindEventSourceFile("Service1").has_value()) << row.major;
    EXPECT_FALSE(pf::FindEventSourceFile(file).has_value()) << row.major;
    EXPECT_TRUE(world.Desktop().MessageBoxes().empty()) << "silent runs, no failure box";
  }
  // A second uninstall finds no service; a registration made by someone else
  // is left alone then.
  ASSERT_TRUE(pf::RegisterEventSourceFile("Service1", {"C:\\Other\\other.dll", 1}).ok());
  EXPECT_EQ(RunProgram({"/uninstall", "/silent"}), 1060);
  EXPECT_TRUE(pf::FindEventSourceFile("Service1").has_value());
}

TEST_F(InstallTest, UninstallRemovesTheRegistration) {
  Install();
  EXPECT_EQ(RunProgram({"/uninstall"}), 0);
  EXPECT_FALSE(world.Services().Find("Service1").has_value());
  const std::vector<hostworld::MessageBoxRecord> boxes = world.Desktop().MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Information");
  EXPECT_EQ(boxes[0].text, "Service uninstalled successfully");
}

TEST_F(InstallTest, UninstallOfAMissingServiceShowsTheErrorDialogWith1060) {
  EXPECT_EQ(RunProgram({"-UNINSTALL", "-silent"}), 1060) << "ERROR_SERVICE_DOES_NOT_EXIST as the exit code";
  const std::vector<hostworld::MessageBoxRecord> boxes = world.Desktop().MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_EQ(boxes[0].style, pf::mb::kOk | pf::mb::kIconError);
  EXPECT_EQ(boxes[0].text,
            "Service \"Pagewick\" failed to uninstall with error: \"Win32 Error.  Code: 1060.\n"
            "The specified service does not exist as an installed service.\"");
}

// Without administrator rights the control manager does not open for an
// install or uninstall: the box offers Windows' administrator prompt, OK runs
// the same switch elevated and a second box says how that ended; the exit
// code is the elevated run's, 1223 for a refused prompt, 5 for Cancel.
TEST_F(InstallTest, WithoutAdministratorRightsTheBoxOffersTheAdministratorPrompt) {
  enum class User { Cancels, RefusesPrompt, Consents };
  struct Row {
    const char* mode;
    bool installedBefore;
    User user;
    int exitCode;
    bool installedAfter;
    const char* outcome;  // a part of the second box's text; null: no second box
  };
  const Row rows[] = {
      {"/install", false, User::Cancels, 5, false, nullptr},
      {"/install", false, User::RefusesPrompt, 1223, false, "consent was refused"},
      {"/install", false, User::Consents, 0, true, "The Pagewick service is installed."},
      {"/install", true, User::Consents, 1073, true, "/install with administrator rights failed with error 1073"},
      {"/uninstall", true, User::RefusesPrompt, 1223, true, "consent was refused"},
      {"/uninstall", true, User::Consents, 0, false, "The Pagewick service is removed."},
      {"/uninstall", false, User::Consents, 1060, false, "failed with error 1060"},
  };
  world.WriteFile(kModulePath, "MZ");
  User user = User::Cancels;
  world.Desktop().SetMessageBoxDriver([&](const hostworld::MessageBoxRecord& box, hostworld::ModalLoop&) {
    if ((box.style & 0xF) == pf::mb::kOkCancel && user == User::Cancels) return pf::dialog_result::kCancel;
    return hostworld::Desktop::DefaultMessageBoxResult(box.style);
  });
  world.Desktop().SetElevationDriver([&](const hostworld::ElevationRecord& prompt) -> std::optional<std::uint32_t> {
    if (user != User::Consents) return std::nullopt;
    // The elevated process: the program again, with administrator rights.
    world.Services().SetAdministrator(true);
    int exitCode = -1;
    const std::string switchName = prompt.parameters.substr(0, prompt.parameters.find(' '));
    std::thread elevated([&] { exitCode = RunProgram({switchName, "/silent"}); });
    elevated.join();
    world.Services().SetAdministrator(false);
    return static_cast<std::uint32_t>(exitCode);
  });
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.mode) + " " + std::to_string(static_cast<int>(row.user)));
    if (row.installedBefore && !world.Services().Find("Service1")) Install();
    if (!row.installedBefore && world.Services().Find("Service1")) {
      ASSERT_EQ(RunProgram({"/uninstall", "/silent"}), 0);
    }
    world.Services().SetAdministrator(false);
    user = row.user;
    const std::size_t before = world.Desktop().MessageBoxes().size();
    const std::size_t prompts = world.Desktop().Elevations().size();
    EXPECT_EQ(RunProgram({row.mode, "/silent"}), row.exitCode);
    EXPECT_EQ(world.Services().Find("Service1").has_value(), row.installedAfter);
    const std::vector<hostworld::MessageBoxRecord> boxes = world.Desktop().MessageBoxes();
    ASSERT_GT(boxes.size(), before);
    const hostworld::MessageBoxRecord& offer = boxes[before];
    EXPECT_EQ(offer.caption, "Pagewick Message");
    EXPECT_EQ(offer.style, pf::mb::kOkCancel | pf::mb::kIconWarning);
    EXPECT_NE(offer.text.find(std::string("Choose OK to run pagewick.exe ") + row.mode + " with administrator rights"),
              std::string::npos)
        << offer.text;
    EXPECT_EQ(offer.text.find("Code: 5"), std::string::npos);
    const std::vector<hostworld::ElevationRecord> elevations = world.Desktop().Elevations();
    if (row.outcome == nullptr) {
      EXPECT_EQ(boxes.size(), before + 1);
      EXPECT_EQ(elevations.size(), prompts) << "Cancel: no prompt";
      continue;
    }
    ASSERT_EQ(elevations.size(), prompts + 1);
    EXPECT_EQ(elevations.back().file, kModulePath);
    EXPECT_EQ(elevations.back().parameters, std::string(row.mode) + " /silent");
    EXPECT_EQ(elevations.back().consented, row.user == User::Consents);
    EXPECT_NE(boxes.back().text.find(row.outcome), std::string::npos) << boxes.back().text;
    EXPECT_EQ(boxes.back().caption, "Pagewick Message");
  }

  // A desktop start (Windows 10) that finds no service offers the install
  // through the same prompt; consented, the service is installed.
  if (world.Services().Find("Service1")) {
    world.Services().SetAdministrator(true);
    ASSERT_EQ(RunProgram({"/uninstall", "/silent"}), 0);
    world.Services().SetAdministrator(false);
  }
  world.SetVersion(pf::kPlatformNt, 10, 0, 19045);
  user = User::Consents;
  const std::size_t before = world.Desktop().MessageBoxes().size();
  EXPECT_EQ(RunProgram({}), 0);
  EXPECT_TRUE(world.Services().Find("Service1").has_value());
  const std::vector<hostworld::MessageBoxRecord> boxes = world.Desktop().MessageBoxes();
  ASSERT_EQ(boxes.size(), before + 2);
  EXPECT_NE(boxes[before].text.find("Choose OK to install it now (pagewick.exe /install)"), std::string::npos)
      << boxes[before].text;
  EXPECT_NE(boxes.back().text.find("The Pagewick service is installed."), std::string::npos) << boxes.back().text;
  EXPECT_EQ(world.Desktop().Elevations().back().parameters, "/install /silent");
}

TEST(ApplicationErrorTextTest, PeriodIsAddedOnlyWhenTheMessageLacksOne) {
  hostworld::World world;
  world.SetModuleFileName("C:\\Apps\\pagewick.exe");
  const std::runtime_error plain("the settings are gone");
  EXPECT_TRUE(std::regex_match(ApplicationErrorText(&plain),
                               std::regex("Exception runtime_error in module pagewick\\.exe at 0+\\.\n"
                                          "the settings are gone\\.")))
      << ApplicationErrorText(&plain);
  const std::logic_error ending("done.");
  EXPECT_TRUE(std::regex_match(ApplicationErrorText(&ending), std::regex("Exception logic_error .*\ndone\\.")))
      << ApplicationErrorText(&ending);
  EXPECT_TRUE(std::regex_match(ApplicationErrorText(nullptr), std::regex("Exception Exception .*\nUnknown exception\\.")));
}

// Every start creates the service object once, before the command line is
// looked at: its transient window comes and goes (one tray icon added and
// removed) and the marker is left, whatever the run does afterwards.
TEST_F(InstallTest, EveryStartRunsServiceCreateOnceBeforeTheSwitches) {
  world.Services().SetAdministrator(false);  // even a run that fails at once
  const std::vector<std::vector<std::string>> runs = {{"/install"}, {"/uninstall"}, {}, {"install"}};
  for (const std::vector<std::string>& run : runs) {
    pf::DeleteFile(kMarker).IgnoreFailure();
    const std::size_t callsBefore = world.Desktop().TrayIconCalls().size();
    (void)RunProgram(run);
    EXPECT_TRUE(MarkerExists()) << (run.empty() ? "no switch" : run[0]);
    // What the shell took (a request it refuses, such as an identity this
    // system does not know, leaves no icon).
    std::vector<std::uint32_t> taken;
    const std::vector<hostworld::TrayIconCall> calls = world.Desktop().TrayIconCalls();
    for (std::size_t i = callsBefore; i < calls.size(); ++i) {
      if (calls[i].ok && calls[i].action != pf::nim::kModify && calls[i].action != pf::nim::kSetVersion) {
        taken.push_back(calls[i].action);
      }
    }
    EXPECT_EQ(taken, (std::vector<std::uint32_t>{pf::nim::kAdd, pf::nim::kDelete}))
        << "one window: its icon added and removed";
    EXPECT_EQ(MainWindow(), nullptr) << "the transient window is gone";
  }
}

TEST_F(InstallTest, MarkerIsReplacedByAnEmptyFile) {
  world.WriteFile(kMarker, "left over");
  EXPECT_EQ(RunProgram({"/install", "/silent"}), 0);
  ASSERT_TRUE(MarkerExists());
  EXPECT_EQ(world.ReadFile(kMarker), "");
}

TEST_F(InstallTest, MarkerThatCannotBeWrittenChangesNothingElse) {
  world.MakeDirectories(kMarker);  // a directory of the marker's name
  EXPECT_EQ(RunProgram({"/install"}), 0);
  EXPECT_TRUE(pf::DirectoryExists(kMarker));
  EXPECT_TRUE(world.Services().Find("Service1").has_value());
  ASSERT_EQ(world.Desktop().MessageBoxes().size(), 1u);
  EXPECT_EQ(world.Desktop().MessageBoxes()[0].text, "Service installed successfully");
}

// On Windows 2000 the transient window's start-up posts a quit message: the
// run's dialog closes as soon as it opens, and the install is done all the same.
TEST_F(InstallTest, QuitMessageOfWindows2000ClosesTheDialogAtOnce) {
  world.SetVersion(pf::kPlatformNt, 5, 0, 2195);
  EXPECT_EQ(RunProgram({"/install"}), 0);
  EXPECT_TRUE(world.Services().Find("Service1").has_value());
  const std::vector<hostworld::MessageBoxRecord> boxes = world.Desktop().MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Service installed successfully");
  EXPECT_EQ(boxes[0].result, pf::dialog_result::kNone) << "closed by the quit message, not by the user";
}

// Started from the desktop, the program is no service: it ends with an
// application event-log entry.
TEST_F(InstallTest, StartWithoutTheControlManagerEndsWithAnEventLogEntry) {
  for (const std::vector<std::string>& run :
       std::vector<std::vector<std::string>>{{}, {"/silent"}, {"install"}, {"/install:x"}, {"--install"}}) {
    hostworld::ClearEventLog(world);
    EXPECT_EQ(RunProgram(run), 0);
    const std::vector<hostworld::EventLogEntry> entries = EventLog();
    ASSERT_EQ(entries.size(), 1u) << (run.empty() ? "no switch" : run[0]);
    EXPECT_EQ(entries[0].source, "pagewick.exe");
    EXPECT_EQ(entries[0].type, pf::event_type::kError);
    EXPECT_EQ(entries[0].strings,
              std::vector<std::string>{"The service process could not connect to the service controller."});
  }
  EXPECT_FALSE(world.Services().Find("Service1").has_value());
  EXPECT_TRUE(world.Desktop().MessageBoxes().empty());
}

}  // namespace
}  // namespace pw::service::test
