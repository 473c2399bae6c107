#include "storage/AutoRotate.h"

#include <array>
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

HeaderProbe ReadHeader(const std::string& path) {
  platform::OpenResult opened =
      platform::CreateFile(path, platform::access::kGenericRead | platform::access::kGenericWrite,
                           platform::share::kNone, platform::Disposition::OpenExisting);
  if (!opened.file) {
    throw AutoRotateError("AutoRotateImage: cannot open " + path + " (error " + std::to_string(opened.error) + ")",
                          opened.error);
  }
  std::array<std::byte, kHeaderBytes> header{};
  const platform::IoResult read = platform::ReadFileAt(opened.file, 0, header);
  if (!read.ok) {
    throw AutoRotateError("AutoRotateImage: cannot read " + path + " (error " + std::to_string(read.error) + ")",
                          read.error);
  }
  return ProbeHeader(std::span<const std::byte>(header).first(read.bytes));
}

}  // namespace

std::string AutoRotateScratchName(const std::string& path) { return path + ".autorotate.tmp"; }

void AutoRotateImage(const std::string& path, ImagingLibrary& library) {
  // The file is closed again before the component opens it.
  const HeaderProbe probe = ReadHeader(path);
  if (!probe.turn) return;

  BitmapRecord record{};
  ScopeExit freeRecord([&] {
    if (HoldsData(record)) library.FreeRecord(record);
  });
  int status = library.LoadFile(path, record, kBitmapRecordSize, kLoadBitsPerPixel, kLoadFlags, nullptr, nullptr);
  if (status == 0) return;

  library.SetComment(kVersionCommentType, kVersionText, sizeof kVersionText);
  status = library.SetComment(kCarriedCommentType, probe.carriedText.c_str(),
                              static_cast<std::uint32_t>(probe.carriedText.size() + 1));
  if (status == 0) return;

  // Saving straight over the image would lose it when the save fails; the
  // old file stays until the new one is complete.
  const std::string scratch = AutoRotateScratchName(path);
  const bool saved = library.SaveFile(scratch, record, kSaveFormat, kSaveBitsPerPixel, kSaveQuality, nullptr) != 0;
  if (saved && platform::FileExists(scratch) && platform::ReplaceFileWith(scratch, path)) return;
  if (platform::FileExists(scratch)) (void)platform::DeleteFile(scratch);
}

void AutoRotateImage(const std::string& path) { AutoRotateImage(path, LinkedImagingLibrary()); }

}  // namespace pw::storage
