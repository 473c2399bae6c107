// The settings page as a session agent shows it: Apply and Exit go to the
// page's link, never to the scanner or the settings file.
#include <gtest/gtest.h>

#include "MainFormFixture.h"

namespace pw::ui::test {
namespace {

class RecordingPageLink : public PageLink {
 public:
  struct Applied {
    std::uint32_t saveType;
    std::string location;
    bool autoRotate;
  };
  bool ApplyPage(std::uint32_t saveType, const std::string& location, bool autoRotate) override {
    applied.push_back({saveType, location, autoRotate});
    return passesOn;
  }
  void ExitChosen() override { ++exits; }
  std::vector<Applied> applied;
  int exits = 0;
  bool passesOn = true;
};

class AgentPageTest : public MainFormTest {
 protected:
  TMainForm& CreateAgentPage() {
    form = TMainForm::Create(process, &link, &owner).value();
    form->SetPageLink(&page);
    process.MainForm.Set(form.get());
    form->FormCreate();
    return *form;
  }
  RecordingPageLink page;
};

TEST_F(AgentPageTest, ApplyAndActivationGoToTheLinkAndTouchNeitherScannerNorSettingsFile) {
  TMainForm& agentForm = CreateAgentPage();
  agentForm.ShowSettings(SaveModeComputer, "C:\\Scans", true);
  EXPECT_EQ(agentForm.PathEdit.Text(), "C:\\Scans");
  EXPECT_TRUE(agentForm.AutoRCheckBx.Checked());
  EXPECT_FALSE(agentForm.ApplyBtn.Enabled()) << "the page shows the settings in effect";

  agentForm.Show();
  Pump();
  agentForm.AutoRCheckBx.SetChecked(false);
  agentForm.ApplyBtnClick();
  ASSERT_EQ(page.applied.size(), 1u);
  EXPECT_EQ(page.applied[0].saveType, SaveModeComputer);
  EXPECT_EQ(page.applied[0].location, "C:\\Scans");
  EXPECT_FALSE(page.applied[0].autoRotate);
  EXPECT_FALSE(agentForm.ApplyBtn.Enabled()) << "the settings went on";
  EXPECT_EQ(link.scans, 0) << "activation walks no drives in an agent";
  EXPECT_TRUE(link.polls.empty());
  EXPECT_FALSE(agentForm.Timer1.Enabled());
  EXPECT_FALSE(Exists(kSettingsPath)) << "the service writes the settings file, not the agent";
}

TEST_F(AgentPageTest, ApplyThatTheLinkDoesNotPassOnLeavesThePageAsItIs) {
  TMainForm& agentForm = CreateAgentPage();
  agentForm.ShowSettings(SaveModeComputer, "C:\\Scans", false);
  agentForm.AutoRCheckBx.SetChecked(true);
  ASSERT_TRUE(agentForm.ApplyBtn.Enabled());
  page.passesOn = false;
  agentForm.ApplyBtnClick();
  ASSERT_EQ(page.applied.size(), 1u);
  EXPECT_TRUE(agentForm.ApplyBtn.Enabled()) << "nothing was applied: Apply stays available";
  EXPECT_TRUE(agentForm.AutoRCheckBx.Checked());
}

TEST_F(AgentPageTest, ExitTellsTheLinkAndReleasesThePageWithoutAScannerRequest) {
  TMainForm& agentForm = CreateAgentPage();
  agentForm.ExitItemClick();
  EXPECT_EQ(page.exits, 1);
  EXPECT_TRUE(link.polls.empty()) << "the service returns the scanner to card mode";
  Pump();
  EXPECT_EQ(releases, 1);
}

}  // namespace
}  // namespace pw::ui::test
