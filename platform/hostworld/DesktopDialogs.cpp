// The desktop's modal boxes: message boxes, the folder browser, the shell's
// open and the popup menu, each run in a modal loop of its own.
#include "platform/hostworld/Desktop.h"

#include <algorithm>
#include <filesystem>

#include "platform/Dialogs.h"
#include "platform/ScopeExit.h"
#include "platform/Shell.h"
#include "platform/hostworld/DesktopParts.h"
#include "platform/hostworld/World.h"

namespace pw::hostworld {

using namespace desktop_parts;

namespace {

constexpr std::intptr_t kShellExecuteOk = 42;
constexpr std::intptr_t kSeErrFileNotFound = 2;
constexpr std::intptr_t kSeErrNoAssociation = 31;
const char* const kDialogClass = "#32770";

// The button a user who just presses Enter chooses: the first of the box.
int DefaultButton(std::uint32_t style) {
  switch (style & 0xF) {
    case 2: return 3;  // abort, retry, ignore
    case 3:            // yes, no, cancel
    case 4: return platform::dialog_result::kYes;
    case 5: return 4;  // retry, cancel
    default: return platform::dialog_result::kOk;
  }
}

}  // namespace

bool ModalLoop::Pump() {
  while (!closedByQuit_ && !closedByOwner_) {
    if (desktop_.DialogClosedByOwner(dialog_)) {
      closedByOwner_ = true;
      return false;
    }
    std::optional<Message> message = desktop_.Take();
    if (!message) return true;
    if (message->window == nullptr) {
      if (message->message == wm::kQuit) {
        // The dialog ends and leaves WM_QUIT for the loop outside it.
        desktop_.PostQuit(static_cast<int>(message->wParam));
        closedByQuit_ = true;
        return false;
      }
      std::scoped_lock lock(desktop_.mutex_);
      ++desktop_.lostThreadMessages_;
      continue;
    }
    desktop_.Dispatch(*message);
  }
  return false;
}

bool ModalLoop::AdvanceTime(std::uint32_t milliseconds) {
  desktop_.AdvanceTime(milliseconds);
  return Pump();
}

template <class Record, class Driver>
Desktop::DialogEntry<Driver> Desktop::EnterDialog(std::vector<Record>& records, const Record& record,
                                                 const Driver& driver) {
  std::scoped_lock lock(mutex_);
  records.push_back(record);
  return {records.size() - 1, driver, ThreadLocked(std::this_thread::get_id()).quitCode.has_value()};
}

int Desktop::DefaultMessageBoxResult(std::uint32_t style) { return DefaultButton(style); }

WindowHandle Desktop::OpenDialogWindow(std::string_view title, std::optional<std::size_t> browseIndex,
                                       WindowHandle owner) {
  std::scoped_lock lock(mutex_);
  WindowHandle handle = NewHandleLocked();
  WindowRecord record;
  record.className = kDialogClass;
  record.title = title;
  record.style = platform::style::kPopup | platform::style::kCaption | platform::style::kSysMenu;
  record.thread = std::this_thread::get_id();
  record.visible = true;
  record.dialog = true;
  record.owner = owner;
  record.browseIndex = browseIndex;
  record.z = nextZ_++;
  windows_.emplace(Key(handle), std::move(record));
  return handle;
}

void Desktop::CloseOwnedDialogs(WindowHandle owner) {
  if (owner == nullptr) return;
  std::scoped_lock lock(mutex_);
  for (auto& [key, record] : windows_) {
    if (record.dialog && record.owner == owner && record.thread == std::this_thread::get_id()) {
      record.closedByOwner = true;
    }
  }
}

bool Desktop::DialogClosedByOwner(WindowHandle dialog) const {
  std::scoped_lock lock(mutex_);
  const WindowRecord* record = FindLocked(dialog);
  return record != nullptr && record->closedByOwner;
}

void Desktop::CloseDialogWindow(WindowHandle dialog, WindowHandle owner) {
  (void)Destroy(dialog);
  // As on Windows, the owner of a modal dialog that closes becomes the active
  // window again when it is visible (its WM_ACTIVATE handler runs).
  if (owner != nullptr && IsVisible(owner)) {
    Raise(owner);
    Activate(owner);
  }
}

int Desktop::RunMessageBox(WindowHandle owner, std::string_view text, std::string_view caption, std::uint32_t style,
                           std::uint16_t language) {
  const MessageBoxRecord record{owner, std::string(text), std::string(caption), style, language, 0};
  const auto [index, driver, quitWaiting] = EnterDialog(messageBoxes_, record, messageBoxDriver_);
  if (journal_) journal_->Record(screen_event::kMessageBox, record.caption + '\t' + record.text);
  WindowHandle dialog = OpenDialogWindow(caption, std::nullopt, owner);
  int result = platform::dialog_result::kNone;
  {
    ScopeExit close([&] { CloseDialogWindow(dialog, owner); });
    Activate(dialog);
    // A box opened while WM_QUIT waits closes at once and leaves it waiting.
    if (!quitWaiting) {
      ModalLoop loop(*this, dialog);
      result = driver ? driver(record, loop) : DefaultButton(style);
      if (loop.closedByQuit()) result = platform::dialog_result::kNone;
      // Closed as by its close box: OK for a box with only that button.
      if (loop.closedByOwner() || DialogClosedByOwner(dialog)) {
        result = (style & 0xFu) == platform::mb::kOk ? platform::dialog_result::kOk : platform::dialog_result::kCancel;
      }
    }
  }
  std::scoped_lock lock(mutex_);
  messageBoxes_[index].result = result;
  return result;
}

platform::RawHandle Desktop::NewItemIdList(std::optional<std::string> path, bool drivesFolder) {
  std::scoped_lock lock(mutex_);
  std::uintptr_t key = nextItemIdList_;
  nextItemIdList_ += 8;
  itemIdLists_[key] = {std::move(path), drivesFolder};
  return reinterpret_cast<platform::RawHandle>(key);
}

void Desktop::FreeItemIdList(platform::RawHandle list) {
  std::scoped_lock lock(mutex_);
  itemIdLists_.erase(reinterpret_cast<std::uintptr_t>(list));
}

std::optional<std::string> Desktop::ItemIdListPath(platform::RawHandle list) const {
  std::scoped_lock lock(mutex_);
  auto it = itemIdLists_.find(reinterpret_cast<std::uintptr_t>(list));
  if (it == itemIdLists_.end()) return std::nullopt;
  return it->second.path;
}

bool Desktop::ItemIdListIsDrives(platform::RawHandle list) const {
  std::scoped_lock lock(mutex_);
  auto it = itemIdLists_.find(reinterpret_cast<std::uintptr_t>(list));
  return it != itemIdLists_.end() && it->second.drivesFolder;
}

platform::RawHandle Desktop::RunBrowser(const BrowseRequest& request) {
  BrowseRecord record;
  record.owner = request.owner;
  record.title = request.title;
  record.flags = request.flags;
  record.rootIsDrives = request.root != nullptr && ItemIdListIsDrives(request.root);
  const auto [index, driver, quitWaiting] = EnterDialog(browses_, record, browseDriver_);
  if (journal_) journal_->Record(screen_event::kFolderBrowser, record.title);
  WindowHandle dialog = OpenDialogWindow("Browse For Folder", index, request.owner);
  ScopeExit close([&] { CloseDialogWindow(dialog, request.owner); });
  Activate(dialog);
  if (quitWaiting) return nullptr;
  if (request.callback) {
    {
      std::scoped_lock lock(mutex_);
      browses_[index].initializedSent = true;
    }
    request.callback(dialog, platform::kBffmInitialized, 0);
  }
  {
    std::scoped_lock lock(mutex_);
    record = browses_[index];
  }
  ModalLoop loop(*this, dialog);
  BrowseAnswer answer = driver ? driver(record, loop) : BrowseAnswer::Cancel();
  if (loop.closedByQuit() || loop.closedByOwner() || DialogClosedByOwner(dialog)) return nullptr;
  switch (answer.kind) {
    case BrowseAnswer::Kind::Cancel: return nullptr;
    case BrowseAnswer::Kind::Path: return NewItemIdList(answer.path, false);
    case BrowseAnswer::Kind::NoPath: return NewItemIdList(std::nullopt, false);
  }
  return nullptr;
}

std::intptr_t Desktop::RunShellExecute(ShellExecuteRecord record) {
  bool explore = NamesEqual(record.verb, "explore") || NamesEqual(record.verb, "open");
  if (!explore) {
    record.result = kSeErrNoAssociation;
  } else {
    ResolvedPath resolved = world_.Resolve(record.file);
    std::error_code ec;
    if (resolved.error != platform::error::kSuccess || !resolved.exists ||
        !std::filesystem::is_directory(resolved.hostPath, ec)) {
      record.result = kSeErrFileNotFound;
    } else {
      // An explorer window is titled with the folder's name (a root keeps its path).
      std::string title = resolved.windowsPath;
      std::size_t slash = title.find_last_of('\\');
      if (slash != std::string::npos && slash + 1 < title.size()) title = title.substr(slash + 1);
      OpenForeignWindow("CabinetWClass", title);
      record.result = kShellExecuteOk;
      if (journal_) journal_->Record(screen_event::kShellExecute, record.verb + '\t' + record.file);
    }
  }
  std::scoped_lock lock(mutex_);
  shellExecutes_.push_back(record);
  return record.result;
}

platform::Result<std::uint32_t> Desktop::RunElevation(ElevationRecord record) {
  // The shell finds the program before Windows asks for consent.
  const ResolvedPath resolved = world_.Resolve(record.file);
  std::error_code ec;
  if (resolved.error != platform::error::kSuccess || !resolved.parentExists) {
    return platform::Failure(platform::error::kPathNotFound);
  }
  if (!resolved.exists || !std::filesystem::is_regular_file(resolved.hostPath, ec)) {
    return platform::Failure(platform::error::kFileNotFound);
  }
  if (journal_) journal_->Record(screen_event::kElevationPrompt, record.file + '\t' + record.parameters);
  ElevationDriver driver;
  {
    std::scoped_lock lock(mutex_);
    driver = elevationDriver_;
  }
  // The driver runs outside the lock: the elevated program uses this desktop too.
  const std::optional<std::uint32_t> exitCode = driver ? driver(record) : std::nullopt;
  record.consented = exitCode.has_value();
  record.exitCode = exitCode;
  {
    std::scoped_lock lock(mutex_);
    elevations_.push_back(record);
  }
  if (!exitCode) return platform::Failure(platform::error::kCancelled);
  return *exitCode;
}

std::uint32_t Desktop::RunMenu(const platform::PopupMenu& menu, platform::Point at, WindowHandle owner) {
  MenuRecord record;
  record.owner = owner;
  record.at = at;
  for (const auto& item : menu.items()) record.items.emplace_back(item.commandId, item.text);
  record.defaultItem = menu.DefaultItem();
  std::size_t index = 0;
  MenuDriver driver;
  {
    std::scoped_lock lock(mutex_);
    menus_.push_back(record);
    index = menus_.size() - 1;
    driver = menuDriver_;
  }
  ModalLoop loop(*this, nullptr);
  std::uint32_t chosen = driver ? driver(record, loop) : 0;
  bool known = std::any_of(record.items.begin(), record.items.end(),
                           [chosen](const auto& item) { return item.first == chosen; });
  if (!known || loop.closedByQuit()) chosen = 0;
  std::scoped_lock lock(mutex_);
  menus_[index].chosen = chosen;
  return chosen;
}

}  // namespace pw::hostworld
