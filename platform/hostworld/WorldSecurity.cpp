// Owners of the host world's entries, kept as an extended attribute of each
// entry's host file.
#include <sys/xattr.h>

#include <cerrno>
#include <string>

#include "platform/hostworld/World.h"
#include "platform/hostworld/WorldSecurity.h"

namespace pw::hostworld {
namespace {

constexpr const char* kOwnerAttribute = "user.pagewick.owner";

}  // namespace

std::string EntryOwner(std::string_view windowsPath) {
  const ResolvedPath resolved = World::Current().Resolve(windowsPath);
  if (resolved.error != platform::error::kSuccess || !resolved.exists) return {};
  char buffer[256];
  // lgetxattr: a host symbolic link (a world's link) has an owner of its own.
  const ssize_t size = ::lgetxattr(resolved.hostPath.c_str(), kOwnerAttribute, buffer, sizeof buffer);
  if (size < 0) return errno == ENODATA ? kSystemOwner : std::string();
  return std::string(buffer, static_cast<std::size_t>(size));
}

bool SetEntryOwner(std::string_view windowsPath, std::string_view owner) {
  const ResolvedPath resolved = World::Current().Resolve(windowsPath);
  if (resolved.error != platform::error::kSuccess || !resolved.exists) return false;
  return ::lsetxattr(resolved.hostPath.c_str(), kOwnerAttribute, owner.data(), owner.size(), 0) == 0;
}

}  // namespace pw::hostworld
