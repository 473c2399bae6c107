// Private-profile reading and writing as Windows does it; the same cases run
// against the host world and, in the win32 build, against kernel32 under Wine.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Profile.h"
#include "platform/ProfileParser.h"
#include "tests/support/TestEnvironment.h"

namespace pw::platform {
namespace {

using test::KnownWineDifference;

// Where Wine differs: what it does instead, and why that is a known difference.
struct WineBehaviour {
  const char* difference;
  std::string text;
};

struct ReadCase {
  const char* name;
  std::string content;
  std::string section;
  std::string key;
  std::string defaultValue;
  std::size_t bufferSize;
  std::string expected;
  std::optional<ErrorCode> expectedError;  // checked only where Windows sets one
  std::optional<WineBehaviour> wine;
};

std::string Utf16Le(std::string_view ascii) {
  std::string bytes("\xFF\xFE", 2);
  for (char c : ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

const std::vector<ReadCase>& ReadCases() {
  static const std::vector<ReadCase> cases = {
      {"plain", "[App]\r\nkey=value\r\n", "App", "key", "dflt", 2048, "value", std::nullopt, std::nullopt},
      {"names ignore case, value keeps it", "[SeTTing]\r\nMoDe=AbC\r\n", "setting", "MODE", "", 2048, "AbC",
       std::nullopt, std::nullopt},
      {"blanks around key and value in the file", "[App]\r\n \t key \t= \t value \v\r\n", "App", "key", "", 2048,
       "value", std::nullopt, std::nullopt},
      {"blanks before and inside the brackets", "  [ \tApp\t ]\r\nkey=v\r\n", "App", "key", "", 2048, "v",
       std::nullopt, std::nullopt},
      {"spaces around the arguments", "[App]\r\nkey=v\r\n", "  App  ", " key ", "", 2048, "v", std::nullopt,
       std::nullopt},
      // Only spaces are trimmed from the arguments: a tab is part of the name.
      {"tab in the section argument", "[App]\r\nkey=v\r\n", "\tApp", "key", "dflt", 2048, "dflt", std::nullopt,
       WineBehaviour{"Wine trims tabs from the section argument", "v"}},
      {"double quotes", "[App]\r\nkey=\"quoted value\"\r\n", "App", "key", "", 2048, "quoted value", std::nullopt,
       std::nullopt},
      {"single quotes", "[App]\r\nkey='single'\r\n", "App", "key", "", 2048, "single", std::nullopt, std::nullopt},
      {"mismatched quotes stay", "[App]\r\nkey=\"mismatch'\r\n", "App", "key", "", 2048, "\"mismatch'",
       std::nullopt, std::nullopt},
      {"blanks inside quotes stay", "[App]\r\nkey=\" spaced \"\r\n", "App", "key", "", 2048, " spaced ",
       std::nullopt, std::nullopt},
      {"only the outermost quotes go", "[App]\r\nkey=\"\"inner\"\"\r\n", "App", "key", "", 2048, "\"inner\"",
       std::nullopt, std::nullopt},
      {"first copy of a key wins", "[App]\r\nk=1\r\nk=2\r\n", "App", "k", "", 2048, "1", std::nullopt,
       std::nullopt},
      {"first copy of a section wins", "[App]\r\na=1\r\n[Other]\r\nx=0\r\n[app]\r\nb=3\r\n", "App", "b", "dflt",
       2048, "dflt", std::nullopt, std::nullopt},
      {"semicolon line is a comment", "[App]\r\n;k=v\r\n", "App", ";k", "dflt", 2048, "dflt", std::nullopt,
       WineBehaviour{"Wine keeps comment lines as keys", "v"}},
      {"no inline comments", "[App]\r\nk=x ;c\r\n", "App", "k", "", 2048, "x ;c", std::nullopt, std::nullopt},
      {"hash is not a comment", "[App]\r\n#k=v\r\n", "App", "#k", "dflt", 2048, "v", std::nullopt, std::nullopt},
      {"lines before the first section are unreachable", "k=v\r\n[App]\r\nx=1\r\n", "", "k", "dflt", 2048, "dflt",
       std::nullopt, WineBehaviour{"Wine returns lines before the first section for section \"\"", "v"}},
      {"a section with an empty name", "[]\r\nk=v\r\n", "", "k", "dflt", 2048, "v", std::nullopt,
       WineBehaviour{"Wine does not find a section named \"\"", "dflt"}},
      {"missing closing bracket", "[App\r\nk=v\r\n", "App", "k", "dflt", 2048, "v", std::nullopt,
       WineBehaviour{"Wine rejects a section line without ']'", "dflt"}},
      {"section name ends at the first bracket", "[A]B]\r\nk=v\r\n", "A", "k", "dflt", 2048, "v", std::nullopt,
       WineBehaviour{"Wine ends the section name at the last ']'", "dflt"}},
      {"value may hold '='", "[App]\r\nk=a=b\r\n", "App", "k", "", 2048, "a=b", std::nullopt, std::nullopt},
      {"CR-only line ends", "[App]\rk=v\rk2=w\r", "App", "k2", "", 2048, "w", std::nullopt, std::nullopt},
      {"LF-only line ends", "[App]\nk=v\nk2=w\n", "App", "k2", "", 2048, "w", std::nullopt, std::nullopt},
      {"empty value", "[App]\r\nk=\r\n", "App", "k", "dflt", 2048, "", std::nullopt, std::nullopt},
      {"value cut to the buffer", "[App]\r\nk=abcdef\r\n", "App", "k", "", 4, "abc", error::kMoreData,
       WineBehaviour{"Wine does not set ERROR_MORE_DATA when it cuts a value", "abc"}},
      {"buffer of one", "[App]\r\nk=abcdef\r\n", "App", "k", "", 1, "", std::nullopt, std::nullopt},
      {"value that just fits", "[App]\r\nk=abc\r\n", "App", "k", "", 4, "abc", error::kSuccess, std::nullopt},
      {"default loses trailing spaces only", "[App]\r\n", "App", "k", " lead\tx  ", 2048, " lead\tx",
       std::nullopt, std::nullopt},
      {"default keeps a trailing tab", "[App]\r\n", "App", "k", "tab\t", 2048, "tab\t", std::nullopt,
       std::nullopt},
      {"default cut to the buffer", "[App]\r\n", "App", "k", "abcdef", 4, "abc", std::nullopt, std::nullopt},
      {"missing section gives the default", "[App]\r\nk=v\r\n", "Other", "k", "dflt", 2048, "dflt", std::nullopt,
       std::nullopt},
      {"UTF-16LE file", Utf16Le("[App]\r\nk=wide\r\n"), "App", "k", "", 2048, "wide", std::nullopt, std::nullopt},
      // The UTF-8 mark is read as ANSI text in front of '[' on line 1.
      {"UTF-8 mark hides the first section", "\xEF\xBB\xBF[App]\r\nk=v\r\n[B]\r\nk=w\r\n", "App", "k", "dflt",
       2048, "dflt", std::nullopt, WineBehaviour{"Wine recognises a UTF-8 byte-order mark", "v"}},
      {"UTF-8 mark leaves later sections", "\xEF\xBB\xBF[App]\r\nk=v\r\n[B]\r\nk=w\r\n", "B", "k", "dflt", 2048,
       "w", std::nullopt, std::nullopt},
  };
  return cases;
}

class ProfileTest : public ::testing::Test {
 protected:
  test::ScratchFolder scratch_;
};

TEST_F(ProfileTest, ReadsFollowTheWindowsRules) {
  for (const ReadCase& row : ReadCases()) {
    SCOPED_TRACE(row.name);
    scratch_.WriteFile("read.ini", row.content);
    const ProfileText result =
        ReadProfileString(row.section, row.key, row.defaultValue, scratch_ / "read.ini", row.bufferSize);
    std::optional<ErrorCode> expectedError = row.expectedError;
    std::string expected = row.expected;
    if (row.wine && KnownWineDifference(std::string(row.name) + ": " + row.wine->difference)) {
      expected = row.wine->text;
      expectedError.reset();
    }
    EXPECT_EQ(result.text, expected);
    if (expectedError) {
      EXPECT_EQ(result.error, *expectedError);
    }
  }
}

// The key rules that writers check their keys with are the reader's: a line
// written with the key is found under the key as read, and under another
// name exactly when the two are the same name.
TEST(ProfileKeyRulesTest, TheKeyRulesAreTheReadersRules) {
  struct Case {
    std::string written;
    std::string asRead;
  };
  for (const Case& c : std::vector<Case>{{"Folder", "Folder"},
                                         {" \tFolder\v ", "Folder"},
                                         {"Folder=x", "Folder"},
                                         {"a  = b", "a"},
                                         {"C:\\Scans", "C:\\Scans"}}) {
    SCOPED_TRACE(c.written);
    EXPECT_EQ(ProfileKeyAsRead(c.written), c.asRead);
    const std::string text = "[S]\r\n" + c.written + "=v\r\n";
    EXPECT_TRUE(FindProfileValue(text, "S", ProfileKeyAsRead(c.written)).has_value());
  }
  struct Names {
    std::string a;
    std::string b;
    bool same;
  };
  for (const Names& n : std::vector<Names>{{"AutoRoate", "autoroate", true},
                                           {"MODE", "Mode", true},
                                           {"Folder", "FolderPhoto", false},
                                           {"Path", "Pat", false}}) {
    SCOPED_TRACE(n.a + " / " + n.b);
    EXPECT_EQ(SameProfileName(n.a, n.b), n.same);
    EXPECT_EQ(FindProfileValue("[S]\r\n" + n.a + "=v\r\n", "S", n.b).has_value(), n.same);
  }
}

TEST_F(ProfileTest, MissingFileGivesTheDefaultAndFileNotFound) {
  const ProfileText result = ReadProfileString("App", "k", "fallback  ", scratch_ / "absent.ini");
  EXPECT_EQ(result.text, "fallback");
  EXPECT_EQ(result.error, error::kFileNotFound);
}

TEST_F(ProfileTest, LongValuesComeBackCutToTheProgramsBuffer) {
  const std::string longValue(100000, 'x');
  scratch_.WriteFile("long.ini", "[App]\r\nbefore=1\r\nk=" + longValue + "\r\nafter=2\r\n");
  const ProfileText result = ReadProfileString("App", "k", "", scratch_ / "long.ini");
  EXPECT_EQ(result.text, std::string(kProfileBufferSize - 1, 'x'));
  EXPECT_EQ(ReadProfileString("App", "after", "", scratch_ / "long.ini").text, "2");
  EXPECT_EQ(ReadProfileString("App", "before", "", scratch_ / "long.ini").text, "1");
}

struct WriteStep {
  std::string section;
  std::string key;
  std::optional<std::string> value;
};

struct WriteCase {
  const char* name;
  std::optional<std::string> initial;  // nullopt: no file yet
  std::vector<WriteStep> steps;
  std::string expected;
};

const std::vector<WriteCase>& WriteCases() {
  static const std::vector<WriteCase> cases = {
      {"new file", std::nullopt, {{"App", "key", "value"}}, "[App]\r\nkey=value\r\n"},
      {"new section at the end without a blank line", "[A]\r\nx=1\r\n", {{"B", "y", "2"}},
       "[A]\r\nx=1\r\n[B]\r\ny=2\r\n"},
      {"new key after the section's last key", "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n", {{"A", "z", "3"}},
       "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n"},
      {"new keys in the order written", "[A]\r\nb=v\r\na=v\r\n", {{"A", "z", ""}, {"A", "b", ""}, {"A", "y", ""}},
       "[A]\r\nb=\r\na=v\r\nz=\r\ny=\r\n"},
      {"changed value keeps line, casing and comments", "; top\r\n[Setting]\r\nMode=1\r\n; note\r\nPath=C:\\x\r\n",
       {{"setting", "MODE", "0"}}, "; top\r\n[Setting]\r\nMode=0\r\n; note\r\nPath=C:\\x\r\n"},
      {"other lines keep their layout", "[A]\r\nk = v\r\n\r\n[B]\r\nx=1\r\n", {{"B", "x", "2"}},
       "[A]\r\nk = v\r\n\r\n[B]\r\nx=2\r\n"},
      {"null value deletes the key", "[A]\r\nx=1\r\ny=2\r\n", {{"A", "x", std::nullopt}}, "[A]\r\ny=2\r\n"},
      {"deleting a missing key changes nothing", "[A]\r\nx=1\r\n", {{"A", "nope", std::nullopt}}, "[A]\r\nx=1\r\n"},
      {"last line without a line end", "[A]\r\nx=1", {{"A", "y", "2"}}, "[A]\r\nx=1\r\ny=2\r\n"},
      // The value is written verbatim; only the names lose their spaces.
      {"spaces around section and key are dropped", std::nullopt, {{"  A  ", " k ", " v "}}, "[A]\r\nk= v \r\n"},
  };
  return cases;
}

TEST_F(ProfileTest, WritesFollowTheWindowsRules) {
  for (const WriteCase& row : WriteCases()) {
    SCOPED_TRACE(row.name);
    const std::string path = scratch_ / "write.ini";
    DeleteFile(path).IgnoreFailure();
    if (row.initial) scratch_.WriteFile("write.ini", *row.initial);
    for (const WriteStep& step : row.steps) {
      const std::optional<std::string_view> value =
          step.value ? std::optional<std::string_view>(*step.value) : std::nullopt;
      const Result<void> written = WriteProfileString(step.section, step.key, value, path);
      EXPECT_TRUE(written.ok()) << "error " << written.error();
    }
    EXPECT_EQ(scratch_.ReadFile("write.ini"), row.expected);
    EXPECT_FALSE(FileExists(path + ".new"));
  }
}

// Several keys in one replacement give the bytes that as many single writes
// give; a new file that an earlier cut left behind is simply overwritten.
TEST_F(ProfileTest, ABatchOfKeysLandsInOneReplacement) {
  const std::string path = scratch_ / "batch.ini";
  const std::string single = scratch_ / "single.ini";
  struct Row {
    const char* what;
    std::optional<std::string> initial;
    std::optional<std::string> leftover;  // a new file left beside it
    std::vector<ProfileEntry> entries;
  };
  const Row rows[] = {
      {"a new file", std::nullopt, std::nullopt, {{"Mode", "1"}, {"Path", "C:\\Scans"}, {"C:\\Scans", "3"}}},
      {"changes, additions and a deletion",
       "[Setting]\r\nMode=0\r\nPath=C:\\Old\r\n; note\r\nAutoRoate=1\r\n[String]\r\n1=x\r\n",
       std::nullopt,
       {{"Mode", "1"}, {"Path", "C:\\New"}, {"FolderPhoto", "0"}, {"AutoRoate", std::nullopt}, {"C:\\New", "1"}}},
      {"a leftover new file of a cut", "[Setting]\r\nMode=0\r\n", "[Setting]\r\nMode=9\r\ngarbage",
       {{"Mode", "1"}, {"AutoRoate", "0"}}},
      {"the same key twice: the last wins", "[Setting]\r\n", std::nullopt, {{"k", "1"}, {"k", "2"}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    DeleteFile(path).IgnoreFailure();
    DeleteFile(single).IgnoreFailure();
    if (row.initial) {
      scratch_.WriteFile("batch.ini", *row.initial);
      scratch_.WriteFile("single.ini", *row.initial);
    }
    if (row.leftover) scratch_.WriteFile("batch.ini.new", *row.leftover);
    ASSERT_TRUE(WriteProfileStrings("Setting", row.entries, path).ok());
    for (const ProfileEntry& entry : row.entries) {
      const std::optional<std::string_view> value =
          entry.value ? std::optional<std::string_view>(*entry.value) : std::nullopt;
      ASSERT_TRUE(WriteProfileString("Setting", entry.key, value, single).ok());
    }
    EXPECT_EQ(scratch_.ReadFile("batch.ini"), scratch_.ReadFile("single.ini"));
    EXPECT_FALSE(FileExists(path + ".new"));
  }
}

// A write confined to a folder opens only files of one name there: a second
// name of another file or a link as the file is refused, whatever holds the
// new file's name is cleared rather than opened, and afresh drops the old text.
TEST_F(ProfileTest, AWriteConfinedToAFolderOpensOnlyItsOwnFiles) {
  const std::string folder = scratch_ / "own";
  ASSERT_TRUE(CreateDirectory(folder).ok());
  const std::string path = folder + "\\s.ini";
  const std::string other = scratch_ / "other.txt";
  const ProfileConfinement within{folder};
  const ProfileEntry entry{"Mode", "1"};
  auto write = [&](const ProfileConfinement& confinement) {
    return WriteProfileStrings("Setting", std::span(&entry, 1), path, confinement);
  };
  auto reset = [&] {
    DeleteFile(path).IgnoreFailure();
    DeleteFile(path + ".new").IgnoreFailure();
    RemoveDirectory(path + ".new").IgnoreFailure();
    scratch_.WriteFile("other.txt", "other's");
  };

  reset();
  ASSERT_TRUE(CreateHardLink(path, other).ok());
  EXPECT_EQ(write(within).error(), error::kAccessDenied) << "a second name of another file";
  EXPECT_EQ(scratch_.ReadFile("other.txt"), "other's");

  struct Planted {
    const char* what;
    std::function<bool()> plant;  // false: this system cannot make it
  };
  const Planted planted[] = {
      {"a leftover new file", [&] { return WriteProfileString("x", "y", "z", path + ".new").ok(); }},
      {"a hard link as the new file", [&] { return CreateHardLink(path + ".new", other).ok(); }},
      {"a link as the new file", [&] { return test::CreateFileSymlink(path + ".new", other); }},
      {"an empty folder as the new file", [&] { return CreateDirectory(path + ".new").ok(); }},
  };
  for (const Planted& p : planted) {
    SCOPED_TRACE(p.what);
    reset();
    scratch_.WriteFile("own\\s.ini", "[Setting]\r\nKept=1\r\n");
    if (!p.plant()) continue;
    const Result<void> written = write(within);
    EXPECT_TRUE(written.ok()) << written.error();
    EXPECT_EQ(scratch_.ReadFile("own\\s.ini"), "[Setting]\r\nKept=1\r\nMode=1\r\n");
    EXPECT_EQ(scratch_.ReadFile("other.txt"), "other's");
    EXPECT_FALSE(GetFileAttributes(path + ".new").has_value());
  }

  reset();
  const bool linked = test::CreateFileSymlink(path, other);
  const bool seenAsLink = linked && (GetFileAttributes(path).value_or(0) & attribute::kReparsePoint) != 0;
  if (linked && !seenAsLink &&
      test::KnownWineDifference("CreateSymbolicLink makes a Unix link that Win32 sees as its target, not as a link")) {
    DeleteFile(path).IgnoreFailure();
  } else if (linked) {
    EXPECT_FALSE(write(within).ok()) << "a link as the file";
    EXPECT_EQ(scratch_.ReadFile("other.txt"), "other's");
    DeleteFile(path).IgnoreFailure();
  }
  scratch_.WriteFile("own\\s.ini", "junk\r\n[Setting]\r\nKey1=x\r\n");
  ASSERT_TRUE(write(ProfileConfinement{folder, true}).ok());
  EXPECT_EQ(scratch_.ReadFile("own\\s.ini"), "[Setting]\r\nMode=1\r\n");
}

// A write that cannot make its new file, or cannot put it in the old one's
// place, leaves the old bytes and no new file.
TEST_F(ProfileTest, AWriteThatFailsLeavesTheOldBytesAndNoNewFile) {
  const std::string path = scratch_ / "kept.ini";
  const std::string old = "[Setting]\r\nMode=0\r\nPath=C:\\Old\r\n";
  const std::vector<ProfileEntry> entries{{"Mode", "1"}, {"Path", "C:\\New"}};
  struct Row {
    const char* what;
    bool newNameIsAFolder;  // the new file cannot be created
    bool heldWithoutDeleteSharing;  // the rename cannot replace the file
  };
  const Row rows[] = {{"the new file cannot be created", true, false},
                      {"the file cannot be replaced", false, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    scratch_.WriteFile("kept.ini", old);
    if (row.newNameIsAFolder) {
      ASSERT_TRUE(CreateDirectory(path + ".new").ok());
    }
    {
      OpenResult holder;
      if (row.heldWithoutDeleteSharing) {
        holder = CreateFile(path, access::kGenericRead, share::kRead | share::kWrite, Disposition::OpenExisting);
        ASSERT_TRUE(holder.file.valid());
      }
      EXPECT_FALSE(WriteProfileStrings("Setting", entries, path).ok());
    }
    EXPECT_EQ(scratch_.ReadFile("kept.ini"), old);
    if (row.newNameIsAFolder) {
      EXPECT_TRUE(DirectoryExists(path + ".new"));
      ASSERT_TRUE(RemoveDirectory(path + ".new").ok());
    } else {
      EXPECT_FALSE(GetFileAttributes(path + ".new").has_value());
    }
  }
}

TEST_F(ProfileTest, ValuesAreWrittenVerbatimAndReadBack) {
  const std::string path = scratch_ / "verbatim.ini";
  for (const std::string value : {"a=b;c", "C:\\Users\\Public\\Pictures", "#x", "'q'x", "0x1F"}) {
    SCOPED_TRACE(value);
    ASSERT_TRUE(WriteProfileString("Setting", "k", value, path).ok());
    EXPECT_EQ(ReadProfileString("Setting", "k", "", path).text, value);
  }
  EXPECT_EQ(scratch_.ReadFile("verbatim.ini"), "[Setting]\r\nk=0x1F\r\n");
}

TEST_F(ProfileTest, WriteNeedsAnExistingDirectory) {
  const Result<void> written = WriteProfileString("A", "k", "v", scratch_ / "missing\\sub.ini");
  EXPECT_FALSE(written.ok());
  EXPECT_EQ(written.error(), error::kPathNotFound);
  EXPECT_FALSE(DirectoryExists(scratch_ / "missing"));
}

TEST_F(ProfileTest, WriteFailsWhileTheFileIsOpenWithoutShareWrite) {
  const std::string path = scratch_ / "locked.ini";
  scratch_.WriteFile("locked.ini", "[A]\r\nk=1\r\n");
  {
    OpenResult holder = CreateFile(path, access::kGenericRead, share::kRead, Disposition::OpenExisting);
    ASSERT_TRUE(holder.file.valid());
    const Result<void> written = WriteProfileString("A", "k", "2", path);
    EXPECT_FALSE(written.ok());
    EXPECT_EQ(written.error(), error::kSharingViolation);
  }
  // The new file takes the old one's place by a rename, which an open
  // that does not share deletion refuses.
  {
    OpenResult holder =
        CreateFile(path, access::kGenericRead, share::kRead | share::kWrite, Disposition::OpenExisting);
    ASSERT_TRUE(holder.file.valid());
    EXPECT_FALSE(WriteProfileString("A", "k", "3", path).ok());
  }
  EXPECT_EQ(ReadProfileString("A", "k", "", path).text, "1");
  EXPECT_FALSE(FileExists(path + ".new"));
  EXPECT_TRUE(WriteProfileString("A", "k", "3", path).ok()) << "once nobody holds it";
  EXPECT_EQ(ReadProfileString("A", "k", "", path).text, "3");
}

struct IntegerCase {
  const char* text;
  std::int32_t expected;
};

TEST(ProfileIntegerTest, ParsesDecimalAndPrefixedHexadecimal) {
  constexpr std::int32_t kDefault = 77;
  const IntegerCase cases[] = {
      {"42", 42},
      {"0", 0},
      {"-1", -1},
      {"+7", 7},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"0x1F", 31},
      {"0X1f", 31},
      {"0x10", 16},
      {"0x7FFFFFFF", 2147483647},
      {"0x80000000", INT32_MIN},   // the 32-bit pattern taken as signed
      {"0xFFFFFFFF", -1},
      {"0x00000000FF", 255},       // leading zeros do not overflow
      {"", kDefault},
      {"0x", kDefault},            // two characters only: not hexadecimal, and not decimal either
      {"0x100000000", kDefault},   // more than 32 bits
      {"0x1G", kDefault},
      {"2147483648", kDefault},
      {"-2147483649", kDefault},
      {"12a", kDefault},
      {" 5", kDefault},
      {"5 ", kDefault},
      {"-", kDefault},
      {"-0x5", kDefault},
      {"$FF", kDefault},
      {"1e3", kDefault},
      {"99999999999999999999", kDefault},
  };
  for (const IntegerCase& row : cases) {
    EXPECT_EQ(ParseProfileInteger(row.text, kDefault), row.expected) << "text \"" << row.text << "\"";
  }
}

TEST_F(ProfileTest, IntegersRoundTripThroughTheFile) {
  const std::string path = scratch_ / "numbers.ini";
  ASSERT_TRUE(WriteProfileInteger("Setting", "Mode", -5, path).ok());
  ASSERT_TRUE(WriteProfileString("Setting", "AutoRoate", "0x10", path).ok());
  ASSERT_TRUE(WriteProfileString("Setting", "Junk", "12abc", path).ok());
  EXPECT_EQ(scratch_.ReadFile("numbers.ini"), "[Setting]\r\nMode=-5\r\nAutoRoate=0x10\r\nJunk=12abc\r\n");
  EXPECT_EQ(ReadProfileInteger("Setting", "Mode", 1, path), -5);
  EXPECT_EQ(ReadProfileInteger("Setting", "AutoRoate", 0, path), 16);
  EXPECT_EQ(ReadProfileInteger("Setting", "Junk", 3, path), 3);
  EXPECT_EQ(ReadProfileInteger("Setting", "Missing", 1, path), 1);
  EXPECT_EQ(ReadProfileInteger("Setting", "Mode", 1, scratch_ / "absent.ini"), 1);
}

}  // namespace
}  // namespace pw::platform
