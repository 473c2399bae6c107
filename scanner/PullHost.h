#pragma once
// What the image pull needs from the application: where the image goes, the
// free-space guard and the scratch file, the auto-rotate step, the directory
// to return to, and the names of the folder that naming chose. The main
// window implements it. Service thread only.
#include <cstdint>
#include <string>

#include "platform/LocationRights.h"
#include "platform/Result.h"
#include "scanner/TransferJournal.h"

namespace pw::scanner {

class PullHost {
 public:
  virtual ~PullHost() = default;

  // The file for the next image, creating its folders; or the default save
  // location itself when no image folder could be made (the application has
  // switched to it, so a second call names a file below it). Fails as
  // storage::NextImagePath does: no name left, or the location's refusals.
  virtual platform::Result<std::string> NextImagePath() = 0;
  virtual const std::string& DefaultSaveLocation() const = 0;
  // Whether the drive of the path has room for the needed bytes.
  virtual bool EnoughFreeSpace(const std::string& path, std::int32_t bytesNeeded) const = 0;
  // Whether the drive of the path has room for a chunk and a small reserve
  // beyond it: asked before every chunk of a picture that passed the above.
  virtual bool RoomForChunk(const std::string& path, std::uint32_t chunkBytes) const = 0;
  // The scratch file that takes an image when the drive lacks room.
  virtual std::string FallbackImagePath() const = 0;
  // The auto-rotate switch, and the step itself on a finished, closed file,
  // its opens made through the rights (fails when the file cannot be opened
  // or read, and leaves it unchanged then).
  virtual bool AutoRotateSwitchedOn() const = 0;
  virtual platform::Result<void> AutoRotateImage(const std::string& path, const platform::LocationRights& rights) = 0;
  // Whose rights the actions in the save location use, and the link checks
  // made there; naming works with the same object.
  virtual platform::LocationRights& SaveLocationRights() = 0;
  // Settles the leftover transfer files of the save location, unless this
  // run settled that location already; the caller acts with the rights.
  virtual void SettleSaveLocation() = 0;
  // The record of the transfer files this service made, opened with the
  // service's own rights on first use (call it before acting for a user).
  virtual TransferJournal& Transfers() = 0;
  // The root of the system drive: the current directory after every pull.
  virtual const std::string& SystemDriveRootPath() const = 0;
  // As the last NextImagePath left them: the name of the image folder and the
  // save location that holds it.
  virtual std::string ImageFolderTitle() const = 0;
  virtual const std::string& ActiveSaveLocation() const = 0;
};

}  // namespace pw::scanner
