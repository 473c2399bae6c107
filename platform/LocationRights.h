#pragma once
// Whose rights the file-system actions in a user's save location use, and the
// links refused there. The process's own (before Windows Vista, or a window
// that is not the service's): every call as before. The console user's (the
// service's window on Windows Vista and later): the actions of each pull run
// impersonating the user at the console, and nothing in the location is
// reached through a link: folders and files are opened so that a reparse
// point is refused, and what a handle reaches must lie inside the location.
// A folder of the location is opened once, when it is checked, and the
// files in it are created, opened, renamed and deleted relative to that
// handle: a folder swapped for a link afterwards leads nowhere.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/Result.h"
#include "platform/Security.h"
#include "platform/ThreadChecker.h"

namespace pw::platform {

// Whether a failure is the save location's refusal to the console user
// (error::kLocationNotWritable or error::kLocationLink), which the user is
// told of; nobody at the console is no refusal: nobody to tell.
bool IsLocationRefusal(ErrorCode error);
// What a failure in the save location means, for the debug trace: the
// refusal's reason, or the system error's code.
std::string LocationFailureText(ErrorCode error, const std::string& path);

// Thread rule: the thread that built the object (the window's), checked
// where the object keeps state: its pulls, and every call that acts for the
// console user. ProcessOwn() keeps nothing and serves any thread.
class LocationRights {
 public:
  // The process's own rights, nothing checked: for callers that have no
  // location of a user's (tests, the scratch file).
  static const LocationRights& ProcessOwn();

  void SetActForConsoleUser(bool on) {
    thread_.Check();
    consoleUser_ = on;
  }
  [[nodiscard]] bool ActsForConsoleUser() const { return consoleUser_; }

  // One pull's actions: the console user's token is taken when it begins and
  // dropped when it ends. Begin fails with error::kNobodyAtConsole while
  // nobody is at the console. Service thread only.
  class [[nodiscard]] Pull {
   public:
    static Result<Pull> Begin(LocationRights& rights);
    ~Pull();
    Pull(Pull&& other) noexcept : rights_(std::exchange(other.rights_, nullptr)) {}
    Pull& operator=(Pull&&) = delete;

   private:
    explicit Pull(LocationRights& rights) : rights_(&rights) {}
    LocationRights* rights_;
  };

  // While the object lives the thread acts with the pull's rights (nothing
  // changes with the process's own). Act fails with error::kNobodyAtConsole
  // outside a pull for the console user.
  class [[nodiscard]] Acting {
   public:
    ~Acting();
    Acting(Acting&&) noexcept;
    Acting& operator=(Acting&&) = delete;

   private:
    friend class LocationRights;
    Acting();
    std::unique_ptr<Impersonation> impersonation_;
  };
  Result<Acting> Act() const;

  // The location that the pull's folders and files must lie in: its final
  // path is taken here (a location chosen as a link counts as where it leads).
  // For the console user a location that cannot be opened fails as
  // CheckError says, or with error::kLocationLink.
  Result<void> ConfineTo(const std::string& location) const;

  // Opens a file of the location: for the console user relative to its
  // folder's handle (the folder is checked first, as CheckFolder does), the
  // last component never followed (a link there is refused: CreateNew finds
  // it taken, other opens fail with ERROR_ACCESS_DENIED), and a handle that
  // lies outside the location is refused with ERROR_ACCESS_DENIED (a file the
  // call created is deleted through that handle first). The process's own:
  // CreateFile.
  OpenResult Open(const std::string& path, std::uint32_t access, std::uint32_t shareMode,
                  Disposition disposition) const;

  // Renames a file of the location within the same folder's handle for the
  // console user (without replace an existing entry gives 183); MoveFileEx by
  // path for the process's own. A folder that fails its check gives 5.
  Result<void> Move(const std::string& from, const std::string& to, bool replace) const;
  // Deletes a file of the location through a handle opened relative to its
  // folder for the console user; DeleteFile for the process's own.
  Result<void> Delete(const std::string& path) const;

  // Fails with error::kLocationLink when the folder is a link, or lies
  // outside the location, for the console user; succeeds otherwise. The
  // folder stays open for the pull's files until the pull ends or the
  // location is confined anew.
  Result<void> CheckFolder(const std::string& folder) const;

  // An error of a call made in the location: for the console user,
  // ERROR_ACCESS_DENIED is a refusal (error::kLocationNotWritable); any other
  // error, and every error of the process's own, succeeds here.
  Result<void> CheckError(ErrorCode error) const;

 private:
  bool Inside(const std::optional<std::string>& finalPath) const;
  // The checked folder's handle, opened now if it is not yet; nullptr when
  // the folder fails the check.
  const FileHandle* HeldFolder(const std::string& folder) const;
  OpenResult OpenInFolder(const std::string& path, std::uint32_t access, std::uint32_t shareMode,
                          Disposition disposition) const;

  bool consoleUser_ = false;
  std::optional<TokenHandle> token_;
  mutable std::optional<std::string> locationFinal_;
  // Checked folders by their path in upper case.
  mutable std::map<std::string, FileHandle> folders_;
  [[no_unique_address]] ThreadChecker thread_{"LocationRights"};
};

}  // namespace pw::platform
