// The window toolkit's event rules, and peers seeing every property change.
#include <gtest/gtest.h>

#include <vector>

#include "platform/FileSystem.h"
#include "platform/hostworld/World.h"
#include "platform/toolkit/Controls.h"
#include "platform/toolkit/FileListBox.h"
#include "platform/toolkit/Menu.h"
#include "platform/toolkit/Timer.h"
#include "platform/toolkit/TrayIcon.h"

namespace pw::toolkit {
namespace {

class RecordingPeer : public Peer {
 public:
  void PropertyChanged(const Component& component, Property property) override {
    changes.emplace_back(component.Name(), property);
  }
  std::vector<std::pair<std::string, Property>> changes;
};

TEST(ToolkitEdit, EveryTextChangeRunsOnChangeButTheSameTextDoesNot) {
  Edit edit("PathEdit", {});
  int changes = 0;
  edit.OnChange = [&] { ++changes; };
  edit.SetText("C:\\a");
  edit.SetText("C:\\a");
  edit.SetText("C:\\A");
  edit.SetText("");
  EXPECT_EQ(changes, 3);
}

TEST(ToolkitComboBox, SelectingFromCodeRunsNoEventButTheUsersChoiceDoes) {
  ComboBox combo("SaveComboBx", {});
  combo.AddItem("card");
  combo.AddItem("computer");
  int changes = 0;
  combo.OnChange = [&] { ++changes; };

  combo.SetItemIndex(1);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(combo.ItemIndex(), 1);
  EXPECT_EQ(combo.Text(), "computer");

  combo.UserSelect(0);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(combo.ItemIndex(), 0);

  combo.UserEditText("typed");
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(combo.ItemIndex(), -1) << "typing into the edit part loses the selection";
  EXPECT_EQ(combo.Text(), "typed");
}

// A native combo whose edit part the user types into: the model reports the
// text back to the peer neither while typing nor on a pick from the list, or
// the native text would be rewritten under the user's caret.
TEST(ToolkitComboBox, TheUsersTypingAndPicksAreNotWrittenBackToThePeer) {
  class NativeCombo : public Peer {
   public:
    void PropertyChanged(const Component& component, Property property) override {
      const auto& combo = static_cast<const ComboBox&>(component);
      writes.push_back(property);
      shown = combo.Text();
      caret = 0;  // as WM_SETTEXT leaves an edit control
    }
    // The user types one character at the caret.
    void Type(ComboBox& combo, char c) {
      shown.insert(caret++, 1, c);
      combo.UserEditText(shown);
    }
    std::vector<Property> writes;
    std::string shown;
    std::size_t caret = 0;
  };
  ComboBox combo("SaveComboBx", {});
  NativeCombo native;
  combo.AttachPeer(&native);
  combo.AddItem("card");
  combo.AddItem("computer");
  combo.SetItemIndex(1);
  native.writes.clear();
  int changes = 0;
  combo.OnChange = [&] { ++changes; };

  native.shown.clear();
  native.caret = 0;
  for (char c : std::string("abc")) native.Type(combo, c);
  EXPECT_EQ(native.shown, "abc");
  EXPECT_EQ(combo.Text(), "abc");
  EXPECT_EQ(changes, 3);
  combo.UserSelect(0);
  EXPECT_EQ(changes, 4);
  EXPECT_TRUE(native.writes.empty()) << native.writes.size() << " writes to the native control";

  combo.SetItemIndex(1);
  EXPECT_EQ(native.writes, std::vector<Property>{Property::ItemIndex}) << "a change from code still reaches it";
  EXPECT_EQ(native.shown, "computer");
}

TEST(ToolkitComboBox, IndexOutsideTheItemsSelectsNothing) {
  ComboBox combo("SaveComboBx", {});
  combo.AddItem("a");
  combo.AddItem("b");
  for (int index : {5, 2, -7, -1}) {
    combo.SetItemIndex(1);
    combo.SetItemIndex(index);
    EXPECT_EQ(combo.ItemIndex(), -1) << index;
    EXPECT_EQ(combo.Text(), "") << index;
  }
}

TEST(ToolkitCheckBox, EveryChangeOfTheTickRunsOnClick) {
  CheckBox box("AutoRCheckBx", {});
  int clicks = 0;
  box.OnClick = [&] { ++clicks; };
  box.SetChecked(false);
  EXPECT_EQ(clicks, 0) << "no change, no event";
  box.SetChecked(true);
  box.UserClick();
  EXPECT_EQ(clicks, 2);
  EXPECT_FALSE(box.Checked());
  box.SetEnabled(false);
  box.UserClick();
  EXPECT_EQ(clicks, 2) << "a disabled box ignores the user";
  box.SetChecked(true);
  EXPECT_EQ(clicks, 3) << "the program may still change it";
}

TEST(ToolkitButton, DisabledButtonDoesNotClick) {
  Button button("ApplyBtn", {});
  int clicks = 0;
  button.OnClick = [&] { ++clicks; };
  button.Click();
  button.SetEnabled(false);
  button.Click();
  EXPECT_EQ(clicks, 1);
}

// Pictures are resampled smoothly: a flat colour stays flat, shrinking
// averages the pixels under a target pixel, enlarging blends neighbours.
TEST(ToolkitPicture, ResamplingIsSmoothAtEverySize) {
  const auto grey = [](std::initializer_list<std::uint8_t> values, int width) {
    Bitmap bitmap{width, static_cast<int>(values.size()) / width, {}};
    for (std::uint8_t v : values) bitmap.pixels.insert(bitmap.pixels.end(), {v, v, v});
    return bitmap;
  };
  const auto row = [](const Bitmap& bitmap) {
    std::vector<int> values;
    for (std::size_t i = 0; i < bitmap.pixels.size(); i += 3) values.push_back(bitmap.pixels[i]);
    return values;
  };
  const struct {
    Bitmap source;
    int width;
    int height;
    std::vector<int> expected;
  } rows[] = {
      {grey({90, 90, 90, 90}, 2), 5, 3, std::vector<int>(15, 90)},
      {grey({0, 255}, 2), 1, 1, {128}},
      {grey({0, 0, 255, 255}, 4), 2, 1, {36, 219}},
      {grey({0, 255}, 2), 4, 1, {0, 64, 191, 255}},
      {grey({0, 255}, 2), 0, 1, {}},
      {Bitmap{3, 3, {}}, 2, 2, {}},  // pixels missing: nothing is read
  };
  for (const auto& r : rows) {
    const Bitmap target = Resample(r.source, r.width, r.height);
    EXPECT_EQ(row(target), r.expected) << r.source.width << " to " << r.width << " x " << r.height;
    if (!r.expected.empty()) {
      EXPECT_EQ(target.width * target.height, static_cast<int>(r.expected.size()));
    }
  }
}

TEST(ToolkitTimer, DisabledTimerDoesNotFire) {
  Timer timer("Timer1", 2000, false);
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  timer.Tick();
  timer.SetEnabled(true);
  timer.Tick();
  EXPECT_EQ(ticks, 1);
}

TEST(ToolkitTrayIcon, DoubleClickRunsOnlyADefaultItem) {
  PopupMenu menu("MainPopupMenu");
  MenuItem setting("SettingItem");
  MenuItem exit("ExitItem");
  menu.Add(setting);
  menu.Add(exit);
  TrayIcon icon("CoolTrayIcon1", menu);
  int settingClicks = 0;
  setting.OnClick = [&] { ++settingClicks; };
  icon.DoubleClick();
  EXPECT_EQ(settingClicks, 0);
  setting.SetDefault(true);
  icon.DoubleClick();
  EXPECT_EQ(settingClicks, 1);
}

TEST(ToolkitPeer, SeesEveryPropertyChangeOnce) {
  RecordingPeer peer;
  Label label("SaveLbl", {});
  ComboBox combo("SaveComboBx", {});
  Timer timer("Timer1", 2000, false);
  label.AttachPeer(&peer);
  combo.AttachPeer(&peer);
  timer.AttachPeer(&peer);
  label.SetCaption("Save type");
  label.SetCaption("Save type");
  label.SetVisible(false);
  combo.AddItem("a");
  combo.SetItemIndex(0);
  timer.SetInterval(6000);
  timer.SetEnabled(true);
  EXPECT_EQ(peer.changes, (std::vector<std::pair<std::string, Property>>{
                              {"SaveLbl", Property::Caption},
                              {"SaveLbl", Property::Visible},
                              {"SaveComboBx", Property::Items},
                              {"SaveComboBx", Property::ItemIndex},
                              {"Timer1", Property::Interval},
                              {"Timer1", Property::TimerEnabled},
                          }));
}

class FileListBoxTest : public ::testing::Test {
 protected:
  hostworld::World world;
};

TEST_F(FileListBoxTest, ListsMatchingFilesSortedIgnoringCaseWithoutFoldersHiddenOrSystem) {
  world.WriteFile("C:\\Scans\\img0002.jpg", "x");
  world.WriteFile("C:\\Scans\\IMG0001.JPG", "x");
  world.WriteFile("C:\\Scans\\img0003", "x");
  world.WriteFile("C:\\Scans\\other.jpg", "x");
  world.WriteFile("C:\\Scans\\img0004.jpg", "x");
  world.WriteFile("C:\\Scans\\img0005.jpg", "x");
  world.MakeDirectories("C:\\Scans\\img0009.jpg");
  ASSERT_TRUE(platform::SetFileAttributes("C:\\Scans\\img0004.jpg", platform::attribute::kHidden).ok());
  ASSERT_TRUE(platform::SetFileAttributes("C:\\Scans\\img0005.jpg", platform::attribute::kSystem).ok());

  FileListBox list("PagewickFileListBx", {});
  list.SetMask("img*.*");
  ASSERT_TRUE(list.SetDirectory("C:\\scans").ok());
  EXPECT_EQ(list.Items(), (std::vector<std::string>{"IMG0001.JPG", "img0002.jpg", "img0003"}));
  EXPECT_EQ(platform::GetCurrentDirectory(), "C:\\Scans") << "the list enters the folder";
}

TEST_F(FileListBoxTest, PointingAtTheSameFolderReadsNothingElsewhereThenBackReadsAfresh) {
  world.WriteFile("C:\\Scans\\img0001.jpg", "x");
  FileListBox list("PagewickFileListBx", {});
  list.SetMask("img*.*");
  ASSERT_TRUE(list.SetDirectory("C:\\Scans").ok());
  world.WriteFile("C:\\Scans\\img0002.jpg", "x");
  ASSERT_TRUE(list.SetDirectory("C:\\SCANS").ok());
  EXPECT_EQ(list.Items().size(), 1u);
  ASSERT_TRUE(list.SetDirectory("C:\\").ok());
  ASSERT_TRUE(list.SetDirectory("C:\\Scans").ok());
  EXPECT_EQ(list.Items().size(), 2u);
}

// A peer reads the list's names whenever it is told of a change; whatever it
// is told, the names it then reads belong to the folder and mask of that moment.
TEST_F(FileListBoxTest, APeerToldOfANewFolderOrMaskReadsThatFoldersNames) {
  struct Shown {
    Property property;
    std::string directory;
    std::string mask;
    std::vector<std::string> names;
  };
  class ShowingPeer : public Peer {
   public:
    void PropertyChanged(const Component& component, Property property) override {
      const auto& list = static_cast<const FileListBox&>(component);
      log.push_back({property, list.Directory(), list.Mask(), list.Items()});
    }
    std::vector<Shown> log;
  };
  world.WriteFile("C:\\A\\img0001.jpg", "x");
  world.WriteFile("C:\\B\\img0003.jpg", "x");
  world.WriteFile("C:\\B\\IMG0002.jpg", "x");
  world.WriteFile("C:\\B\\pd0001.jpg", "x");
  FileListBox list("PagewickFileListBx", {});
  ShowingPeer peer;
  list.AttachPeer(&peer);
  list.SetMask("img*.*");
  ASSERT_TRUE(list.SetDirectory("C:\\A").ok());
  ASSERT_TRUE(list.SetDirectory("C:\\B").ok());
  list.SetMask("pd*.*");

  const std::vector<std::string> inB{"IMG0002.jpg", "img0003.jpg"};
  for (const Shown& shown : peer.log) {
    SCOPED_TRACE(shown.directory + "\\" + shown.mask);
    std::vector<std::string> expected{"pd0001.jpg"};
    if (shown.directory.empty()) expected.clear();  // a mask before any folder lists nothing
    if (shown.directory == "C:\\A") expected = {"img0001.jpg"};
    if (shown.directory == "C:\\B" && shown.mask == "img*.*") expected = inB;
    EXPECT_EQ(shown.names, expected);
  }
  ASSERT_FALSE(peer.log.empty());
  EXPECT_EQ(peer.log.back().names, std::vector<std::string>{"pd0001.jpg"});
  bool toldOfB = false;
  for (const Shown& shown : peer.log) toldOfB |= shown.property == Property::Directory && shown.directory == "C:\\B";
  EXPECT_TRUE(toldOfB);
}

TEST_F(FileListBoxTest, MissingFolderFailsAndKeepsTheOldListing) {
  world.WriteFile("C:\\Scans\\img0001.jpg", "x");
  FileListBox list("PagewickFileListBx", {});
  list.SetMask("img*.*");
  ASSERT_TRUE(list.SetDirectory("C:\\Scans").ok());
  const platform::Result<void> missing = list.SetDirectory("C:\\Missing");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error(), platform::error::kFileNotFound);
  EXPECT_EQ(list.Directory(), "C:\\Scans");
  EXPECT_EQ(list.Items().size(), 1u);
}

}  // namespace
}  // namespace pw::toolkit
