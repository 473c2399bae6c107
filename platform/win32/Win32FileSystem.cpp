#include <algorithm>
#include <cstddef>
#include <limits>
#include <optional>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/winapi/WindowsApi.h"

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


// ---- Files of an open folder ----------------------------------------------

namespace {

// The parts of the native API the relative calls need (winternl.h names).
struct NativeUnicodeString {
  USHORT Length;
  USHORT MaximumLength;
  PWSTR Buffer;
};
struct NativeObjectAttributes {
  ULONG Length;
  HANDLE RootDirectory;
  NativeUnicodeString* ObjectName;
  ULONG Attributes;
  PVOID SecurityDescriptor;
  PVOID SecurityQualityOfService;
};
struct NativeIoStatusBlock {
  union {
    LONG Status;
    PVOID Pointer;
  };
  ULONG_PTR Information;
};
using NtCreateFileFunction = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, NativeObjectAttributes*, NativeIoStatusBlock*,
                                          PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using StatusToErrorFunction = ULONG(NTAPI*)(LONG);
using SetInformationFunction = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);
using NtSetInformationFileFunction = LONG(NTAPI*)(HANDLE, NativeIoStatusBlock*, PVOID, ULONG, ULONG);

constexpr ULONG kObjCaseInsensitive = 0x40;
constexpr ULONG kFileNonDirectoryFile = 0x40;
constexpr ULONG kFileSynchronousIoNonAlert = 0x20;
constexpr ULONG kFileOpenReparsePoint = 0x00200000;
constexpr ULONG kFileRenameInformationClass = 10;  // FileRenameInformation (NtSetInformationFile)
constexpr int kFileDispositionInfoClass = 4;  // FileDispositionInfo

template <typename Function>
Function NativeCall(const char* module, const char* name) {
  HMODULE loaded = ::GetModuleHandleA(module);
  if (loaded == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(loaded, name)));
}

ULONG NativeDisposition(Disposition disposition) {
  switch (disposition) {
    case Disposition::CreateNew:
      return 2;  // FILE_CREATE
    case Disposition::CreateAlways:
      return 5;  // FILE_OVERWRITE_IF
    case Disposition::OpenExisting:
      return 1;  // FILE_OPEN
    case Disposition::OpenAlways:
      return 3;  // FILE_OPEN_IF
    case Disposition::TruncateExisting:
      return 4;  // FILE_OVERWRITE
  }
  return 1;
}

// One component in the ANSI code page, as the *A calls take names.
std::optional<std::wstring> WideComponent(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.find_first_of("\\/:") != std::string::npos) {
    return std::nullopt;
  }
  const int length = ::MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
  if (length <= 0 || length > 255) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), wide.data(), length);
  return wide;
}

OpenResult OpenFailed(ErrorCode code) {
  OpenResult result;
  result.error = code;
  return result;
}

}  // namespace

OpenResult CreateFileRelative(const FileHandle& folder, const std::string& name, std::uint32_t desiredAccess,
                              std::uint32_t shareMode, Disposition disposition) {
  const auto create = NativeCall<NtCreateFileFunction>("ntdll.dll", "NtCreateFile");
  const auto toError = NativeCall<StatusToErrorFunction>("ntdll.dll", "RtlNtStatusToDosError");
  if (create == nullptr || toError == nullptr) return OpenFailed(ERROR_CALL_NOT_IMPLEMENTED);
  if (!folder.valid()) return OpenFailed(ERROR_INVALID_HANDLE);
  std::optional<std::wstring> wide = WideComponent(name);
  if (!wide) return OpenFailed(ERROR_INVALID_NAME);
  NativeUnicodeString objectName{static_cast<USHORT>(wide->size() * sizeof(wchar_t)),
                                 static_cast<USHORT>(wide->size() * sizeof(wchar_t)), wide->data()};
  NativeObjectAttributes attributes{sizeof(NativeObjectAttributes), folder.get(), &objectName, kObjCaseInsensitive,
                                    nullptr, nullptr};
  NativeIoStatusBlock status{};
  HANDLE file = INVALID_HANDLE_VALUE;
  const LONG result = create(&file, desiredAccess | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL,
                             shareMode, NativeDisposition(disposition),
                             kFileNonDirectoryFile | kFileSynchronousIoNonAlert | kFileOpenReparsePoint, nullptr, 0);
  if (result < 0) {
    // A folder of that name answers as CreateFileA does for it.
    const auto code = static_cast<ErrorCode>(toError(result));
    return OpenFailed(code == ERROR_ALREADY_EXISTS ? ErrorCode{ERROR_FILE_EXISTS} : code);
  }
  OpenResult opened;
  opened.file = FileHandle(file);
  // The link itself was opened (FILE_OPEN_REPARSE_POINT): it is not the file asked for.
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return OpenFailed(ERROR_ACCESS_DENIED);
  }
  // FILE_OPENED with OPEN_IF or OVERWRITE_IF: CreateFileA leaves 183 behind.
  constexpr ULONG_PTR kFileOpened = 1;
  constexpr ULONG_PTR kFileOverwritten = 3;
  const bool existed = status.Information == kFileOpened || status.Information == kFileOverwritten;
  opened.error = existed && (disposition == Disposition::OpenAlways || disposition == Disposition::CreateAlways)
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS;
  return opened;
}

Result<void> RenameRelative(const FileHandle& file, const FileHandle& folder, const std::string& name, bool replace) {
  // NtSetInformationFile itself: Wine's SetFileInformationByHandle turns the
  // name into a full DOS path before it looks at the root directory, and so
  // refuses a relative name with 87; the native call takes it on both.
  const auto setInformation = NativeCall<NtSetInformationFileFunction>("ntdll.dll", "NtSetInformationFile");
  const auto toError = NativeCall<StatusToErrorFunction>("ntdll.dll", "RtlNtStatusToDosError");
  if (setInformation == nullptr || toError == nullptr) return Failure(ERROR_CALL_NOT_IMPLEMENTED);
  if (!file.valid() || !folder.valid()) return Failure(ERROR_INVALID_HANDLE);
  const std::optional<std::wstring> wide = WideComponent(name);
  if (!wide) return Failure(ERROR_INVALID_NAME);
  // FILE_RENAME_INFORMATION: a BOOLEAN, the root directory, the name's length in
  // bytes and the name itself, laid out as the structure declares them.
  struct RenameHead {
    BOOLEAN ReplaceIfExists;
    HANDLE RootDirectory;
    DWORD FileNameLength;
    WCHAR FileName[1];
  };
  const std::size_t bytes = offsetof(RenameHead, FileName) + (wide->size() + 1) * sizeof(WCHAR);
  std::vector<std::byte> buffer(bytes + sizeof(RenameHead));
  auto* info = reinterpret_cast<RenameHead*>(buffer.data());
  info->ReplaceIfExists = replace ? TRUE : FALSE;
  info->RootDirectory = folder.get();
  info->FileNameLength = static_cast<DWORD>(wide->size() * sizeof(WCHAR));
  auto* target = reinterpret_cast<WCHAR*>(buffer.data() + offsetof(RenameHead, FileName));
  std::copy(wide->begin(), wide->end(), target);
  target[wide->size()] = L'\0';
  NativeIoStatusBlock status{};
  const LONG result = setInformation(file.get(), &status, info, static_cast<ULONG>(bytes), kFileRenameInformationClass);
  if (result >= 0) return Success();
  const auto code = static_cast<ErrorCode>(toError(result));
  return Failure(code == ERROR_FILE_EXISTS ? ErrorCode{ERROR_ALREADY_EXISTS} : code);
}

Result<void> DeleteByHandle(const FileHandle& file) {
  const auto setInformation = NativeCall<SetInformationFunction>("kernel32.dll", "SetFileInformationByHandle");
  if (setInformation == nullptr) return Failure(ERROR_CALL_NOT_IMPLEMENTED);
  if (!file.valid()) return Failure(ERROR_INVALID_HANDLE);
  BOOLEAN deleteFile = TRUE;  // FILE_DISPOSITION_INFO
  return FromBool(setInformation(file.get(), kFileDispositionInfoClass, &deleteFile, sizeof deleteFile));
}

}  // namespace pw::platform
