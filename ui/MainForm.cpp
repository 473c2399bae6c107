#include "ui/MainForm.h"

#include <algorithm>
#include <exception>

#include "platform/DebugTrace.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/LocationRules.h"
#include "platform/Messages.h"
#include "platform/Shell.h"
#include "platform/Windows.h"
#include "platform/PathText.h"
#include "platform/Profile.h"
#include "resources/MainFormLayout.h"
#include "resources/Pictures.h"
#include "scanner/DrivePoll.h"
#include "ui/TextTable.h"

namespace pw::ui {
namespace {

constexpr std::size_t kWindowsDirectoryBufferSize = 200;
constexpr char kScannerDevicePathFill = '0';

}  // namespace

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
}

platform::Result<std::unique_ptr<TMainForm>> TMainForm::Create(ProcessState& process, scanner::ScannerLink* scannerLink,
                                                               FormOwner* owner, WindowPresence presence) {
  std::unique_ptr<TMainForm> form(new TMainForm(process, scannerLink, owner, presence));
  PW_TRY(form->BuildWindow());
  return form;
}

TMainForm::~TMainForm() {
  thread_.Check();
  window_.reset();
  process_.MainForm.ClearIf(this);
  process_.PlainFieldsThread.DetachFromThread();
}

platform::Result<void> TMainForm::BuildWindow() {
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
  PW_TRY_ASSIGN(window_, toolkit::FormWindow::Create(details));

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
  return platform::Success();
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
  landing_.SettleAtStart();
  TakeAutoRotateEditedOutside();
  ScanDrives();
  ApplyBtnClick();
  ApplyBtn.SetEnabled(true);
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
      const platform::LocationProblem problem = platform::CheckSaveLocation(*path, kMaxSavePathLength);
      if (problem == platform::LocationProblem::None) {
        PathEdit.SetText(*path);
        ApplyBtn.SetEnabled(true);
        return;
      }
      // A path too long (40001) or a folder that cannot be a save location (a
      // share, a CD-ROM drive): the box says why, then the browser again.
      const TMainForm* named = process_.MainForm.Get();
      platform::WindowHandle mainWindow = named != nullptr ? named->Handle() : nullptr;
      (void)platform::MessageBoxEx(mainWindow, LoadText(platform::ProblemTextId(problem)),
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

    Settings.Locate(OsVersion, SessionAgentsInUse(), pageLink_ != nullptr, windowHandle_,
                    [this](const std::string& text) { RecordEvent(text); });
    if (OsVersion.platformId == platform::kPlatformNt) {
      auto pictures = platform::GetSpecialFolderPath(windowHandle_, platform::csidl::kCommonPictures, false);
      DefaultSavePath = pictures ? *pictures : SystemDriveRoot + "temp";
    } else {
      DefaultSavePath = SystemDriveRoot + "temp";
    }

    SaveComboBx.SetItemIndex(Settings.Mode());
    // A loaded text that differs from the empty start text runs PathEditChange
    // now, while FolderCounter still holds 0.
    PathEdit.SetText(Settings.Location(DefaultSavePath));
    FilePrefix = Settings.FilePrefix();
    FolderPrefix = Settings.FolderPrefix();
    FolderCounter = Settings.FolderCounter(PathEdit.Text());
    AutoRCheckBx.SetChecked(Settings.ReadAutoRotate());

    PagewickFileListBx.SetMask(FilePrefix + "*.*");
    SaveComboBxChange();
    SaveMode = static_cast<std::uint32_t>(Settings.Mode());

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
  landing_.SettingsApplied();
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
  const platform::LocationProblem problem =
      platform::CheckSaveLocation(PathEdit.Text(), platform::kMaxStoredLocationLength);
  AppliedSettings applied;
  applied.saveType = index;
  if (problem == platform::LocationProblem::None) applied.location = PathEdit.Text();
  applied.folderCounter = FolderCounter;
  applied.autoRotate = AutoRCheckBx.Checked();
  applied.filePrefix = FilePrefix;
  applied.folderPrefix = FolderPrefix;
  Settings.WriteApplied(applied);
  if (problem != platform::LocationProblem::None) {
    TellLocationRefused(problem);
    return;
  }

  ApplyBtn.SetEnabled(false);
}

void TMainForm::TellLocationRefused(platform::LocationProblem problem) {
  const std::string why = LoadText(platform::ProblemTextId(problem));
  if (presence_ == WindowPresence::Unseen) {
    // The service's window: its callers tell the agents.
    platform::DebugTrace("Save location refused: " + std::string(platform::ProblemText(problem)));
    return;
  }
  (void)platform::MessageBoxEx(windowHandle_, why, LoadText(text::kMessageCaption),
                               platform::mb::kOk | platform::mb::kIconInformation | platform::mb::kSystemModal, 0);
}

void FormOwner::RecordEvent(const std::string& text) { platform::DebugTrace(text); }

void TMainForm::RecordEvent(const std::string& text) {
  if (owner_ != nullptr) {
    owner_->RecordEvent(text);
  } else {
    platform::DebugTrace(text);
  }
}

bool TMainForm::SessionAgentsInUse() const {
  return OsVersion.platformId == platform::kPlatformNt && OsVersion.majorVersion >= 6;
}

void TMainForm::PathEditChange() {
  // The service keeps the folder counters of an agent's page.
  if (pageLink_ != nullptr) return;
  // Only a location that may be stored is written as a key.
  if (platform::CheckSaveLocation(PathEdit.Text(), platform::kMaxStoredLocationLength) !=
      platform::LocationProblem::None) {
    FolderCounter = 1;
    return;
  }
  Settings.WriteFolderCounter(PathEdit.Text(), FolderCounter);
  FolderCounter = Settings.FolderCounter(PathEdit.Text());
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
  if (pageLink_ != nullptr) return;
  const std::optional<bool> stored = Settings.AutoRotateEditedOutside();
  if (!stored) return;
  // The settings file was edited since this window last read or wrote the
  // key: the edit wins over the switch, as over a value read at start.
  if (SaveComboBx.ItemIndex() != 0) AutoRCheckBx.SetChecked(*stored);
}

void TMainForm::CheckLblClick() { AutoRCheckBx.SetChecked(!AutoRCheckBx.Checked()); }

std::string TMainForm::LoadText(std::int32_t id) const {
  const std::string table = platform::ExtractFilePath(platform::GetModuleFileName()) + kTextTableFileName;
  return platform::ReadProfileString(kTextTableSection, std::to_string(id), "", table).text;
}

void TMainForm::ScanDrives() { scannerLink_->ScanDrives(*this); }

void TMainForm::PollScanner(scanner::ScannerRequestKind kind) { scannerLink_->PollScanner(*this, kind); }

void TMainForm::Timer1Timer() {
  thread_.Check();
  PollScanner(SaveMode != SaveModeCard ? scanner::ScannerRequestKind::RequestPull
                                       : scanner::ScannerRequestKind::RequestCardMode);
  landing_.TellSwitchToDefault();
}

void TMainForm::HandleDeviceMessage(const TMessage& message) {
  thread_.Check();
  if (message.LParam == 0 && message.Msg != platform::wm::kDeviceChange) {
    // The settings go first; the next window starts from the defaults.
    Settings.Delete();
    ExitItemClick();
  }
  // The rescan waits for the next poll; a later event overwrites an earlier one.
  if (message.WParam == platform::kDbtDeviceArrival) {
    process_.PendingDeviceEvent = 1;
  } else if (message.WParam == platform::kDbtDeviceRemoveComplete) {
    process_.PendingDeviceEvent = 2;
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
