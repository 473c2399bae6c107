#pragma once
// The shell: item identifier lists, the folder browser and ShellExecuteA.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Handle.h"
#include "platform/Result.h"

namespace pw::platform {

// An item identifier list (PIDL), freed through the shell's allocator.
struct ItemIdListTraits {
  static RawHandle Invalid() noexcept { return nullptr; }
  static void Close(RawHandle list) noexcept;
};
using ItemIdList = ScopedHandle<ItemIdListTraits>;

// SHGetSpecialFolderLocation: an empty list when the folder is not known
// (csidl::kDrives is the computer's drives folder, which has no path).
ItemIdList GetSpecialFolderLocation(WindowHandle owner, int csidl);

// SHGetPathFromIDListA: nullopt for an item that has no file-system path.
std::optional<std::string> GetPathFromIdList(const ItemIdList& list);

// Folder-browser notifications and messages.
inline constexpr std::uint32_t kBffmInitialized = 1;
inline constexpr std::uint32_t kBffmSelChanged = 2;
inline constexpr std::uint32_t kBffmSetSelectionA = 0x466;  // WM_USER + 102

// BrowseCallbackProc: dialog, notification, its parameter, the caller's value.
// Called on the browsing thread; exceptions are caught and reported.
using BrowseCallback = int (*)(WindowHandle dialog, std::uint32_t notification, std::intptr_t param,
                               std::intptr_t data);

struct BrowseInfo {
  WindowHandle owner = nullptr;
  const ItemIdList* root = nullptr;  // nullptr: the desktop
  std::string title;                 // the instruction line above the tree
  std::uint32_t flags = 0;           // BIF_* bits
  BrowseCallback callback = nullptr;
  std::intptr_t data = 0;
};

// SHBrowseForFolderA, modal: the chosen item, or an empty list when the user
// cancelled. Its loop keeps dispatching the thread's window messages.
ItemIdList BrowseForFolder(const BrowseInfo& info);

// ShellExecuteA: the result as an integer; above 32 means success.
std::intptr_t ShellExecute(WindowHandle owner, std::string_view verb, std::string_view file,
                           std::string_view parameters, std::string_view directory, int showCommand);

inline constexpr int kSwShow = 5;

// ShellExecuteExA with the "runas" verb: Windows asks for an administrator's
// consent (the UAC prompt), starts the program with administrator rights and
// this call waits for it to end, dispatching the calling thread's window
// messages meanwhile (a WM_QUIT is posted again). Its exit code; kCancelled
// when the user refused the prompt, or the error that kept the program from
// starting.
Result<std::uint32_t> RunElevatedAndWait(WindowHandle owner, std::string_view file, std::string_view parameters);

}  // namespace pw::platform
