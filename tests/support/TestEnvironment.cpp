#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "platform/FileSystem.h"

namespace pw::test {

std::string ScratchFolder::operator/(std::string_view name) const { return path_ + "\\" + std::string(name); }

void ScratchFolder::WriteFile(std::string_view name, std::string_view bytes) const {
  using namespace platform;
  OpenResult opened = CreateFile(*this / name, access::kGenericWrite, share::kRead, Disposition::CreateAlways);
  ASSERT_TRUE(opened.file.valid()) << "cannot create " << (*this / name) << ": error " << opened.error;
  const auto* data = reinterpret_cast<const std::byte*>(bytes.data());
  const IoResult written = WriteFileAt(opened.file, 0, {data, bytes.size()});
  ASSERT_TRUE(written.ok) << "cannot write " << (*this / name) << ": error " << written.error;
}

std::string ScratchFolder::ReadFile(std::string_view name) const {
  using namespace platform;
  OpenResult opened =
      CreateFile(*this / name, access::kGenericRead, share::kRead | share::kWrite, Disposition::OpenExisting);
  if (!opened.file.valid()) return {};
  const std::optional<std::uint64_t> size = GetFileSize(opened.file);
  if (!size) return {};
  std::string content(static_cast<std::size_t>(*size), '\0');
  const IoResult read = ReadFileAt(opened.file, 0, {reinterpret_cast<std::byte*>(content.data()), content.size()});
  if (!read.ok) return {};
  content.resize(read.bytes);
  return content;
}

void RemoveTree(const std::string& path) {
  using namespace platform;
  const FindEntries listing = FindFiles(path + "\\*").value_or(FindEntries());
  for (const FindEntry& entry : listing) {
    const std::string child = path + "\\" + entry.name;
    if ((entry.attributes & attribute::kReadOnly) != 0) (void)SetFileAttributes(child, attribute::kNormal);
    if ((entry.attributes & (attribute::kDirectory | attribute::kReparsePoint)) ==
        (attribute::kDirectory | attribute::kReparsePoint)) {
      (void)RemoveDirectory(child);  // a junction goes itself; what it points at stays
    } else if ((entry.attributes & attribute::kDirectory) != 0) {
      RemoveTree(child);
    } else {
      (void)DeleteFile(child);
    }
  }
  (void)SetFileAttributes(path, attribute::kNormal);
  (void)RemoveDirectory(path);
}

bool KnownWineDifference(std::string_view what) {
  if (!IsRunningUnderWine()) return false;
  std::printf("[ KNOWN WINE DIFFERENCE ] %.*s\n", static_cast<int>(what.size()), what.data());
  std::fflush(stdout);
  static int count = 0;
  ::testing::Test::RecordProperty("known_wine_difference_" + std::to_string(++count), std::string(what));
  return true;
}

}  // namespace pw::test
