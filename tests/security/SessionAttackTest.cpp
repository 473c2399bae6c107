// Attacks from a session that is not the console's, and on what a session
// agent trusts: another user's Apply, Exit and scan page; a silent switch of
// the console user's pictures to the default location; a pipe server of the
// agent's own user; a folder path a server names for the agent to open.
#include "tests/security/AttackFixture.h"
#include "sessionagent/SessionAgent.h"


namespace pw::service::test {
namespace {

constexpr const char* kPublicPictures = "C:\\Users\\Public\\Pictures";

// The last of the state messages that reached the connection once one has
// (other messages are dropped); nothing when none came before the deadline.
std::optional<ag::StateMessage> LastState(ag::ServiceConnection& connection,
                                          std::chrono::milliseconds deadline = kDeadline) {
  std::optional<ag::StateMessage> last;
  (void)WaitUntil(
      [&] {
        for (const ag::Message& message : connection.TakeMessages()) {
          if (const auto* state = std::get_if<ag::StateMessage>(&message)) last = *state;
        }
        return last.has_value();
      },
      deadline);
  return last;
}

// A session agent's connection in a process of its own, run by a session's
// user: its disabled AgentInSessionProcess test connects to the pipe and
// records the outcome (the error its Connect gave, 0 when it talks to the server).
class AgentInSession : public pw::test::SessionProcess {
 public:
  AgentInSession(const hostworld::World& world, const std::string& pipeName, std::uint32_t session)
      : SessionProcess(world, session, "AgentInSessionProcess.*",
                       world.Root() / ("agent-" + pipeName + "-" + std::to_string(session) + "-" + std::to_string(++runs_)),
                       {"PAGEWICK_AGENT_PIPE=" + pipeName}) {}

 private:
  static inline int runs_ = 0;
};

}  // namespace

// A second user's Apply made the console user's pictures go to a folder that
// second user owns. Their page only shows the settings; what they send is
// refused and changes nothing, and the console user's pictures still land in
// the console user's location.
TEST_F(AttackTest, AnotherSessionsApplyDoesNotSteerTheConsoleUsersPictures) {
  const std::uint32_t ann = world.UserSessions().LogOn("ann");
  world.MakeDirectories("C:\\AnnsDrop");
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);

  auto annsAgent = Connect(ann);
  ASSERT_NE(annsAgent, nullptr);
  const std::optional<ag::StateMessage> greeting = LastState(*annsAgent);
  ASSERT_TRUE(greeting.has_value());
  EXPECT_FALSE(greeting->mayChange) << "another session's page may change the settings";
  // Both save types: card mode too would store the location for the next pull.
  for (const std::uint32_t saveType : {ui::SaveModeComputer, ui::SaveModeCard}) {
    ASSERT_TRUE(annsAgent->Send(ag::ApplyMessage{saveType, "C:\\AnnsDrop", true}).ok());
    const std::optional<ag::StateMessage> answer = LastState(*annsAgent);
    ASSERT_TRUE(answer.has_value()) << "the sender gets the settings in force back";
    EXPECT_EQ(answer->saveLocation, kMalloryScans);
    EXPECT_EQ(answer->saveType, ui::SaveModeComputer);
    EXPECT_FALSE(answer->autoRotate);
    EXPECT_FALSE(answer->mayChange);
  }
  auto mallorysAgent = Connect(mallory);
  ASSERT_NE(mallorysAgent, nullptr);
  const std::optional<ag::StateMessage> inForce = LastState(*mallorysAgent);
  ASSERT_TRUE(inForce.has_value());
  EXPECT_EQ(inForce->saveLocation, kMalloryScans);
  EXPECT_TRUE(inForce->mayChange) << "the console user's page may change the settings";
  EXPECT_NE(EventLogText().find("from session " + std::to_string(ann)), std::string::npos) << EventLogText();

  PlugScanner();
  ASSERT_TRUE(TickUntil([&] { return simulator->QueuedImages() == 0; }));
  ExpectNothingLost(1, kMalloryScans);
  EXPECT_TRUE(Snapshot(world.HostPath("C:\\AnnsDrop")).empty()) << "a picture went to the other user's folder";
  ExpectProtectedUnchanged();
  StopService();
}

// A second user's Exit closed the service's window and reached every agent:
// the console user's icon went and their pictures stopped.
TEST_F(AttackTest, AnotherSessionsExitDoesNotReachTheConsoleAgent) {
  const std::uint32_t ann = world.UserSessions().LogOn("ann");
  StartService();
  auto mallorysAgent = Connect(mallory);
  ASSERT_NE(mallorysAgent, nullptr);
  ASSERT_TRUE(LastState(*mallorysAgent).has_value());
  auto annsAgent = Connect(ann);
  ASSERT_NE(annsAgent, nullptr);
  ASSERT_TRUE(LastState(*annsAgent).has_value());

  ASSERT_TRUE(annsAgent->Send(ag::ExitMessage{}).ok());
  const std::optional<ag::StateMessage> answer = LastState(*annsAgent);
  EXPECT_TRUE(answer.has_value() && !answer->mayChange) << "the sender gets the read-only state back";
  ASSERT_TRUE(PassesRan(world));
  const auto exits = Received<ag::ExitMessage>(*mallorysAgent, [](const ag::ExitMessage&) { return true; }, 500ms);
  EXPECT_TRUE(exits.empty()) << "another session's Exit reached the console user's agent";
  // The console user's agent is still served: their Apply is taken.
  ASSERT_TRUE(mallorysAgent->Send(ag::ApplyMessage{ui::SaveModeComputer, kMalloryScans, false}).ok());
  const std::optional<ag::StateMessage> applied = LastState(*mallorysAgent);
  ASSERT_TRUE(applied.has_value()) << "the console user's agent is no longer served";
  EXPECT_EQ(applied->saveLocation, kMalloryScans);
  EXPECT_TRUE(mallorysAgent->Connected());
  StopService();
}

// A found scanner brought up the settings page in every session: another
// user learnt of the console user's scanner and was offered its settings.
TEST_F(AttackTest, ScanPageOfAFoundScannerReachesOnlyTheConsole) {
  const std::uint32_t ann = world.UserSessions().LogOn("ann");
  StartService();
  ASSERT_EQ(ApplyAs(mallory, ui::SaveModeComputer, kMalloryScans), kMalloryScans);
  auto mallorysAgent = Connect(mallory);
  ASSERT_NE(mallorysAgent, nullptr);
  auto annsAgent = Connect(ann);
  ASSERT_NE(annsAgent, nullptr);
  ASSERT_TRUE(PassesRan(world));
  (void)annsAgent->TakeMessages();

  PlugScanner();
  std::vector<ag::ShowPageMessage> shown;
  ASSERT_TRUE(TickUntil([&] {
    for (const ag::Message& message : mallorysAgent->TakeMessages()) {
      if (const auto* page = std::get_if<ag::ShowPageMessage>(&message)) shown.push_back(*page);
    }
    return !shown.empty();
  })) << "the console user's page does not come up for the scanner";
  ASSERT_TRUE(PassesRan(world));
  bool annSawThePage = false;
  bool annSawTheScanner = false;
  for (const ag::Message& message : annsAgent->TakeMessages()) {
    if (std::holds_alternative<ag::ShowPageMessage>(message)) annSawThePage = true;
    if (const auto* state = std::get_if<ag::StateMessage>(&message); state && state->scannerAttached) {
      annSawTheScanner = true;
    }
  }
  EXPECT_FALSE(annSawThePage) << "the scan page came up in another session";
  EXPECT_FALSE(annSawTheScanner) << "another session was told of the scanner";
  (void)TickUntil([&] { return simulator->QueuedImages() == 0; });
  StopService();
}

// A plain file named like the next image folder made the service switch the
// console user's pictures to Public Pictures, which every user can read, and
// nobody was told. The switch stays (the pictures are saved), but the console
// user is told once where they go and why, and the event log says it.
TEST_F(AttackTest, ConsoleUserIsToldOnceWhenPicturesGoToTheDefaultLocation) {
  StartService();
  auto mallorysAgent = Connect(mallory);
  ASSERT_NE(mallorysAgent, nullptr);
  ASSERT_TRUE(LastState(*mallorysAgent).has_value());
  ASSERT_TRUE(mallorysAgent->Send(ag::ApplyMessage{ui::SaveModeComputer, kMalloryScans, false}).ok());
  ASSERT_TRUE(WaitUntil([&] {
    const std::optional<ag::StateMessage> state = LastState(*mallorysAgent, 200ms);
    return state && state->saveLocation == kMalloryScans;
  }));
  world.WriteFile(std::string(kMalloryScans) + "\\Photo1", "a file named like the next folder");

  std::vector<ag::NotifyMessage> notices;
  auto takeNotices = [&] {
    for (const ag::Message& message : mallorysAgent->TakeMessages()) {
      if (const auto* notice = std::get_if<ag::NotifyMessage>(&message)) notices.push_back(*notice);
    }
  };
  PlugScanner(3);
  (void)TickUntil([&] {
    takeNotices();
    return simulator->QueuedImages() == 0;
  }, 16);
  ASSERT_TRUE(PassesRan(world));
  takeNotices();
  ExpectNothingLost(3, kPublicPictures);
  std::size_t told = 0;
  for (const ag::NotifyMessage& notice : notices) {
    if (notice.kind != ag::NoticeKind::SwitchedToDefault) continue;
    ++told;
    EXPECT_EQ(notice.path, kPublicPictures);
  }
  EXPECT_EQ(told, 1u) << "the console user is told of the switch once, not per picture, and not never";
  const std::string log = EventLogText();
  EXPECT_NE(log.find(kMalloryScans), std::string::npos) << log;
  EXPECT_NE(log.find(std::string("default location ") + kPublicPictures), std::string::npos) << log;
  ExpectProtectedUnchanged();
  StopService();
}

// A server of the pipe run by the agent's own user (the user's own program,
// or a program of theirs that a page of theirs started) was trusted: it could
// show the user pages and open folders as the service. Only a LocalSystem
// server is, unless an administrator set the machine policy value.
TEST_F(AttackTest, AgentRefusesAServerOfItsOwnUser) {
  const std::string pipe = "PagewickOwnUser";
  const pw::test::UserPipeServer squatter(world, pipe, true, mallory);
  ASSERT_EQ(squatter.Result(), std::optional<pf::ErrorCode>(0));
  const struct {
    const char* what;
    std::optional<std::uint32_t> policy;
    pf::ErrorCode expected;
  } cases[] = {
      {"no policy value", std::nullopt, pf::error::kAccessDenied},
      {"the value 0", 0u, pf::error::kAccessDenied},
      {"the value 2", 2u, pf::error::kAccessDenied},
      {"the value 1, set by an administrator", 1u, 0},
  };
  for (const auto& c : cases) {
    world.SetMachinePolicyDword(ag::kAllowServerOfSameUser, c.policy);
    const AgentInSession agent(world, pipe, mallory);
    EXPECT_EQ(agent.Result(), std::optional<pf::ErrorCode>(c.expected)) << c.what;
  }
}

// The agent opened whatever folder a server named, with the "explore" verb
// as its user: a share (whose server learns the user's credentials), a
// device. It opens only a folder that passes the location rules.
TEST_F(AttackTest, AgentOpensNoFolderThatFailsTheLocationRules) {
  ag::AgentChannel::Options options;
  options.pipeName = "PagewickOpenFolderAttack";
  options.logError = [](const std::string&) {};
  ag::AgentChannel server(options);
  ASSERT_TRUE(server.Start().ok());
  std::atomic<bool> ended{false};
  std::thread agentThread([&] {
    ui::ProcessState process;
    ui::SessionAgent agent(process, false, options.pipeName);
    (void)agent.Run(5000);
    ended = true;
  });
  ASSERT_TRUE(WaitUntil([&] { return server.AgentCount() == 1; }));
  server.Broadcast(ag::StateMessage{1, kMalloryScans, false, false, true});
  const std::string sentinel = std::string(kMalloryScans) + "\\Photo1";
  for (const char* folder : {"\\\\evil\\share", "\\\\evil\\share\\Photo1", "\\\\?\\C:\\Windows", "\\\\.\\PhysicalDrive0",
                             "Photo1", "C:\\Users\\..\\Windows", "C:relative", "C:\\x\\a\"b"}) {
    server.Broadcast(ag::OpenFolderMessage{folder});
  }
  server.Broadcast(ag::OpenFolderMessage{sentinel});
  const bool sentinelOpened = WaitUntil([&] {
    for (const hostworld::ShellExecuteRecord& opened : world.Desktop().ShellExecutes()) {
      if (opened.file == sentinel) return true;
    }
    return false;
  });
  server.Broadcast(ag::ExitMessage{});
  (void)WaitUntil([&] { return ended.load(); });
  server.Stop();
  agentThread.join();
  EXPECT_TRUE(sentinelOpened) << "a folder of the save location is opened";
  for (const hostworld::ShellExecuteRecord& opened : world.Desktop().ShellExecutes()) {
    EXPECT_EQ(opened.file, sentinel) << "opened with \"" << opened.verb << "\"";
  }
}

// Disabled in a test run: only AgentInSession runs it, in a process of its own.
TEST(AgentInSessionProcess, DISABLED_ConnectsAsAUser) {
  const char* pipe = std::getenv("PAGEWICK_AGENT_PIPE");
  if (pipe == nullptr) GTEST_SKIP() << "runs only as the process of AgentInSession";
  hostworld::World world(hostworld::World::Options{std::getenv("PAGEWICK_WORLD")});
  ag::ServiceConnection connection(ag::ServiceConnection::Options{pipe});
  const pf::Result<void> connected = connection.Connect();
  pw::test::WriteSessionProcessResult(connected.ok() ? 0u : connected.error());
}

}  // namespace pw::service::test
