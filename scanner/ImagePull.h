#pragma once
// The image pull: moves one image that waits on the scanner into a numbered
// file below the save location (or into the scratch file when the drive lacks
// room), re-saves it upright when auto-rotate is on, and opens its folder in
// the explorer or tells the user that the disk was full. The image takes its
// numbered name only once all of it has arrived: until then it is a transfer
// file, and an interrupted transfer keeps its bytes under a partial name
// (scanner/TransferFile.h) while the scanner keeps the picture.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Result.h"
#include "platform/StorageDevice.h"
#include "platform/ThreadChecker.h"
#include "scanner/PassThroughBuffer.h"
#include "scanner/PullHost.h"
#include "scanner/ScannerChannel.h"
#include "scanner/ScannerState.h"
#include "scanner/TransferFile.h"
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
// for its duration. Service thread only: it runs inside the poll, on the
// thread that built the object (checked), which owns the scanner's fields.
class ImagePull final : public ImagePuller {
 public:
  ImagePull(PullHost& host, UserNotifier& notifier, ScannerState& state, PassThroughBuffer& buffer)
      : host_(host), notifier_(notifier), state_(state), buffer_(buffer) {}

  // True when the pull ended with the end marker; false when nothing waited,
  // one of the notifier's boxes is open, a request failed with another error
  // than ERROR_SEM_TIMEOUT, the scanner announced a length the data area
  // cannot hold, a write to the file failed, the scanner stalled, a stop,
  // shutdown or pause was waiting, or an exception ended it.
  bool PullImage(const platform::DeviceHandle& device) override;

 private:
  struct TransferEnd {
    bool endSeen = false;        // the end marker arrived: the file holds the whole image
    bool lastRequestOk = false;  // success flag of the last request sent
    bool interrupted = false;    // a stop, shutdown or pause ended it
    bool outOfRoom = false;      // the drive had no room for the next chunk and the reserve beyond it
    bool flushFailed = false;    // the bytes could not be put on the disk
    // The last request was a length query that could have brought the end
    // marker (the bytes on the disk end a JPEG) and it failed: the scanner
    // may have let the picture go although its answer was lost.
    bool endQueryLost = false;
    std::int32_t arrived = 0;    // bytes the scanner delivered: the offset of the next length query
    // The end marker arrived (an image's transfer): the digest of the bytes
    // that arrived, and of their first bytes as many as the picture saved last.
    ArrivedBytes bytes;
  };
  // What became of an image in the save location.
  struct Landing {
    enum class Kind { Landed, AlreadySaved, NotFresh, Incomplete, NotPromoted } kind = Kind::NotFresh;
    std::string path;                // the image, or where its bytes are kept
    std::optional<std::string> kept;  // Incomplete: where the bytes are kept, if anywhere
    TransferEnd end;
    std::array<std::string, 2> folderTitles;
  };
  // What a chunk that finds no room does: the image's transfer stops, the
  // scratch drain goes on reading without writing (its file is thrown away).
  enum class WithoutRoom { Stop, Discard };
  // Whether the bytes must be on the disk before the scanner may forget the
  // picture: the image's yes, the scratch drain's (thrown away) no.
  enum class Durability { OnDisk, Cached };
  // The transfer into the open file; before every chunk the drive of
  // roomPath must pass the free-space guard.
  TransferEnd Transfer(const platform::DeviceHandle& device, const platform::FileHandle& file,
                       std::int32_t firstLength, const std::string& roomPath, WithoutRoom withoutRoom,
                       Durability durability);
  // The file-system side of PullToImage, acting with the location's rights.
  // These three fail when no file could be made for the picture.
  platform::Result<Landing> Land(const platform::DeviceHandle& device, std::string destination, std::int32_t firstLength,
               const platform::LocationRights& rights);
  // The disk was full: the image is drained into the scratch file.
  platform::Result<bool> DrainToScratch(const platform::DeviceHandle& device, std::int32_t firstLength);
  // The image goes to the numbered file naming chose, through a transfer file.
  platform::Result<bool> PullToImage(const platform::DeviceHandle& device, std::string destination,
                                     std::int32_t firstLength);
  // The location refused the pull, nobody is at the console or no name is
  // left: traced, the user told once of a refusal. False: nothing pulled.
  bool Refused(platform::ErrorCode why);
  // Whether naming's answer is a name that may be written: not the default
  // save location itself, inside an existing folder, and free.
  bool IsFreshImageName(const std::string& destination) const;
  // Tells the user once per destination while the same fault persists.
  template <typename Tell>
  void TellOnce(const std::string& key, Tell tell);

  PullHost& host_;
  UserNotifier& notifier_;
  ScannerState& state_;
  PassThroughBuffer& buffer_;
  [[no_unique_address]] platform::ThreadChecker thread_{"ImagePull"};
};

}  // namespace pw::scanner
