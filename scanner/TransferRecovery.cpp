#include "scanner/TransferRecovery.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "platform/DebugTrace.h"
#include "platform/FileSystem.h"
#include "platform/Security.h"
#include "scanner/PictureDigest.h"
#include "scanner/TransferFile.h"

namespace pw::scanner {
namespace {

constexpr std::size_t kTransferNameLength = 8;
// The marker segments before the first scan lie within the picture's head;
// a head longer than this is not taken for a whole picture (its bytes are
// kept as a partial, nothing is lost).
constexpr std::size_t kHeadBytes = 1024 * 1024;

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::uint8_t At(std::span<const std::byte> bytes, std::size_t index) {
  return std::to_integer<std::uint8_t>(bytes[index]);
}

// From SOI up to the first SOS: every marker segment well formed (a length of
// at least 2 that stays inside the head), a frame header among them, and the
// scan header ending before the file's last two bytes.
bool SegmentsWellFormed(std::span<const std::byte> head, std::uint64_t fileSize) {
  if (head.size() < 4 || At(head, 0) != 0xFF || At(head, 1) != 0xD8) return false;
  std::size_t pos = 2;
  bool frame = false;
  for (;;) {
    if (pos >= head.size() || At(head, pos) != 0xFF) return false;
    while (pos < head.size() && At(head, pos) == 0xFF) ++pos;  // fill bytes
    if (pos >= head.size()) return false;
    const std::uint8_t marker = At(head, pos++);
    if (marker == 0x00 || marker == 0xD8 || marker == 0xD9) return false;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length follows
    if (pos + 2 > head.size()) return false;
    const std::size_t length = static_cast<std::size_t>(At(head, pos)) << 8 | At(head, pos + 1);
    if (length < 2 || pos + length > head.size()) return false;
    if (marker == 0xDA) return frame && pos + length + 2 <= fileSize;
    // SOF0..SOF15 except DHT (C4), JPG (C8) and DAC (CC).
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) frame = true;
    pos += length;
  }
}

// Whether the open file holds a whole picture as far as its bytes can tell:
// SOI, well-formed segments up to the first scan, and EOI as its last bytes;
// a whole one is read to its end for its digest. Nothing when it cannot be read.
struct WholeCheck {
  bool whole = false;
  std::uint64_t digest = 0;
};
std::optional<WholeCheck> HoldsWholePicture(const platform::FileHandle& file, std::uint64_t size) {
  if (size < 4) return WholeCheck{};
  std::array<std::byte, 2> tail{};
  const platform::IoResult tailRead = platform::ReadFileAt(file, size - 2, tail);
  if (!tailRead.ok || tailRead.bytes != tail.size()) return std::nullopt;
  if (At(tail, 0) != 0xFF || At(tail, 1) != 0xD9) return WholeCheck{};
  std::vector<std::byte> head(static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeadBytes)));
  const platform::IoResult headRead = platform::ReadFileAt(file, 0, head);
  if (!headRead.ok || headRead.bytes != head.size()) return std::nullopt;
  if (!SegmentsWellFormed(head, size)) return WholeCheck{};
  PictureDigest digest;
  digest.Add(head);
  for (std::uint64_t offset = head.size(); offset < size;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(head.size(), size - offset));
    const platform::IoResult read = platform::ReadFileAt(file, offset, std::span(head).first(want));
    if (!read.ok || read.bytes != want) return std::nullopt;
    digest.Add(std::span(head).first(want));
    offset += want;
  }
  return WholeCheck{true, digest.Value()};
}

std::string Join(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

bool IsPlainFile(std::uint32_t attributes) {
  return (attributes & (platform::attribute::kDirectory | platform::attribute::kReparsePoint)) == 0;
}

// One image folder: its listing, through naming, updated as transfers take names.
class FolderSettler {
 public:
  FolderSettler(const std::string& folder, SettleNaming& naming, const platform::LocationRights& rights,
                TransferJournal& journal, SettleCounts& counts)
      : folder_(folder),
        naming_(naming),
        rights_(rights),
        journal_(journal),
        counts_(counts),
        entries_(naming.ListFolder(folder)) {}

  void Run() {
    std::vector<std::string> transfers;
    for (const platform::FindEntry& entry : entries_) {
      if (IsTransferFileName(entry.name) && IsPlainFile(entry.attributes)) transfers.push_back(entry.name);
    }
    // In name order: the same leftovers settle the same way on every run.
    std::sort(transfers.begin(), transfers.end());
    for (const std::string& transfer : transfers) {
      ++counts_.found;
      Settle(Join(folder_, transfer));
    }
  }

 private:
  void Leave(const std::string& path, const std::string& why) {
    ++counts_.left;
    platform::DebugTrace("Leftover transfer " + path + " left as it is: " + why);
  }

  void Settle(const std::string& path) {
    if (!journal_.Lists(path)) return Leave(path, "this service did not make it");
    if (!platform::OwnedBySystemOrAdministrators(path) && !platform::OwnedByActingUser(path)) {
      return Leave(path, "another user owns it");
    }
    std::optional<std::uint64_t> size;
    std::optional<WholeCheck> whole;
    {
      const platform::FileHandle file =
          rights_.Open(path, platform::access::kGenericRead, platform::share::kRead, platform::Disposition::OpenExisting)
              .file;
      if (!file) return Leave(path, "it cannot be opened");
      // Another name of the same file (a hard link) may be anyone's file.
      if (platform::FileLinkCount(file).value_or(0) != 1) return Leave(path, "it has more than one name");
      size = platform::GetFileSize(file);
      if (!size) return Leave(path, "its size cannot be read");
      if (*size > 0) whole = HoldsWholePicture(file, *size);
    }  // closed here: the rename and the delete need it closed
    if (*size == 0) {
      if (!rights_.Delete(path)) return Leave(path, "it cannot be deleted");
      journal_.Remove(path);
      ++counts_.deleted;
      return;
    }
    if (!whole) return Leave(path, "it cannot be read");
    if (whole->whole) return Name(path, *size, whole->digest);
    KeepPartial(path);
  }

  // A whole picture: deleted when an image of the folder holds its bytes
  // (only images of the same size are compared), else under the next free
  // image name.
  void Name(const std::string& path, std::uint64_t size, std::uint64_t digest) {
    for (const platform::FindEntry& entry : entries_) {
      if (entry.size != size || !IsPlainFile(entry.attributes) || !naming_.IsImageName(entry.name)) continue;
      if (FileStartsWith(Join(folder_, entry.name), path, rights_)) {
        if (!rights_.Delete(path)) return Leave(path, "it cannot be deleted");
        journal_.Remove(path);
        ++counts_.deleted;
        counts_.lastWhole = SavedPictureRecord{Join(folder_, entry.name), size, digest};
        return;
      }
    }
    // A name another program took meanwhile is stepped over.
    for (int attempt = 0; attempt < 3; ++attempt) {
      const std::optional<std::string> name = naming_.FreeImageName(0);
      if (!name) return Leave(path, "no image number is left");
      const std::string image = Join(folder_, *name);
      const platform::Result<void> moved = rights_.Move(path, image, false);
      naming_.TakeImageName(*name);
      if (moved.ok()) {
        journal_.Remove(path);
        entries_.push_back({*name, 0, size});
        ++counts_.named;
        counts_.lastWhole = SavedPictureRecord{image, size, digest};
        DropSupersededPartial(image, rights_);
        return;
      }
      if (moved.error() != platform::error::kAlreadyExists && moved.error() != platform::error::kFileExists) break;
    }
    Leave(path, "it cannot be renamed");
  }

  // Not a whole picture: the partial of the next free image name; where
  // that partial holds other bytes (both are kept), of the next after it.
  void KeepPartial(const std::string& path) {
    for (std::int32_t n = 0;; ++n) {
      const std::optional<std::string> name = naming_.FreeImageName(n);
      if (!name) return Leave(path, "no image number is left");
      const std::string image = Join(folder_, *name);
      const std::string partial = PartialImagePath(image);
      if (platform::GetFileAttributes(partial) && !FileStartsWith(path, partial, rights_) &&
          !FileStartsWith(partial, path, rights_)) {
        continue;
      }
      const std::optional<std::string> kept = KeepPartialTransfer(path, image, rights_);
      if (kept && *kept == path) return Leave(path, "it cannot be renamed");
      journal_.Remove(path);
      ++counts_.kept;
      return;
    }
  }

  const std::string& folder_;
  SettleNaming& naming_;
  const platform::LocationRights& rights_;
  TransferJournal& journal_;
  SettleCounts& counts_;
  std::vector<platform::FindEntry> entries_;
};

}  // namespace

bool IsTransferFileName(std::string_view name) {
  return name.size() == kTransferNameLength && name.front() == '~' &&
         std::all_of(name.begin() + 1, name.end(), IsHexDigit);
}

SettleCounts SettleLeftoverTransfers(const std::string& location, SettleNaming& naming,
                                     const platform::LocationRights& rights, TransferJournal& journal) {
  SettleCounts counts;
  if (location.empty() || !platform::DirectoryExists(location)) return counts;
  if (const platform::Result<void> confined = rights.ConfineTo(location); !confined) {
    platform::DebugTrace("Settling leftover transfers: " + platform::LocationFailureText(confined.error(), location));
    return counts;
  }
  for (const std::string& folder : naming.ImageFolders()) {
    if (const platform::Result<void> checked = rights.CheckFolder(folder); !checked) {
      platform::DebugTrace("Settling leftover transfers: " + platform::LocationFailureText(checked.error(), folder));
      continue;
    }
    ++counts.folders;
    FolderSettler(folder, naming, rights, journal, counts).Run();
  }
  return counts;
}

void SettleLocationOnce(ScannerState& state, const std::string& location, SettleNaming& naming,
                        const platform::LocationRights& rights, TransferJournal& journal) {
  state.PlainFieldsThread.Check();
  if (state.SettledLocation == location) return;
  const SettleCounts counts = SettleLeftoverTransfers(location, naming, rights, journal);
  state.SettledLocation = location;
  if (counts.lastWhole) state.LastSavedPicture = std::move(*counts.lastWhole);
}

}  // namespace pw::scanner
