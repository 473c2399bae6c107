// Attacks a standard user can make on the service of Windows Vista and later,
// each against the real service of a host world (its own drive poll, the
// scanner simulator on removable drive E:) and its real pipe, played by the
// test as a hostile agent or a plain pipe client of the user's session. Each
// attack asserts that nothing outside what that user may touch was created,
// changed or handed to them. The suite's summary line counts the attacks
// and those that succeeded.
#include <algorithm>
#include <cstdio>

#include "storage/FreeSpaceGuard.h"
#include "service/ServiceApplication.h"
#include "tests/security/AttackFixture.h"

namespace pw::service::test {
namespace {

// Counts the attacks that ran and those whose assertions failed (the attack
// succeeded), and prints the summary when the suite ends.
class AttackTally : public ::testing::Environment {
 public:
  void TearDown() override {
    int tried = 0;
    int succeeded = 0;
    const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
    for (int i = 0; i < unit.total_test_suite_count(); ++i) {
      const ::testing::TestSuite& suite = *unit.GetTestSuite(i);
      if (std::string_view(suite.name()) != "AttackTest") continue;
      for (int j = 0; j < suite.total_test_count(); ++j) {
        const ::testing::TestInfo& info = *suite.GetTestInfo(j);
        if (!info.should_run() || info.result()->Skipped()) continue;
        ++tried;
        if (info.result()->Failed()) ++succeeded;
      }
    }
    std::printf("attacks: %d tried by a standard user, %d succeeded\n", tried, succeeded);
  }
};

[[maybe_unused]] ::testing::Environment* const kTally = ::testing::AddGlobalTestEnvironment(new AttackTally);


// The next numbered folder is made a junction to System32 in the user's own
// location: LocalSystem created folders and files there with the scanner's bytes.
TEST_F(AttackTest, JunctionAsTheNextImageFolderLeadsNowhere) {
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  world.CreateJunction(std::string(kMalloryScans) + "\\Photo1", kSystem32);
  PlugScanner();
  (void)TickUntil([&] { return simulator->QueuedImages() == 0; });
  EXPECT_EQ(simulator->QueuedImages(), 1u) << "the picture stays on the scanner";
  ExpectProtectedUnchanged();
  StopService();
}

// The folder in use is swapped for a junction while the picture arrives:
// the rename that gives the picture its name would follow it.
TEST_F(AttackTest, FolderSwappedForAJunctionDuringThePullLeadsNowhere) {
  world.MakeDirectories(std::string(kMalloryScans) + "\\Photo1");
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  // Set on the thread that answers the scanner's requests, read here.
  std::atomic<bool> swapped{false};
  simulator->SetEventHandler([&](const sim::SimulatorEvent& event) {
    if (swapped.load() || event.kind != sim::SimulatorEvent::Kind::ChunkAnswered) return;
    swapped.store(true);
    fs::rename(world.HostPath(std::string(kMalloryScans) + "\\Photo1"),
               world.HostPath(kMalloryScans) / "Moved");
    world.CreateJunction(std::string(kMalloryScans) + "\\Photo1", kSystem32);
  });
  PlugScanner();
  (void)TickUntil([&] { return swapped.load() && simulator->QueuedImages() == 0; });
  EXPECT_TRUE(swapped.load());
  ExpectProtectedUnchanged();
  StopService();
}

// The next picture's name is made a link to a system file, and a link to
// another user's file waits under the name after it.
TEST_F(AttackTest, LinkAsTheNextImageNameIsNotWrittenThrough) {
  const std::string folder = std::string(kMalloryScans) + "\\Photo1";
  world.MakeDirectories(folder);
  world.CreateFileSymlink(folder + "\\img0001.jpg", std::string(kSystem32) + "\\config.sys");
  world.CreateFileSymlink(folder + "\\img0002.jpg", "C:\\Users\\ann\\Documents\\letter.txt");
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  PlugScanner(2);
  (void)TickUntil([&] { return simulator->QueuedImages() == 0; });
  ExpectProtectedUnchanged();
  StopService();
}

// Another user's folder as the location, applied from a session that is not
// at the console: the pictures are pulled with the console user's rights,
// never with the service's.
TEST_F(AttackTest, PullsUseTheConsoleUsersRightsNotTheServices) {
  world.MakeDirectories("C:\\Shared");
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, "C:\\Shared"), "C:\\Shared");
  // An administrator takes the users' rights in the folder away afterwards:
  // the service itself could still write there.
  world.UserSessions().DenyUserWrites("C:\\Shared");
  const auto sharedBefore = Snapshot(world.HostPath("C:\\Shared"));
  PlugScanner();
  (void)TickUntil([&] { return simulator->QueuedImages() == 0; });
  EXPECT_EQ(simulator->QueuedImages(), 1u) << "the picture stays on the scanner";
  EXPECT_EQ(Snapshot(world.HostPath("C:\\Shared")), sharedBefore) << "written with rights the user lacks";
  StopService();
}

// The save location names a place other than a folder of a local drive: the
// machine account would authenticate to the attacker's share, a device would
// be opened, or a relative path would resolve wherever the service stands.
TEST_F(AttackTest, LocationOnAShareADeviceOrRelativeIsRefused) {
  world.MapDrive('N', world.Root() / "network-drive", pf::DriveType::Remote);
  fs::create_directories(world.Root() / "network-drive");
  StartService();
  const std::string inForce = ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans);
  ASSERT_EQ(inForce, kMalloryScans) << "a location the user may write is taken";
  for (const char* hostile : {"\\\\attacker\\share\\scans", "\\\\?\\UNC\\attacker\\share", "\\\\.\\PhysicalDrive0",
                              "\\\\?\\C:\\Windows\\System32", "Scans", "..\\Windows", "\\Windows\\System32",
                              "C:Windows", "C:\\Users\\mallory\\Scans\\..\\..\\..\\Windows\\System32",
                              "N:\\scans"}) {
    EXPECT_EQ(ApplyAs(mallory, ui::SaveModeComputer, hostile), kMalloryScans) << hostile;
    EXPECT_EQ(ApplyAs(mallory, ui::SaveModeCard, hostile), kMalloryScans) << "card mode: " << hostile;
  }
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  PlugScanner();
  EXPECT_TRUE(TickUntil([&] { return simulator->QueuedImages() == 0; }));
  ExpectNothingLost(1, kMalloryScans);
  ExpectProtectedUnchanged();
  StopService();
}

// Card mode saves nothing, but the location it stored was created as
// LocalSystem when the window was next built.
TEST_F(AttackTest, CardModeApplyOfAFolderTheUserMayNotCreateCreatesNothing) {
  StartService();
  const std::string hostile = "C:\\Windows\\System32\\Pagewick";
  (void)ApplyAs(mallory, ui::SaveModeCard, hostile);
  {
    // Exit destroys the window; the next agent brings a new one (FormCreate).
    auto agent = Connect(mallory);
    ASSERT_NE(agent, nullptr);
    ASSERT_TRUE(agent->Send(ag::ExitMessage{}).ok());
    ASSERT_TRUE(PassesRan(world));
  }
  auto again = Connect(mallory);
  ASSERT_NE(again, nullptr);
  const auto states = Received<ag::StateMessage>(*again, [](const ag::StateMessage&) { return true; });
  ASSERT_FALSE(states.empty());
  EXPECT_NE(states.back().saveLocation, hostile);
  EXPECT_FALSE(pf::DirectoryExists(hostile));
  ExpectProtectedUnchanged();
  StopService();
}

// A location that carries line breaks or '=' would write keys of its own into
// the settings file: File and Folder outside any checked location. Card mode
// took any location, as nothing is saved there.
TEST_F(AttackTest, LocationThatInjectsSettingsIsRefused) {
  StartService();
  for (const char* hostile : {"C:\\Users\\mallory\\Scans\r\nFolder=..\\..\\..\\Windows\\System32\\x",
                              "C:\\Users\\mallory\\Scans\nFile=..\\..\\..\\..\\Windows\\y",
                              "C:\\Users\\mallory\\Scans\r[Setting]\r\nPath=C:\\Windows",
                              "C:\\Users\\mallory\\a=b", " C:\\Users\\mallory\\Scans",
                              "\"C:\\Users\\mallory\\Scans\""}) {
    for (std::uint32_t saveType : {ui::SaveModeCard, ui::SaveModeComputer}) {
      ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
      EXPECT_EQ(ApplyAs(mallory, saveType, hostile), kMalloryScans) << saveType << ": " << hostile;
    }
  }
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  // The settings as the next start reads them still send pictures there.
  StopService();
  StartService();
  PlugScanner();
  EXPECT_TRUE(TickUntil([&] { return simulator->QueuedImages() == 0; }));
  ExpectNothingLost(1, kMalloryScans);
  ExpectProtectedUnchanged();
  StopService();
}

// A settings file the user wrote into Public Documents before the service
// first ran (every user may create files there) names the system's folders.
TEST_F(AttackTest, SettingsFilePlantedInPublicDocumentsIsNotTrusted) {
  world.MakeDirectories("C:\\Users\\Public\\Documents");
  world.WriteFile(kSettingsPath,
                  "[Setting]\r\nMode=1\r\nPath=C:\\Windows\\System32\r\nFile=..\\..\\config\r\n"
                  "Folder=..\\..\\Program Files\\x\r\n");
  StartService();
  PlugScanner();
  (void)TickUntil([&] { return simulator->QueuedImages() == 0; });
  ExpectProtectedUnchanged();
  StopService();
}

// The user makes the service's settings folder below ProgramData before the
// service first runs (users may create folders there), with a settings file
// of their own in it and a handle on the folder kept open: taken over, the
// folder kept the user's file and the handle's rights.
TEST_F(AttackTest, SettingsFolderMadeFirstByTheUserIsSetAside) {
  const std::string folder = "C:\\ProgramData\\Pagewick";
  world.MakeDirectories(folder);
  world.WriteFile(folder + "\\pagewick.info", "[Setting]\r\nMode=1\r\nPath=C:\\Windows\\System32\r\n");
  ASSERT_TRUE(hostworld::SetEntryOwner(folder, "mallory"));
  ASSERT_TRUE(hostworld::SetEntryOwner(folder + "\\pagewick.info", "mallory"));
  const pf::OpenResult held =
      pf::CreateFile(folder, pf::access::kGenericRead | pf::access::kGenericWrite,
                     pf::share::kRead | pf::share::kWrite | pf::share::kDelete, pf::Disposition::OpenExisting,
                     pf::open_flag::kBackupSemantics);
  ASSERT_TRUE(held.file.valid());
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  PlugScanner();
  (void)TickUntil([&] { return simulator->QueuedImages() == 0; });
  EXPECT_EQ(pf::FinalPathOfHandle(held.file), std::optional<std::string>(folder + ".untrusted-1"))
      << "the user's handle still reaches the service's folder";
  EXPECT_EQ(hostworld::EntryOwner(folder), hostworld::kAdministratorsOwner);
  EXPECT_FALSE(world.UserSessions().UserMayWrite(folder + "\\pagewick.info")) << "the user still holds the folder";
  EXPECT_NE(world.ReadFile(folder + "\\pagewick.info").find("Path=C:\\Users\\mallory\\Scans"), std::string::npos)
      << "the settings are not in the fresh folder";
  EXPECT_EQ(world.ReadFile(folder + ".untrusted-1\\pagewick.info"),
            "[Setting]\r\nMode=1\r\nPath=C:\\Windows\\System32\r\n")
      << "the user's own file is left as it was";
  // An administrator can find the folder set aside by its warning's event id.
  const std::vector<hostworld::EventLogEntry> log = EventLog();
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const hostworld::EventLogEntry& entry) {
    return entry.type == pf::event_type::kWarning && entry.eventId == event_id::kUntrustedFile &&
           !entry.strings.empty() && entry.strings.front().find(folder + ".untrusted-1") != std::string::npos;
  })) << EventLogText();
  ExpectNothingLost(1, kMalloryScans);
  ExpectProtectedUnchanged();
  StopService();
}

// The scratch file a full disk sends a picture to: a file or link the user
// planted there first is not written through.
TEST_F(AttackTest, ScratchFilePlantedByTheUserIsNotWrittenThrough) {
  world.MakeDirectories("C:\\Users\\Public\\Documents");
  const std::string planted = "C:\\Users\\Public\\Documents\\tmp.jpg";
  world.WriteFile(planted, "mallory's own bytes");
  fs::create_symlink(world.HostPath(std::string(kSystem32) + "\\config.sys"),
                     world.HostPath("C:\\Users\\Public\\Documents") / "pagewick.tmp");
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  world.SetDriveFreeBytes('C', 1024 * 1024);
  PlugScanner();
  (void)TickUntil([&] { return simulator->QueuedImages() == 0; });
  EXPECT_EQ(world.ReadFile(planted), "mallory's own bytes");
  ExpectProtectedUnchanged();
  StopService();
}

// With write access short of FILE_CREATE_PIPE_INSTANCE the user cannot add
// server instances that would take other users' agents.
TEST_F(AttackTest, UserCannotAddInstancesOfTheServicesPipe) {
  StartService();
  const pw::test::UserPipeServer added(world, ag::kPipeName, false, mallory);
  EXPECT_EQ(added.Result(), std::optional<pf::ErrorCode>(pf::error::kAccessDenied));
  StopService();
}

// The user takes the pipe's name before the service starts: the service
// cannot serve, and no agent talks to the user's server.
TEST_F(AttackTest, AgentsRefuseAServerThatTookThePipeFirst) {
  const std::uint32_t ann = world.UserSessions().LogOn("ann");
  const pw::test::UserPipeServer squatter(world, ag::kPipeName, true, mallory);
  ASSERT_EQ(squatter.Result(), std::optional<pf::ErrorCode>(0));
  StartService();
  ::setenv("PAGEWICK_SESSION", std::to_string(ann).c_str(), 1);
  ag::ServiceConnection annsAgent(ag::ServiceConnection::Options{});
  const pf::Result<void> connected = annsAgent.Connect();
  ::unsetenv("PAGEWICK_SESSION");
  EXPECT_FALSE(connected.ok()) << "ann's agent talks to mallory's server";
  EXPECT_FALSE(annsAgent.Send(ag::ApplyMessage{1, "C:\\Users\\ann\\Documents", false}).ok());
  StopService();
}

// Sixteen connections held open by one session took every place: the other
// sessions' agents could no longer connect.
TEST_F(AttackTest, OneSessionCannotTakeEveryConnection) {
  const std::uint32_t ann = world.UserSessions().LogOn("ann");
  StartService();
  std::vector<pf::Pipe> held;
  ::setenv("PAGEWICK_SESSION", std::to_string(mallory).c_str(), 1);
  for (int i = 0; i < 20; ++i) {
    pf::Result<pf::Pipe> client = pf::OpenPipeClient(ag::kPipeName);
    if (client) held.push_back(std::move(client).value());
  }
  ::unsetenv("PAGEWICK_SESSION");
  ASSERT_TRUE(PassesRan(world));
  auto annsAgent = Connect(ann);
  ASSERT_NE(annsAgent, nullptr);
  EXPECT_FALSE(Received<ag::StateMessage>(*annsAgent, [](const ag::StateMessage&) { return true; }).empty())
      << "another session's agent is still served";
  StopService();
}

// An agent told to end that keeps its connection is dropped after a grace.
TEST_F(AttackTest, AgentThatIgnoresExitIsDropped) {
  StartService();
  pf::Pipe stubborn;
  ::setenv("PAGEWICK_SESSION", std::to_string(mallory).c_str(), 1);
  ASSERT_TRUE(WaitUntil([&] {
    stubborn = pf::OpenPipeClient(ag::kPipeName).value_or(pf::Pipe());
    return stubborn.valid();
  }));
  ::unsetenv("PAGEWICK_SESSION");
  // The stubborn client reads its messages but never goes; the service must
  // close the connection from its side.
  std::atomic<bool> greeted{false};
  std::atomic<bool> closed{false};
  std::thread reader([&] {
    std::array<std::byte, 512> buffer{};
    for (;;) {
      const pf::PipeTransfer read = stubborn.Read(buffer);
      if (!read.ok && read.error != pf::error::kMoreData) break;
      greeted = true;
    }
    closed = true;
  });
  // The service has taken the connection once it greets it: an Exit sent
  // before that would not be meant for it.
  const bool wasGreeted = WaitUntil([&] { return greeted.load(); });
  if (wasGreeted) {
    auto other = Connect(mallory);
    EXPECT_NE(other, nullptr);
    if (other != nullptr) {
      EXPECT_TRUE(other->Send(ag::ExitMessage{}).ok());
    }
  }
  (void)WaitUntil([&] { return closed.load(); }, 20s);
  const bool closedByTheService = closed.load();
  stubborn.Cancel();
  reader.join();
  closed = closedByTheService;
  EXPECT_TRUE(wasGreeted) << "the service never greeted the connection";
  EXPECT_TRUE(closed) << "the connection of an agent that ignored Exit stays open\n" << EventLogText();
  StopService();
}

// Every refused message wrote an event-log entry: a user could flood the log
// and push out what an administrator needs to read.
TEST_F(AttackTest, RefusalsCannotFloodTheEventLog) {
  StartService();
  const std::size_t before = EventLog().size();
  ::setenv("PAGEWICK_SESSION", std::to_string(mallory).c_str(), 1);
  for (int i = 0; i < 60; ++i) {
    pf::Result<pf::Pipe> client = pf::OpenPipeClient(ag::kPipeName);
    if (!client) continue;
    const std::array<std::byte, 2> junk{std::byte{2}, std::byte{0}};
    (void)client->Write(junk);
    std::array<std::byte, 512> buffer{};
    (void)client->Read(buffer);
  }
  ::unsetenv("PAGEWICK_SESSION");
  ASSERT_TRUE(PassesRan(world));
  EXPECT_LE(EventLog().size() - before, 12u) << "entries written for 60 refusals";
  StopService();
}

// Folder windows and notices of a pull belong to the person at the console:
// another session's user learns nothing of them.
TEST_F(AttackTest, AnotherSessionSeesNothingOfThePull) {
  const std::uint32_t ann = world.UserSessions().LogOn("ann");
  ASSERT_NE(ann, mallory);
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  auto annsAgent = Connect(ann);
  ASSERT_NE(annsAgent, nullptr);
  PlugScanner();
  ASSERT_TRUE(TickUntil([&] { return simulator->QueuedImages() == 0; }));
  ASSERT_TRUE(PassesRan(world));
  const auto opened = Received<ag::OpenFolderMessage>(*annsAgent, [](const ag::OpenFolderMessage&) { return false; },
                                                      500ms);
  EXPECT_TRUE(opened.empty()) << "a folder window reached another session: " << (opened.empty() ? "" : opened.front().path);
  ExpectNothingLost(1, kMalloryScans);
  StopService();
}

// The program's folder is one a standard user may change: the service would
// run the files they put there as LocalSystem.
TEST_F(AttackTest, InstallFromAFolderTheUserMayChangeIsRefused) {
  world.MakeDirectories("C:\\Tools");
  world.SetModuleFileName("C:\\Tools\\pagewick.exe");
  EXPECT_EQ(RunProgram({"/install", "/silent"}), static_cast<int>(kProgramFolderRefused));
  EXPECT_FALSE(world.Services().Find("Service1").has_value());
  ExpectProtectedUnchanged();
}

// A broken or hostile scanner announces a picture of almost 2 GiB: the
// free-space guard looked once per picture, so the drive filled up.
TEST_F(AttackTest, EndlessPictureCannotFillTheDrive) {
  world.AddDrive('D', pf::DriveType::Fixed);
  world.MakeDirectories("D:\\Scans");
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, "D:\\Scans"), "D:\\Scans");
  constexpr std::uint64_t kRoom = 8 * 1024 * 1024;
  world.SetDriveFreeBytes('D', kRoom);
  // The drive's free space falls as the transfer grows; the most it held
  // and the largest chunk are kept (set on the thread that answers the scanner).
  std::atomic<std::uint64_t> peak{0};
  std::atomic<std::uint32_t> largestChunk{0};
  simulator->QueueGeneratedImage(64 * 1024 * 1024, 7);
  simulator->SetEventHandler([&](const sim::SimulatorEvent& event) {
    std::uint64_t used = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(world.HostPath("D:\\Scans"), ec), end; !ec && it != end; it.increment(ec)) {
      if (it->is_regular_file()) used += it->file_size();
    }
    world.SetDriveFreeBytes('D', used < kRoom ? kRoom - used : 0);
    peak.store(std::max(peak.load(), used));
    largestChunk.store(std::max(largestChunk.load(), event.length));
  });
  world.AttachDevice('E', simulator);
  (void)TickUntil([&] { return false; }, 4);
  // Each chunk leaves the reserve: the drive holds it to within the chunk
  // the free space was last looked at before.
  EXPECT_GT(peak.load(), 0u);
  EXPECT_LE(peak.load(), kRoom - storage::kChunkReserveBytes + largestChunk.load()) << "the reserve is kept";
  StopService();
}

// Disabled in a test run: only UserPipeServer runs it, in a process of its own.
TEST(UserPipeServerProcess, DISABLED_CreatesAnInstanceAsAUser) { pw::test::ServePipeAsAUser(); }

}  // namespace
}  // namespace pw::service::test
