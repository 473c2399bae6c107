#include "platform/Shell.h"

#include "platform/ErrorSink.h"
#include "platform/SystemInfo.h"
#include "platform/hostworld/Desktop.h"
#include "platform/hostworld/World.h"

namespace pw::platform {

namespace {
hostworld::Desktop& Desk() { return hostworld::World::Current().Desktop(); }
}  // namespace

void ItemIdListTraits::Close(RawHandle list) noexcept {
  if (hostworld::World* world = hostworld::World::CurrentOrNull()) world->Desktop().FreeItemIdList(list);
}

ItemIdList GetSpecialFolderLocation(WindowHandle owner, int csidl) {
  (void)owner;
  if (csidl == csidl::kDrives) return ItemIdList(Desk().NewItemIdList(std::nullopt, true));
  std::optional<std::string> path = hostworld::World::Current().SpecialFolder(csidl);
  if (!path) return {};
  return ItemIdList(Desk().NewItemIdList(*path, false));
}

std::optional<std::string> GetPathFromIdList(const ItemIdList& list) {
  if (!list) return std::nullopt;
  return Desk().ItemIdListPath(list.get());
}

ItemIdList BrowseForFolder(const BrowseInfo& info) {
  hostworld::BrowseRequest request;
  request.owner = info.owner;
  request.root = info.root != nullptr ? info.root->get() : nullptr;
  request.title = info.title;
  request.flags = info.flags;
  if (info.callback != nullptr) {
    BrowseCallback callback = info.callback;
    std::intptr_t data = info.data;
    request.callback = [callback, data](WindowHandle dialog, std::uint32_t notification, std::intptr_t param) {
      try {
        callback(dialog, notification, param, data);
      } catch (...) {
        ReportCurrentException();
      }
    };
  }
  return ItemIdList(Desk().RunBrowser(request));
}

std::intptr_t ShellExecute(WindowHandle owner, std::string_view verb, std::string_view file,
                           std::string_view parameters, std::string_view directory, int showCommand) {
  hostworld::ShellExecuteRecord record{owner,
                                  std::string(verb),
                                  std::string(file),
                                  std::string(parameters),
                                  std::string(directory),
                                  showCommand,
                                  0};
  return Desk().RunShellExecute(std::move(record));
}

Result<std::uint32_t> RunElevatedAndWait(WindowHandle owner, std::string_view file, std::string_view parameters) {
  hostworld::ElevationRecord record;
  record.owner = owner;
  record.file = std::string(file);
  record.parameters = std::string(parameters);
  return Desk().RunElevation(std::move(record));
}

}  // namespace pw::platform
