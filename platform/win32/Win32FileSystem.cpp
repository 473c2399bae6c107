#include <limits>

#include "platform/FileSystem.h"
#include "platform/win32/WinApi.h"

namespace pw::platform {
namespace {

struct FindHandleTraits {
  static RawHandle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(RawHandle handle) noexcept {
    const DWORD lastError = ::GetLastError();
    ::FindClose(handle);
    ::SetLastError(lastError);
  }
};
using FindHandle = ScopedHandle<FindHandleTraits>;

Result<void> FromBool(BOOL ok) {
  if (ok) return Success();
  return Failure(::GetLastError());
}

bool SeekTo(HANDLE file, std::uint64_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != FALSE;
}

}  // namespace

RawHandle FileHandleTraits::Invalid() noexcept { return INVALID_HANDLE_VALUE; }

void FileHandleTraits::Close(RawHandle handle) noexcept {
  const DWORD lastError = ::GetLastError();
  ::CloseHandle(handle);
  ::SetLastError(lastError);
}

OpenResult CreateFile(const std::string& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                      Disposition disposition) {
  return CreateFile(path, desiredAccess, shareMode, disposition, open_flag::kNone);
}

OpenResult CreateFile(const std::string& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                      Disposition disposition, std::uint32_t flags) {
  // CreateFileA leaves ERROR_ALREADY_EXISTS behind when CREATE_ALWAYS or
  // OPEN_ALWAYS met an existing file; start from zero to see it.
  ::SetLastError(ERROR_SUCCESS);
  HANDLE file = ::CreateFileA(path.c_str(), desiredAccess, shareMode, nullptr, static_cast<DWORD>(disposition),
                              FILE_ATTRIBUTE_NORMAL | flags, nullptr);
  const DWORD lastError = ::GetLastError();
  OpenResult result;
  result.file = FileHandle(file);
  result.error = lastError;
  return result;
}

IoResult WriteFileAt(const FileHandle& file, std::uint64_t offset, std::span<const std::byte> data) {
  if (data.size() > std::numeric_limits<DWORD>::max()) return {false, 0, ERROR_INVALID_PARAMETER};
  if (!SeekTo(file.get(), offset)) return {false, 0, ::GetLastError()};
  DWORD written = 0;
  if (!::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr)) {
    return {false, written, ::GetLastError()};
  }
  // WriteFile can succeed having written fewer bytes than asked: the caller
  // cannot rely on the bytes being there.
  if (written < data.size()) return {false, written, ERROR_WRITE_FAULT};
  return {true, written, ERROR_SUCCESS};
}

Result<void> SetFileSize(const FileHandle& file, std::uint64_t size) {
  if (!SeekTo(file.get(), size)) return Failure(::GetLastError());
  return FromBool(::SetEndOfFile(file.get()));
}

Result<void> FlushFile(const FileHandle& file) { return FromBool(::FlushFileBuffers(file.get())); }

IoResult ReadFileAt(const FileHandle& file, std::uint64_t offset, std::span<std::byte> data) {
  if (data.size() > std::numeric_limits<DWORD>::max()) return {false, 0, ERROR_INVALID_PARAMETER};
  if (!SeekTo(file.get(), offset)) return {false, 0, ::GetLastError()};
  DWORD got = 0;
  if (!::ReadFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &got, nullptr)) {
    return {false, got, ::GetLastError()};
  }
  return {true, got, ERROR_SUCCESS};
}

std::optional<std::uint64_t> GetFileSize(const FileHandle& file) {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.get(), &size)) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

Result<void> DeleteFile(const std::string& path) { return FromBool(::DeleteFileA(path.c_str())); }

Result<void> CreateDirectory(const std::string& path) { return FromBool(::CreateDirectoryA(path.c_str(), nullptr)); }

Result<void> CreateHardLink(const std::string& newName, const std::string& existingFile) {
  return FromBool(::CreateHardLinkA(newName.c_str(), existingFile.c_str(), nullptr));
}

std::optional<FileInformation> GetFileInformation(const FileHandle& file) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!file.valid() || !::GetFileInformationByHandle(file.get(), &information)) return std::nullopt;
  return FileInformation{information.dwFileAttributes, information.nNumberOfLinks};
}

std::optional<std::uint32_t> FileLinkCount(const FileHandle& file) {
  const std::optional<FileInformation> information = GetFileInformation(file);
  if (!information) return std::nullopt;
  return information->links;
}

Result<void> RemoveDirectory(const std::string& path) { return FromBool(::RemoveDirectoryA(path.c_str())); }

Result<void> ReplaceFileWith(const std::string& source, const std::string& target) {
  return FromBool(::MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

Result<void> MoveFileNoReplace(const std::string& source, const std::string& target) {
  return FromBool(::MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH));
}

std::optional<std::uint32_t> GetFileAttributes(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return attributes;
}

Result<void> SetFileAttributes(const std::string& path, std::uint32_t attributes) {
  return FromBool(::SetFileAttributesA(path.c_str(), attributes));
}

bool FileExists(const std::string& path) {
  auto attributes = GetFileAttributes(path);
  return attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
  auto attributes = GetFileAttributes(path);
  return attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

Result<FindEntries> FindFiles(const std::string& pattern) { return FindFiles(pattern, FindDetail::WithSizes); }

Result<FindEntries> FindFiles(const std::string& pattern, FindDetail detail) {
  FindEntries entries;
  WIN32_FIND_DATAA data{};
  const bool basic = detail == FindDetail::NamesAndAttributes;
  FindHandle find(basic ? ::FindFirstFileExA(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                             FIND_FIRST_EX_LARGE_FETCH)
                        : ::FindFirstFileA(pattern.c_str(), &data));
  // Before Windows 7 the basic level and the large fetch are refused.
  if (!find && basic && ::GetLastError() == ERROR_INVALID_PARAMETER) find.reset(::FindFirstFileA(pattern.c_str(), &data));
  if (!find) return Failure(::GetLastError());
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    FindEntry entry;
    entry.name = name;
    entry.attributes = data.dwFileAttributes;
    if (!basic) entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    entries.push_back(std::move(entry));
  } while (::FindNextFileA(find.get(), &data));
  const DWORD lastError = ::GetLastError();
  if (lastError != ERROR_NO_MORE_FILES) return Failure(lastError);
  // A listing that held only "." and ".." found nothing.
  if (entries.empty()) return Failure(ERROR_FILE_NOT_FOUND);
  return entries;
}

Result<DiskFreeSpace> GetDiskFreeSpaceEx(const std::string& directory) {
  ULARGE_INTEGER available;
  ULARGE_INTEGER total;
  ULARGE_INTEGER totalFree;
  if (!::GetDiskFreeSpaceExA(directory.empty() ? nullptr : directory.c_str(), &available, &total, &totalFree)) {
    return Failure(::GetLastError());
  }
  return DiskFreeSpace{available.QuadPart, total.QuadPart, totalFree.QuadPart};
}

Result<void> SetCurrentDirectory(const std::string& path) { return FromBool(::SetCurrentDirectoryA(path.c_str())); }

std::string GetCurrentDirectory() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = ::GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(length);  // length is the size needed, with the terminating zero
  }
}

std::optional<std::vector<std::byte>> GetFileDaclBytes(const std::string& path) {
  DWORD needed = 0;
  ::GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  if (needed == 0) return std::nullopt;
  std::vector<std::byte> descriptor(needed);
  if (!::GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed)) {
    return std::nullopt;
  }
  descriptor.resize(needed);
  return descriptor;
}

std::optional<std::string> FinalPathOfHandle(const FileHandle& file) {
  // Vista and later: looked up at run time.
  using FinalPathFunction = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
  const auto finalPath = reinterpret_cast<FinalPathFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
  if (finalPath == nullptr || !file.valid()) return std::nullopt;
  std::string path(MAX_PATH, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length = finalPath(file.get(), path.data(), static_cast<DWORD>(path.size()), VOLUME_NAME_DOS);
    if (length == 0) return std::nullopt;
    if (length < path.size()) {
      path.resize(length);
      // "\\?\C:\..." and "\\?\UNC\server\share\...".
      if (path.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + path.substr(8);
      if (path.rfind("\\\\?\\", 0) == 0) return path.substr(4);
      return path;
    }
    path.assign(length, '\0');  // the size it needs, its terminating zero included
  }
  return std::nullopt;
}

}  // namespace pw::platform
