#include "storage/AutoRotate.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>

#include "platform/FileSystem.h"
#include "platform/ScopeExit.h"

namespace pw::storage {
namespace {

struct HeaderProbe {
  bool turn = false;
  std::string carriedText;
};

// Bytes beyond the end of a short file count as absent: a file without a
// byte 30 is not turned, and the carried text ends where the file ends.
HeaderProbe ProbeHeader(std::span<const std::byte> header) {
  HeaderProbe probe;
  probe.turn = header.size() > kProbeOffset && std::to_integer<std::uint8_t>(header[kProbeOffset]) == kProbeTurnValue;
  for (std::size_t at = kCarriedTextOffset; at < kCarriedTextOffset + kCarriedTextBytes && at < header.size(); ++at) {
    const char c = static_cast<char>(std::to_integer<unsigned char>(header[at]));
    if (c == '\0') break;
    probe.carriedText.push_back(c);
  }
  return probe;
}

platform::Result<HeaderProbe> ReadHeader(const std::string& path, const platform::LocationRights& rights) {
  platform::OpenResult opened = rights.Open(path, platform::access::kGenericRead | platform::access::kGenericWrite,
                                            platform::share::kNone, platform::Disposition::OpenExisting);
  if (!opened.file) return platform::Failure(opened.error);
  std::array<std::byte, kHeaderBytes> header{};
  const platform::IoResult read = platform::ReadFileAt(opened.file, 0, header);
  if (!read.ok) return platform::Failure(read.error);
  return ProbeHeader(std::span<const std::byte>(header).first(read.bytes));
}

}  // namespace

std::string AutoRotateScratchName(const std::string& path, std::uint32_t attempt) {
  const std::size_t slash = path.find_last_of("\\/");
  const std::size_t nameAt = slash == std::string::npos ? (path.size() >= 2 && path[1] == ':' ? 2 : 0) : slash + 1;
  const std::size_t length = std::clamp<std::size_t>(path.size() - nameAt, 2, 8);
  // "~" then the attempt in base 20, written with the letters g to z: never
  // hex digits, so a scratch file a crash leaves is never taken for a pull's
  // transfer file (whose bytes would then be settled as a picture).
  std::string name(length, 'g');
  name[0] = '~';
  for (std::size_t at = length - 1; at > 0 && attempt > 0; --at, attempt /= 20) {
    name[at] = static_cast<char>('g' + attempt % 20);
  }
  return path.substr(0, nameAt) + name;
}

namespace {

// Reserves a scratch name that is no existing file: CREATE_NEW fails with
// ERROR_FILE_EXISTS (80) on a name in use, and the next one is tried.
std::optional<std::string> ReserveScratch(const std::string& path, const platform::LocationRights& rights) {
  for (std::uint32_t attempt = 0; attempt < kScratchNameAttempts; ++attempt) {
    std::string scratch = AutoRotateScratchName(path, attempt);
    const platform::OpenResult created =
        rights.Open(scratch, platform::access::kGenericWrite, platform::share::kNone, platform::Disposition::CreateNew);
    if (created.file) return scratch;  // closed again: the component opens it itself
    if (created.error != platform::error::kFileExists) return std::nullopt;
  }
  return std::nullopt;
}

// A save that reports success must also have left an image behind, and that
// image is on the disk before it takes the picture's name: a power cut must
// not leave the name on a file whose bytes were still in the cache.
bool HoldsBytesOnDisk(const std::string& path, const platform::LocationRights& rights) {
  const platform::OpenResult opened =
      rights.Open(path, platform::access::kGenericRead | platform::access::kGenericWrite, platform::share::kRead,
                  platform::Disposition::OpenExisting);
  if (!opened.file) return false;
  const std::optional<std::uint64_t> size = platform::GetFileSize(opened.file);
  return size && *size > 0 && platform::FlushFile(opened.file).ok();
}

}  // namespace

platform::Result<void> AutoRotateImage(const std::string& path, ImagingLibrary& library,
                                       const platform::LocationRights& rights) {
  const platform::ThreadRole step(library.StepRole());
  // The file is closed again before the component opens it.
  PW_TRY_ASSIGN(const HeaderProbe probe, ReadHeader(path, rights));
  if (!probe.turn) return platform::Success();

  BitmapRecord record{};
  ScopeExit freeRecord([&] {
    if (HoldsData(record)) library.FreeRecord(record);
  });
  int status = library.LoadFile(path, record, kBitmapRecordSize, kLoadBitsPerPixel, kLoadFlags, nullptr, nullptr);
  if (status == 0) return platform::Success();

  library.SetComment(kVersionCommentType, kVersionText, sizeof kVersionText);
  status = library.SetComment(kCarriedCommentType, probe.carriedText.c_str(),
                              static_cast<std::uint32_t>(probe.carriedText.size() + 1));
  if (status == 0) return platform::Success();

  // Saving straight over the image would lose it when the save fails; the
  // old file stays until the new one is complete.
  const std::optional<std::string> scratch = ReserveScratch(path, rights);
  if (!scratch) return platform::Success();
  const bool saved = library.SaveFile(*scratch, record, kSaveFormat, kSaveBitsPerPixel, kSaveQuality, nullptr) != 0;
  if (saved && HoldsBytesOnDisk(*scratch, rights) && rights.Move(*scratch, path, true)) return platform::Success();
  rights.Delete(*scratch).IgnoreFailure();
  return platform::Success();
}

platform::Result<void> AutoRotateImage(const std::string& path, const platform::LocationRights& rights) {
  return AutoRotateImage(path, LinkedImagingLibrary(), rights);
}

}  // namespace pw::storage
