#include "scanner/ImagePull.h"

#include <array>
#include <exception>
#include <limits>
#include <stdexcept>

#include "platform/DebugTrace.h"
#include "platform/FileSystem.h"
#include "platform/Messages.h"
#include "platform/PathText.h"

namespace pw::scanner {
namespace {

namespace error = platform::error;

// The destination cannot be created: the pull ends through its exception
// path, and the image stays on the scanner for the next poll.
class PullFileError : public std::runtime_error {
 public:
  PullFileError(const std::string& path, platform::ErrorCode code)
      : std::runtime_error("CreateFileA " + path + " failed with error " + std::to_string(code)) {}
};

}  // namespace

std::string FolderPathTitle(const std::string& saveLocation, const std::string& folderTitle) {
  return saveLocation.size() == 3 ? saveLocation + folderTitle : saveLocation + "\\" + folderTitle;
}

bool ImagePull::PullImage(const platform::DeviceHandle& device) {
  try {
    // Is an image waiting? Almost every tick ends here. Only 0 and a failed
    // query mean no: any other answer, even the end marker, starts a pull.
    if (!SendScannerCommand(device, buffer_, ScannerCommand::LengthQueryCommand, 0).ok) return false;
    const std::int32_t firstLength = ReadLengthReply(buffer_).length;
    if (firstLength == 0) return false;

    std::string destination = host_.NextImagePath();
    // No image folder could be made below the save location: naming has
    // switched to the default location, and its next answer stands.
    if (destination == host_.DefaultSaveLocation()) destination = host_.NextImagePath();
    bool fallbackUsed = false;
    if (!host_.EnoughFreeSpace(destination, kPullBytesNeeded)) {
      fallbackUsed = true;
      destination = host_.FallbackImagePath();
    }
    const std::string folder = platform::ExtractFilePath(destination);
    const std::string folderTitle = host_.ImageFolderTitle();
    const std::array<std::string, 2> folderTitles{folderTitle,
                                                  FolderPathTitle(host_.ActiveSaveLocation(), folderTitle)};

    bool result = false;
    {
      // CREATE_ALWAYS truncates a file of that name; nobody else may open it meanwhile.
      platform::OpenResult created =
          platform::CreateFile(destination, platform::access::kGenericRead | platform::access::kGenericWrite,
                               platform::share::kNone, platform::Disposition::CreateAlways);
      if (!created.file) throw PullFileError(destination, created.error);
      result = Transfer(device, created.file, firstLength);
    }  // closed here: auto-rotate opens the file itself

    if (host_.AutoRotateSwitchedOn()) host_.AutoRotateImage(destination);
    (void)platform::SetCurrentDirectory(host_.SystemDriveRootPath());
    if (fallbackUsed) {
      notifier_.TellDiskFull();
    } else {
      notifier_.ShowFolder(folder, folderTitles);
    }
    return result;
  } catch (const std::exception&) {
    platform::TraceCurrentException("Image pull");
    (void)platform::SetCurrentDirectory(host_.SystemDriveRootPath());
    return false;
  }
}

bool ImagePull::Transfer(const platform::DeviceHandle& device, const platform::FileHandle& file,
                         std::int32_t firstLength) {
  std::int32_t pullOffset = 0;
  std::int32_t chunkLength = firstLength;
  bool lastRequestOk = true;
  // Since the image last grew.
  std::uint32_t idleQueries = 0;
  std::uint32_t lastProgressAt = platform::GetTickCount();

  for (;;) {
    if (chunkLength > 0) {
      // A length the data area cannot hold, or one that would carry the
      // offset past what it can count, is not read: the pull ends as after a
      // failed request.
      if (chunkLength > kLargestChunk || chunkLength > std::numeric_limits<std::int32_t>::max() - pullOffset) {
        return false;
      }
      const auto length = static_cast<std::uint32_t>(chunkLength);
      platform::Outcome read = SendScannerCommand(device, buffer_, ScannerCommand::ChunkReadCommand, length);
      if (!read.ok) {
        if (read.error != error::kSemTimeout) return false;
        // The repetitions stop at the first success, whatever their errors.
        for (int i = 0; i < kChunkReadRepetitions && !read.ok; ++i) {
          read = SendScannerCommand(device, buffer_, ScannerCommand::ChunkReadCommand, length);
        }
      }
      lastRequestOk = read.ok;
      // Written even when every attempt failed: the zeroed data area holds the
      // place until the same offset is delivered again and overwrites it.
      const platform::IoResult written =
          platform::WriteFileAt(file, static_cast<std::uint64_t>(pullOffset), buffer_.DataPrefix(length));
      // A file that does not take the bytes would be reported whole while it
      // is not: the pull ends unfinished, and the scanner keeps the image.
      if (!written.ok) return false;
      if (read.ok) {
        pullOffset += chunkLength;
        idleQueries = 0;
        lastProgressAt = platform::GetTickCount();
      }
    }

    const platform::Outcome query = SendScannerCommand(device, buffer_, ScannerCommand::LengthQueryCommand,
                                                       static_cast<std::uint32_t>(pullOffset));
    lastRequestOk = query.ok;
    if (!query.ok && query.error != error::kSemTimeout) return false;
    const LengthReply reply = ReadLengthReply(buffer_);
    if (reply.endOfImage) return lastRequestOk;
    // A timed-out query simply leads to a new one for the same offset.
    chunkLength = query.ok ? reply.length : 0;

    ++idleQueries;
    if (idleQueries >= kStallLimitQueries || platform::GetTickCount() - lastProgressAt >= kStallLimitMs) {
      return false;
    }
  }
}

}  // namespace pw::scanner
