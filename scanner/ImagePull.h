#pragma once
// The image pull: moves one image that waits on the scanner into a numbered
// file below the save location (or into the scratch file when the drive lacks
// room), re-saves it upright when auto-rotate is on, and opens its folder in
// the explorer or tells the user that the disk was full.
#include <cstdint>
#include <string>

#include "platform/FileSystem.h"
#include "platform/StorageDevice.h"
#include "scanner/PassThroughBuffer.h"
#include "scanner/PullHost.h"
#include "scanner/ScannerChannel.h"
#include "scanner/UserNotifier.h"

namespace pw::scanner {

// The size the pull asks the free-space guard room for, whatever the image's size.
inline constexpr std::int32_t kPullBytesNeeded = 2000000;
// A timed-out chunk read is sent again up to this many times (6 attempts in all).
inline constexpr int kChunkReadRepetitions = 5;
// The pull blocks the window's thread, and with it every other duty of the
// service (its control requests too). A scanner that stops delivering inside
// an image (length queries answering 0, a negative length or timing out,
// chunk reads that keep timing out) ends the pull as a failed request once
// the image has not grown for this long on the system's tick clock, or over
// this many length queries in a row when that clock does not move. The
// scanner keeps an image until its end marker has been read, so the next poll
// asks for it again from its start.
inline constexpr std::uint32_t kStallLimitMs = 10000;
inline constexpr std::uint32_t kStallLimitQueries = 100000;

// The title an explorer window showing the folder carries when it shows its
// full path: the save location and the folder's name, joined by the root rule
// of the naming ("E:\" + "Photo1" is "E:\Photo1").
std::string FolderPathTitle(const std::string& saveLocation, const std::string& folderTitle);

// One pull on the open scanner volume, for the application (naming,
// free-space guard, auto-rotate) and the user (the disk-full box, the folder
// window). Requests go through the caller's buffer, which the exchange owns
// for its duration. Service thread only: it runs inside the poll.
class ImagePull final : public ImagePuller {
 public:
  ImagePull(PullHost& host, UserNotifier& notifier, PassThroughBuffer& buffer)
      : host_(host), notifier_(notifier), buffer_(buffer) {}

  // True when the pull ended with the end marker; false when nothing waited,
  // a request failed with another error than ERROR_SEM_TIMEOUT, the scanner
  // announced a length the data area cannot hold, a write to the file
  // failed, the scanner stalled, or an exception ended it.
  bool PullImage(const platform::DeviceHandle& device) override;

 private:
  // The transfer into the open file; returns the success flag of the last request.
  bool Transfer(const platform::DeviceHandle& device, const platform::FileHandle& file, std::int32_t firstLength);
  PullHost& host_;
  UserNotifier& notifier_;
  PassThroughBuffer& buffer_;
};

}  // namespace pw::scanner
