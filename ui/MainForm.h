#pragma once
// Unit Main: the main window TMainForm with its controls, its application
// state (the settings in effect, the paths taken from the system at start-up,
// the settings file) and its handlers. Every handler runs on the thread that
// owns the window.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/SystemInfo.h"
#include "platform/toolkit/Controls.h"
#include "platform/toolkit/FileListBox.h"
#include "platform/toolkit/FormWindow.h"
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
// The longest save location the folder browser accepts.
inline constexpr std::size_t kMaxSavePathLength = 128;
// Posted to the window by Release: the window object goes once the handling
// that asked for it has returned.
inline constexpr std::uint32_t kReleaseMessage = 0x0400 + 2001;
// The show-window marker: its existence asks the running service to show its
// main window. Fixed on drive C: whatever the system drive is.
inline constexpr const char* kShowWindowMarkerPath = "c:\\run.info";
// Another program asks the window to exit (LParam 0: after deleting the
// settings file); WParam as for WM_DEVICECHANGE.
inline constexpr std::uint32_t QuitRequestMessage = 0x0400 + 2000;

// A window message as HandleDeviceMessage receives it.
struct TMessage {
  std::uint32_t Msg = 0;
  std::uintptr_t WParam = 0;
  std::intptr_t LParam = 0;
};

class TMainForm {
 public:
  // Builds the window object with its controls from the design, and its
  // native window (hidden) with the tray icon; FormCreate fills it. Without a
  // scanner link the window uses its own drive poll (scanner::DrivePoll).
  explicit TMainForm(ProcessState& process, ScannerLink* scannerLink = nullptr);
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
  // The tray icon is in the notification area.
  bool TrayIconShown() const { return window_ && window_->TrayIconShown(); }
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
  // The window became visible: brings it to the foreground.
  void FormShow();
  // The window became the active window: scans the drives and applies the page.
  void FormActivate();
  // The window is asked to close (close box, Exit): it only hides.
  void FormClose();
  void CancelBtnClick();
  void CoolTrayIcon1Click();
  void SettingItemClick();
  // Returns an attached scanner to card mode, closes the window and releases
  // the window object (see Release).
  void ExitItemClick();
  void BrowseBtnClick();

  // Makes the window visible and brings it to the front.
  void Show();
  // Makes the window invisible without destroying it.
  void Hide();
  // Asks for the window object to go once the current message handling has
  // returned: the native window (with tray icon and timer) is destroyed, the
  // process-wide reference cleared, and OnRelease, when set, runs (the owner
  // deletes the object there).
  void Release();
  std::function<void(TMainForm&)> OnRelease;

  // Replaces the show-window marker with a new empty file. Failures are
  // swallowed: nothing is reported and nothing else changes.
  void WriteShowWindowMarker();

  // Lets the user choose the save location; its effect is on PathEdit and ApplyBtn.
  void BrowseForSaveFolder(platform::WindowHandle owner);
  // The folder browser's callback: opens the browser on the current save
  // location. data is the ProcessState whose MainForm names the window.
  static int BrowseCallback(platform::WindowHandle dialog, std::uint32_t notification, std::intptr_t param,
                            std::intptr_t data);

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
  // Re-saves a pulled image upright through the imaging component when its
  // EXIF orientation asks for it; throws when the file cannot be opened.
  void AutoRotateImage(const std::string& path);

  // Walks the drives and attaches the scanner (through the scanner link).
  void ScanDrives();
  // Runs one exchange with the attached scanner (through the scanner link).
  void PollScanner(scanner::ScannerRequestKind kind);
  // The poll timer's tick: a pull in save type computer, else the card-mode command.
  void Timer1Timer();
  // WM_DEVICECHANGE and QuitRequestMessage: a device broadcast leaves a rescan
  // for the next poll; a quit request with LParam 0 deletes the settings file
  // and exits.
  void HandleDeviceMessage(const TMessage& message);

 private:
  void WriteSetting(const std::string& key, const std::string& value);
  void WriteSettingInteger(const std::string& key, std::int32_t value);
  void BuildWindow();
  void EndActiveCall();
  // Messages of the window that no control or form event took.
  std::optional<std::intptr_t> WindowMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

  ProcessState& process_;
  std::unique_ptr<ScannerLink> ownScannerLink_;
  ScannerLink* scannerLink_;
  // Scans, polls and folder browsers running on the window's thread, nested
  // ones counted: their modal loops dispatch the window's messages, so a
  // release asked for meanwhile (Exit chosen inside a pull's message box or
  // while the browser is open) waits until the outermost has returned, since
  // they still use the object.
  int activeCalls_ = 0;
  bool releaseDeferred_ = false;
  platform::WindowHandle windowHandle_ = nullptr;
  // Last member: goes first, while the controls it is tied to still exist.
  std::unique_ptr<toolkit::FormWindow> window_;
};

}  // namespace pw::ui
