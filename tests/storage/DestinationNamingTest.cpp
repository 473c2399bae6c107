// Naming the folder and file of the next pulled image.
#include <filesystem>
#include <fstream>

#include "platform/FileSystem.h"
#include "platform/Profile.h"
#include "storage/DestinationNaming.h"
#include "tests/ui/MainFormFixture.h"

namespace pw::ui::test {
namespace {

namespace fs = std::filesystem;

class DestinationNamingTest : public MainFormTest {
 protected:
  DestinationNamingTest() {
    world.AddDrive('D', platform::DriveType::Fixed);
    CreateForm();
  }

  // Creates empty files name0001.jpg ... in the folder, straight on the host.
  void AddImages(const std::string& folder, int first, int last, const std::string& prefix = "img") {
    fs::path host = world.HostPath(folder);
    fs::create_directories(host);
    for (int n = first; n <= last; ++n) std::ofstream(host / storage::ImageFileName(prefix, n));
  }

  void AddFile(const std::string& windowsPath) { world.WriteFile(windowsPath, "x"); }

  // The next image's path, or "error <code>" when naming failed.
  std::string NextPath() {
    const platform::Result<std::string> next = form->Landing().NextImagePath();
    return next ? *next : "error " + std::to_string(next.error());
  }
  std::string Next(const std::string& location) {
    form->PathEdit.SetText(location);
    return NextPath();
  }
};

TEST_F(DestinationNamingTest, NewSaveLocationAndFirstFolderAreCreated) {
  EXPECT_EQ(Next("D:\\Scans"), "D:\\Scans\\Photo1\\img0001.jpg");
  EXPECT_TRUE(platform::DirectoryExists("D:\\Scans\\Photo1"));
  EXPECT_EQ(form->FolderCounter, 1);
  EXPECT_EQ(form->ActiveSavePath, "D:\\Scans");
}

TEST_F(DestinationNamingTest, LastFolderBeforeTheFirstGapIsUsed) {
  world.MakeDirectories("D:\\Scans\\Photo1");
  world.MakeDirectories("D:\\Scans\\Photo2");
  AddImages("D:\\Scans\\Photo3", 1, 41);
  EXPECT_EQ(Next("D:\\Scans"), "D:\\Scans\\Photo3\\img0042.jpg");
  EXPECT_EQ(form->FolderCounter, 3);

  world.MakeDirectories("D:\\Other\\Photo1");
  world.MakeDirectories("D:\\Other\\Photo3");
  EXPECT_EQ(Next("D:\\Other"), "D:\\Other\\Photo1\\img0001.jpg") << "folders beyond the gap are never looked at";
  EXPECT_EQ(form->FolderCounter, 1);
}

TEST_F(DestinationNamingTest, DriveRootTakesNoSecondSeparator) {
  world.AddDrive('E', platform::DriveType::Removable);
  EXPECT_EQ(Next("E:\\"), "E:\\Photo1\\img0001.jpg");
  EXPECT_TRUE(platform::DirectoryExists("E:\\Photo1"));
}

TEST_F(DestinationNamingTest, FileNumbersHaveFourDigits) {
  struct Case {
    int last;
    const char* expected;
  };
  for (const Case& c : {Case{9, "img0010.jpg"}, Case{99, "img0100.jpg"}, Case{999, "img1000.jpg"},
                        Case{1234, "img1235.jpg"}}) {
    const std::string location = "D:\\Digits" + std::to_string(c.last);
    AddImages(location + "\\Photo1", c.last, c.last);
    EXPECT_EQ(Next(location), location + "\\Photo1\\" + c.expected);
  }
}

TEST_F(DestinationNamingTest, FullFolderRollsOverIntoANewOne) {
  world.MakeDirectories("D:\\Scans\\Photo1");
  AddImages("D:\\Scans\\Photo2", 9999, 9999);
  EXPECT_EQ(Next("D:\\Scans"), "D:\\Scans\\Photo3\\img0001.jpg");
  EXPECT_EQ(form->FolderCounter, 3);
  EXPECT_TRUE(platform::DirectoryExists("D:\\Scans\\Photo3"));
}

TEST_F(DestinationNamingTest, OnlyFourDigitNumbersAfterThePrefixCount) {
  struct Case {
    const char* what;
    std::vector<std::string> names;
    const char* expected;
  };
  const Case cases[] = {
      {"other lengths and letters are passed over", {"img0005.jpg", "img0007 (2).jpg", "img.jpg", "imgABCD.jpg"},
       "img0006.jpg"},
      {"the extension is not looked at", {"img0003.jpg", "img0050.txt"}, "img0051.jpg"},
      {"gaps are never filled", {"img0001.jpg", "img0003.jpg"}, "img0004.jpg"},
      {"the order ignores case", {"img0100.jpg", "IMG0200.jpg"}, "img0201.jpg"},
      // Signs, blanks and hexadecimal are no file numbers: each of these sorts
      // apart from the real numbers and would hand out an existing name.
      {"look-alike numbers", {"img0500.jpg", "img0x1F.jpg", "img-001.jpg", "img 001.jpg", "img+999.jpg"},
       "img0501.jpg"},
      {"other prefixes are not listed", {"scan0900.jpg", "img0002.jpg"}, "img0003.jpg"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string location = "D:\\Case" + std::to_string(index++);
    world.MakeDirectories(location + "\\Photo1");
    for (const std::string& name : c.names) AddFile(location + "\\Photo1\\" + name);
    EXPECT_EQ(Next(location), location + "\\Photo1\\" + c.expected);
  }
}

TEST_F(DestinationNamingTest, EveryCallReadsTheFolderAfresh) {
  AddImages("D:\\Scans\\Photo1", 1, 41);
  EXPECT_EQ(Next("D:\\Scans"), "D:\\Scans\\Photo1\\img0042.jpg");
  AddImages("D:\\Scans\\Photo1", 42, 42);
  EXPECT_EQ(NextPath(), "D:\\Scans\\Photo1\\img0043.jpg");
  ASSERT_TRUE(platform::DeleteFile("D:\\Scans\\Photo1\\img0042.jpg").ok());
  ASSERT_TRUE(platform::DeleteFile("D:\\Scans\\Photo1\\img0041.jpg").ok());
  EXPECT_EQ(NextPath(), "D:\\Scans\\Photo1\\img0041.jpg") << "the newest image was deleted";
}

// The folder numbers in use come from one listing of the location: only
// entries that the system would find as folder FolderPrefix + n count.
TEST_F(DestinationNamingTest, OnlyFoldersNamedPrefixAndANumberCount) {
  struct Case {
    const char* what;
    std::vector<std::string> folders;
    std::vector<std::string> files;
    std::vector<std::string> junctions;  // to D:\Elsewhere
    const char* expected;
  };
  world.MakeDirectories("D:\\Elsewhere");
  const Case cases[] = {
      {"a leading zero is not the number", {"Photo01", "Photo02"}, {}, {}, "Photo1"},
      {"other names after the prefix", {"Photo1", "Photo2x", "Photo+3", "Photo 3", "Photo"}, {}, {}, "Photo1"},
      {"a file is no folder", {"Photo1"}, {"Photo2"}, {}, "Photo1"},
      {"other case counts", {"PHOTO1", "photo2"}, {}, {}, "Photo2"},
      {"five digits are beyond the numbers", {"Photo1", "Photo10000", "Photo00003"}, {}, {}, "Photo1"},
      // Before Windows Vista, and outside the service, a junction is a folder
      // like any other.
      {"a junction named like a folder", {"Photo1"}, {}, {"Photo2"}, "Photo2"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string location = "D:\\Numbers" + std::to_string(index++);
    world.MakeDirectories(location);
    for (const std::string& folder : c.folders) world.MakeDirectories(location + "\\" + folder);
    for (const std::string& file : c.files) AddFile(location + "\\" + file);
    for (const std::string& junction : c.junctions) world.CreateJunction(location + "\\" + junction, "D:\\Elsewhere");
    EXPECT_EQ(Next(location), location + "\\" + c.expected + "\\img0001.jpg");
  }
}

TEST_F(DestinationNamingTest, HiddenImageIsNeverHandedOut) {
  AddImages("D:\\Scans\\Photo1", 1, 2);
  ASSERT_TRUE(platform::SetFileAttributes("D:\\Scans\\Photo1\\img0002.jpg", platform::attribute::kHidden).ok());
  EXPECT_EQ(Next("D:\\Scans"), "D:\\Scans\\Photo1\\img0003.jpg");
}

TEST_F(DestinationNamingTest, AFolderNamedLikeTheNextImageIsSteppedOver) {
  AddImages("D:\\Scans\\Photo1", 1, 2);
  world.MakeDirectories("D:\\Scans\\Photo1\\img0003.jpg");
  world.MakeDirectories("D:\\Scans\\Photo1\\img0004.jpg");
  EXPECT_EQ(Next("D:\\Scans"), "D:\\Scans\\Photo1\\img0005.jpg");
}

TEST_F(DestinationNamingTest, PrefixesComeFromTheSettings) {
  form->FilePrefix = "scan";
  form->FolderPrefix = "Album";
  AddImages("D:\\Scans\\Album1", 1, 7, "scan");
  AddImages("D:\\Scans\\Album1", 8, 20, "img");
  EXPECT_EQ(Next("D:\\Scans"), "D:\\Scans\\Album1\\scan0008.jpg");
}

TEST_F(DestinationNamingTest, NamesOfOtherCaseFindTheSameFolders) {
  world.MakeDirectories("D:\\Scans\\PHOTO1");
  AddImages("D:\\Scans\\photo2", 5, 5);
  EXPECT_EQ(Next("d:\\SCANS"), "d:\\SCANS\\Photo2\\img0006.jpg");
  EXPECT_FALSE(fs::exists(world.Root() / "drive_d" / "Scans" / "Photo2")) << "no second folder of another case";
}

// Windows folds the letters of the ANSI code page, not only ASCII ones: in
// code page 1252 Ä and ä are one letter for the listing, its order and the
// folders' names.
TEST_F(DestinationNamingTest, LettersBeyondAsciiFoldAsTheSystemFoldsThem) {
  form->FilePrefix = "\xE4";      // ä
  form->FolderPrefix = "B\xFCro";  // Büro
  form->PagewickFileListBx.SetMask(form->FilePrefix + "*.*");
  world.MakeDirectories("D:\\Scans\\B\xDCRO1");  // BÜRO1
  AddFile("D:\\Scans\\B\xDCRO1\\\xC4" "0005.jpg");  // Ä0005.jpg
  AddFile("D:\\Scans\\B\xDCRO1\\\xE4" "0003.jpg");  // ä0003.jpg
  EXPECT_EQ(Next("D:\\Scans"), "D:\\Scans\\B\xFCro1\\\xE4" "0006.jpg");
  EXPECT_EQ(form->FolderCounter, 1);
  EXPECT_FALSE(fs::exists(world.Root() / "drive_d" / "Scans" / "B\xFCro1")) << "no second folder of another case";
}

TEST_F(DestinationNamingTest, LongSaveLocationWorks) {
  std::string location = "D:\\";
  while (location.size() < 128) location += std::string("folder").substr(0, std::min<std::size_t>(6, 128 - location.size())) + "\\";
  location.pop_back();
  world.MakeDirectories(location);
  EXPECT_EQ(Next(location), location + "\\Photo1\\img0001.jpg");
}

TEST_F(DestinationNamingTest, UncreatableLocationSwitchesToTheDefault) {
  struct Case {
    const char* what;
    std::string location;
  };
  world.WriteFile("D:\\Blocked\\Photo1", "a file, not a folder");
  const Case cases[] = {
      {"a file named like the first folder", "D:\\Blocked"},
      {"missing parent folder", "D:\\Missing\\Deeper"},
      {"missing drive", "Q:\\Scans"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CreateForm();
    form->FolderCounter = 5;
    EXPECT_EQ(Next(c.location), form->DefaultSavePath);
    EXPECT_EQ(form->PathEdit.Text(), form->DefaultSavePath);
    // The field's change handler stored the counter under the default location.
    EXPECT_EQ(platform::ReadProfileString("Setting", form->DefaultSavePath, "", kSettingsPath).text, "1");
    EXPECT_EQ(NextPath(), form->DefaultSavePath + "\\Photo1\\img0001.jpg");
  }
  EXPECT_FALSE(platform::DirectoryExists("D:\\Missing"));
}

TEST_F(DestinationNamingTest, FullSaveLocationRefusesAndReplacesNothing) {
  fs::path host = world.HostPath("D:\\Full");
  for (int n = 1; n <= storage::kMaxFolderNumber; ++n) fs::create_directories(host / ("Photo" + std::to_string(n)));
  AddImages("D:\\Full\\Photo9999", 9999, 9999);
  EXPECT_EQ(Next("D:\\Full"), "error " + std::to_string(platform::error::kNoImageNameLeft));
  EXPECT_EQ(form->FolderCounter, 9999);

  ASSERT_TRUE(platform::DeleteFile("D:\\Full\\Photo9999\\img9999.jpg").ok());
  AddImages("D:\\Full\\Photo9999", 9998, 9998);
  EXPECT_EQ(NextPath(), "D:\\Full\\Photo9999\\img9999.jpg");
}

}  // namespace
}  // namespace pw::ui::test
