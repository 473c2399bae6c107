#pragma once
// Unit Main: the main window TMainForm with its controls, its application
// state (the settings in effect, the paths taken from the system at start-up,
// the settings file) and its handlers. Every handler runs on the thread that
// owns the window.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/SystemInfo.h"
#include "platform/toolkit/Controls.h"
#include "platform/toolkit/FileListBox.h"
#include "platform/toolkit/Menu.h"
#include "platform/toolkit/Timer.h"
#include "platform/toolkit/TrayIcon.h"
#include "scanner/ScannerRequestKind.h"
#include "ui/ProcessState.h"

namespace pw::ui {

class ScannerLink;

// A settings write that the platform refused: "Unable to write to <file>".
class SettingsWriteError : public std::runtime_error {
 public:
  explicit SettingsWriteError(const std::string& settingsFilePath);
};

// TextIds of the text table.
namespace text {
inline constexpr std::int32_t kSaveModeComputerItem = 10000;
inline constexpr std::int32_t kSaveLabel = 10001;
inline constexpr std::int32_t kSaveModeCardItem = 10002;
inline constexpr std::int32_t kPathLabel = 10003;
inline constexpr std::int32_t kBrowseButton = 10004;
inline constexpr std::int32_t kApplyButton = 10005;
inline constexpr std::int32_t kCancelButton = 10006;
inline constexpr std::int32_t kBrowseInstruction = 10007;
inline constexpr std::int32_t kSettingItem = 10008;
inline constexpr std::int32_t kExitItem = 10009;
inline constexpr std::int32_t kMessageCaption = 10010;
inline constexpr std::int32_t kCheckLabel = 10011;
inline constexpr std::int32_t kDiskFullMessage = 40000;
inline constexpr std::int32_t kPathTooLongMessage = 40001;
}  // namespace text

// Save types: item 0 and item 1 of SaveComboBx.
inline constexpr std::uint32_t SaveModeCard = 0;
inline constexpr std::uint32_t SaveModeComputer = 1;

inline constexpr const char* kSettingsSection = "Setting";
inline constexpr const char* kTextTableFileName = "rc.info";
inline constexpr const char* kTextTableSection = "String";
inline constexpr std::uint32_t kCardModePollMs = 6000;
inline constexpr std::uint32_t kComputerModePollMs = 2000;

class TMainForm {
 public:
  // Builds the window object with its controls from the design; FormCreate
  // fills it. The scanner link may be null (nothing is polled).
  TMainForm(ProcessState& process, ScannerLink* scannerLink);
  ~TMainForm();
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // Controls, in the order of their creation.
  toolkit::Image backImage;
  toolkit::Label PathLbl;
  toolkit::Label SaveLbl;
  toolkit::Image PCImage;
  toolkit::Image SDImage;
  toolkit::Image DesImage;
  toolkit::Label CheckLbl;
  toolkit::Button CancelBtn;
  toolkit::Button ApplyBtn;
  toolkit::FileListBox PagewickFileListBx;
  toolkit::Button BrowseBtn;
  toolkit::Edit PathEdit;
  toolkit::ComboBox SaveComboBx;
  toolkit::CheckBox AutoRCheckBx;
  toolkit::PopupMenu MainPopupMenu;
  toolkit::MenuItem SettingItem;
  toolkit::MenuItem ExitItem;
  toolkit::MenuItem HideItem;
  toolkit::TrayIcon CoolTrayIcon1;
  toolkit::Timer Timer1;

  // Application state.
  std::string FilePrefix;
  std::string FolderPrefix;
  std::int32_t FolderCounter = 0;
  std::uint32_t SaveMode = 0;
  std::string SystemDriveRoot;
  std::string DefaultSavePath;
  std::string ActiveSavePath;
  platform::OsVersionInfo OsVersion{};
  std::string SettingsFilePath;

  ProcessState& Process() const { return process_; }
  // The native window, once a backend has built one (owner of shell dialogs).
  platform::WindowHandle Handle() const { return windowHandle_; }
  void AttachWindowHandle(platform::WindowHandle handle) { windowHandle_ = handle; }
  ScannerLink* Scanner() const { return scannerLink_; }

  // The start-up sequence; runs once per creation of the window object.
  void FormCreate();
  // Apply: tells the scanner the save type, starts the poll timer, stores the page.
  void ApplyBtnClick();
  // Every change of PathEdit's text: stores and re-reads the folder counter of
  // the new save location.
  void PathEditChange();
  void SaveComboBxChange();
  void AutoRCheckBxClick();
  void CheckLblClick();

  // The text with the given id from the text table beside the executable, or
  // the empty text. Reads the file anew on every call.
  std::string LoadText(std::int32_t id) const;

  // The file for the next pulled image (or DefaultSavePath when no image
  // folder can be made below the save location).
  std::string NextImagePath();
  // Whether the drive of the path has room for the needed bytes.
  bool EnoughFreeSpace(const std::string& path, std::int32_t bytesNeeded) const;
  // The scratch file beside the settings file.
  std::string FallbackImagePath() const;

  // Runs one exchange with the attached scanner (through the scanner link).
  void PollScanner(scanner::ScannerRequestKind kind);

 private:
  void WriteSetting(const std::string& key, const std::string& value);
  void WriteSettingInteger(const std::string& key, std::int32_t value);

  ProcessState& process_;
  ScannerLink* scannerLink_;
  platform::WindowHandle windowHandle_ = nullptr;
};

}  // namespace pw::ui
