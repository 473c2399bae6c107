// The transfer file of a pull and what becomes of an interrupted transfer's
// bytes: they never take an image name, never destroy bytes they do not hold,
// and leave at most one partial per image.
#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <set>
#include <span>
#include <string>

#include "platform/FileSystem.h"
#include "platform/hostworld/World.h"
#include "scanner/PictureDigest.h"
#include "scanner/TransferFile.h"
#include "tests/support/TestEnvironment.h"

namespace pw::scanner {
namespace {

class TransferFileTest : public ::testing::Test {
 protected:
  hostworld::World world;
  test::ScratchFolder folder;

  std::string Transfer(std::string_view bytes, std::uint32_t seed = 1) {
    platform::Result<TransferFile> made = CreateTransferFile(folder.Path(), seed);
    EXPECT_TRUE(made.ok()) << made.error();
    if (!made) return {};
    const std::string path = made->path;
    made->file.reset();
    const std::string name = path.substr(folder.Path().size() + 1);
    folder.WriteFile(name, bytes);
    return path;
  }
};

TEST_F(TransferFileTest, TransferNamesAreFreshShortAndNeverImageNames) {
  std::set<std::string> names;
  for (std::uint32_t i = 0; i < 20; ++i) {
    platform::Result<TransferFile> made = CreateTransferFile(folder.Path(), 7);  // same seed: every call must step on
    ASSERT_TRUE(made.ok()) << made.error();
    const std::string name = made->path.substr(folder.Path().size() + 1);
    EXPECT_EQ(name.size(), 8u) << "no longer than the shortest image name (\"0001.jpg\")";
    EXPECT_EQ(name.front(), '~');
    EXPECT_EQ(name.find('.'), std::string::npos) << "no extension a viewer would open";
    EXPECT_TRUE(names.insert(name).second) << "a taken name was handed out again: " << name;
  }
}

TEST_F(TransferFileTest, TransferSkipsAFolderOfTheSameNameAndReportsAMissingFolder) {
  platform::Result<TransferFile> first = CreateTransferFile(folder.Path(), 3);
  ASSERT_TRUE(first.ok());
  const std::string taken = first->path;
  first->file.reset();
  ASSERT_TRUE(platform::DeleteFile(taken));
  ASSERT_TRUE(platform::CreateDirectory(taken));

  platform::Result<TransferFile> second = CreateTransferFile(folder.Path(), 3);
  ASSERT_TRUE(second.ok());
  EXPECT_NE(second->path, taken);
  EXPECT_TRUE(platform::DirectoryExists(taken));

  const platform::Result<TransferFile> missing = CreateTransferFile(folder / "no such folder", 3);
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.error(), platform::error::kPathNotFound);
}

TEST_F(TransferFileTest, PartialNameReplacesTheImageExtension) {
  EXPECT_EQ(PartialImagePath("C:\\Scans\\Photo1\\img0001.jpg"), "C:\\Scans\\Photo1\\img0001.partial");
  EXPECT_EQ(PartialImagePath("E:\\Photo.1\\0001.jpg"), "E:\\Photo.1\\0001.partial") << "a dot in the folder";
  EXPECT_EQ(PartialImagePath("E:\\Photo1\\img"), "E:\\Photo1\\img.partial");
}

TEST_F(TransferFileTest, PromotionNeverReplacesAnExistingImageOrFolder) {
  const std::string transfer = Transfer("whole picture");
  folder.WriteFile("img0001.jpg", "user's picture");
  const platform::Result<void> refused = PromoteTransfer(transfer, folder / "img0001.jpg");
  EXPECT_FALSE(refused.ok());
  EXPECT_EQ(refused.error(), platform::error::kAlreadyExists);
  EXPECT_EQ(folder.ReadFile("img0001.jpg"), "user's picture");
  EXPECT_TRUE(platform::FileExists(transfer));

  ASSERT_TRUE(platform::CreateDirectory(folder / "img0002.jpg"));
  EXPECT_FALSE(PromoteTransfer(transfer, folder / "img0002.jpg").ok());
  EXPECT_TRUE(platform::DirectoryExists(folder / "img0002.jpg"));

  ASSERT_TRUE(PromoteTransfer(transfer, folder / "img0003.jpg").ok());
  EXPECT_EQ(folder.ReadFile("img0003.jpg"), "whole picture");
  EXPECT_FALSE(platform::FileExists(transfer));
}

TEST_F(TransferFileTest, InterruptedTransfersKeepTheLongestDeliveryOnce) {
  const std::string image = folder / "img0001.jpg";
  const std::string partial = folder / "img0001.partial";

  // Nothing arrived: nothing is kept.
  EXPECT_EQ(KeepPartialTransfer(Transfer(""), image), std::nullopt);

  // The first interruption takes the partial name.
  EXPECT_EQ(KeepPartialTransfer(Transfer("ABCD", 11), image), partial);
  EXPECT_EQ(folder.ReadFile("img0001.partial"), "ABCD");

  // A later attempt that got further replaces it; one that got less goes.
  EXPECT_EQ(KeepPartialTransfer(Transfer("ABCDEFG", 12), image), partial);
  EXPECT_EQ(folder.ReadFile("img0001.partial"), "ABCDEFG");
  EXPECT_EQ(KeepPartialTransfer(Transfer("AB", 13), image), partial);
  EXPECT_EQ(folder.ReadFile("img0001.partial"), "ABCDEFG");

  // Bytes the partial does not hold are never thrown away: they stay under
  // their transfer name.
  const std::string other = Transfer("XYZ", 14);
  EXPECT_EQ(KeepPartialTransfer(other, image), other);
  EXPECT_EQ(folder.ReadFile("img0001.partial"), "ABCDEFG");
  EXPECT_TRUE(platform::FileExists(other));

  // Nothing under an image name at any point.
  EXPECT_FALSE(platform::FileExists(image));
  std::size_t transfers = 0;
  for (const platform::FindEntry& entry : platform::FindFiles(folder / "*.*").value_or(platform::FindEntries())) {
    if (entry.name.front() == '~') ++transfers;
  }
  EXPECT_EQ(transfers, 1u) << "only the transfer whose bytes differ is left";
}

TEST_F(TransferFileTest, APartialThatCannotBeReplacedKeepsBothCopies) {
  const std::string image = folder / "img0001.jpg";
  folder.WriteFile("img0001.partial", "AB");
  ASSERT_TRUE(platform::SetFileAttributes(folder / "img0001.partial", platform::attribute::kReadOnly));
  const std::string transfer = Transfer("ABCDEF");
  EXPECT_EQ(KeepPartialTransfer(transfer, image), transfer);
  EXPECT_EQ(folder.ReadFile("img0001.partial"), "AB");
  EXPECT_EQ(folder.ReadFile(transfer.substr(folder.Path().size() + 1)), "ABCDEF");
}

TEST_F(TransferFileTest, AWholeImageDropsOnlyAPartialItBeginsWith) {
  folder.WriteFile("img0001.jpg", "ABCDEFGH");
  folder.WriteFile("img0001.partial", "ABCD");
  DropSupersededPartial(folder / "img0001.jpg");
  EXPECT_FALSE(platform::FileExists(folder / "img0001.partial"));

  folder.WriteFile("img0002.jpg", "ABCDEFGH");
  folder.WriteFile("img0002.partial", "ABXD");
  DropSupersededPartial(folder / "img0002.jpg");
  EXPECT_EQ(folder.ReadFile("img0002.partial"), "ABXD") << "another picture's bytes stay";

  folder.WriteFile("img0003.jpg", "AB");
  folder.WriteFile("img0003.partial", "ABCD");
  DropSupersededPartial(folder / "img0003.jpg");
  EXPECT_EQ(folder.ReadFile("img0003.partial"), "ABCD") << "a longer partial holds more than the image";
}

TEST_F(TransferFileTest, PrefixComparisonCrossesChunkBoundaries) {
  std::string big(200 * 1024, 'p');
  folder.WriteFile("long", big);
  folder.WriteFile("short", big.substr(0, 150 * 1024));
  EXPECT_TRUE(FileStartsWith(folder / "long", folder / "short"));
  EXPECT_FALSE(FileStartsWith(folder / "short", folder / "long"));
  std::string changed = big.substr(0, 150 * 1024);
  changed[140 * 1024] = 'q';
  folder.WriteFile("short", changed);
  EXPECT_FALSE(FileStartsWith(folder / "long", folder / "short")) << "a difference in the third chunk";
  EXPECT_FALSE(FileStartsWith(folder / "long", folder / "missing"));
}

// The digest taken as the bytes pass, in whatever chunks they come, with the
// digest of their first bytes up to the mark taken on the way.
ArrivedBytes Arrive(std::string_view bytes, std::size_t chunk, std::uint64_t mark) {
  PictureDigest digest(mark);
  const auto all = std::as_bytes(std::span(bytes.data(), bytes.size()));
  for (std::size_t at = 0; at < all.size(); at += chunk) digest.Add(all.subspan(at, std::min(chunk, all.size() - at)));
  return {digest.Size(), digest.Value(), mark, digest.AtMark()};
}

TEST_F(TransferFileTest, TheDigestAsTheBytesPassDoesNotDependOnTheChunksAndMarksThePrefix) {
  const std::string bytes(300 * 1024 + 7, 'x');
  const ArrivedBytes whole = Arrive(bytes, bytes.size(), 100 * 1024);
  const ArrivedBytes prefix = Arrive(bytes.substr(0, 100 * 1024), 4096, 0);
  for (const std::size_t chunk : {std::size_t{1}, std::size_t{1000}, std::size_t{65536}, std::size_t{100 * 1024}}) {
    const ArrivedBytes chunked = Arrive(bytes, chunk, 100 * 1024);
    EXPECT_EQ(chunked.size, bytes.size()) << chunk;
    EXPECT_EQ(chunked.digest, whole.digest) << chunk;
    EXPECT_EQ(chunked.markDigest, prefix.digest) << chunk;
  }
  EXPECT_NE(Arrive(bytes + "y", 65536, 0).digest, whole.digest);
  EXPECT_EQ(Arrive(bytes.substr(0, 1000), 65536, 2000).markDigest, std::nullopt) << "fewer bytes than the mark";
}

// The files are read only when the digest says the saved picture may be the
// same (or a prefix); then the bytes decide, and a saved picture changed
// since, or a digest that matches other bytes, never counts as the same.
TEST_F(TransferFileTest, OnlyADigestThatMatchesLeadsToTheByteComparisonThatDecides) {
  const std::string saved(150 * 1024, 's');
  const std::string longer = saved + std::string(70 * 1024, 't');
  const std::string other(150 * 1024, 'o');
  struct Row {
    const char* what;
    std::string transfer;
    std::string savedNow;       // the saved picture's bytes as they are at the comparison
    std::uint64_t recordDigest;  // 0: the digest of saved
    RepeatOfSaved expected;
  };
  const std::uint64_t savedDigest = Arrive(saved, saved.size(), 0).digest;
  const Row rows[] = {
      {"the same bytes", saved, saved, 0, RepeatOfSaved::Same},
      {"the saved picture cut short", longer, saved, 0, RepeatOfSaved::Longer},
      {"other bytes of the same size", other, saved, 0, RepeatOfSaved::None},
      {"shorter than the saved picture", saved.substr(0, 1000), saved, 0, RepeatOfSaved::None},
      {"the saved picture changed since, its size too", saved, saved + "u", 0, RepeatOfSaved::None},
      {"the saved picture changed since, same size", saved, other, 0, RepeatOfSaved::None},
      {"a digest that matches other bytes", other, saved, Arrive(other, 4096, 0).digest, RepeatOfSaved::None},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    folder.WriteFile("img0001.jpg", row.savedNow);
    const std::string transfer = Transfer(row.transfer);
    const std::uint64_t digest = row.recordDigest != 0 ? row.recordDigest : savedDigest;
    const SavedPictureRecord record{folder / "img0001.jpg", saved.size(), digest};
    EXPECT_EQ(CompareWithSaved(transfer, Arrive(row.transfer, 65536, saved.size()), record), row.expected);
    EXPECT_TRUE(platform::DeleteFile(transfer));
  }
  // Another folder, or nothing saved yet: no comparison.
  folder.WriteFile("img0001.jpg", saved);
  const std::string transfer = Transfer(saved);
  const ArrivedBytes arrived = Arrive(saved, 65536, saved.size());
  EXPECT_EQ(CompareWithSaved(transfer, arrived, {"C:\\Elsewhere\\img0001.jpg", saved.size(), savedDigest}),
            RepeatOfSaved::None);
  EXPECT_EQ(CompareWithSaved(transfer, arrived, {}), RepeatOfSaved::None);
}

}  // namespace
}  // namespace pw::scanner
