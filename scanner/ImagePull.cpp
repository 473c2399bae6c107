#include "scanner/ImagePull.h"

#include <array>
#include <exception>
#include <limits>
#include <optional>
#include <span>

#include "platform/DebugTrace.h"
#include "platform/FileSystem.h"
#include "platform/Messages.h"
#include "platform/PathText.h"
#include "platform/ScopeExit.h"
#include "scanner/PictureDigest.h"
#include "scanner/TransferFile.h"

namespace pw::scanner {
namespace {

namespace error = platform::error;

// The destination cannot be created: the pull ends, traced, and the image
// stays on the scanner for the next poll.
platform::Error CannotCreate(const std::string& path, platform::ErrorCode code) {
  platform::DebugTrace("Image pull: CreateFileA " + path + " failed with error " + std::to_string(code));
  return platform::Failure(code);
}

// The failures that are no system call's: the location's refusals, nobody at
// the console, no name left.
bool RefusedByLocationOrNaming(platform::ErrorCode code) {
  return platform::IsLocationRefusal(code) || code == error::kNobodyAtConsole || code == error::kNoImageNameLeft;
}

// The picture could not be opened or read to be turned: it is left as it
// came, and the pull goes on.
void TraceFailedTurn(const std::string& path, const platform::Result<void>& turned) {
  if (turned) return;
  platform::DebugTrace("Image pull: the turn of " + path + " failed with error " + std::to_string(turned.error()));
}

}  // namespace

std::string FolderPathTitle(const std::string& saveLocation, const std::string& folderTitle) {
  return saveLocation.size() == 3 ? saveLocation + folderTitle : saveLocation + "\\" + folderTitle;
}

bool ImagePull::PullImage(const platform::DeviceHandle& device) {
  thread_.Check();
  state_.PlainFieldsThread.Check();
  // While the disk-full box is open the ticks go on inside it, but no image
  // is pulled: the box stands for the one picture it speaks of.
  if (notifier_.DiskFullBoxOpen()) return false;
  platform::LocationRights& rights = host_.SaveLocationRights();
  try {
    // Is an image waiting? Almost every tick ends here. Only 0 and a failed
    // query mean no: any other answer, even the end marker, starts a pull.
    // A picture stopped for lack of room that no longer waits is not drained.
    if (!SendScannerCommand(device, buffer_, ScannerCommand::LengthQueryCommand, 0).ok()) {
      state_.DrainNextPicture = false;
      return false;
    }
    const std::int32_t firstLength = ReadLengthReply(buffer_).length;
    if (firstLength == 0) {
      state_.DrainNextPicture = false;
      return false;
    }
    // The record of transfers is opened with the service's own rights.
    (void)host_.Transfers();

    // The console user's token, taken once for the pull: with nobody at the
    // console nothing is pulled, and the picture waits on the scanner.
    const platform::Result<platform::LocationRights::Pull> pull = platform::LocationRights::Pull::Begin(rights);
    if (!pull) return Refused(pull.error());
    std::string destination;
    bool enough = false;
    bool spaceKnown = true;
    {
      const platform::Result<platform::LocationRights::Acting> acting = rights.Act();
      if (!acting) return Refused(acting.error());
      host_.SettleSaveLocation();
      platform::Result<std::string> named = host_.NextImagePath();
      // No image folder could be made below the save location: naming has
      // switched to the default location, and its next answer stands.
      if (named && *named == host_.DefaultSaveLocation()) named = host_.NextImagePath();
      if (!named) return Refused(named.error());
      destination = std::move(named).value();
      // The picture that ran out of room last time takes the disk-full path.
      enough = !state_.DrainNextPicture && host_.EnoughFreeSpace(destination, kPullBytesNeeded);
      if (!enough) spaceKnown = platform::GetDiskFreeSpaceEx(destination.substr(0, 3)).ok();
    }
    if (!spaceKnown && !state_.DrainNextPicture) {
      // A drive whose free space cannot be read is not known to be full:
      // draining the picture into the scratch file would lose it. It stays
      // on the scanner, and the user is told once.
      platform::SetCurrentDirectory(host_.SystemDriveRootPath()).IgnoreFailure();
      const std::string location = host_.ActiveSaveLocation();
      TellOnce("refused:" + location, [&] { notifier_.TellCannotSave(location); });
      return false;
    }
    const platform::Result<bool> pulled =
        enough ? PullToImage(device, std::move(destination), firstLength) : DrainToScratch(device, firstLength);
    if (pulled) return *pulled;
    // No file could be made for the picture (traced where it failed), or the
    // location refused it, nobody is at the console or no name is left.
    if (RefusedByLocationOrNaming(pulled.error())) return Refused(pulled.error());
  } catch (const std::exception&) {
    platform::TraceCurrentException("Image pull");
    platform::SetCurrentDirectory(host_.SystemDriveRootPath()).IgnoreFailure();
    return false;
  }
  platform::SetCurrentDirectory(host_.SystemDriveRootPath()).IgnoreFailure();
  return false;
}

bool ImagePull::Refused(platform::ErrorCode why) {
  // The picture stays on the scanner. The console user is told once that
  // nothing can be saved there; nobody at the console: nobody to tell. No
  // name left at the cap: nothing to tell either.
  const std::string location = host_.ActiveSaveLocation();
  platform::DebugTrace("Image pull: " + platform::LocationFailureText(why, location));
  platform::SetCurrentDirectory(host_.SystemDriveRootPath()).IgnoreFailure();
  if (platform::IsLocationRefusal(why)) {
    TellOnce("refused:" + location, [&] { notifier_.TellCannotSave(location); });
  }
  return false;
}

platform::Result<bool> ImagePull::DrainToScratch(const platform::DeviceHandle& device, std::int32_t firstLength) {
  // The scratch file is the service's own: written with the process's rights.
  const std::string scratch = host_.FallbackImagePath();
  state_.DrainNextPicture = false;
  TransferEnd end;
  {
    // The scratch file is the program's own and always a new one: an earlier
    // file goes first, and CREATE_NEW never writes through a file (or a link)
    // that someone else put there meanwhile. Nobody else may open it.
    // What is made must be that one new file, in the settings' folder: not
    // a second name of another file nor a file a link leads to.
    if (platform::FileExists(scratch)) platform::DeleteFile(scratch).IgnoreFailure();
    platform::OpenResult created =
        platform::CreateFile(scratch, platform::access::kGenericRead | platform::access::kGenericWrite,
                             platform::share::kNone, platform::Disposition::CreateNew,
                             platform::open_flag::kOpenReparsePoint);
    if (!created.file) return CannotCreate(scratch, created.error);
    std::string folder = platform::ExtractFilePath(scratch);
    if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
    if (!platform::IsSoleFileIn(created.file, folder)) {
      created.file.reset();
      return CannotCreate(scratch, platform::error::kAccessDenied);
    }
    end = Transfer(device, created.file, firstLength, scratch, WithoutRoom::Discard, Durability::Cached);
  }  // closed here: auto-rotate opens the file itself
  if (end.endSeen && host_.AutoRotateSwitchedOn()) {
    TraceFailedTurn(scratch, host_.AutoRotateImage(scratch, platform::LocationRights::ProcessOwn()));
  }
  platform::SetCurrentDirectory(host_.SystemDriveRootPath()).IgnoreFailure();
  // The poll deletes the scratch file afterwards; the user scans the picture again.
  if (!end.interrupted) notifier_.TellDiskFull();
  return end.endSeen && end.lastRequestOk;
}

platform::Result<bool> ImagePull::PullToImage(const platform::DeviceHandle& device, std::string destination,
                                              std::int32_t firstLength) {
  const platform::LocationRights& rights = host_.SaveLocationRights();
  Landing landing;
  {
    PW_TRY_ASSIGN(const platform::LocationRights::Acting acting, rights.Act());
    PW_TRY_ASSIGN(landing, Land(device, std::move(destination), firstLength, rights));
  }
  // The user is told with the process's own rights.
  platform::SetCurrentDirectory(host_.SystemDriveRootPath()).IgnoreFailure();
  switch (landing.kind) {
    case Landing::Kind::NotFresh:
      // Whatever naming answered, nothing is written over an existing entry
      // or outside an image folder: the picture stays on the scanner.
      TellOnce("save:" + landing.path, [&] { notifier_.TellCannotSave(host_.ActiveSaveLocation()); });
      return false;
    case Landing::Kind::Incomplete:
      // A stop or pause is not a fault to report: the picture comes again
      // after it. Nothing at all arrived: nothing to tell either. A drive
      // that ran out of room keeps nothing of the picture: the next poll
      // drains it into the scratch file and tells the user the disk is full.
      if (landing.end.outOfRoom) {
        state_.DrainNextPicture = true;
        return false;
      }
      if (landing.kept && !landing.end.interrupted) {
        TellOnce(landing.path, [&] { notifier_.TellPictureIncomplete(*landing.kept); });
      }
      return false;
    case Landing::Kind::NotPromoted:
      // The bytes stay whole under the transfer's name; the user is told where.
      TellOnce(landing.path, [&] { notifier_.TellPictureIncomplete(*landing.kept); });
      return false;
    case Landing::Kind::AlreadySaved:
      // The scanner offered the picture saved last again: nothing new to show.
      return landing.end.lastRequestOk;
    case Landing::Kind::Landed:
      break;
  }
  notifier_.ShowFolder(platform::ExtractFilePath(landing.path), landing.folderTitles);
  return landing.end.lastRequestOk;
}

platform::Result<ImagePull::Landing> ImagePull::Land(const platform::DeviceHandle& device, std::string destination,
                                   std::int32_t firstLength, const platform::LocationRights& rights) {
  Landing landing;
  landing.path = destination;
  if (!IsFreshImageName(destination)) return landing;
  const std::string folder = platform::ExtractFilePath(destination);
  TransferJournal& journal = host_.Transfers();
  platform::Result<TransferFile> made =
      CreateTransferFile(folder, platform::GetTickCount() ^ static_cast<std::uint32_t>(firstLength), rights, &journal);
  if (!made) {
    PW_TRY(rights.CheckError(made.error()));
    return CannotCreate(folder, made.error());
  }
  const std::string transferPath = made->path;
  // Until the transfer has its image name, or its bytes are kept, an
  // exception must not leave it behind unaccounted for.
  bool settled = false;
  // The journal's entry goes once the transfer's name is gone.
  const auto keep = [&](const std::optional<std::string>& keptAt) {
    if (keptAt != transferPath) journal.Remove(transferPath);
    return keptAt;
  };
  ScopeExit keepOnException([&] {
    if (!settled) (void)keep(KeepPartialTransfer(transferPath, destination, rights));
  });

  TransferEnd& end = landing.end;
  {
    const platform::FileHandle file = std::move(made->file);
    end = Transfer(device, file, firstLength, destination, WithoutRoom::Stop, Durability::OnDisk);
    // Only what arrived is kept: zeros that held the place of a chunk that
    // never came are not the picture's, and would set this attempt apart
    // from the next one, which brings the same bytes again.
    if (!end.endSeen) platform::SetFileSize(file, static_cast<std::uint64_t>(end.arrived)).IgnoreFailure();
  }  // closed here: the rename and auto-rotate need the file closed

  if (end.endSeen && end.flushFailed) {
    // The scanner has let the picture go, but its bytes may not be on the
    // disk: it does not take an image name, and the user is told where it is.
    settled = true;
    landing.kind = Landing::Kind::NotPromoted;
    landing.kept = transferPath;
    return landing;
  }
  if (!end.endSeen) {
    settled = true;
    landing.kind = Landing::Kind::Incomplete;
    // Out of room: what arrived goes, the drive needs the room more than a
    // part that the scanner sends again; nothing is said to be kept.
    if (end.outOfRoom && rights.Delete(transferPath)) {
      journal.Remove(transferPath);
      return landing;
    }
    // A stop or pause cancelled the query that could have brought the end
    // marker: the scanner may have let the picture go. Its bytes are on the
    // disk, and the transfer stays listed as a power cut leaves it: the next
    // start names it, or drops it once the scanner has sent it again.
    if (end.interrupted && end.endQueryLost) {
      landing.kept = transferPath;
      return landing;
    }
    landing.kept = keep(KeepPartialTransfer(transferPath, destination, rights));
    return landing;
  }

  // The picture saved last, offered again: the same bytes are not saved a
  // second time, and one that was cut short by an early end marker gives way
  // to the whole picture under its own name.
  const RepeatOfSaved repeat = CompareWithSaved(transferPath, end.bytes, state_.LastSavedPicture, rights);
  if (repeat == RepeatOfSaved::Same && rights.Delete(transferPath)) {
    settled = true;
    journal.Remove(transferPath);
    state_.LastFaultNotice.clear();
    landing.path = state_.LastSavedPicture.path;
    landing.kind = Landing::Kind::AlreadySaved;
    return landing;
  }
  platform::Result<void> promoted = platform::Success();
  if (repeat == RepeatOfSaved::Longer && rights.Move(transferPath, state_.LastSavedPicture.path, true)) {
    destination = state_.LastSavedPicture.path;
  } else {
    // The whole image takes its name; another program may have taken that
    // name meanwhile, so naming is asked again rather than replacing anything.
    promoted = PromoteTransfer(transferPath, destination, rights);
  }
  for (int attempt = 0; !promoted.ok() && promoted.error() == platform::error::kAlreadyExists && attempt < 3; ++attempt) {
    // Naming that fails leaves the transfer to be kept as a partial.
    PW_TRY_ASSIGN(destination, host_.NextImagePath());
    if (!IsFreshImageName(destination)) break;
    promoted = PromoteTransfer(transferPath, destination, rights);
  }
  settled = true;
  landing.path = destination;
  if (!promoted.ok()) {
    landing.kind = Landing::Kind::NotPromoted;
    landing.kept = transferPath;
    return landing;
  }
  journal.Remove(transferPath);
  state_.LastFaultNotice.clear();
  DropSupersededPartial(destination, rights);

  const std::string folderTitle = host_.ImageFolderTitle();
  landing.folderTitles = {folderTitle, FolderPathTitle(host_.ActiveSaveLocation(), folderTitle)};
  // A picture that another program holds open a moment (an indexer, a virus
  // scanner) is not turned: it stays as it came, and lands all the same.
  if (host_.AutoRotateSwitchedOn()) TraceFailedTurn(destination, host_.AutoRotateImage(destination, rights));
  state_.LastSavedPicture = SavedPictureRecord{destination, end.bytes.size, end.bytes.digest};
  landing.kind = Landing::Kind::Landed;
  return landing;
}

bool ImagePull::IsFreshImageName(const std::string& destination) const {
  if (destination == host_.DefaultSaveLocation()) return false;
  std::string folder = platform::ExtractFilePath(destination);
  if (folder.empty() || folder.size() == destination.size()) return false;
  // "E:\" stays a root; "E:\Scans\Photo1\" loses its separator.
  if (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return platform::DirectoryExists(folder) && !platform::GetFileAttributes(destination).has_value();
}

template <typename Tell>
void ImagePull::TellOnce(const std::string& key, Tell tell) {
  if (state_.LastFaultNotice == key) return;
  state_.LastFaultNotice = key;
  tell();
}

namespace {

// Whether the bytes so far end with a JPEG's end-of-image marker (FF D9): the
// only point at which a whole picture can be complete.
class PictureTail {
 public:
  void Add(std::span<const std::byte> bytes) {
    if (bytes.size() >= 2) {
      last_ = {bytes[bytes.size() - 2], bytes[bytes.size() - 1]};
    } else if (bytes.size() == 1) {
      last_ = {last_[1], bytes[0]};
    }
  }
  bool EndsWithEndOfImage() const { return last_[0] == std::byte{0xFF} && last_[1] == std::byte{0xD9}; }

 private:
  std::array<std::byte, 2> last_{};
};

}  // namespace

ImagePull::TransferEnd ImagePull::Transfer(const platform::DeviceHandle& device, const platform::FileHandle& file,
                                           std::int32_t firstLength, const std::string& roomPath,
                                           WithoutRoom withoutRoom, Durability durability) {
  TransferEnd end;
  std::int32_t& pullOffset = end.arrived;
  std::int32_t chunkLength = firstLength;
  end.lastRequestOk = true;
  // Since the image last grew.
  std::uint32_t idleQueries = 0;
  std::uint32_t lastProgressAt = platform::GetTickCount();
  // Looked at before every request: a waiting stop, shutdown or pause ends
  // the transfer within one request's time.
  const auto interrupted = [&] {
    end.interrupted = state_.InterruptPull.load(std::memory_order_relaxed) > 0;
    return end.interrupted;
  };
  // The scanner forgets a picture once it has answered a length query with
  // the end marker, so the bytes must be on the disk before a query that can
  // bring it. The format says when that is: only after the bytes end with a
  // JPEG's end-of-image marker. Flushing there alone costs one flush per
  // picture instead of one per chunk. A scanner that ends a picture anywhere
  // else has it flushed at once after the marker, before it is named.
  PictureTail tail;
  // An image's bytes are digested as they pass, to be told from the picture
  // saved last without reading either file.
  std::optional<PictureDigest> digest;
  if (durability == Durability::OnDisk) {
    if (!state_.LastSavedPicture.path.empty()) end.bytes.markSize = state_.LastSavedPicture.size;
    digest.emplace(end.bytes.markSize);
  }
  bool unflushed = false;
  const auto flush = [&] {
    if (durability != Durability::OnDisk || !unflushed) return true;
    if (!platform::FlushFile(file)) {
      end.flushFailed = true;
      return false;
    }
    unflushed = false;
    return true;
  };

  for (;;) {
    if (chunkLength > 0) {
      // A length the data area cannot hold, or one that would carry the
      // offset past what it can count, is not read: the pull ends as after a
      // failed request.
      if (chunkLength > kLargestChunk || chunkLength > std::numeric_limits<std::int32_t>::max() - pullOffset) {
        end.lastRequestOk = false;
        return end;
      }
      if (interrupted()) return end;
      const auto length = static_cast<std::uint32_t>(chunkLength);
      platform::Result<void> read = SendScannerCommand(device, buffer_, ScannerCommand::ChunkReadCommand, length);
      if (!read.ok()) {
        end.lastRequestOk = false;
        // A read cut short by a stop or pause (cancelled: 995) is its interruption.
        if (read.error() != error::kSemTimeout) return interrupted(), end;
        // The repetitions stop at the first success, whatever their errors.
        for (int i = 0; i < kChunkReadRepetitions && !read.ok(); ++i) {
          if (interrupted()) return end;
          read = SendScannerCommand(device, buffer_, ScannerCommand::ChunkReadCommand, length);
        }
      }
      end.lastRequestOk = read.ok();
      // Every chunk leaves the drive a small reserve: a scanner that
      // announces more than the drive can spare never fills it, and a
      // picture that fits is saved whole. The scratch drain keeps room for
      // the chunk under the start check's rule.
      const bool room = withoutRoom == WithoutRoom::Stop
                            ? host_.RoomForChunk(roomPath, length)
                            : host_.EnoughFreeSpace(roomPath, static_cast<std::int32_t>(length));
      if (!room && withoutRoom == WithoutRoom::Stop) {
        end.lastRequestOk = false;
        end.outOfRoom = true;
        return end;
      }
      if (room) {
        // Written even when every attempt failed: the zeroed data area holds
        // the place until the same offset is delivered again and overwrites it.
        const platform::IoResult written =
            platform::WriteFileAt(file, static_cast<std::uint64_t>(pullOffset), buffer_.DataPrefix(length));
        // A file that does not take the bytes would be reported whole while
        // it is not: the pull ends unfinished, and the scanner keeps the image.
        if (!written.ok || written.bytes != length) {
          end.lastRequestOk = false;
          return end;
        }
        unflushed = true;
      }
      if (read.ok()) {
        tail.Add(buffer_.DataPrefix(length));
        if (digest) digest->Add(buffer_.DataPrefix(length));
        pullOffset += chunkLength;
        idleQueries = 0;
        lastProgressAt = platform::GetTickCount();
      }
    }

    if (interrupted()) return end;
    // A flush that fails ends the pull before the scanner can let go.
    if (tail.EndsWithEndOfImage() && !flush()) {
      end.lastRequestOk = false;
      return end;
    }
    const platform::Result<void> query = SendScannerCommand(device, buffer_, ScannerCommand::LengthQueryCommand,
                                                       static_cast<std::uint32_t>(pullOffset));
    end.lastRequestOk = query.ok();
    if (!query.ok() && query.error() != error::kSemTimeout) {
      end.endQueryLost = tail.EndsWithEndOfImage();
      return interrupted(), end;
    }
    const LengthReply reply = ReadLengthReply(buffer_);
    if (reply.endOfImage) {
      end.endSeen = true;
      if (digest) {
        end.bytes.size = digest->Size();
        end.bytes.digest = digest->Value();
        end.bytes.markDigest = digest->AtMark();
      }
      (void)flush();
      return end;
    }
    // A timed-out query simply leads to a new one for the same offset.
    chunkLength = query.ok() ? reply.length : 0;

    ++idleQueries;
    if (idleQueries >= kStallLimitQueries || platform::GetTickCount() - lastProgressAt >= kStallLimitMs) {
      end.lastRequestOk = false;
      return end;
    }
  }
}

}  // namespace pw::scanner
