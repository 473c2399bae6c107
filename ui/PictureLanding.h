#pragma once
// Where and how a pulled picture lands, for the window that owns it: the
// next picture's file and folder (naming, with the switch to the default
// location and its one notice), room on the drive, the scratch file,
// auto-rotate, whose rights the save location is used with, the record of
// transfers and the settling of leftover transfer files. It reads the
// settings on the window's page and in force (save location, prefixes,
// folder counter, auto-rotate switch) and lists folders with the window's
// hidden file list.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/LocationRights.h"
#include "scanner/PullHost.h"
#include "scanner/TransferJournal.h"
#include "storage/DestinationNaming.h"

namespace pw::ui {

class TMainForm;

class PictureLanding final : public scanner::PullHost, public storage::NamingHost {
 public:
  explicit PictureLanding(TMainForm& form) : form_(form) {}
  PictureLanding(const PictureLanding&) = delete;
  PictureLanding& operator=(const PictureLanding&) = delete;

  // The window is the service's on Windows Vista and later: what it does in
  // the save location it does as the user at the console, following no link
  // out of the location (platform/LocationRights.h).
  void SetActsForConsoleUser(bool on) { locationRights_.SetActForConsoleUser(on); }
  // Where the switch to the default location is written for the machine's
  // administrator (the service's event log); none: nowhere.
  void SetEventLog(std::function<void(const std::string&)> log) { eventLog_ = std::move(log); }

  // Settles the save location as the console user (the process itself
  // before Vista); with nobody at the console its first pull does it.
  void SettleAtStart();
  // New settings were applied: a later switch to the default location is
  // told again.
  void SettingsApplied() { toldSwitchToDefault_ = false; }
  // Tells the user of a switch made during the last poll, if any.
  void TellSwitchToDefault();

  // scanner::PullHost
  // The file for the next pulled image (or DefaultSavePath when no image
  // folder can be made below the save location).
  platform::Result<std::string> NextImagePath() override;
  const std::string& DefaultSaveLocation() const override;
  // Whether the drive of the path has room for the needed bytes.
  bool EnoughFreeSpace(const std::string& path, std::int32_t bytesNeeded) const override;
  bool RoomForChunk(const std::string& path, std::uint32_t chunkBytes) const override;
  // The scratch file beside the settings file.
  std::string FallbackImagePath() const override;
  bool AutoRotateSwitchedOn() const override;
  // Re-saves a pulled image upright through the imaging component when its
  // EXIF orientation asks for it; throws when the file cannot be opened.
  platform::Result<void> AutoRotateImage(const std::string& path, const platform::LocationRights& rights) override;
  platform::LocationRights& SaveLocationRights() override { return locationRights_; }
  void SettleSaveLocation() override;
  scanner::TransferJournal& Transfers() override;
  const std::string& SystemDriveRootPath() const override;
  std::string ImageFolderTitle() const override;
  const std::string& ActiveSaveLocation() const override;

 private:
  // storage::NamingHost
  platform::Result<std::vector<std::string>> ListImageFiles(const std::string& folder) override;
  // Tells the user once per switch where pictures go now: again only after
  // an image folder could be had (the default location works, or another
  // location was applied) and naming switches once more.
  void SwitchSaveLocationToDefault() override;

  TMainForm& form_;
  scanner::TransferJournal transfers_;
  // The user was told of the switch to the default location; cleared once a
  // picture's folder could be had, or at Apply.
  bool toldSwitchToDefault_ = false;
  bool switchedInNaming_ = false;
  // The location naming switched away from, until the user is told.
  std::optional<std::string> switchToTell_;
  std::function<void(const std::string&)> eventLog_;
  platform::LocationRights locationRights_;
};

}  // namespace pw::ui
