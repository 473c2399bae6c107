// Process-wide hardening and the install folder's security in the host world.
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "platform/Security.h"
#include "platform/TextCompare.h"
#include "platform/hostworld/World.h"
#include "platform/hostworld/WorldSessions.h"

namespace pw::platform {

// Host programs load no DLL by name at run time: nothing could come from the
// program's folder, so the search is as narrow as it gets.
bool RestrictDllSearchToSystem32() { return true; }

// Offered from Windows 11 22H2 (10.0.22621) on, as on Windows. The host world
// follows every link it resolves, so the answer is all it models.
bool EnableRedirectionTrust() {
  const OsVersionInfo version = host::World::Current().Version();
  return version.platformId == kPlatformNt &&
         (version.majorVersion > 10 || (version.majorVersion == 10 && version.buildNumber >= 22621));
}

std::optional<bool> NonAdministratorsMayWrite(const std::string& path) {
  host::World& world = host::World::Current();
  const host::ResolvedPath resolved = world.Resolve(path);
  if (resolved.error != error::kSuccess) return std::nullopt;
  // Z: is the host's own file system, outside the world: no user of the world
  // can change it. The Windows directory and Program Files are the
  // administrators' as on Windows; elsewhere the world's users may write
  // unless a test denied it (a folder made in the root of C: inherits the
  // root's "Authenticated Users: modify").
  if (std::toupper(static_cast<unsigned char>(resolved.windowsPath.front())) == 'Z') return false;
  std::vector<std::string> systemFolders = {"C:\\Program Files"};
  if (std::optional<std::string> windows = world.WindowsDirectory()) systemFolders.push_back(*windows);
  for (const std::string& folder : systemFolders) {
    const std::string& inside = resolved.windowsPath;
    if (inside.size() >= folder.size() && SameTextIgnoringCase(inside.substr(0, folder.size()), folder) &&
        (inside.size() == folder.size() || inside[folder.size()] == '\\' || inside[folder.size()] == ' ')) {
      return false;  // "Program Files (x86)" too
    }
  }
  return world.UserSessions().UserMayWrite(resolved.windowsPath);
}

}  // namespace pw::platform
