#include "ui/MainForm.h"

#include <exception>

#include "platform/FileSystem.h"
#include "platform/Messages.h"
#include "platform/PathText.h"
#include "platform/Profile.h"
#include "storage/DestinationNaming.h"
#include "storage/FreeSpaceGuard.h"
#include "ui/ScannerLink.h"

namespace pw::ui {
namespace {

constexpr std::size_t kWindowsDirectoryBufferSize = 200;
constexpr char kScannerDevicePathFill = '0';

}  // namespace

SettingsWriteError::SettingsWriteError(const std::string& settingsFilePath)
    : std::runtime_error("Unable to write to " + settingsFilePath) {}

TMainForm::TMainForm(ProcessState& process, ScannerLink* scannerLink)
    : backImage("backImage", {0, 0, 520, 362}),
      PathLbl("PathLbl", {112, 104, 145, 13}),
      SaveLbl("SaveLbl", {112, 48, 145, 25}),
      PCImage("PCImage", {8, 151, 121, 177}),
      SDImage("SDImage", {8, 143, 129, 177}),
      DesImage("DesImage", {128, 152, 137, 193}),
      CheckLbl("CheckLbl", {280, 150, 233, 33}),
      CancelBtn("CancelBtn", {413, 311, 100, 25}),
      ApplyBtn("ApplyBtn", {296, 311, 107, 25}),
      PagewickFileListBx("PagewickFileListBx", {335, 200, 129, 49}),
      BrowseBtn("BrowseBtn", {431, 95, 89, 25}),
      PathEdit("PathEdit", {256, 96, 176, 21}),
      SaveComboBx("SaveComboBx", {255, 48, 177, 24}),
      AutoRCheckBx("AutoRCheckBx", {256, 150, 17, 17}),
      MainPopupMenu("MainPopupMenu"),
      SettingItem("SettingItem"),
      ExitItem("ExitItem"),
      HideItem("HideItem"),
      CoolTrayIcon1("CoolTrayIcon1", MainPopupMenu),
      Timer1("Timer1", kComputerModePollMs, false),
      process_(process),
      scannerLink_(scannerLink) {
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
  CancelBtn.SetTabOrder(0);
  CancelBtn.SetCaption("Cancel");
  ApplyBtn.SetTabOrder(1);
  ApplyBtn.SetCaption("Apply");
  PagewickFileListBx.SetVisible(false);
  PagewickFileListBx.SetTabOrder(2);
  PagewickFileListBx.SetMask("PD*.*");
  BrowseBtn.SetTabOrder(3);
  BrowseBtn.SetCaption("Browse");
  PathEdit.SetReadOnly(true);
  PathEdit.SetTabOrder(4);
  SaveComboBx.SetTabOrder(5);
  AutoRCheckBx.SetVisible(false);
  AutoRCheckBx.SetTabOrder(6);
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
}

TMainForm::~TMainForm() {
  if (process_.MainForm == this) process_.MainForm = nullptr;
}

void TMainForm::FormCreate() {
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
      auto pictures = platform::GetSpecialFolderPath(windowHandle_, platform::csidl::kCommonPictures, false);
      DefaultSavePath = pictures ? *pictures : SystemDriveRoot + "temp";
    } else {
      SettingsFilePath = platform::ChangeFileExt(modulePath, ".INI");
      DefaultSavePath = SystemDriveRoot + "temp";
    }

    SaveComboBx.SetItemIndex(platform::ReadProfileInteger(kSettingsSection, "Mode", 1, SettingsFilePath));
    // A loaded text that differs from the empty start text runs PathEditChange
    // now, while FolderCounter still holds 0.
    PathEdit.SetText(platform::ReadProfileString(kSettingsSection, "Path", DefaultSavePath, SettingsFilePath).text);
    FilePrefix = platform::ReadProfileString(kSettingsSection, "File", "img", SettingsFilePath).text;
    FolderPrefix = platform::ReadProfileString(kSettingsSection, "Folder", "Photo", SettingsFilePath).text;
    FolderCounter = platform::ReadProfileInteger(kSettingsSection, PathEdit.Text(), 1, SettingsFilePath);
    AutoRCheckBx.SetChecked(platform::ReadProfileInteger(kSettingsSection, "AutoRoate", 0, SettingsFilePath) != 0);

    PagewickFileListBx.SetMask(FilePrefix + "*.*");
    SaveComboBxChange();
    SaveMode = static_cast<std::uint32_t>(platform::ReadProfileInteger(kSettingsSection, "Mode", 1, SettingsFilePath));

    if (!platform::DirectoryExists(PathEdit.Text())) {
      (void)platform::CreateDirectory(PathEdit.Text());
    }
  } catch (const std::exception&) {
    // Start-up failures are dropped: the window exists with the state so far.
  }
}

void TMainForm::ApplyBtnClick() {
  const int index = SaveComboBx.ItemIndex();
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

  WriteSettingInteger("Mode", index);
  WriteSetting("Path", PathEdit.Text());
  // Kept for files written by earlier versions; nothing reads it.
  WriteSetting("Folder" + FolderPrefix, "0");
  WriteSettingInteger(PathEdit.Text(), FolderCounter);
  WriteSettingInteger("AutoRoate", AutoRCheckBx.Checked() ? 1 : 0);

  ApplyBtn.SetEnabled(false);
}

void TMainForm::PathEditChange() {
  WriteSettingInteger(PathEdit.Text(), FolderCounter);
  FolderCounter = platform::ReadProfileInteger(kSettingsSection, PathEdit.Text(), 1, SettingsFilePath);
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
    PathEdit.SetEnabled(true);
    BrowseBtn.SetEnabled(true);
    CheckLbl.SetEnabled(true);
    AutoRCheckBx.SetEnabled(true);
  }
  ApplyBtn.SetEnabled(true);
}

void TMainForm::AutoRCheckBxClick() { ApplyBtn.SetEnabled(true); }

void TMainForm::CheckLblClick() { AutoRCheckBx.SetChecked(!AutoRCheckBx.Checked()); }

std::string TMainForm::LoadText(std::int32_t id) const {
  const std::string table = platform::ExtractFilePath(platform::GetModuleFileName()) + kTextTableFileName;
  return platform::ReadProfileString(kTextTableSection, std::to_string(id), "", table).text;
}

std::string TMainForm::NextImagePath() {
  storage::NamingState state{PathEdit,        PagewickFileListBx, FilePrefix,    FolderPrefix,
                             SystemDriveRoot, DefaultSavePath,    FolderCounter, ActiveSavePath};
  return storage::NextImagePath(state);
}

bool TMainForm::EnoughFreeSpace(const std::string& path, std::int32_t bytesNeeded) const {
  return storage::EnoughFreeSpace(path, bytesNeeded);
}

std::string TMainForm::FallbackImagePath() const { return storage::FallbackImagePath(SettingsFilePath); }

void TMainForm::PollScanner(scanner::ScannerRequestKind kind) {
  if (scannerLink_ != nullptr) scannerLink_->PollScanner(*this, kind);
}

void TMainForm::WriteSetting(const std::string& key, const std::string& value) {
  if (!platform::WriteProfileString(kSettingsSection, key, value, SettingsFilePath).ok) {
    throw SettingsWriteError(SettingsFilePath);
  }
}

void TMainForm::WriteSettingInteger(const std::string& key, std::int32_t value) {
  WriteSetting(key, std::to_string(value));
}

}  // namespace pw::ui
