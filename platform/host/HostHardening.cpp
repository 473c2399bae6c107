// Process-wide hardening and the install folder's security in the host world.
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "platform/Security.h"
#include "platform/TextCompare.h"
#include "platform/hostworld/World.h"
#include "platform/hostworld/WorldSecurity.h"
#include "platform/hostworld/WorldSessions.h"

namespace pw::platform {

// Host programs load no DLL by name at run time: nothing could come from the
// program's folder, so the search is as narrow as it gets.
bool RestrictDllSearchToSystem32() { return true; }

// Offered from Windows 11 22H2 (10.0.22621) on, as on Windows. The host world
// follows every link it resolves, so the answer is all it models.
bool EnableRedirectionTrust() {
  const OsVersionInfo version = hostworld::World::Current().Version();
  return version.platformId == kPlatformNt &&
         (version.majorVersion > 10 || (version.majorVersion == 10 && version.buildNumber >= 22621));
}

namespace {

// Z: is the host's own file system, outside the world: no user of the world
// can change it.
bool OutsideTheWorld(const hostworld::ResolvedPath& resolved) {
  return std::toupper(static_cast<unsigned char>(resolved.windowsPath.front())) == 'Z';
}

// An owner other than SYSTEM or Administrators is a user's: they may change
// the entry's DACL and so everything else.
bool OwnedByAUser(const hostworld::ResolvedPath& resolved) {
  const std::string owner = hostworld::EntryOwner(resolved.windowsPath);
  return !owner.empty() && owner != hostworld::kSystemOwner && owner != hostworld::kAdministratorsOwner;
}

// The Windows directory and Program Files are the administrators' as on
// Windows ("Program Files (x86)" too).
bool InSystemFolder(hostworld::World& world, const std::string& inside) {
  std::vector<std::string> systemFolders = {"C:\\Program Files"};
  if (std::optional<std::string> windows = world.WindowsDirectory()) systemFolders.push_back(*windows);
  for (const std::string& folder : systemFolders) {
    if (inside.size() >= folder.size() && SameTextIgnoringCase(inside.substr(0, folder.size()), folder) &&
        (inside.size() == folder.size() || inside[folder.size()] == '\\' || inside[folder.size()] == ' ')) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<bool> NonAdministratorsMayWrite(const std::string& path) {
  hostworld::World& world = hostworld::World::Current();
  const hostworld::ResolvedPath resolved = world.Resolve(path);
  if (resolved.error != error::kSuccess) return std::nullopt;
  if (OutsideTheWorld(resolved)) return false;
  if (resolved.exists && OwnedByAUser(resolved)) return true;
  // Elsewhere the world's users may write unless a test denied it (a folder
  // made in the root of C: inherits the root's "Authenticated Users: modify").
  if (InSystemFolder(world, resolved.windowsPath)) return false;
  return world.UserSessions().UserMayWrite(resolved.windowsPath);
}

std::optional<bool> NonAdministratorsMayReplace(const std::string& path) {
  hostworld::World& world = hostworld::World::Current();
  const hostworld::ResolvedPath resolved = world.Resolve(path);
  if (resolved.error != error::kSuccess || !resolved.exists) return std::nullopt;
  if (OutsideTheWorld(resolved)) return false;
  if (OwnedByAUser(resolved)) return true;
  if (InSystemFolder(world, resolved.windowsPath)) return false;
  // A drive's root lets users add folders, never delete or rename another's.
  if (resolved.windowsPath.size() <= 3) return false;
  // Below it, "modify" (inherited from the root unless denied) includes
  // deleting and renaming the entry and what a folder holds.
  return world.UserSessions().UserMayWrite(resolved.windowsPath);
}

}  // namespace pw::platform
