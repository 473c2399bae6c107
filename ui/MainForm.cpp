#include "ui/MainForm.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <string_view>

#include "platform/DebugTrace.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/Messages.h"
#include "platform/Shell.h"
#include "platform/TextCompare.h"
#include "platform/Windows.h"
#include "platform/PathText.h"
#include "platform/Profile.h"
#include "platform/Security.h"
#include "resources/MainFormLayout.h"
#include "resources/Pictures.h"
#include "scanner/DrivePoll.h"
#include "storage/AutoRotate.h"
#include "storage/DestinationNaming.h"
#include "storage/FreeSpaceGuard.h"
#include "storage/LocationRules.h"
#include "ui/LeftoverNaming.h"
#include "ui/TextTable.h"

namespace pw::ui {
namespace {

constexpr std::size_t kWindowsDirectoryBufferSize = 200;
constexpr char kScannerDevicePathFill = '0';

// The key a profile reader finds for a line written with this key: it ends at
// the first '=' and the blanks around it are dropped.
std::string_view KeyAsRead(std::string_view key) {
  key = key.substr(0, key.find('='));
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v'; };
  while (!key.empty() && blank(key.front())) key.remove_prefix(1);
  while (!key.empty() && blank(key.back())) key.remove_suffix(1);
  return key;
}

bool SameKey(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

// The unread "Folder" + prefix entry may be written only when it reads back as
// itself on one line and as none of the keys the program reads: an empty or
// blank prefix would otherwise overwrite "Folder" itself, and a prefix with '='
// would add a line under another key at every Apply.
bool MayWriteUnreadKey(std::string_view key, std::string_view saveLocationKey) {
  if (key.find_first_of("\r\n") != std::string_view::npos || KeyAsRead(key) != key) return false;
  for (std::string_view read : {"Mode", "Path", "File", "Folder", "AutoRoate"}) {
    if (SameKey(key, read)) return false;
  }
  return !SameKey(key, KeyAsRead(saveLocationKey));
}

}  // namespace

SettingsWriteError::SettingsWriteError(const std::string& settingsFilePath)
    : std::runtime_error("Unable to write to " + settingsFilePath) {}

TMainForm::TMainForm(ProcessState& process, scanner::ScannerLink* scannerLink, FormOwner* owner,
                     WindowPresence presence)
    : backImage("backImage", resources::layout::kBackImage.bounds),
      PathLbl("PathLbl", resources::layout::kPathLbl.bounds),
      SaveLbl("SaveLbl", resources::layout::kSaveLbl.bounds),
      PCImage("PCImage", resources::layout::kPCImage.bounds),
      SDImage("SDImage", resources::layout::kSDImage.bounds),
      DesImage("DesImage", resources::layout::kDesImage.bounds),
      CheckLbl("CheckLbl", resources::layout::kCheckLbl.bounds),
      CancelBtn("CancelBtn", resources::layout::kCancelBtn.bounds),
      ApplyBtn("ApplyBtn", resources::layout::kApplyBtn.bounds),
      PagewickFileListBx("PagewickFileListBx", resources::layout::kPagewickFileListBx.bounds),
      BrowseBtn("BrowseBtn", resources::layout::kBrowseBtn.bounds),
      PathEdit("PathEdit", resources::layout::kPathEdit.bounds),
      SaveComboBx("SaveComboBx", resources::layout::kSaveComboBx.bounds),
      AutoRCheckBx("AutoRCheckBx", resources::layout::kAutoRCheckBx.bounds),
      ReadOnlyLbl("ReadOnlyLbl", resources::layout::kReadOnlyLbl.bounds),
      MainPopupMenu("MainPopupMenu"),
      SettingItem("SettingItem"),
      ExitItem("ExitItem"),
      HideItem("HideItem"),
      CoolTrayIcon1("CoolTrayIcon1", MainPopupMenu),
      Timer1("Timer1", resources::layout::kTimerInterval, false),
      process_(process),
      ownScannerLink_(scannerLink != nullptr ? nullptr : std::make_unique<scanner::DrivePoll>()),
      scannerLink_(scannerLink != nullptr ? scannerLink : ownScannerLink_.get()),
      owner_(owner),
      presence_(presence) {
  // Design properties; the captions are placeholders until FormCreate reads the text table.
  backImage.SetStretch(true);
  PathLbl.SetTransparent(true);
  PathLbl.SetCaption("Select  a Location:");
  SaveLbl.SetTransparent(true);
  SaveLbl.SetCaption("Save Type");
  PCImage.SetVisible(false);
  PCImage.SetStretch(true);
  SDImage.SetVisible(false);
  CheckLbl.SetVisible(false);
  CheckLbl.SetTransparent(true);
  CheckLbl.SetWordWrap(true);
  CheckLbl.SetCaption("Images scanned to the computer are rotated automatically.");
  // Tab walks the page as it reads: top to bottom, left to right. Enter is
  // Apply, Esc is Cancel.
  CancelBtn.SetTabOrder(resources::layout::kCancelBtn.tabOrder);
  CancelBtn.SetCancel(true);
  CancelBtn.SetCaption("Cancel");
  ApplyBtn.SetTabOrder(resources::layout::kApplyBtn.tabOrder);
  ApplyBtn.SetDefault(true);
  ApplyBtn.SetCaption("Apply");
  PagewickFileListBx.SetVisible(false);
  PagewickFileListBx.SetTabOrder(resources::layout::kPagewickFileListBx.tabOrder);
  PagewickFileListBx.SetMask("PD*.*");
  BrowseBtn.SetTabOrder(resources::layout::kBrowseBtn.tabOrder);
  BrowseBtn.SetCaption("Browse");
  PathEdit.SetReadOnly(true);
  PathEdit.SetTabOrder(resources::layout::kPathEdit.tabOrder);
  SaveComboBx.SetTabOrder(resources::layout::kSaveComboBx.tabOrder);
  SaveComboBx.SetListOnly(true);
  AutoRCheckBx.SetVisible(false);
  AutoRCheckBx.SetTabOrder(resources::layout::kAutoRCheckBx.tabOrder);
  AutoRCheckBx.SetCaption(resources::layout::kAutoRCheckBx.placeholder);
  ReadOnlyLbl.SetVisible(false);
  ReadOnlyLbl.SetTransparent(true);
  ReadOnlyLbl.SetWordWrap(true);
  SettingItem.SetCaption("Setting");
  ExitItem.SetCaption("Exit");
  HideItem.SetCaption("Hide");
  HideItem.SetVisible(false);
  MainPopupMenu.Add(SettingItem);
  MainPopupMenu.Add(ExitItem);
  MainPopupMenu.Add(HideItem);

  ApplyBtn.OnClick = [this] { ApplyBtnClick(); };
  PathEdit.OnChange = [this] { PathEditChange(); };
  SaveComboBx.OnChange = [this] { SaveComboBxChange(); };
  AutoRCheckBx.OnClick = [this] { AutoRCheckBxClick(); };
  CheckLbl.OnClick = [this] { CheckLblClick(); };
  CancelBtn.OnClick = [this] { CancelBtnClick(); };
  BrowseBtn.OnClick = [this] { BrowseBtnClick(); };
  CoolTrayIcon1.OnClick = [this] { CoolTrayIcon1Click(); };
  SettingItem.OnClick = [this] { SettingItemClick(); };
  ExitItem.OnClick = [this] { ExitItemClick(); };
  Timer1.OnTimer = [this] { Timer1Timer(); };

  BuildWindow();
}

TMainForm::~TMainForm() {
  thread_.Check();
  window_.reset();
  process_.MainForm.ClearIf(this);
}

void TMainForm::BuildWindow() {
  namespace layout = resources::layout;
  // The pictures are decoded as the window is built.
  backImage.SetPicture(resources::DecodeJpeg(resources::BackgroundJpeg()));
  PCImage.SetPicture(resources::DecodeBmp(resources::ComputerBmp()));
  SDImage.SetPicture(resources::DecodeBmp(resources::MemoryCardBmp()));

  toolkit::FormParams details;
  details.className = layout::kWindowClass;
  details.title = layout::kWindowTitle;
  details.position = {layout::kLeft, layout::kTop};
  details.client = {layout::kClientWidth, layout::kClientHeight};
  details.style = platform::style::kCaption | platform::style::kSysMenu;
  details.fontName = layout::kFontName;
  details.fontHeight = layout::kFontHeight;
  window_ = std::make_unique<toolkit::FormWindow>(details);

  toolkit::ControlOptions background;
  background.background = true;
  toolkit::ControlOptions combo;
  combo.fontHeight = layout::kComboFontHeight;
  combo.itemHeight = layout::kComboItemHeight;
  window_->AddControl(backImage, background);
  window_->AddControl(PathLbl);
  window_->AddControl(SaveLbl);
  window_->AddControl(PCImage);
  window_->AddControl(SDImage);
  window_->AddControl(DesImage);
  window_->AddControl(CheckLbl);
  window_->AddControl(CancelBtn);
  window_->AddControl(ApplyBtn);
  window_->AddControl(PagewickFileListBx);
  window_->AddControl(BrowseBtn);
  window_->AddControl(PathEdit);
  window_->AddControl(SaveComboBx, combo);
  window_->AddControl(AutoRCheckBx);
  window_->AddControl(ReadOnlyLbl);
  // Alt with a label's letter goes to the control the label names.
  window_->SetFocusControl(SaveLbl, SaveComboBx);
  window_->SetFocusControl(PathLbl, PathEdit);
  window_->AddTimer(Timer1);
  if (presence_ == WindowPresence::OnDesktop) window_->AddTrayIcon(CoolTrayIcon1, resources::TrayIconIco());

  window_->OnShow = [this] { FormShow(); };
  window_->OnActivate = [this] { FormActivate(); };
  window_->OnClose = [this] { FormClose(); };
  window_->OnMessage = [this](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    return WindowMessage(message, wParam, lParam);
  };
  windowHandle_ = window_->Handle();
}

std::optional<std::intptr_t> TMainForm::WindowMessage(std::uint32_t message, std::uintptr_t wParam,
                                                      std::intptr_t lParam) {
  thread_.Check();
  if (message == platform::wm::kDeviceChange || message == QuitRequestMessage) {
    HandleDeviceMessage(TMessage{message, wParam, lParam});
    return 0;
  }
  return std::nullopt;
}

void TMainForm::Show() {
  thread_.Check();
  if (presence_ == WindowPresence::Unseen) return;
  if (windowHandle_ != nullptr) platform::ShowAndBringToFront(windowHandle_);
}

void TMainForm::Hide() {
  thread_.Check();
  if (windowHandle_ != nullptr) (void)platform::ShowWindow(windowHandle_, platform::ShowCommand::Hide);
}

void TMainForm::Release() {
  if (owner_ != nullptr) owner_->ReleaseForm(*this);
}

void TMainForm::ShowForScanner() {
  Notifier().ShowPage();
  ApplyBtn.SetEnabled(mayChange_);
}

void TMainForm::FormShow() { (void)platform::SetForegroundWindow(windowHandle_); }

void TMainForm::FormActivate() {
  if (pageLink_ != nullptr) {
    ApplyBtn.SetEnabled(mayChange_);
    return;
  }
  SettleAtStart();
  TakeAutoRotateEditedOutside();
  ScanDrives();
  ApplyBtnClick();
  ApplyBtn.SetEnabled(true);
}

void TMainForm::SettleAtStart() {
  // Opened with the service's own rights, before any action for a user.
  (void)Transfers();
  // With nobody at the console the location waits for its first pull.
  try {
    platform::Result<platform::LocationRights::Pull> pull = platform::LocationRights::Pull::Begin(locationRights_);
    platform::Result<platform::LocationRights::Acting> acting =
        pull ? locationRights_.Act() : platform::Failure(pull.error());
    if (!acting) {
      platform::DebugTrace("Settling leftover transfers at start: " +
                           platform::LocationFailureText(acting.error(), PathEdit.Text()));
      return;
    }
    SettleSaveLocation();
  } catch (const std::exception&) {
    platform::TraceCurrentException("Settling leftover transfers at start");
  }
}

void TMainForm::SettleSaveLocation() {
  LeftoverNaming naming(PathEdit.Text(), FolderPrefix, FilePrefix);
  scanner::SettleLocationOnce(process_, PathEdit.Text(), naming, locationRights_, transfers_);
}

scanner::TransferJournal& TMainForm::Transfers() {
  if (!transfers_.IsOpen() && !SettingsFilePath.empty()) {
    const platform::Result<void> opened =
        transfers_.Open(platform::ExtractFilePath(SettingsFilePath) + scanner::kTransferJournalName);
    if (!opened) platform::DebugTrace("The record of transfers cannot be opened: error " + std::to_string(opened.error()));
  }
  return transfers_;
}

void TMainForm::FormClose() {
  // The framework neither frees nor hides the window; it hides itself.
  try {
    Hide();
  } catch (const std::exception&) {
    platform::TraceCurrentException("Hiding the main window");
    // A failure while hiding is of no consequence to the caller.
  }
}

void TMainForm::CancelBtnClick() { Hide(); }

void TMainForm::CoolTrayIcon1Click() { Show(); }

void TMainForm::SettingItemClick() { Show(); }

void TMainForm::ExitItemClick() {
  if (pageLink_ != nullptr) {
    pageLink_->ExitChosen();
    FormClose();
    Release();
    return;
  }
  PollScanner(scanner::ScannerRequestKind::RequestCardMode);
  FormClose();
  Release();
}

void TMainForm::BrowseBtnClick() { BrowseForSaveFolder(windowHandle_); }

void TMainForm::BrowseForSaveFolder(platform::WindowHandle owner) {
  try {
    // A folder whose path is too long brings a box and the browser again,
    // until a short enough folder is chosen or the browser is cancelled.
    for (;;) {
      platform::ItemIdList root = platform::GetSpecialFolderLocation(owner, platform::csidl::kDrives);
      platform::BrowseInfo info;
      info.owner = owner;
      info.root = root ? &root : nullptr;
      info.title = LoadText(text::kBrowseInstruction);
      info.flags = 0;
      info.callback = &TMainForm::BrowseCallback;
      info.data = reinterpret_cast<std::intptr_t>(&process_);
      platform::ItemIdList chosen = platform::BrowseForFolder(info);
      if (!chosen) return;
      std::optional<std::string> path = platform::GetPathFromIdList(chosen);
      if (!path) return;
      const storage::LocationProblem problem = storage::CheckSaveLocation(*path, kMaxSavePathLength);
      if (problem == storage::LocationProblem::None) {
        PathEdit.SetText(*path);
        ApplyBtn.SetEnabled(true);
        return;
      }
      // A path too long (40001) or a folder that cannot be a save location (a
      // share, a CD-ROM drive): the box says why, then the browser again.
      const TMainForm* named = process_.MainForm.Get();
      platform::WindowHandle mainWindow = named != nullptr ? named->Handle() : nullptr;
      (void)platform::MessageBoxEx(mainWindow, LoadText(storage::ProblemTextId(problem)),
                                   LoadText(text::kMessageCaption),
                                   platform::mb::kOk | platform::mb::kIconInformation | platform::mb::kSystemModal,
                                   0);
      owner = mainWindow;
    }
  } catch (const std::exception&) {
    platform::TraceCurrentException("Settings page shell calls");
    // Failures of the shell calls leave the page unchanged.
  }
}

int TMainForm::BrowseCallback(platform::WindowHandle dialog, std::uint32_t notification, std::intptr_t,
                              std::intptr_t data) {
  char buffer[200] = {};
  const auto* process = reinterpret_cast<const ProcessState*>(data);
  const TMainForm* form = process != nullptr ? process->MainForm.Get() : nullptr;
  if (form != nullptr) {
    const std::string& path = form->PathEdit.Text();
    path.copy(buffer, std::min(path.size(), sizeof buffer - 1));
  }
  if (notification == platform::kBffmInitialized) {
    (void)platform::SendMessage(dialog, platform::kBffmSetSelectionA, 1, reinterpret_cast<std::intptr_t>(buffer));
  }
  return 0;
}

void TMainForm::FormCreate() {
  thread_.Check();
  // One guard: a failure ends the sequence at that step without a message,
  // leaving the state as far as it got.
  try {
    OsVersion = {};
    OsVersion.size = platform::kOsVersionInfoSize;
    (void)platform::GetVersionEx(OsVersion);

    SaveLbl.SetCaption(LoadText(text::kSaveLabel));
    SaveComboBx.AddItem(LoadText(text::kSaveModeCardItem));
    SaveComboBx.AddItem(LoadText(text::kSaveModeComputerItem));
    PathLbl.SetCaption(LoadText(text::kPathLabel));
    BrowseBtn.SetCaption(LoadText(text::kBrowseButton));
    ApplyBtn.SetCaption(LoadText(text::kApplyButton));
    CancelBtn.SetCaption(LoadText(text::kCancelButton));
    SettingItem.SetCaption(LoadText(text::kSettingItem));
    ExitItem.SetCaption(LoadText(text::kExitItem));
    CheckLbl.SetCaption(LoadText(text::kCheckLabel));
    AutoRCheckBx.SetCaption(CheckLbl.Caption());
    ReadOnlyLbl.SetCaption(LoadText(text::kReadOnlyPageLine));
    CoolTrayIcon1.SetHint(LoadText(text::kTrayIconTip));
    // The auto-rotate switch is on the page with its text as its own
    // caption (focus, access key and name); the separate label stays hidden.
    AutoRCheckBx.SetVisible(true);

    SaveMode = SaveModeCard;
    FilePrefix.clear();
    FolderPrefix.clear();
    process_.PendingDeviceEvent = 0;
    SystemDriveRoot = "c:\\";
    DefaultSavePath.clear();
    process_.ScannerDevicePath.fill(kScannerDevicePathFill);

    // Windows 2000: ask the application to end. The quit message goes to the
    // queue of the thread creating the window; the sequence goes on.
    if (OsVersion.platformId == platform::kPlatformNt && OsVersion.majorVersion == 5 &&
        OsVersion.minorVersion == 0) {
      platform::PostQuitMessage(0);
    }

    if (auto windowsDirectory = platform::GetWindowsDirectory(kWindowsDirectoryBufferSize);
        windowsDirectory && !windowsDirectory->empty()) {
      SystemDriveRoot = windowsDirectory->substr(0, 3);
    }

    process_.ScannerAttached = 0;

    // The executable's folder keeps the security it was installed with: the
    // program runs as LocalSystem from there, so opening it to every user
    // would let anyone replace the executable.

    const std::string modulePath = platform::GetModuleFileName();
    const std::string besideExecutable = platform::ExtractFilePath(modulePath);
    if (OsVersion.platformId == platform::kPlatformNt) {
      const std::string settingsName = platform::ChangeFileExt(platform::ExtractFileName(modulePath), ".info");
      auto documents = platform::GetSpecialFolderPath(windowHandle_, platform::csidl::kCommonDocuments, false);
      SettingsFilePath = (documents ? *documents + "\\" : besideExecutable) + settingsName;
      if (SessionAgentsInUse()) {
        SettingsFilePath = ServiceSettingsFile(settingsName, besideExecutable, documents ? SettingsFilePath : "");
      }
      auto pictures = platform::GetSpecialFolderPath(windowHandle_, platform::csidl::kCommonPictures, false);
      DefaultSavePath = pictures ? *pictures : SystemDriveRoot + "temp";
    } else {
      SettingsFilePath = platform::ChangeFileExt(modulePath, ".INI");
      DefaultSavePath = SystemDriveRoot + "temp";
    }

    SaveComboBx.SetItemIndex(platform::ReadProfileInteger(kSettingsSection, "Mode", 1, SettingsFilePath));
    // A loaded text that differs from the empty start text runs PathEditChange
    // now, while FolderCounter still holds 0.
    // What the settings file holds is taken only when it passes the rules
    // that a location or prefix chosen on the page passes; else the default.
    std::string location = platform::ReadProfileString(kSettingsSection, "Path", DefaultSavePath, SettingsFilePath).text;
    if (storage::CheckStoredLocation(location) != storage::LocationProblem::None) location = DefaultSavePath;
    PathEdit.SetText(location);
    FilePrefix = platform::ReadProfileString(kSettingsSection, "File", storage::kDefaultFilePrefix, SettingsFilePath).text;
    if (!storage::IsPlainNamePrefix(FilePrefix)) FilePrefix = storage::kDefaultFilePrefix;
    FolderPrefix =
        platform::ReadProfileString(kSettingsSection, "Folder", storage::kDefaultFolderPrefix, SettingsFilePath).text;
    if (!storage::IsPlainNamePrefix(FolderPrefix)) FolderPrefix = storage::kDefaultFolderPrefix;
    FolderCounter = platform::ReadProfileInteger(kSettingsSection, PathEdit.Text(), 1, SettingsFilePath);
    autoRotateStored_ = platform::ReadProfileInteger(kSettingsSection, "AutoRoate", 0, SettingsFilePath);
    AutoRCheckBx.SetChecked(autoRotateStored_ != 0);

    PagewickFileListBx.SetMask(FilePrefix + "*.*");
    SaveComboBxChange();
    SaveMode = static_cast<std::uint32_t>(platform::ReadProfileInteger(kSettingsSection, "Mode", 1, SettingsFilePath));

    // Before Vista the one process creates the location at start. From Vista
    // on neither the service (LocalSystem) nor an agent creates it here: the
    // service creates folders only as the console user, while pulling.
    if (!SessionAgentsInUse() && !platform::DirectoryExists(PathEdit.Text())) {
      platform::CreateDirectory(PathEdit.Text()).IgnoreFailure();
    }
  } catch (const std::exception&) {
    platform::TraceCurrentException("Main window start-up");
    // Start-up failures are dropped: the window exists with the state so far.
  }
}

void TMainForm::ApplyBtnClick() {
  thread_.Check();
  const int index = SaveComboBx.ItemIndex();
  // New settings: a later switch to the default location is told again.
  toldSwitchToDefault_ = false;
  if (pageLink_ != nullptr) {
    // A read-only page has nothing to send (Enter still reaches this).
    if (!mayChange_) return;
    if (pageLink_->ApplyPage(index == 0 ? SaveModeCard : SaveModeComputer, PathEdit.Text(), AutoRCheckBx.Checked())) {
      ApplyBtn.SetEnabled(false);
    }
    return;
  }
  if (index == 0) {
    PollScanner(scanner::ScannerRequestKind::RequestCardMode);
    SaveMode = SaveModeCard;
    Timer1.SetInterval(kCardModePollMs);
  } else {
    PollScanner(scanner::ScannerRequestKind::RequestComputerMode);
    SaveMode = SaveModeComputer;
    Timer1.SetInterval(kComputerModePollMs);
  }
  Timer1.SetEnabled(true);

  // A location that fails the rules is never stored, in either save type:
  // the mode and the switch are, and the user is told why.
  const storage::LocationProblem problem =
      storage::CheckSaveLocation(PathEdit.Text(), storage::kMaxStoredLocationLength);
  // One replacement of the file: a cut leaves the old settings or the new.
  std::vector<platform::ProfileEntry> settings{{"Mode", std::to_string(index)}};
  if (problem == storage::LocationProblem::None) {
    settings.push_back({"Path", PathEdit.Text()});
    // Kept for files written by earlier versions; nothing reads it.
    const std::string unreadKey = "Folder" + FolderPrefix;
    if (MayWriteUnreadKey(unreadKey, PathEdit.Text())) settings.push_back({unreadKey, "0"});
    settings.push_back({PathEdit.Text(), std::to_string(FolderCounter)});
  }
  settings.push_back({"AutoRoate", AutoRCheckBx.Checked() ? "1" : "0"});
  WriteSettings(settings, true);
  autoRotateStored_ = AutoRCheckBx.Checked() ? 1 : 0;
  if (problem != storage::LocationProblem::None) {
    TellLocationRefused(problem);
    return;
  }

  ApplyBtn.SetEnabled(false);
}

void TMainForm::TellLocationRefused(storage::LocationProblem problem) {
  const std::string why = LoadText(storage::ProblemTextId(problem));
  if (presence_ == WindowPresence::Unseen) {
    // The service's window: its callers tell the agents.
    platform::DebugTrace("Save location refused: " + std::string(storage::ProblemText(problem)));
    return;
  }
  (void)platform::MessageBoxEx(windowHandle_, why, LoadText(text::kMessageCaption),
                               platform::mb::kOk | platform::mb::kIconInformation | platform::mb::kSystemModal, 0);
}

namespace {

// Renames whatever stands at the folder's name to "<folder>.untrusted-<n>",
// the first n that is free. The new name, or nullopt when it cannot be moved.
std::optional<std::string> SetAside(const std::string& folder) {
  constexpr int kNames = 100;
  for (int n = 1; n <= kNames; ++n) {
    const std::string aside = folder + ".untrusted-" + std::to_string(n);
    if (platform::GetFileAttributes(aside)) continue;
    const platform::Result<void> moved = platform::MoveFileNoReplace(folder, aside);
    if (moved) return aside;
    if (moved.error() != platform::error::kAlreadyExists) return std::nullopt;
  }
  return std::nullopt;
}

// A settings file no version of the program writes: larger than any it
// writes (a few hundred bytes), a location longer than the field, or bytes
// that the code page leaves undefined (Windows reads them as control
// characters). Its values are read as any file's, each by its rules; the
// next Apply replaces it whole.
constexpr std::uint64_t kLargestSettingsFile = 64 * 1024;

bool SettingsFileDamaged(const std::string& path) {
  std::string bytes;
  {
    const platform::OpenResult opened =
        platform::CreateFile(path, platform::access::kGenericRead, platform::share::kRead | platform::share::kWrite,
                             platform::Disposition::OpenExisting, platform::open_flag::kOpenReparsePoint);
    if (!opened.file) return false;  // nothing readable: every read gives its default
    const std::optional<std::uint64_t> size = platform::GetFileSize(opened.file);
    if (!size || *size > kLargestSettingsFile) return true;
    bytes.resize(static_cast<std::size_t>(*size));
    const platform::IoResult read =
        platform::ReadFileAt(opened.file, 0, {reinterpret_cast<std::byte*>(bytes.data()), bytes.size()});
    if (!read.ok) return false;
    bytes.resize(read.bytes);
  }
  const std::string location = platform::ReadProfileString(kSettingsSection, "Path", "", path).text;
  if (location.size() > storage::kMaxStoredLocationLength) return true;
  const bool cp1252 = platform::AnsiCodePage() == 1252;
  return cp1252 && bytes.find_first_of(std::string_view("\x81\x8D\x8F\x90\x9D", 5)) != std::string::npos;
}

}  // namespace

void FormOwner::RecordEvent(const std::string& text) { platform::DebugTrace(text); }

void TMainForm::RecordEvent(const std::string& text) {
  if (owner_ != nullptr) {
    owner_->RecordEvent(text);
  } else {
    platform::DebugTrace(text);
  }
}

std::string TMainForm::ServiceSettingsFile(const std::string& settingsName, const std::string& besideExecutable,
                                           const std::string& publicFile) {
  std::string folder;
  if (auto data = platform::GetSpecialFolderPath(windowHandle_, platform::csidl::kCommonAppData, false)) {
    folder = *data + "\\" + kServiceDataFolderName;
  }
  // An agent (its user) only reads there; the service makes sure of the folder.
  if (pageLink_ != nullptr) return folder.empty() ? besideExecutable + settingsName : folder + "\\" + settingsName;
  platform::Result<void> secured = folder.empty() ? platform::Failure(platform::error::kPathNotFound)
                                                  : platform::CreateServiceOnlyDirectory(folder);
  // Whatever someone else put in the folder's place (a folder a user made
  // first, with their files and open handles in it, a link, a file) is never
  // adopted: it is renamed aside and a fresh folder made.
  const bool someoneElses = !secured && (secured.error() == platform::error::kAlreadyExists ||
                                         secured.error() == platform::error::kDirectory);
  if (someoneElses) {
    if (const std::optional<std::string> aside = SetAside(folder)) {
      RecordEvent("The folder " + folder + " was not made by the service or an administrator: it was renamed to " +
                  *aside + " and not used.");
      secured = platform::CreateServiceOnlyDirectory(folder);
    }
  }
  // A folder that cannot be made the service's own is not used: the
  // installed folder beside the executable, which only administrators may
  // change, takes the settings and the scratch file instead.
  if (!secured || !platform::OwnedBySystemOrAdministrators(folder)) {
    platform::DebugTrace("Settings folder " + folder + " cannot be secured: using the program's folder");
    return besideExecutable + settingsName;
  }
  settingsFolder_ = folder;
  const std::string path = folder + "\\" + settingsName;
  // A file someone else owns (made before the folder was secured) is never
  // read: it is deleted and the settings start afresh.
  if (platform::FileExists(path) && !platform::OwnedBySystemOrAdministrators(path)) {
    platform::DeleteFile(path).IgnoreFailure();
    if (platform::FileExists(path)) return besideExecutable + settingsName;
  }
  // A damaged file (or one made to harm) is read by the rules, each value
  // that fails them giving its default, and replaced whole by the next Apply.
  if (platform::FileExists(path) && SettingsFileDamaged(path)) {
    RecordEvent("The settings file " + path +
                " is damaged: values that fail the rules give their defaults, and the next Apply writes the file "
                "anew.");
    settingsRebuild_ = true;
  }
  if (!platform::FileExists(path) && !publicFile.empty() && platform::FileExists(publicFile)) {
    MoveSettingsFile(publicFile, path);
  }
  return path;
}

void TMainForm::MoveSettingsFile(const std::string& from, const std::string& to) {
  // Only a file the service or an administrator made is read (any user may
  // write to Public Documents), never one reached through a link. Another
  // is left where it is; the new settings file starts empty, so the next
  // start neither looks nor tells again.
  const std::optional<std::uint32_t> attributes = platform::GetFileAttributes(from);
  if (!attributes || (*attributes & platform::attribute::kReparsePoint) != 0 ||
      !platform::OwnedBySystemOrAdministrators(from)) {
    RecordEvent("The settings file " + from +
                " was not made by the service or an administrator: its values were not used, and it was left where "
                "it is.");
    (void)platform::CreateFile(to, platform::access::kGenericWrite, platform::share::kNone,
                               platform::Disposition::CreateNew, platform::open_flag::kOpenReparsePoint);
    return;
  }
  // Only the values that pass the rules are carried over, written afresh in
  // one new file: the old file is never copied as it is.
  std::vector<platform::ProfileEntry> carried;
  auto carry = [&](const char* key, const std::string& value) { carried.push_back({key, value}); };
  const std::int32_t mode = platform::ReadProfileInteger(kSettingsSection, "Mode", -1, from);
  if (mode == 0 || mode == 1) carry("Mode", std::to_string(mode));
  const std::string path = platform::ReadProfileString(kSettingsSection, "Path", "", from).text;
  if (storage::CheckStoredLocation(path) == storage::LocationProblem::None) {
    carry("Path", path);
    const std::int32_t counter = platform::ReadProfileInteger(kSettingsSection, path, -1, from);
    if (counter >= 0) carry(path.c_str(), std::to_string(counter));
  }
  for (const char* key : {"File", "Folder"}) {
    const std::string prefix = platform::ReadProfileString(kSettingsSection, key, "", from).text;
    if (storage::IsPlainNamePrefix(prefix)) carry(key, prefix);
  }
  const std::int32_t autoRotate = platform::ReadProfileInteger(kSettingsSection, "AutoRoate", -1, from);
  if (autoRotate == 0 || autoRotate == 1) carry("AutoRoate", std::to_string(autoRotate));
  WriteSettingsFile(carried, to).IgnoreFailure();
  // Once the new file exists the old one is never read again; where the
  // service may not delete it (its user shut the service out), it stays.
  if (!platform::DeleteFile(from)) platform::DebugTrace("The old settings file " + from + " could not be removed");
}

platform::Result<void> TMainForm::WriteSettingsFile(std::span<const platform::ProfileEntry> settings,
                                                    const std::string& path, bool whole) {
  if (settingsFolder_.empty()) return platform::WriteProfileStrings(kSettingsSection, settings, path);
  if (!whole || !settingsRebuild_ || path != SettingsFilePath) {
    return platform::WriteProfileStrings(kSettingsSection, settings, path, platform::ProfileConfinement{settingsFolder_});
  }
  // A damaged file is written anew: the prefixes in force, then the keys.
  std::vector<platform::ProfileEntry> rebuilt{{"File", FilePrefix}, {"Folder", FolderPrefix}};
  rebuilt.insert(rebuilt.end(), settings.begin(), settings.end());
  const platform::Result<void> written = platform::WriteProfileStrings(
      kSettingsSection, rebuilt, path, platform::ProfileConfinement{settingsFolder_, true});
  if (written) settingsRebuild_ = false;
  return written;
}

bool TMainForm::SessionAgentsInUse() const {
  return OsVersion.platformId == platform::kPlatformNt && OsVersion.majorVersion >= 6;
}

void TMainForm::PathEditChange() {
  // The service keeps the folder counters of an agent's page.
  if (pageLink_ != nullptr) return;
  // Only a location that may be stored is written as a key.
  if (storage::CheckSaveLocation(PathEdit.Text(), storage::kMaxStoredLocationLength) !=
      storage::LocationProblem::None) {
    FolderCounter = 1;
    return;
  }
  WriteSettingInteger(PathEdit.Text(), FolderCounter);
  FolderCounter = platform::ReadProfileInteger(kSettingsSection, PathEdit.Text(), 1, SettingsFilePath);
}

void TMainForm::ShowSettings(std::uint32_t saveType, const std::string& saveLocation, bool autoRotate,
                             bool mayChange) {
  mayChange_ = mayChange;
  SaveComboBx.SetItemIndex(saveType == SaveModeCard ? 0 : 1);
  SaveComboBxChange();
  SaveMode = saveType;
  PathEdit.SetText(saveLocation);
  AutoRCheckBx.SetChecked(autoRotate);
  ApplyBtn.SetEnabled(false);
  SaveComboBx.SetEnabled(mayChange);
  if (!mayChange) {
    PathEdit.SetEnabled(false);
    BrowseBtn.SetEnabled(false);
    CheckLbl.SetEnabled(false);
    AutoRCheckBx.SetEnabled(false);
  }
  ReadOnlyLbl.SetVisible(!mayChange);
}

void TMainForm::SaveComboBxChange() {
  DesImage.SetVisible(true);
  if (SaveComboBx.ItemIndex() == 0) {
    DesImage.SetPicture(SDImage.Picture());
    PathEdit.SetEnabled(false);
    BrowseBtn.SetEnabled(false);
    CheckLbl.SetEnabled(false);
    AutoRCheckBx.SetChecked(false);
    AutoRCheckBx.SetEnabled(false);
  } else {
    DesImage.SetPicture(PCImage.Picture());
    PathEdit.SetEnabled(mayChange_);
    BrowseBtn.SetEnabled(mayChange_);
    CheckLbl.SetEnabled(mayChange_);
    AutoRCheckBx.SetEnabled(mayChange_);
  }
  ApplyBtn.SetEnabled(mayChange_);
}

void TMainForm::AutoRCheckBxClick() { ApplyBtn.SetEnabled(mayChange_); }

void TMainForm::TakeAutoRotateEditedOutside() {
  if (pageLink_ != nullptr || SettingsFilePath.empty()) return;
  const std::int32_t stored = platform::ReadProfileInteger(kSettingsSection, "AutoRoate", 0, SettingsFilePath);
  if (stored == autoRotateStored_) return;
  // The settings file was edited since this window last read or wrote the
  // key: the edit wins over the switch, as over a value read at start.
  autoRotateStored_ = stored;
  if (SaveComboBx.ItemIndex() != 0) AutoRCheckBx.SetChecked(stored != 0);
}

void TMainForm::CheckLblClick() { AutoRCheckBx.SetChecked(!AutoRCheckBx.Checked()); }

std::string TMainForm::LoadText(std::int32_t id) const {
  const std::string table = platform::ExtractFilePath(platform::GetModuleFileName()) + kTextTableFileName;
  return platform::ReadProfileString(kTextTableSection, std::to_string(id), "", table).text;
}

platform::Result<std::string> TMainForm::NextImagePath() {
  storage::NamingState state{PathEdit.Text(), FilePrefix,     FolderPrefix, DefaultSavePath,
                             FolderCounter,   ActiveSavePath, *this,        locationRights_};
  switchedInNaming_ = false;
  PW_TRY_ASSIGN(std::string path, storage::NextImagePath(state));
  // An image folder was had: a later switch is a new one, and is told.
  if (!switchedInNaming_) toldSwitchToDefault_ = false;
  return path;
}

void TMainForm::SwitchSaveLocationToDefault() {
  switchedInNaming_ = true;
  if (!toldSwitchToDefault_) {
    toldSwitchToDefault_ = true;
    // Told once the poll is over: a box in the middle of a pull would run the
    // poll timer inside it.
    switchToTell_ = PathEdit.Text();
  }
  try {
    PathEdit.SetText(DefaultSavePath);
  } catch (const SettingsWriteError&) {
    // The change handler stores the new location's folder counter; during a
    // pull it writes as the console user, who may not write the service's
    // settings. Naming counts the folders anew each time: the switch stands.
    platform::TraceCurrentException("Folder counter of the default location");
  }
}

void TMainForm::TellSwitchToDefault() {
  if (!switchToTell_) return;
  const std::string chosen = std::move(*switchToTell_);
  switchToTell_.reset();
  if (eventLog_) {
    eventLog_("No folder for scanned pictures could be made below the save location " + chosen +
              ". Pictures are saved in the default location " + DefaultSavePath +
              " from now on, where every user of this computer can read them.");
  }
  Notifier().TellSwitchedToDefault(chosen, DefaultSavePath);
}

std::vector<std::string> TMainForm::ListImageFiles(const std::string& folder) {
  // The hidden file list is the lister: pointed elsewhere first, since it
  // reads nothing when pointed at the folder it already shows.
  PagewickFileListBx.SetDirectory(SystemDriveRoot);
  PagewickFileListBx.SetDirectory(folder);
  return PagewickFileListBx.Items();
}

bool TMainForm::RoomForChunk(const std::string& path, std::uint32_t chunkBytes) const {
  return storage::RoomForChunk(path, chunkBytes);
}

bool TMainForm::EnoughFreeSpace(const std::string& path, std::int32_t bytesNeeded) const {
  return storage::EnoughFreeSpace(path, bytesNeeded);
}

std::string TMainForm::FallbackImagePath() const { return storage::FallbackImagePath(SettingsFilePath); }

platform::Result<void> TMainForm::AutoRotateImage(const std::string& path, const platform::LocationRights& rights) {
  return storage::AutoRotateImage(path, rights);
}

void TMainForm::ScanDrives() { scannerLink_->ScanDrives(*this); }

void TMainForm::PollScanner(scanner::ScannerRequestKind kind) { scannerLink_->PollScanner(*this, kind); }

void TMainForm::Timer1Timer() {
  thread_.Check();
  PollScanner(SaveMode != SaveModeCard ? scanner::ScannerRequestKind::RequestPull
                                       : scanner::ScannerRequestKind::RequestCardMode);
  TellSwitchToDefault();
}

void TMainForm::HandleDeviceMessage(const TMessage& message) {
  thread_.Check();
  if (message.LParam == 0 && message.Msg != platform::wm::kDeviceChange) {
    // The settings go first; the next window starts from the defaults.
    platform::DeleteFile(SettingsFilePath).IgnoreFailure();
    ExitItemClick();
  }
  // The rescan waits for the next poll; a later event overwrites an earlier one.
  if (message.WParam == platform::kDbtDeviceArrival) {
    process_.PendingDeviceEvent = 1;
  } else if (message.WParam == platform::kDbtDeviceRemoveComplete) {
    process_.PendingDeviceEvent = 2;
  }
}

void TMainForm::WriteSetting(const std::string& key, const std::string& value) {
  const platform::ProfileEntry entry{key, value};
  WriteSettings(std::span(&entry, 1));
}

void TMainForm::WriteSettingInteger(const std::string& key, std::int32_t value) {
  WriteSetting(key, std::to_string(value));
}

void TMainForm::WriteSettings(std::span<const platform::ProfileEntry> settings, bool whole) {
  if (!WriteSettingsFile(settings, SettingsFilePath, whole).ok()) {
    throw SettingsWriteError(SettingsFilePath);
  }
}

void TMainForm::WriteShowWindowMarker() {
  try {
    if (platform::FileExists(kShowWindowMarkerPath)) platform::DeleteFile(kShowWindowMarkerPath).IgnoreFailure();
    // Opened without sharing and closed at once; nothing is written.
    platform::OpenResult created =
        platform::CreateFile(kShowWindowMarkerPath, platform::access::kGenericRead | platform::access::kGenericWrite,
                             platform::share::kNone, platform::Disposition::CreateAlways);
    created.file.reset();
  } catch (const std::exception&) {
    platform::TraceCurrentException("Show-window marker");
    // The marker is a best-effort notice.
  }
}

}  // namespace pw::ui
