#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>

#include "platform/FileSystem.h"
#include "platform/TextCompare.h"
#include "platform/host/HostFiles.h"
#include "platform/host/Wildcard.h"
#include "platform/hostworld/World.h"
#include "platform/hostworld/WorldSecurity.h"
#include "platform/hostworld/WorldSessions.h"

namespace pw::platform {
namespace fs = std::filesystem;
using host::OpenFile;
using hostworld::ResolvedPath;
using hostworld::World;

namespace {

constexpr std::uint32_t kStoredAttributes =
    attribute::kReadOnly | attribute::kHidden | attribute::kSystem | attribute::kArchive;
constexpr std::uint32_t kWriteAccess = access::kGenericWrite | host::access_bit::kWriteData |
                                       host::access_bit::kAppendData | host::access_bit::kGenericAll;
constexpr std::uint32_t kReadAccess =
    access::kGenericRead | host::access_bit::kReadData | host::access_bit::kGenericAll;
constexpr std::uint32_t kShareAll = share::kRead | share::kWrite | share::kDelete;

bool IsDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// A missing entry: 2 when its folder exists, 3 when the folder does not.
ErrorCode MissingEntryError(const ResolvedPath& resolved) {
  return resolved.parentExists ? error::kFileNotFound : error::kPathNotFound;
}

// Attributes as GetFileAttributesA reports them. Files without a record are
// ARCHIVE, as a freshly written file is on Windows; a record of NORMAL alone
// means that every attribute was cleared.
std::uint32_t AttributesOf(const World& world, const fs::path& hostPath, bool directory) {
  const std::uint32_t stored = world.ExtraAttributes(hostPath);
  if (directory) return attribute::kDirectory | (stored & kStoredAttributes);
  if (stored == 0) return attribute::kArchive;
  const std::uint32_t attributes = stored & kStoredAttributes;
  return attributes == 0 ? attribute::kNormal : attributes;
}

bool IsLink(const fs::path& hostPath) {
  std::error_code ec;
  return fs::is_symlink(fs::symlink_status(hostPath, ec));
}

// Attributes of the entry itself: a link is reported as a reparse point, a
// folder link (junction) as a folder too, and is not followed.
std::uint32_t EntryAttributes(const World& world, const fs::path& hostPath) {
  if (IsLink(hostPath)) {
    return attribute::kReparsePoint | (IsDirectory(hostPath) ? attribute::kDirectory : attribute::kArchive) |
           (world.ExtraAttributes(hostPath) & kStoredAttributes);
  }
  return AttributesOf(world, hostPath, IsDirectory(hostPath));
}

// While the thread acts for a user, a change at a place that user may not
// write fails with ERROR_ACCESS_DENIED, judged on the entry the call really
// reaches (links resolved, the last one too when the call follows it). As on
// Windows the access is checked when a file is opened: writes through a
// handle go by the access it was opened with.
ErrorCode UserWriteDenied(const World& world, const fs::path& hostPath, bool followLast) {
  if (host::ImpersonatedUser() == nullptr) return error::kSuccess;
  const std::optional<std::string> reached = world.FinalWindowsPathOf(hostPath, followLast);
  if (!reached || !world.UserSessions().UserMayWriteResolved(*reached)) return error::kAccessDenied;
  return error::kSuccess;
}

// What a thread acting for a user creates is that user's (the creator owns
// it, as CREATOR OWNER gives it in ProgramData and in a user's own folders);
// what the process creates with its own rights has no recorded owner: SYSTEM.
void RecordCreator(const ResolvedPath& created) {
  if (const std::string* user = host::ImpersonatedUser()) (void)hostworld::SetEntryOwner(created.windowsPath, *user);
}

bool HasReadOnly(const World& world, const fs::path& hostPath) {
  return (world.ExtraAttributes(hostPath) & attribute::kReadOnly) != 0;
}

OpenResult OpenFailure(ErrorCode code) {
  OpenResult result;
  result.error = code;
  return result;
}

OpenFile* FindOpenFile(const World& world, const FileHandle& file) {
  if (!file.valid()) return nullptr;
  return dynamic_cast<OpenFile*>(world.FindHandle(file.get()));
}

char DriveLetterOf(const ResolvedPath& resolved) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(resolved.windowsPath.front())));
}

// A stable descriptor for a path: self-relative, DACL present, one ACE for
// SYSTEM and one for a user whose SID is derived from the path.
std::vector<std::byte> DescriptorFor(std::string_view windowsPath, bool directory) {
  std::uint32_t hash = 2166136261u;  // FNV-1a over the case-folded path
  for (char c : windowsPath) {
    hash ^= static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
    hash *= 16777619u;
  }
  std::vector<std::byte> bytes;
  auto put8 = [&](std::uint32_t v) { bytes.push_back(static_cast<std::byte>(v & 0xFF)); };
  auto put16 = [&](std::uint32_t v) {
    put8(v);
    put8(v >> 8);
  };
  auto put32 = [&](std::uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  auto putSid = [&](std::uint32_t authority, std::initializer_list<std::uint32_t> subs) {
    put8(1);
    put8(static_cast<std::uint32_t>(subs.size()));
    for (int i = 0; i < 5; ++i) put8(0);
    put8(authority);
    for (std::uint32_t sub : subs) put32(sub);
  };
  const std::uint32_t aceFlags = directory ? 0x3u : 0u;  // object and container inherit
  const std::uint32_t systemAceSize = 8 + 12;
  const std::uint32_t userAceSize = 8 + 8 + 4 * 5;
  const std::uint32_t aclSize = 8 + systemAceSize + userAceSize;
  // SECURITY_DESCRIPTOR_RELATIVE
  put8(1);
  put8(0);
  put16(0x8004);  // SE_SELF_RELATIVE | SE_DACL_PRESENT
  put32(0);
  put32(0);
  put32(0);
  put32(20);
  // ACL
  put8(2);
  put8(0);
  put16(aclSize);
  put16(2);
  put16(0);
  // ACCESS_ALLOWED_ACE for SYSTEM, full control
  put8(0);
  put8(aceFlags);
  put16(systemAceSize);
  put32(0x001F01FF);
  putSid(5, {18});
  // ACCESS_ALLOWED_ACE for the owner derived from the path, read and execute
  put8(0);
  put8(aceFlags);
  put16(userAceSize);
  put32(0x001200A9);
  putSid(5, {21, hash, hash ^ 0x5A5A5A5Au, hash >> 7, 1000});
  return bytes;
}

// The *A calls turn the path into the thread's static Unicode buffer first
// (MAX_PATH + 1 characters): a longer path fails there with
// ERROR_FILENAME_EXCED_RANGE. A path of exactly MAX_PATH characters leaves no
// room for the terminating zero and is not found.
ErrorCode PathLengthError(const std::string& path) {
  if (path.size() > hostworld::kMaxPath) return error::kFilenameExcedRange;
  if (path.size() == hostworld::kMaxPath) return error::kPathNotFound;
  return error::kSuccess;
}

}  // namespace

RawHandle FileHandleTraits::Invalid() noexcept { return reinterpret_cast<RawHandle>(~std::uintptr_t{0}); }

void FileHandleTraits::Close(RawHandle handle) noexcept {
  if (World* world = World::CurrentOrNull()) world->CloseHandle(handle);
}

OpenResult CreateFile(const std::string& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                      Disposition disposition) {
  return CreateFile(path, desiredAccess, shareMode, disposition, open_flag::kNone);
}

namespace {

// A handle on a folder or on a link itself: it names the entry (for its
// final path) and reads or writes nothing.
OpenResult OpenEntryItself(World& world, const fs::path& hostPath, std::uint32_t desiredAccess,
                           std::uint32_t shareMode, bool link) {
  const int fd = ::open(hostPath.c_str(), O_PATH | O_CLOEXEC | (link ? O_NOFOLLOW : 0));
  if (fd < 0) return OpenFailure(host::ErrorFromErrno(errno));
  OpenResult result;
  result.file = FileHandle(world.AddHandle(std::make_unique<OpenFile>(fd, hostPath, desiredAccess, shareMode)));
  return result;
}

}  // namespace

OpenResult CreateFile(const std::string& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                      Disposition disposition, std::uint32_t openFlags) {
  if (const ErrorCode tooLong = PathLengthError(path)) return OpenFailure(tooLong);
  World& world = World::Current();
  std::scoped_lock lock(world.Mutex());
  const auto how = static_cast<std::uint32_t>(disposition);
  if (how < 1 || how > 5) return OpenFailure(error::kInvalidParameter);
  const ResolvedPath resolved = world.Resolve(path);
  if (resolved.error != error::kSuccess) return OpenFailure(resolved.error);
  const bool wantsWrite = (desiredAccess & kWriteAccess) != 0;
  const bool wantsRead = (desiredAccess & kReadAccess) != 0;
  // TRUNCATE_EXISTING needs write access.
  if (disposition == Disposition::TruncateExisting && !wantsWrite) return OpenFailure(error::kInvalidParameter);

  const bool openExisting = disposition == Disposition::OpenExisting || disposition == Disposition::OpenAlways;
  if (resolved.exists && (openFlags & open_flag::kOpenReparsePoint) != 0 && IsLink(resolved.hostPath)) {
    // The link itself, not what it points at.
    if (disposition == Disposition::CreateNew) return OpenFailure(error::kFileExists);
    if (!openExisting) return OpenFailure(error::kAccessDenied);
    if (wantsWrite) {
      if (const ErrorCode denied = UserWriteDenied(world, resolved.hostPath, false)) return OpenFailure(denied);
    }
    return OpenEntryItself(world, resolved.hostPath, desiredAccess, shareMode, true);
  }
  if (resolved.exists && IsDirectory(resolved.hostPath)) {
    if (disposition == Disposition::CreateNew) return OpenFailure(error::kFileExists);
    if ((openFlags & open_flag::kBackupSemantics) == 0 || !openExisting) return OpenFailure(error::kAccessDenied);
    return OpenEntryItself(world, resolved.hostPath, desiredAccess, shareMode, false);
  }
  if (!resolved.exists && !resolved.parentExists) return OpenFailure(error::kPathNotFound);
  if (wantsWrite || disposition == Disposition::CreateAlways || disposition == Disposition::TruncateExisting ||
      !resolved.exists) {
    if (const ErrorCode denied = UserWriteDenied(world, resolved.hostPath, true)) return OpenFailure(denied);
  }

  bool truncate = false;
  if (resolved.exists) {
    if (disposition == Disposition::CreateNew) return OpenFailure(error::kFileExists);
    truncate = disposition == Disposition::CreateAlways || disposition == Disposition::TruncateExisting;
    const std::uint32_t attributes = AttributesOf(world, resolved.hostPath, false);
    if ((attributes & attribute::kReadOnly) != 0 && (wantsWrite || truncate)) {
      return OpenFailure(error::kAccessDenied);
    }
    // CREATE_ALWAYS with FILE_ATTRIBUTE_NORMAL refuses to replace a hidden or system file.
    if (disposition == Disposition::CreateAlways && (attributes & (attribute::kHidden | attribute::kSystem)) != 0) {
      return OpenFailure(error::kAccessDenied);
    }
    if (host::SharingConflict(world, resolved.hostPath, desiredAccess, shareMode)) {
      return OpenFailure(error::kSharingViolation);
    }
  } else if (disposition == Disposition::OpenExisting || disposition == Disposition::TruncateExisting) {
    return OpenFailure(error::kFileNotFound);
  }

  int flags = O_CLOEXEC;
  if (truncate || (wantsRead && wantsWrite)) {
    flags |= O_RDWR;
  } else if (wantsWrite) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  if (truncate) flags |= O_TRUNC;
  if (!resolved.exists) flags |= O_CREAT | O_EXCL;
  const bool changesDisk = truncate || !resolved.exists;
  if (!resolved.exists) world.BeforeCreate(resolved.hostPath);
  if (changesDisk) world.Cache().BeforeChange();
  const int fd = ::open(resolved.hostPath.c_str(), flags, 0666);
  if (fd < 0) {
    const int code = errno;
    return OpenFailure(code == EEXIST ? error::kFileExists : host::ErrorFromErrno(code));
  }
  if (changesDisk) world.Cache().Created(fd);
  // A created or replaced file starts with the attributes the call asked for.
  if (!resolved.exists || disposition == Disposition::CreateAlways) world.SetExtraAttributes(resolved.hostPath, 0);
  if (!resolved.exists) RecordCreator(resolved);

  OpenResult result;
  result.file = FileHandle(world.AddHandle(std::make_unique<OpenFile>(fd, resolved.hostPath, desiredAccess, shareMode)));
  const bool reportsExisting =
      resolved.exists && (disposition == Disposition::CreateAlways || disposition == Disposition::OpenAlways);
  result.error = reportsExisting ? error::kAlreadyExists : error::kSuccess;
  return result;
}

IoResult WriteFileAt(const FileHandle& file, std::uint64_t offset, std::span<const std::byte> data) {
  World* world = World::CurrentOrNull();
  if (world == nullptr) return {false, 0, error::kInvalidHandle};
  std::scoped_lock lock(world->Mutex());
  OpenFile* open = FindOpenFile(*world, file);
  if (open == nullptr) return {false, 0, error::kInvalidHandle};
  if (!open->CanWrite()) return {false, 0, error::kAccessDenied};
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) - data.size()) {
    return {false, 0, error::kInvalidParameter};
  }
  world->Cache().BeforeChange();
  // The world's write faults decide how much of the write lands.
  const hostworld::WriteAllowance allowance = world->AllowWrite(open->HostPath(), data.size());
  if (!allowance.ok) return {false, 0, allowance.error};
  world->Cache().BeforeWrite(open->Descriptor(), offset, allowance.bytes);
  std::size_t done = 0;
  while (done < allowance.bytes) {
    const ssize_t wrote = ::pwrite(open->Descriptor(), data.data() + done, allowance.bytes - done,
                                   static_cast<off_t>(offset + done));
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return {false, static_cast<std::uint32_t>(done), host::ErrorFromErrno(errno)};
    }
    done += static_cast<std::size_t>(wrote);
  }
  // WriteFile succeeded but wrote fewer bytes than asked: the caller cannot
  // rely on the bytes being there.
  if (done < data.size()) return {false, static_cast<std::uint32_t>(done), error::kWriteFault};
  return {true, static_cast<std::uint32_t>(done), error::kSuccess};
}

namespace {

// Runs act(world, file) under the world's lock for a handle opened for
// writing; an unknown handle or one without write access fails first.
template <typename Act>
Result<void> ChangeOpenFile(const FileHandle& file, Act act) {
  World* world = World::CurrentOrNull();
  if (world == nullptr) return Failure(error::kInvalidHandle);
  std::scoped_lock lock(world->Mutex());
  OpenFile* open = FindOpenFile(*world, file);
  if (open == nullptr) return Failure(error::kInvalidHandle);
  if (!open->CanWrite()) return Failure(error::kAccessDenied);
  return act(*world, *open);
}

}  // namespace

Result<void> SetFileSize(const FileHandle& file, std::uint64_t size) {
  return ChangeOpenFile(file, [size](World& world, OpenFile& open) -> Result<void> {
    if (size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
      return Failure(error::kInvalidParameter);
    }
    world.Cache().BeforeChange();
    world.Cache().BeforeSizeSet(open.Descriptor(), size);
    if (::ftruncate(open.Descriptor(), static_cast<off_t>(size)) != 0) {
      return Failure(host::ErrorFromErrno(errno));
    }
    return Success();
  });
}

// FlushFileBuffers needs GENERIC_WRITE.
Result<void> FlushFile(const FileHandle& file) {
  return ChangeOpenFile(file, [](World& world, OpenFile& open) -> Result<void> {
    world.Cache().BeforeChange();
    if (!world.Cache().FlushesIgnored() && ::fdatasync(open.Descriptor()) != 0) {
      return Failure(host::ErrorFromErrno(errno));
    }
    world.Cache().Flushed(open.Descriptor());
    return Success();
  });
}

IoResult ReadFileAt(const FileHandle& file, std::uint64_t offset, std::span<std::byte> data) {
  World* world = World::CurrentOrNull();
  if (world == nullptr) return {false, 0, error::kInvalidHandle};
  std::scoped_lock lock(world->Mutex());
  OpenFile* open = FindOpenFile(*world, file);
  if (open == nullptr) return {false, 0, error::kInvalidHandle};
  if (!open->CanRead()) return {false, 0, error::kAccessDenied};
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return {false, 0, error::kInvalidParameter};
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t got =
        ::pread(open->Descriptor(), data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return {false, static_cast<std::uint32_t>(done), host::ErrorFromErrno(errno)};
    }
    if (got == 0) break;  // end of file: a short read that succeeds
    done += static_cast<std::size_t>(got);
  }
  return {true, static_cast<std::uint32_t>(done), error::kSuccess};
}

std::optional<std::uint64_t> GetFileSize(const FileHandle& file) {
  World* world = World::CurrentOrNull();
  if (world == nullptr) return std::nullopt;
  std::scoped_lock lock(world->Mutex());
  OpenFile* open = FindOpenFile(*world, file);
  if (open == nullptr) return std::nullopt;
  struct stat info {};
  if (::fstat(open->Descriptor(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

namespace {

// The path as the world resolves it, for a call that holds the world's lock:
// a path too long for the call or one that does not resolve is its failure.
Result<ResolvedPath> ResolveLocked(World& world, const std::string& path) {
  if (const ErrorCode tooLong = PathLengthError(path)) return Failure(tooLong);
  ResolvedPath resolved = world.Resolve(path);
  if (resolved.error != error::kSuccess) return Failure(resolved.error);
  return resolved;
}

}  // namespace

Result<void> DeleteFile(const std::string& path) {
  World& world = World::Current();
  std::scoped_lock lock(world.Mutex());
  PW_TRY_ASSIGN(const ResolvedPath resolved, ResolveLocked(world, path));
  if (!resolved.exists) return Failure(MissingEntryError(resolved));
  const bool link = IsLink(resolved.hostPath);
  if (IsDirectory(resolved.hostPath) && !link) return Failure(error::kAccessDenied);
  if (HasReadOnly(world, resolved.hostPath)) return Failure(error::kAccessDenied);
  if (const ErrorCode denied = UserWriteDenied(world, resolved.hostPath, false)) return Failure(denied);
  // DeleteFileA opens the file for DELETE, sharing everything: any open
  // without FILE_SHARE_DELETE refuses it.
  if (host::SharingConflict(world, resolved.hostPath, host::access_bit::kDelete, kShareAll)) {
    return Failure(error::kSharingViolation);
  }
  world.Cache().BeforeChange();
  if (::unlink(resolved.hostPath.c_str()) != 0) return Failure(host::ErrorFromErrno(errno));
  world.SetExtraAttributes(resolved.hostPath, 0);
  return Success();
}

Result<void> CreateDirectory(const std::string& path) {
  World& world = World::Current();
  std::scoped_lock lock(world.Mutex());
  PW_TRY_ASSIGN(const ResolvedPath resolved, ResolveLocked(world, path));
  if (resolved.isRoot) return Failure(error::kAccessDenied);
  if (resolved.exists) return Failure(error::kAlreadyExists);
  if (!resolved.parentExists) return Failure(error::kPathNotFound);
  if (const ErrorCode denied = UserWriteDenied(world, resolved.hostPath, false)) return Failure(denied);
  world.Cache().BeforeChange();
  if (::mkdir(resolved.hostPath.c_str(), 0777) != 0) return Failure(host::ErrorFromErrno(errno));
  world.SetExtraAttributes(resolved.hostPath, 0);
  RecordCreator(resolved);
  return Success();
}

Result<void> RemoveDirectory(const std::string& path) {
  World& world = World::Current();
  std::scoped_lock lock(world.Mutex());
  PW_TRY_ASSIGN(const ResolvedPath resolved, ResolveLocked(world, path));
  if (!resolved.exists) return Failure(MissingEntryError(resolved));
  if (!IsDirectory(resolved.hostPath)) return Failure(error::kDirectory);
  if (resolved.isRoot || HasReadOnly(world, resolved.hostPath)) return Failure(error::kAccessDenied);
  if (const ErrorCode denied = UserWriteDenied(world, resolved.hostPath, false)) return Failure(denied);
  world.Cache().BeforeChange();
  // A junction goes itself; what it points at stays.
  const int removed = IsLink(resolved.hostPath) ? ::unlink(resolved.hostPath.c_str()) : ::rmdir(resolved.hostPath.c_str());
  if (removed != 0) return Failure(host::ErrorFromErrno(errno));
  world.SetExtraAttributes(resolved.hostPath, 0);
  return Success();
}

namespace {

// MoveFileExA on the world: with replace, an existing file target is replaced
// in one step; without, any existing target fails the move with 183.
Result<void> MoveEntry(const std::string& source, const std::string& target, bool replace) {
  if (const ErrorCode tooLong = PathLengthError(source)) return Failure(tooLong);
  if (const ErrorCode tooLong = PathLengthError(target)) return Failure(tooLong);
  World& world = World::Current();
  std::scoped_lock lock(world.Mutex());
  const ResolvedPath from = world.Resolve(source);
  if (from.error != error::kSuccess) return Failure(from.error);
  if (!from.exists) return Failure(MissingEntryError(from));
  const ResolvedPath to = world.Resolve(target);
  if (to.error != error::kSuccess) return Failure(to.error);
  if (!to.exists && !to.parentExists) return Failure(error::kPathNotFound);
  // Without MOVEFILE_COPY_ALLOWED a move stays on its volume.
  if (DriveLetterOf(from) != DriveLetterOf(to)) return Failure(error::kNotSameDevice);
  if (from.isRoot || to.isRoot) return Failure(error::kAccessDenied);
  if (const ErrorCode denied = UserWriteDenied(world, from.hostPath, false)) return Failure(denied);
  if (const ErrorCode denied = UserWriteDenied(world, to.hostPath, false)) return Failure(denied);
  const bool sourceIsDirectory = IsDirectory(from.hostPath);
  const bool sameEntry = to.exists && host::OpenFileKey(from.hostPath) == host::OpenFileKey(to.hostPath);
  if (to.exists && !sameEntry) {
    if (!replace) return Failure(error::kAlreadyExists);
    if (sourceIsDirectory || IsDirectory(to.hostPath)) return Failure(error::kAccessDenied);
    if (HasReadOnly(world, to.hostPath)) return Failure(error::kAccessDenied);
    if (host::SharingConflict(world, to.hostPath, host::access_bit::kDelete, kShareAll)) {
      return Failure(error::kAccessDenied);
    }
  }
  if (sourceIsDirectory ? host::AnyOpenFile(world, from.hostPath)
                        : host::SharingConflict(world, from.hostPath, host::access_bit::kDelete, kShareAll)) {
    return Failure(sourceIsDirectory ? error::kAccessDenied : error::kSharingViolation);
  }
  const std::uint32_t attributes = world.ExtraAttributes(from.hostPath);
  world.Cache().BeforeChange();
  // Without replace the host rename must not replace either: another process
  // of the world may create the target between the check and the move.
  const int moved = replace ? ::rename(from.hostPath.c_str(), to.hostPath.c_str())
                            : ::renameat2(AT_FDCWD, from.hostPath.c_str(), AT_FDCWD, to.hostPath.c_str(),
                                          sameEntry ? 0u : RENAME_NOREPLACE);
  if (moved != 0) return Failure(errno == EEXIST ? error::kAlreadyExists : host::ErrorFromErrno(errno));
  world.SetExtraAttributes(from.hostPath, 0);
  world.SetExtraAttributes(to.hostPath, attributes);
  world.AfterRename(to.hostPath);
  return Success();
}

}  // namespace

Result<void> ReplaceFileWith(const std::string& source, const std::string& target) {
  return MoveEntry(source, target, true);
}

Result<void> MoveFileNoReplace(const std::string& source, const std::string& target) {
  return MoveEntry(source, target, false);
}

std::optional<std::uint32_t> GetFileAttributes(const std::string& path) {
  if (PathLengthError(path) != error::kSuccess) return std::nullopt;
  World& world = World::Current();
  std::scoped_lock lock(world.Mutex());
  const ResolvedPath resolved = world.Resolve(path);
  if (resolved.error != error::kSuccess || !resolved.exists) return std::nullopt;
  return EntryAttributes(world, resolved.hostPath);
}

Result<void> SetFileAttributes(const std::string& path, std::uint32_t attributes) {
  World& world = World::Current();
  std::scoped_lock lock(world.Mutex());
  PW_TRY_ASSIGN(const ResolvedPath resolved, ResolveLocked(world, path));
  if (!resolved.exists) return Failure(MissingEntryError(resolved));
  if (const ErrorCode denied = UserWriteDenied(world, resolved.hostPath, false)) return Failure(denied);
  world.Cache().BeforeChange();
  const std::uint32_t kept = attributes & kStoredAttributes;
  if (IsDirectory(resolved.hostPath)) {
    world.SetExtraAttributes(resolved.hostPath, kept);
  } else {
    world.SetExtraAttributes(resolved.hostPath, kept == 0 ? attribute::kNormal : kept);
  }
  return Success();
}

bool FileExists(const std::string& path) {
  auto attributes = GetFileAttributes(path);
  return attributes && (*attributes & attribute::kDirectory) == 0;
}

bool DirectoryExists(const std::string& path) {
  auto attributes = GetFileAttributes(path);
  return attributes && (*attributes & attribute::kDirectory) != 0;
}

Result<FindEntries> FindFiles(const std::string& pattern) { return FindFiles(pattern, FindDetail::WithSizes); }

Result<FindEntries> FindFiles(const std::string& pattern, FindDetail detail) {
  World& world = World::Current();
  std::scoped_lock lock(world.Mutex());
  FindEntries entries;
  if (const ErrorCode tooLong = PathLengthError(pattern)) return Failure(tooLong);
  const std::size_t separator = pattern.find_last_of("\\/");
  std::string folder;
  std::string namePattern;
  if (separator != std::string::npos) {
    folder = pattern.substr(0, separator + 1);
    namePattern = pattern.substr(separator + 1);
  } else if (pattern.size() >= 2 && pattern[1] == ':') {
    folder = pattern.substr(0, 2);
    namePattern = pattern.substr(2);
  } else {
    folder = ".";
    namePattern = pattern;
  }
  const ResolvedPath resolved = world.Resolve(folder);
  if (resolved.error != error::kSuccess) return Failure(resolved.error);
  if (!resolved.exists || !IsDirectory(resolved.hostPath)) return Failure(error::kPathNotFound);
  if (namePattern.empty()) return Failure(error::kFileNotFound);
  // One pass over the folder: the type comes with each entry, and sizes are
  // read relative to the folder, so a large folder costs one look per file.
  const int folderFd = ::open(resolved.hostPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* listing = folderFd < 0 ? nullptr : ::fdopendir(folderFd);
  if (listing == nullptr) {
    const int code = errno;
    if (folderFd >= 0) ::close(folderFd);
    return Failure(host::ErrorFromErrno(code));
  }
  // "*" and "*.*" match every name.
  const bool matchesAll = namePattern == "*" || namePattern == "*.*";
  const bool anyStored = world.HasExtraAttributes();
  errno = 0;
  while (const dirent* found = ::readdir(listing)) {
    const std::string_view name = found->d_name;
    if (name == "." || name == "..") continue;
    if (!matchesAll && !host::WildcardMatch(namePattern, std::string(name))) continue;
    struct stat info {};
    unsigned char type = found->d_type;
    const bool looked = type == DT_UNKNOWN || (type == DT_REG && detail == FindDetail::WithSizes);
    if (looked && ::fstatat(folderFd, found->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
      type = S_ISLNK(info.st_mode) ? DT_LNK : S_ISDIR(info.st_mode) ? DT_DIR : DT_REG;
    }
    FindEntry entry;
    entry.name = std::string(name);
    if (type == DT_LNK) {
      entry.attributes = EntryAttributes(world, resolved.hostPath / entry.name);
    } else if (!anyStored) {
      entry.attributes = type == DT_DIR ? attribute::kDirectory : attribute::kArchive;
    } else {
      entry.attributes = AttributesOf(world, resolved.hostPath / entry.name, type == DT_DIR);
    }
    if (type == DT_REG && looked && detail == FindDetail::WithSizes) entry.size = static_cast<std::uint64_t>(info.st_size);
    entries.push_back(std::move(entry));
    errno = 0;
  }
  const int readError = errno;
  ::closedir(listing);
  if (readError != 0) return Failure(host::ErrorFromErrno(readError));
  if (entries.empty()) return Failure(error::kFileNotFound);
  // NTFS lists a folder in the order of its upper-cased names.
  std::sort(entries.begin(), entries.end(),
            [](const FindEntry& a, const FindEntry& b) { return LessTextIgnoringCase(a.name, b.name); });
  return entries;
}

Result<DiskFreeSpace> GetDiskFreeSpaceEx(const std::string& directory) {
  World& world = World::Current();
  std::scoped_lock lock(world.Mutex());
  const std::string path = directory.empty() ? world.CurrentDirectory() : directory;
  if (path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/')) {
    return Failure(error::kPathNotFound);  // the world has no network shares
  }
  const ResolvedPath resolved = world.Resolve(path);
  if (resolved.error != error::kSuccess) {
    return Failure(resolved.error);
  }
  const std::optional<hostworld::Drive> drive = world.FindDrive(DriveLetterOf(resolved));
  if (!drive) {
    return Failure(error::kPathNotFound);
  }
  if (drive->freeSpaceError) {
    return Failure(*drive->freeSpaceError);
  }
  if (!resolved.exists) {
    return Failure(error::kPathNotFound);
  }
  if (!IsDirectory(resolved.hostPath)) {
    return Failure(error::kDirectory);
  }
  struct statvfs figures {};
  if (::statvfs(resolved.hostPath.c_str(), &figures) != 0) {
    return Failure(host::ErrorFromErrno(errno));
  }
  const std::uint64_t unit = figures.f_frsize != 0 ? figures.f_frsize : figures.f_bsize;
  DiskFreeSpace space;
  space.totalBytes = static_cast<std::uint64_t>(figures.f_blocks) * unit;
  space.totalFreeBytes = static_cast<std::uint64_t>(figures.f_bfree) * unit;
  space.freeBytesAvailableToCaller = static_cast<std::uint64_t>(figures.f_bavail) * unit;
  if (drive->freeBytes) {
    space.freeBytesAvailableToCaller = *drive->freeBytes;
    space.totalFreeBytes = *drive->freeBytes;
    space.totalBytes = std::max(space.totalBytes, *drive->freeBytes);
  }
  return space;
}

std::optional<std::string> FinalPathOfHandle(const FileHandle& file) {
  World* world = World::CurrentOrNull();
  if (world == nullptr) return std::nullopt;
  std::scoped_lock lock(world->Mutex());
  OpenFile* open = FindOpenFile(*world, file);
  if (open == nullptr) return std::nullopt;
  // The entry the descriptor holds, wherever it has been moved since.
  std::error_code ec;
  const fs::path held = fs::read_symlink("/proc/self/fd/" + std::to_string(open->Descriptor()), ec);
  if (ec) return std::nullopt;
  return world->FinalWindowsPathOf(held, false);
}

std::optional<FileInformation> GetFileInformation(const FileHandle& file) {
  World* world = World::CurrentOrNull();
  if (world == nullptr) return std::nullopt;
  std::scoped_lock lock(world->Mutex());
  OpenFile* open = FindOpenFile(*world, file);
  if (open == nullptr) return std::nullopt;
  struct stat info {};
  if (::fstat(open->Descriptor(), &info) != 0) return std::nullopt;
  FileInformation result;
  result.links = static_cast<std::uint32_t>(info.st_nlink);
  if (S_ISLNK(info.st_mode)) {
    result.attributes = EntryAttributes(*world, open->HostPath());
  } else {
    result.attributes = AttributesOf(*world, open->HostPath(), S_ISDIR(info.st_mode));
  }
  return result;
}

std::optional<std::uint32_t> FileLinkCount(const FileHandle& file) {
  const std::optional<FileInformation> information = GetFileInformation(file);
  if (!information) return std::nullopt;
  return information->links;
}

Result<void> CreateHardLink(const std::string& newName, const std::string& existingFile) {
  World& world = World::Current();
  std::scoped_lock lock(world.Mutex());
  PW_TRY_ASSIGN(const ResolvedPath existing, ResolveLocked(world, existingFile));
  PW_TRY_ASSIGN(const ResolvedPath added, ResolveLocked(world, newName));
  if (!existing.exists) return Failure(MissingEntryError(existing));
  if (IsDirectory(existing.hostPath)) return Failure(error::kAccessDenied);
  if (added.exists) return Failure(error::kAlreadyExists);
  if (!added.parentExists) return Failure(error::kPathNotFound);
  if (DriveLetterOf(existing) != DriveLetterOf(added)) return Failure(error::kNotSameDevice);
  if (const ErrorCode denied = UserWriteDenied(world, added.hostPath, false)) return Failure(denied);
  world.Cache().BeforeChange();
  if (::link(existing.hostPath.c_str(), added.hostPath.c_str()) != 0) {
    return Failure(errno == EXDEV ? error::kNotSameDevice : host::ErrorFromErrno(errno));
  }
  return Success();
}

Result<void> SetCurrentDirectory(const std::string& path) {
  World& world = World::Current();
  std::scoped_lock lock(world.Mutex());
  PW_TRY_ASSIGN(const ResolvedPath resolved, ResolveLocked(world, path));
  if (!resolved.exists) return Failure(MissingEntryError(resolved));
  if (!IsDirectory(resolved.hostPath)) return Failure(error::kDirectory);
  world.SetCurrentDirectoryText(resolved.windowsPath);
  return Success();
}

std::string GetCurrentDirectory() { return World::Current().CurrentDirectory(); }

std::optional<std::vector<std::byte>> GetFileDaclBytes(const std::string& path) {
  World& world = World::Current();
  std::scoped_lock lock(world.Mutex());
  const ResolvedPath resolved = world.Resolve(path);
  if (resolved.error != error::kSuccess || !resolved.exists) return std::nullopt;
  return DescriptorFor(resolved.windowsPath, IsDirectory(resolved.hostPath));
}

}  // namespace pw::platform

// ---- Files of an open folder ----------------------------------------------
// The world keeps the folder's descriptor: every call below works relative to
// it (openat, renameat2, unlinkat), so the folder's path may be changed
// meanwhile without the call landing anywhere else.

namespace pw::platform {
namespace {

// Where the entry a descriptor holds is now.
std::optional<fs::path> HeldPath(const OpenFile& open) {
  std::error_code ec;
  fs::path held = fs::read_symlink("/proc/self/fd/" + std::to_string(open.Descriptor()), ec);
  if (ec || held.empty() || held.native().ends_with(" (deleted)")) return std::nullopt;
  return held;
}

// One component of a name, as NtCreateFile takes it below a root directory.
bool IsOneComponent(const std::string& name) {
  if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
  if (name.back() == '.' || name.back() == ' ') return false;
  return name.find_first_of("\\/:*?\"<>|") == std::string::npos &&
         std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 32; });
}

// The stored name of the folder's entry that matches name case-insensitively.
std::optional<std::string> StoredNameIn(int folderFd, const std::string& name) {
  struct stat info {};
  if (::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) return name;
  const int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return std::nullopt;
  DIR* listing = ::fdopendir(listFd);
  if (listing == nullptr) {
    ::close(listFd);
    return std::nullopt;
  }
  std::optional<std::string> found;
  while (const dirent* entry = ::readdir(listing)) {
    if (hostworld::NamesEqual(entry->d_name, name)) {
      found = entry->d_name;
      break;
    }
  }
  ::closedir(listing);
  return found;
}

struct RelativeFolder {
  int fd = -1;
  fs::path held;
};

// The open folder of a handle, or the failure of a handle that is none.
Result<RelativeFolder> FolderOf(World& world, const FileHandle& folder) {
  OpenFile* open = FindOpenFile(world, folder);
  if (open == nullptr) return Failure(error::kInvalidHandle);
  const std::optional<fs::path> held = HeldPath(*open);
  if (!held) return Failure(error::kFileNotFound);
  if (IsLink(*held) || !IsDirectory(*held)) return Failure(error::kDirectory);
  return RelativeFolder{open->Descriptor(), *held};
}

}  // namespace

OpenResult CreateFileRelative(const FileHandle& folder, const std::string& name, std::uint32_t desiredAccess,
                              std::uint32_t shareMode, Disposition disposition) {
  World& world = World::Current();
  std::scoped_lock lock(world.Mutex());
  const auto how = static_cast<std::uint32_t>(disposition);
  if (how < 1 || how > 5) return OpenFailure(error::kInvalidParameter);
  Result<RelativeFolder> dir = FolderOf(world, folder);
  if (!dir) return OpenFailure(dir.error());
  if (!IsOneComponent(name)) return OpenFailure(error::kInvalidName);
  const bool wantsWrite = (desiredAccess & kWriteAccess) != 0;
  const bool wantsRead = (desiredAccess & kReadAccess) != 0;
  if (disposition == Disposition::TruncateExisting && !wantsWrite) return OpenFailure(error::kInvalidParameter);

  const std::optional<std::string> stored = StoredNameIn(dir->fd, name);
  const std::string entry = stored.value_or(name);
  const fs::path hostPath = dir->held / entry;
  const bool exists = stored.has_value();
  if (exists) {
    struct stat info {};
    if (::fstatat(dir->fd, entry.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return OpenFailure(host::ErrorFromErrno(errno));
    }
    // A link or a folder as the name is never opened.
    if (disposition == Disposition::CreateNew) return OpenFailure(error::kFileExists);
    if (S_ISLNK(info.st_mode) || S_ISDIR(info.st_mode)) return OpenFailure(error::kAccessDenied);
  } else if (disposition == Disposition::OpenExisting || disposition == Disposition::TruncateExisting) {
    return OpenFailure(error::kFileNotFound);
  }
  const bool truncate =
      exists && (disposition == Disposition::CreateAlways || disposition == Disposition::TruncateExisting);
  if (wantsWrite || truncate || !exists) {
    if (const ErrorCode denied = UserWriteDenied(world, hostPath, false)) return OpenFailure(denied);
  }
  if (exists) {
    const std::uint32_t attributes = AttributesOf(world, hostPath, false);
    if ((attributes & attribute::kReadOnly) != 0 && (wantsWrite || truncate)) return OpenFailure(error::kAccessDenied);
    if (disposition == Disposition::CreateAlways && (attributes & (attribute::kHidden | attribute::kSystem)) != 0) {
      return OpenFailure(error::kAccessDenied);
    }
    if (host::SharingConflict(world, hostPath, desiredAccess, shareMode)) return OpenFailure(error::kSharingViolation);
  }

  int flags = O_CLOEXEC | O_NOFOLLOW;
  flags |= (truncate || (wantsRead && wantsWrite)) ? O_RDWR : wantsWrite ? O_WRONLY : O_RDONLY;
  if (truncate) flags |= O_TRUNC;
  if (!exists) flags |= O_CREAT | O_EXCL;
  const bool changesDisk = truncate || !exists;
  if (!exists) world.BeforeCreate(hostPath);
  if (changesDisk) world.Cache().BeforeChange();
  const int fd = ::openat(dir->fd, entry.c_str(), flags, 0666);
  if (fd < 0) {
    const int code = errno;
    return OpenFailure(code == EEXIST ? error::kFileExists : code == ELOOP ? error::kAccessDenied
                                                                           : host::ErrorFromErrno(code));
  }
  if (changesDisk) world.Cache().Created(fd);
  if (!exists || disposition == Disposition::CreateAlways) world.SetExtraAttributes(hostPath, 0);
  if (!exists) {
    // What a thread acting for a user creates is that user's.
    const std::optional<std::string> created = world.WindowsPathOf(hostPath);
    if (const std::string* user = host::ImpersonatedUser(); user != nullptr && created) {
      (void)hostworld::SetEntryOwner(*created, *user);
    }
  }
  OpenResult result;
  result.file = FileHandle(world.AddHandle(std::make_unique<OpenFile>(fd, hostPath, desiredAccess, shareMode)));
  const bool reportsExisting =
      exists && (disposition == Disposition::CreateAlways || disposition == Disposition::OpenAlways);
  result.error = reportsExisting ? error::kAlreadyExists : error::kSuccess;
  return result;
}

namespace {

// The open file behind a handle that may rename or delete it: its entry is
// still where the descriptor says, and it is a file.
Result<fs::path> FileForChange(World& world, const FileHandle& file, OpenFile*& open) {
  open = FindOpenFile(world, file);
  if (open == nullptr) return Failure(error::kInvalidHandle);
  if ((open->Access() & (host::access_bit::kDelete | host::access_bit::kGenericAll)) == 0) {
    return Failure(error::kAccessDenied);
  }
  const std::optional<fs::path> held = HeldPath(*open);
  if (!held) return Failure(error::kFileNotFound);
  struct stat mine {};
  struct stat there {};
  if (::fstat(open->Descriptor(), &mine) != 0 || ::lstat(held->c_str(), &there) != 0 ||
      mine.st_dev != there.st_dev || mine.st_ino != there.st_ino) {
    return Failure(error::kFileNotFound);
  }
  if (S_ISDIR(mine.st_mode)) return Failure(error::kAccessDenied);
  return *held;
}

// Other opens of the same file than this handle's own.
bool OthersCollide(const World& world, const OpenFile& self, const fs::path& hostPath) {
  const fs::path key = host::OpenFileKey(hostPath);
  bool conflict = false;
  world.ForEachHandle([&](hostworld::HandleObject& object) {
    auto* other = dynamic_cast<OpenFile*>(&object);
    if (other == nullptr || other == &self || conflict || other->HostPath() != key) return;
    conflict = host::OpensCollide(host::access_bit::kDelete, kShareAll, other->Access(), other->ShareMode());
  });
  return conflict;
}

}  // namespace

Result<void> RenameRelative(const FileHandle& file, const FileHandle& folder, const std::string& name, bool replace) {
  World& world = World::Current();
  std::scoped_lock lock(world.Mutex());
  OpenFile* open = nullptr;
  PW_TRY_ASSIGN(const fs::path from, FileForChange(world, file, open));
  PW_TRY_ASSIGN(const RelativeFolder dir, FolderOf(world, folder));
  if (!IsOneComponent(name)) return Failure(error::kInvalidName);
  struct stat fromInfo {};
  struct stat dirInfo {};
  if (::lstat(from.c_str(), &fromInfo) != 0 || ::fstat(dir.fd, &dirInfo) != 0) return Failure(error::kFileNotFound);
  if (fromInfo.st_dev != dirInfo.st_dev) return Failure(error::kNotSameDevice);
  const std::optional<std::string> stored = StoredNameIn(dir.fd, name);
  const fs::path to = dir.held / stored.value_or(name);
  const bool sameEntry = stored && host::OpenFileKey(to) == host::OpenFileKey(from);
  if (const ErrorCode denied = UserWriteDenied(world, from, false)) return Failure(denied);
  if (const ErrorCode denied = UserWriteDenied(world, to, false)) return Failure(denied);
  if (stored && !sameEntry) {
    if (!replace) return Failure(error::kAlreadyExists);
    struct stat target {};
    if (::fstatat(dir.fd, stored->c_str(), &target, AT_SYMLINK_NOFOLLOW) != 0) return Failure(host::ErrorFromErrno(errno));
    if (S_ISDIR(target.st_mode) || HasReadOnly(world, to)) return Failure(error::kAccessDenied);
    if (host::SharingConflict(world, to, host::access_bit::kDelete, kShareAll)) return Failure(error::kAccessDenied);
  }
  if (OthersCollide(world, *open, from)) return Failure(error::kSharingViolation);
  const std::uint32_t attributes = world.ExtraAttributes(from);
  world.Cache().BeforeChange();
  // The name this call gives may have been taken meanwhile by another process
  // of the world: without replace the host rename never replaces either.
  const std::string target = stored.value_or(name);
  const unsigned int how = (replace || sameEntry) ? 0u : RENAME_NOREPLACE;
  if (::renameat2(AT_FDCWD, from.c_str(), dir.fd, target.c_str(), how) != 0) {
    return Failure(errno == EEXIST ? error::kAlreadyExists : host::ErrorFromErrno(errno));
  }
  world.SetExtraAttributes(from, 0);
  world.SetExtraAttributes(to, attributes);
  // The handle follows its file: later share checks see the new name.
  open->Renamed(to);
  world.AfterRename(to);
  return Success();
}

Result<void> DeleteByHandle(const FileHandle& file) {
  World& world = World::Current();
  std::scoped_lock lock(world.Mutex());
  OpenFile* open = nullptr;
  PW_TRY_ASSIGN(const fs::path path, FileForChange(world, file, open));
  if (HasReadOnly(world, path)) return Failure(error::kAccessDenied);
  if (const ErrorCode denied = UserWriteDenied(world, path, false)) return Failure(denied);
  if (OthersCollide(world, *open, path)) return Failure(error::kSharingViolation);
  world.Cache().BeforeChange();
  // Unlinked at once: the name goes no later than on Windows, when the
  // handle is closed. Only this entry's name: another link to the file stays.
  if (::unlink(path.c_str()) != 0) return Failure(host::ErrorFromErrno(errno));
  world.SetExtraAttributes(path, 0);
  return Success();
}

}  // namespace pw::platform
