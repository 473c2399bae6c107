#pragma once
// Unit Main: the main window TMainForm with its controls, its application
// state (the settings in effect, the paths taken from the system at start-up)
// and its handlers. The settings file is its SettingsFile's, where pulled
// pictures land its PictureLanding's. Every handler runs on the thread that
// owns the window (checked).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Profile.h"
#include "platform/SystemInfo.h"
#include "platform/ThreadChecker.h"
#include "platform/toolkit/Controls.h"
#include "platform/toolkit/FileListBox.h"
#include "platform/toolkit/FormWindow.h"
#include "platform/toolkit/Menu.h"
#include "platform/toolkit/Timer.h"
#include "platform/toolkit/TrayIcon.h"
#include "scanner/PollHost.h"
#include "scanner/PullHost.h"
#include "scanner/ScannerRequestKind.h"
#include "storage/DestinationNaming.h"
#include "platform/LocationRules.h"
#include "ui/DesktopNotifier.h"
#include "ui/FormOwner.h"
#include "ui/PageLink.h"
#include "ui/PictureLanding.h"
#include "ui/SettingsFile.h"
#include "ui/WindowPresence.h"
#include "ui/ProcessState.h"

namespace pw::ui {

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
inline constexpr std::int32_t kPictureIncompleteMessage = 40002;
inline constexpr std::int32_t kCannotSaveMessage = 40003;
// A session agent's page whose user is not at the console.
inline constexpr std::int32_t kReadOnlyPageLine = 40020;
// Pictures go to the default location now; %s is that folder.
inline constexpr std::int32_t kSwitchedToDefaultMessage = 40021;
}  // namespace text

// Save types: item 0 and item 1 of SaveComboBx.
inline constexpr std::uint32_t SaveModeCard = 0;
inline constexpr std::uint32_t SaveModeComputer = 1;

inline constexpr const char* kTextTableFileName = "rc.info";
inline constexpr const char* kTextTableSection = "String";
inline constexpr std::uint32_t kCardModePollMs = 6000;
inline constexpr std::uint32_t kComputerModePollMs = 2000;
// The longest save location the folder browser accepts.
inline constexpr std::size_t kMaxSavePathLength = 128;
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

// The main window implements what the scanner link's poll asks of the
// application; where pictures land is its PictureLanding's, and the user is
// told through its DesktopNotifier.
class TMainForm final : public scanner::PollHost {
 public:
  // Builds the window object with its controls from the design, and its
  // native window (hidden) with the tray icon; FormCreate fills it. Fails with
  // the system's error when the native window cannot be made. Without a
  // scanner link the window uses its own drive poll (scanner::DrivePoll).
  // The owner destroys the object when it asks to go (Exit); without one the
  // request is dropped.
  [[nodiscard]] static platform::Result<std::unique_ptr<TMainForm>> Create(
      ProcessState& process, scanner::ScannerLink* scannerLink = nullptr, FormOwner* owner = nullptr,
      WindowPresence presence = WindowPresence::OnDesktop);
  ~TMainForm() override;
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
  toolkit::Label ReadOnlyLbl;
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
  SettingsFile Settings;

  ProcessState& Process() const { return process_; }
  // The native window, once a backend has built one (owner of shell dialogs).
  platform::WindowHandle Handle() const { return windowHandle_; }
  void AttachWindowHandle(platform::WindowHandle handle) { windowHandle_ = handle; }
  // The tray icon is in the notification area.
  bool TrayIconShown() const { return window_ && window_->TrayIconShown(); }
  scanner::ScannerLink* ScannerLinkInUse() const { return scannerLink_; }

  // A page in a session agent: Apply and Exit go to the link instead of the
  // scanner and the settings file, and activation walks no drives. Null (the
  // default): the window does it all itself.
  void SetPageLink(PageLink* link) { pageLink_ = link; }
  // Tells the user through another notifier (the service's, which asks the
  // session agents); null: the window's own desktop.
  void SetNotifier(scanner::UserNotifier* notifier) { notifierOverride_ = notifier; }
  // The window is the service's on Windows Vista and later: what it does in
  // the save location it does as the user at the console, following no link
  // out of the location (platform/LocationRights.h).
  void SetActsForConsoleUser(bool on) { landing_.SetActsForConsoleUser(on); }
  // Where the window writes what the machine's administrator should read (the
  // service's event log); none: nowhere.
  void SetEventLog(std::function<void(const std::string&)> log) { landing_.SetEventLog(std::move(log)); }
  // Fills the page with settings that came from elsewhere (the service) and
  // leaves Apply disabled, as after an Apply. Without mayChange the page only
  // shows them: every control and Apply disabled, and a line says why.
  void ShowSettings(std::uint32_t saveType, const std::string& saveLocation, bool autoRotate, bool mayChange = true);
  // Whether the page's user may change the settings (false: read-only).
  bool MayChangeSettings() const { return mayChange_; }
  // Takes the settings file's auto-rotate key into the switch when it was
  // changed outside since this window last read or wrote it (an edit while
  // the service runs), so the next Apply keeps it. In save type card the
  // switch stays off.
  void TakeAutoRotateEditedOutside();

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
  // The window became the active window: settles the save location's
  // leftover transfer files (once per location and run), scans the drives
  // and applies the page.
  void FormActivate();
  // The window is asked to close (close box, Exit): it only hides.
  void FormClose();
  void CancelBtnClick();
  void CoolTrayIcon1Click();
  void SettingItemClick();
  // Returns an attached scanner to card mode, closes the window and asks the
  // owner to destroy the window object (see Release).
  void ExitItemClick();
  void BrowseBtnClick();

  // Makes the window visible and brings it to the front.
  void Show();
  // Makes the window invisible without destroying it.
  void Hide();
  // Asks the owner to destroy the window object once the handling that asked
  // has returned; the object goes as a whole (native window, tray icon, timer,
  // the process-wide reference).
  void Release();

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

  // Where pulled pictures land: the scanner link's pull works with it.
  PictureLanding& Landing() { return landing_; }
  // The scratch file beside the settings file.
  std::string FallbackImagePath() const override { return landing_.FallbackImagePath(); }

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
  // scanner::PollHost
  scanner::ScannerState& Scanner() override { return process_; }
  int SelectedSaveType() const override { return SaveComboBx.ItemIndex(); }
  void SetSaveMode(std::uint32_t mode) override { SaveMode = mode; }
  void ShowForScanner() override;
  scanner::PullHost& Pull() override { return landing_; }
  scanner::UserNotifier& Notifier() override {
    return notifierOverride_ != nullptr ? *notifierOverride_ : static_cast<scanner::UserNotifier&>(notifier_);
  }

  // The box that says why a location was refused (the service's window,
  // which nobody sees, leaves it to its callers).
  void TellLocationRefused(platform::LocationProblem problem);
  // Windows Vista and later: the service runs in session 0 with agents.
  bool SessionAgentsInUse() const;
  // An entry for administrators: the owner's event log.
  void RecordEvent(const std::string& text);
  // The controls from the design; Create then builds the native window.
  TMainForm(ProcessState& process, scanner::ScannerLink* scannerLink, FormOwner* owner, WindowPresence presence);
  platform::Result<void> BuildWindow();
  // Messages of the window that no control or form event took.
  std::optional<std::intptr_t> WindowMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

  ProcessState& process_;
  PictureLanding landing_{*this};
  std::unique_ptr<scanner::ScannerLink> ownScannerLink_;
  scanner::ScannerLink* scannerLink_;
  FormOwner* owner_;
  WindowPresence presence_;
  DesktopNotifier notifier_{*this};
  scanner::UserNotifier* notifierOverride_ = nullptr;
  PageLink* pageLink_ = nullptr;
  // An agent's page whose user is not at the console shows the settings only.
  bool mayChange_ = true;
  platform::WindowHandle windowHandle_ = nullptr;
  [[no_unique_address]] platform::ThreadChecker thread_{"TMainForm"};
  // Last member: goes first, while the controls it is tied to still exist.
  std::unique_ptr<toolkit::FormWindow> window_;
};

}  // namespace pw::ui
