#include "ui/PictureLanding.h"

#include <exception>
#include <string>
#include <utility>

#include "platform/DebugTrace.h"
#include "platform/PathText.h"
#include "storage/AutoRotate.h"
#include "storage/FreeSpaceGuard.h"
#include "ui/LeftoverNaming.h"
#include "ui/MainForm.h"

namespace pw::ui {

const std::string& PictureLanding::DefaultSaveLocation() const { return form_.DefaultSavePath; }

bool PictureLanding::AutoRotateSwitchedOn() const { return form_.AutoRCheckBx.Checked(); }

const std::string& PictureLanding::SystemDriveRootPath() const { return form_.SystemDriveRoot; }

std::string PictureLanding::ImageFolderTitle() const {
  return form_.FolderPrefix + std::to_string(form_.FolderCounter);
}

const std::string& PictureLanding::ActiveSaveLocation() const { return form_.ActiveSavePath; }

void PictureLanding::SettleAtStart() {
  // Opened with the service's own rights, before any action for a user.
  (void)Transfers();
  // With nobody at the console the location waits for its first pull.
  try {
    platform::Result<platform::LocationRights::Pull> pull = platform::LocationRights::Pull::Begin(locationRights_);
    platform::Result<platform::LocationRights::Acting> acting =
        pull ? locationRights_.Act() : platform::Failure(pull.error());
    if (!acting) {
      platform::DebugTrace("Settling leftover transfers at start: " +
                           platform::LocationFailureText(acting.error(), form_.PathEdit.Text()));
      return;
    }
    SettleSaveLocation();
  } catch (const std::exception&) {
    platform::TraceCurrentException("Settling leftover transfers at start");
  }
}

void PictureLanding::SettleSaveLocation() {
  LeftoverNaming naming(form_.PathEdit.Text(), form_.FolderPrefix, form_.FilePrefix);
  scanner::SettleLocationOnce(form_.Process(), form_.PathEdit.Text(), naming, locationRights_, transfers_);
}

scanner::TransferJournal& PictureLanding::Transfers() {
  if (!transfers_.IsOpen() && form_.Settings.Located()) {
    const platform::Result<void> opened =
        transfers_.Open(platform::ExtractFilePath(form_.Settings.Path()) + scanner::kTransferJournalName);
    if (!opened) platform::DebugTrace("The record of transfers cannot be opened: error " + std::to_string(opened.error()));
  }
  return transfers_;
}

platform::Result<std::string> PictureLanding::NextImagePath() {
  storage::NamingState state{form_.PathEdit.Text(), form_.FilePrefix,     form_.FolderPrefix,
                             form_.DefaultSavePath, form_.FolderCounter,  form_.ActiveSavePath,
                             *this,                 locationRights_};
  switchedInNaming_ = false;
  PW_TRY_ASSIGN(std::string path, storage::NextImagePath(state));
  // An image folder was had: a later switch is a new one, and is told.
  if (!switchedInNaming_) toldSwitchToDefault_ = false;
  return path;
}

void PictureLanding::SwitchSaveLocationToDefault() {
  switchedInNaming_ = true;
  if (!toldSwitchToDefault_) {
    toldSwitchToDefault_ = true;
    // Told once the poll is over: a box in the middle of a pull would run the
    // poll timer inside it.
    switchToTell_ = form_.PathEdit.Text();
  }
  try {
    form_.PathEdit.SetText(form_.DefaultSavePath);
  } catch (const SettingsWriteError&) {
    // The change handler stores the new location's folder counter; during a
    // pull it writes as the console user, who may not write the service's
    // settings. Naming counts the folders anew each time: the switch stands.
    platform::TraceCurrentException("Folder counter of the default location");
  }
}

void PictureLanding::TellSwitchToDefault() {
  if (!switchToTell_) return;
  const std::string chosen = std::move(*switchToTell_);
  switchToTell_.reset();
  if (eventLog_) {
    eventLog_("No folder for scanned pictures could be made below the save location " + chosen +
              ". Pictures are saved in the default location " + form_.DefaultSavePath +
              " from now on, where every user of this computer can read them.");
  }
  static_cast<scanner::PollHost&>(form_).Notifier().TellSwitchedToDefault(chosen, form_.DefaultSavePath);
}

platform::Result<std::vector<std::string>> PictureLanding::ListImageFiles(const std::string& folder) {
  // The hidden file list is the lister: pointed elsewhere first, since it
  // reads nothing when pointed at the folder it already shows.
  for (const std::string* directory : {static_cast<const std::string*>(&form_.SystemDriveRoot), &folder}) {
    const platform::Result<void> entered = form_.PagewickFileListBx.SetDirectory(*directory);
    if (!entered) {
      platform::DebugTrace("Cannot open the folder " + *directory + ": error " + std::to_string(entered.error()));
      return platform::Failure(entered.error());
    }
  }
  return form_.PagewickFileListBx.Items();
}

bool PictureLanding::RoomForChunk(const std::string& path, std::uint32_t chunkBytes) const {
  return storage::RoomForChunk(path, chunkBytes);
}

bool PictureLanding::EnoughFreeSpace(const std::string& path, std::int32_t bytesNeeded) const {
  return storage::EnoughFreeSpace(path, bytesNeeded);
}

std::string PictureLanding::FallbackImagePath() const { return storage::FallbackImagePath(form_.Settings.Path()); }

platform::Result<void> PictureLanding::AutoRotateImage(const std::string& path,
                                                       const platform::LocationRights& rights) {
  return storage::AutoRotateImage(path, rights);
}

}  // namespace pw::ui
