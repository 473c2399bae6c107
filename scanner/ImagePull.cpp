#include "scanner/ImagePull.h"

#include <exception>
#include <limits>
#include <optional>
#include <stdexcept>

#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/Messages.h"
#include "platform/PathText.h"
#include "platform/Shell.h"
#include "platform/Windows.h"
#include "storage/FreeSpaceGuard.h"
#include "ui/MainForm.h"

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

// The title an explorer window showing the folder carries when it shows its
// full path: the save location and the folder's name, joined by the root rule
// of the naming ("E:\" + "Photo1" is "E:\Photo1").
std::string FolderPathTitle(const std::string& saveLocation, const std::string& folderTitle) {
  return saveLocation.size() == 3 ? saveLocation + folderTitle : saveLocation + "\\" + folderTitle;
}

}  // namespace

bool ImagePull::PullImage(const platform::DeviceHandle& device) {
  try {
    // Is an image waiting? Almost every tick ends here. Only 0 and a failed
    // query mean no: any other answer, even the end marker, starts a pull.
    if (!SendScannerCommand(device, buffer_, ScannerCommand::LengthQueryCommand, 0).ok) return false;
    const std::int32_t firstLength = ReadLengthReply(buffer_).length;
    if (firstLength == 0) return false;

    std::string destination = form_.NextImagePath();
    // No image folder could be made below the save location: naming has
    // switched to the default location, and its next answer stands.
    if (destination == form_.DefaultSavePath) destination = form_.NextImagePath();
    bool fallbackUsed = false;
    if (!form_.EnoughFreeSpace(destination, storage::kPullBytesNeeded)) {
      fallbackUsed = true;
      destination = form_.FallbackImagePath();
    }
    const std::string folder = platform::ExtractFilePath(destination);
    const std::string folderTitle = form_.FolderPrefix + std::to_string(form_.FolderCounter);
    const std::string folderPathTitle = FolderPathTitle(form_.ActiveSavePath, folderTitle);

    bool result = false;
    {
      // CREATE_ALWAYS truncates a file of that name; nobody else may open it meanwhile.
      platform::OpenResult created =
          platform::CreateFile(destination, platform::access::kGenericRead | platform::access::kGenericWrite,
                               platform::share::kNone, platform::Disposition::CreateAlways);
      if (!created.file) throw PullFileError(destination, created.error);
      result = Transfer(device, created.file, firstLength);
    }  // closed here: auto-rotate opens the file itself

    if (form_.AutoRCheckBx.Checked()) form_.AutoRotateImage(destination);
    (void)platform::SetCurrentDirectory(form_.SystemDriveRoot);
    TellTheUser(fallbackUsed, folder, folderTitle, folderPathTitle);
    return result;
  } catch (const std::exception&) {
    (void)platform::SetCurrentDirectory(form_.SystemDriveRoot);
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

void ImagePull::TellTheUser(bool fallbackUsed, const std::string& folder, const std::string& folderTitle,
                            const std::string& folderPathTitle) {
  if (fallbackUsed) {
    const std::string message = form_.LoadText(ui::text::kDiskFullMessage);
    const std::string caption = form_.LoadText(ui::text::kMessageCaption);
    // Polls, and pulls, go on inside the box: while one box is open, a
    // further fallback shows no second one.
    if (!platform::IsWindow(platform::FindWindow(std::nullopt, caption))) {
      (void)platform::MessageBoxEx(form_.Handle(), message, caption, kFallbackMessageStyle, 0);
    }
    return;
  }
  // An explorer window already showing the folder is titled with its bare
  // name or with its full path: the folder is opened only when neither exists.
  const platform::WindowHandle byName = platform::FindWindow(std::nullopt, folderTitle);
  const platform::WindowHandle byPath = platform::FindWindow(std::nullopt, folderPathTitle);
  if (!platform::IsWindow(byName) && !platform::IsWindow(byPath)) {
    (void)platform::ShellExecute(form_.Handle(), kExploreVerb, folder, "", "", platform::kSwShow);
  }
}

}  // namespace pw::scanner
