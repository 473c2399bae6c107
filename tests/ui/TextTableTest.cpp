// LoadText and the shipped text table.
#include <memory>
#include <string>

#include "platform/Profile.h"
#include "tests/ui/MainFormFixture.h"

namespace pw::ui::test {
namespace {

TEST(ShippedTextTable, HasAnEnglishTextForEveryId) {
  const std::string table = ShippedTextTable();
  ASSERT_FALSE(table.empty());
  for (int id : {10000, 10001, 10002, 10003, 10004, 10005, 10006, 10007, 10008, 10009, 10010, 10011, 40000,
                 40001}) {
    const std::string key = "\r\n" + std::to_string(id) + "=";
    const auto at = table.find(key);
    ASSERT_NE(at, std::string::npos) << id;
    EXPECT_NE(table[at + key.size()], '\r') << id << " has an empty text";
  }
  EXPECT_EQ(table.rfind("[String]\r\n", 0), 0u);
}

TEST(ShippedTextTable, MessageCaptionDiffersFromTheWindowTitle) {
  // The pull looks for a window titled with the caption to avoid a second
  // box; the main window's own title must not count as one.
  const std::string table = ShippedTextTable();
  EXPECT_EQ(table.find("\r\n10010=Pagewick\r\n"), std::string::npos);
}

TEST_F(MainFormTest, LoadTextReadsTheTableBesideTheExecutable) {
  const std::unique_ptr<TMainForm> made = TMainForm::Create(process, nullptr).value();
  TMainForm& window = *made;
  world.WriteFile(kTextTablePath, "[String]\r\n10005=Apply now\r\n010004=Padded\r\n10006=\r\n");
  EXPECT_EQ(window.LoadText(10005), "Apply now");
  EXPECT_EQ(window.LoadText(10004), "") << "only the plain decimal key is looked up";
  EXPECT_EQ(window.LoadText(10006), "") << "an empty value is the empty text";
  EXPECT_EQ(window.LoadText(10007), "") << "a missing key is the empty text";
}

TEST_F(MainFormTest, LoadTextCachesNothing) {
  const std::unique_ptr<TMainForm> made = TMainForm::Create(process, nullptr).value();
  TMainForm& window = *made;
  world.WriteFile(kTextTablePath, "[String]\r\n10007=First\r\n");
  EXPECT_EQ(window.LoadText(10007), "First");
  world.WriteFile(kTextTablePath, "[String]\r\n10007=Second\r\n");
  EXPECT_EQ(window.LoadText(10007), "Second");
}

TEST_F(MainFormTest, LoadTextWithoutTableOrSectionGivesEmptyText) {
  const std::unique_ptr<TMainForm> made = TMainForm::Create(process, nullptr).value();
  TMainForm& window = *made;
  world.WriteFile(kTextTablePath, "[Strings]\r\n10005=Apply\r\n");
  EXPECT_EQ(window.LoadText(10005), "");
  world.SetModuleFileName("C:\\Elsewhere\\pagewick.exe");
  EXPECT_EQ(window.LoadText(10005), "");
}

TEST_F(MainFormTest, CaptionsSetAtStartUpChangeOnlyWithTheNextWindow) {
  TMainForm& first = CreateForm();
  EXPECT_EQ(first.ApplyBtn.Caption(), "&Apply");
  world.WriteFile(kTextTablePath, "[String]\r\n10005=Store\r\n");
  EXPECT_EQ(first.ApplyBtn.Caption(), "&Apply");
  EXPECT_EQ(CreateForm().ApplyBtn.Caption(), "Store");
}

}  // namespace
}  // namespace pw::ui::test
