#pragma once
// Files and directories with Windows semantics (kernel32's *A calls): names are
// case-insensitive and case-preserving, '\' and '/' both separate, share modes
// are enforced, directories are created one level at a time.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Result.h"
#include "platform/Handle.h"

namespace pw::platform {

namespace access {
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
// DELETE: needed to rename or delete a file through its handle.
inline constexpr std::uint32_t kDelete = 0x00010000u;
}  // namespace access

namespace share {
inline constexpr std::uint32_t kNone = 0;
inline constexpr std::uint32_t kRead = 0x1;
inline constexpr std::uint32_t kWrite = 0x2;
inline constexpr std::uint32_t kDelete = 0x4;
}  // namespace share

enum class Disposition : std::uint32_t {
  CreateNew = 1,
  CreateAlways = 2,
  OpenExisting = 3,
  OpenAlways = 4,
  TruncateExisting = 5,
};

namespace attribute {
inline constexpr std::uint32_t kReadOnly = 0x1;
inline constexpr std::uint32_t kHidden = 0x2;
inline constexpr std::uint32_t kSystem = 0x4;
inline constexpr std::uint32_t kDirectory = 0x10;
inline constexpr std::uint32_t kArchive = 0x20;
inline constexpr std::uint32_t kNormal = 0x80;
// A junction or symbolic link: reported for the link itself, never followed.
inline constexpr std::uint32_t kReparsePoint = 0x400;
}  // namespace attribute

// CreateFileA's flags beyond the attributes.
namespace open_flag {
inline constexpr std::uint32_t kNone = 0;
// FILE_FLAG_BACKUP_SEMANTICS: needed to open a folder.
inline constexpr std::uint32_t kBackupSemantics = 0x02000000u;
// FILE_FLAG_OPEN_REPARSE_POINT: a junction or symbolic link as the last
// component is opened itself instead of being followed.
inline constexpr std::uint32_t kOpenReparsePoint = 0x00200000u;
}  // namespace open_flag

struct FileHandleTraits {
  static RawHandle Invalid() noexcept;
  static void Close(RawHandle handle) noexcept;
};
using FileHandle = ScopedHandle<FileHandleTraits>;

struct [[nodiscard]] OpenResult {
  FileHandle file;
  // The thread's last error after the call: the failure's code, or on success
  // the code the call leaves behind (183 when CREATE_ALWAYS replaced a file).
  ErrorCode error = error::kSuccess;
};

// CreateFileA with no security attributes, FILE_ATTRIBUTE_NORMAL, no template.
OpenResult CreateFile(const std::string& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                      Disposition disposition);
// The same with open flags (open_flag::...). A folder opens only with
// kBackupSemantics, and then only with OpenExisting (or OpenAlways on an
// existing folder); reading or writing such a handle fails.
OpenResult CreateFile(const std::string& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                      Disposition disposition, std::uint32_t flags);

// The path an open handle really reached, links resolved
// (GetFinalPathNameByHandleA with VOLUME_NAME_DOS, without the "\\?\"
// prefix): "C:\Scans\Photo1". nullopt when it cannot be told (before Vista).
std::optional<std::string> FinalPathOfHandle(const FileHandle& file);

// GetFileInformationByHandle: what an open file is, as the handle reached it.
struct FileInformation {
  std::uint32_t attributes = 0;  // attribute::...; kReparsePoint for a link opened itself
  std::uint32_t links = 0;       // its names (nNumberOfLinks): more than one is a hard link
};
std::optional<FileInformation> GetFileInformation(const FileHandle& file);
// The number of names of the open file; nullopt when it cannot be told.
std::optional<std::uint32_t> FileLinkCount(const FileHandle& file);

// Whether an open file is a plain file with one name (no hard link, not a
// link opened itself, not a folder) whose final path lies directly in the
// folder, both with links resolved: a file the caller made or owns there,
// not one that leads elsewhere. False when it cannot be told; before Vista,
// where no final path can be told, the kind and the names are checked.
bool IsSoleFileIn(const FileHandle& file, const std::string& folder);

// ---- Files of an open folder ---------------------------------------------
// A folder opened once (CreateFile with kBackupSemantics) stands for the
// folder itself: a file created, renamed or deleted relative to it lands in
// that folder even when its path is made to lead elsewhere meanwhile. Windows
// Vista and later; where the calls are missing they fail with
// ERROR_CALL_NOT_IMPLEMENTED (120).

// Opens or creates the file named name (one component) in the open folder
// (NtCreateFile with the folder as root directory). A link as the name is
// never followed: CreateNew finds the name taken (80), any other disposition
// fails with ERROR_ACCESS_DENIED; a folder as the name fails with 5 as well.
OpenResult CreateFileRelative(const FileHandle& folder, const std::string& name, std::uint32_t desiredAccess,
                              std::uint32_t shareMode, Disposition disposition);
// Renames the open file to name (one component) in the open folder
// (NtSetInformationFile, FileRenameInformation). Without replace an existing
// entry of that name fails the call with 183; with replace an existing file is
// replaced in one step, a folder never. The handle needs kDelete access.
Result<void> RenameRelative(const FileHandle& file, const FileHandle& folder, const std::string& name,
                            bool replace = false);
// Deletes the open file itself, whatever its name now leads to
// (SetFileInformationByHandle, FileDispositionInfo): its name is gone once the
// handle is closed. The handle needs kDelete access.
Result<void> DeleteByHandle(const FileHandle& file);

struct [[nodiscard]] IoResult {  // not a Result: a failed write still tells how many bytes landed
  bool ok = false;
  std::uint32_t bytes = 0;
  ErrorCode error = error::kSuccess;
};

// Writes the bytes at the given file position (SetFilePointerEx + WriteFile).
// A write that succeeds with fewer bytes written than asked fails here with
// ERROR_WRITE_FAULT (29); bytes tells how many landed.
IoResult WriteFileAt(const FileHandle& file, std::uint64_t offset, std::span<const std::byte> data);
// Reads up to data.size() bytes from the given file position.
IoResult ReadFileAt(const FileHandle& file, std::uint64_t offset, std::span<std::byte> data);
std::optional<std::uint64_t> GetFileSize(const FileHandle& file);
// Sets the end of the file at the given size (SetFilePointerEx + SetEndOfFile):
// cuts what lies beyond, or extends with zeros.
Result<void> SetFileSize(const FileHandle& file, std::uint64_t size);
// FlushFileBuffers: the file's written bytes and its size are on the disk when
// this returns, not only in the system's cache. Needs a handle with write access.
Result<void> FlushFile(const FileHandle& file);

Result<void> DeleteFile(const std::string& path);
// One level: the parent must exist (else 3); an existing entry gives 183.
Result<void> CreateDirectory(const std::string& path);
Result<void> RemoveDirectory(const std::string& path);
// MoveFileExA with MOVEFILE_REPLACE_EXISTING: replaces the target in one step.
// Both moves also pass MOVEFILE_WRITE_THROUGH: the new name is on the disk
// when the call returns.
Result<void> ReplaceFileWith(const std::string& source, const std::string& target);
// MoveFileExA without replacing: renames within the volume and never replaces
// an existing entry (183 when the target exists, file or directory).
Result<void> MoveFileNoReplace(const std::string& source, const std::string& target);

// CreateHardLinkA: a second name for an existing file on the same volume (the
// name must be free: 183; a folder cannot be linked: 5). A write through
// either name is seen through both; deleting one name leaves the other.
Result<void> CreateHardLink(const std::string& newName, const std::string& existingFile);

// GetFileAttributesA: nullopt when the entry does not exist or cannot be reached.
std::optional<std::uint32_t> GetFileAttributes(const std::string& path);
Result<void> SetFileAttributes(const std::string& path, std::uint32_t attributes);
bool FileExists(const std::string& path);       // an entry that is not a directory
bool DirectoryExists(const std::string& path);  // an entry that is a directory

struct FindEntry {
  std::string name;  // as stored, case preserved
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;
};

// A listing in the platform's order, "." and ".." left out.
using FindEntries = std::vector<FindEntry>;

// FindFirstFileA/FindNextFileA over a pattern such as "C:\Scans\Photo1\img*.*",
// with the platform's wildcard rules (`*.*` matches names without a dot).
// Never an empty listing: nothing matched fails with 2 (3 when the folder
// is missing); callers that take nothing as empty use value_or.
Result<FindEntries> FindFiles(const std::string& pattern);

// What a listing fills in: NamesAndAttributes leaves every size 0 and lists a
// large folder faster (FindFirstFileExA with FindExInfoBasic and
// FIND_FIRST_EX_LARGE_FETCH from Windows 7 on).
enum class FindDetail { WithSizes, NamesAndAttributes };
Result<FindEntries> FindFiles(const std::string& pattern, FindDetail detail);

struct DiskFreeSpace {
  std::uint64_t freeBytesAvailableToCaller = 0;
  std::uint64_t totalBytes = 0;
  std::uint64_t totalFreeBytes = 0;
};

// GetDiskFreeSpaceExA: any directory on the volume; UNC paths end with '\'.
Result<DiskFreeSpace> GetDiskFreeSpaceEx(const std::string& directory);

Result<void> SetCurrentDirectory(const std::string& path);
std::string GetCurrentDirectory();

// The file's security descriptor (DACL part) as bytes, for comparing states.
std::optional<std::vector<std::byte>> GetFileDaclBytes(const std::string& path);

}  // namespace pw::platform
