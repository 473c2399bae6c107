#pragma once
// The simulated Windows world of the host backend: drive letters mapped to
// folders, devices on removable drives, version and special folders, and the
// handle table behind the platform's handles. A test builds one in a few lines;
// while a World object lives it is the world every platform call works in.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <deque>
#include <thread>
#include <vector>

#include "platform/Errors.h"
#include "platform/Handle.h"
#include "platform/StorageDevice.h"
#include "platform/SystemInfo.h"
#include "platform/hostworld/Desktop.h"
#include "platform/hostworld/SynchronousIo.h"
#include "platform/hostworld/WriteCache.h"

namespace pw::hostworld {

class ServiceManager;
class SessionTable;

// MAX_PATH: the longest path the program's *A file calls take is one less.
inline constexpr std::size_t kMaxPath = 260;

// Something that answers a volume's I/O controls: the scanner simulator. It
// receives the input bytes exactly as the program built them and writes its
// reply into the output bytes.
class Device {
 public:
  virtual ~Device() = default;
  virtual platform::IoControlResult IoControl(std::uint32_t controlCode, std::span<const std::byte> input,
                                              std::span<std::byte> output) = 0;
};

struct Drive {
  char letter = 'C';
  std::filesystem::path folder;
  platform::DriveType type = platform::DriveType::Fixed;
  std::optional<std::uint64_t> freeBytes;             // overrides the host file system's figure
  std::optional<platform::ErrorCode> freeSpaceError;  // makes the free-space query fail
  std::shared_ptr<Device> device;
};

// A fault of the writes to a drive or to one file of the world: WriteFile on
// an open file and the private-profile writes go through it. Writes are
// counted from the moment the fault is set.
struct WriteFault {
  enum class Kind {
    Fail,      // the nth write fails, writing nothing
    Short,     // the nth write succeeds but writes only shortBytes of its bytes
    DiskFull,  // once capacity bytes have been written, a write that does not fit fails, writing nothing
  };
  Kind kind = Kind::Fail;
  std::uint32_t nth = 1;
  std::uint32_t shortBytes = 0;
  std::uint64_t capacity = 0;
  platform::ErrorCode error = platform::error::kWriteFault;

  // ERROR_WRITE_FAULT (29) by default, as a failing medium gives it.
  static WriteFault FailWrite(std::uint32_t nth, platform::ErrorCode error = platform::error::kWriteFault) {
    return {Kind::Fail, nth, 0, 0, error};
  }
  static WriteFault ShortWrite(std::uint32_t nth, std::uint32_t bytesWritten) {
    return {Kind::Short, nth, bytesWritten, 0, platform::error::kSuccess};
  }
  // ERROR_DISK_FULL (112); ERROR_HANDLE_DISK_FULL (39) is what some writes report instead.
  static WriteFault DiskFullAfter(std::uint64_t bytes, platform::ErrorCode error = platform::error::kDiskFull) {
    return {Kind::DiskFull, 0, 0, bytes, error};
  }
};

// What a write of some bytes may do under the world's write faults.
struct WriteAllowance {
  bool ok = true;
  std::size_t bytes = 0;  // how many of the bytes land
  platform::ErrorCode error = platform::error::kSuccess;
};

// An object behind a RawHandle of the host backend (an open file, a volume).
class HandleObject {
 public:
  virtual ~HandleObject() = default;
};

// A Windows path resolved onto the host file system, component by component.
struct ResolvedPath {
  platform::ErrorCode error = platform::error::kSuccess;  // 3 (no such drive or parent), 123 (bad name)
  std::filesystem::path hostPath;  // existing components with their stored case, the rest as given
  std::string windowsPath;         // absolute, '\' separated, trailing dots and spaces dropped
  bool exists = false;             // the whole path names an existing entry
  bool parentExists = false;       // every component but the last exists and is a directory
  bool isRoot = false;             // the path is a drive root
};

class World {
 public:
  struct Options {
    // Folder that holds the world's drives; empty: a fresh temporary folder,
    // removed again with the world.
    std::filesystem::path root;
  };

  World();
  explicit World(Options options);
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  // The world in force. Exactly one world exists at a time.
  static World& Current();
  static World* CurrentOrNull();

  const std::filesystem::path& Root() const { return root_; }

  // Drives. C: (fixed, the world's drive_c) and Z: (fixed, the host's "/", so
  // the running executable has a Windows path as under Wine) exist from the start.
  void MapDrive(char letter, std::filesystem::path folder, platform::DriveType type);
  void UnmapDrive(char letter);
  // Maps a new folder of the world (root/drive_<letter>) and returns it.
  std::filesystem::path AddDrive(char letter, platform::DriveType type);
  std::optional<Drive> FindDrive(char letter) const;
  std::vector<Drive> Drives() const;
  void SetDriveFreeBytes(char letter, std::optional<std::uint64_t> freeBytes);
  void SetDriveFreeSpaceError(char letter, std::optional<platform::ErrorCode> error);
  void AttachDevice(char letter, std::shared_ptr<Device> device);
  void DetachDevice(char letter);

  // System information.
  platform::OsVersionInfo Version() const;
  void SetVersion(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor, std::uint32_t build,
                  std::string_view servicePack = {});
  std::optional<std::string> WindowsDirectory() const;
  void SetWindowsDirectory(std::optional<std::string> path);
  std::string ModuleFileName() const;
  void SetModuleFileName(std::string path);
  std::optional<std::string> SpecialFolder(int csidl) const;
  void SetSpecialFolder(int csidl, std::optional<std::string> path);
  // The DWORD values of the program's key in HKEY_LOCAL_MACHINE (names
  // compared ignoring case, as the registry does), in the world's folder so
  // every process of the world reads them; nullopt removes one.
  std::optional<std::uint32_t> MachinePolicyDword(std::string_view name) const;
  void SetMachinePolicyDword(std::string_view name, std::optional<std::uint32_t> value);

  // Paths. Relative paths start from the current directory.
  ResolvedPath Resolve(std::string_view windowsPath) const;
  // The host path of a Windows path; throws std::invalid_argument off the drives.
  std::filesystem::path HostPath(std::string_view windowsPath) const;
  // The Windows path of a host path below one of the drives (Z: as the last resort).
  std::optional<std::string> WindowsPathOf(const std::filesystem::path& hostPath) const;
  std::string CurrentDirectory() const;
  void SetCurrentDirectoryText(std::string path);
  // The Windows path of the entry a host path really reaches, every link
  // resolved (the last component too unless followLast is false); a missing
  // last component is kept as given. nullopt off the drives.
  std::optional<std::string> FinalWindowsPathOf(const std::filesystem::path& hostPath, bool followLast = true) const;

  // Links, as a standard user may make them: a junction (a folder link; the
  // target need not exist) and a symbolic link to a file. Both are host
  // symbolic links to the target's host path, so every open follows them
  // unless told not to, as on Windows. The link's name must be free and its
  // folder exist; throws std::invalid_argument otherwise.
  void CreateJunction(std::string_view linkWindowsPath, std::string_view targetWindowsPath) const;
  void CreateFileSymlink(std::string_view linkWindowsPath, std::string_view targetWindowsPath) const;
  // A hard link: a second name of an existing file (a host hard link, so a
  // write through either name changes both and each name counts in the
  // file's links). Made as NtSetInformationFile(FileLinkInformation) makes
  // it, without write access to the file; the same rules for the name.
  void CreateHardLink(std::string_view linkWindowsPath, std::string_view targetWindowsPath) const;

  // Test code: runs on the creating thread, under the world's lock, just
  // before a file is created (its host path as the call will create it), so
  // a test can change the world at that very moment. Empty: none.
  void SetCreateObserver(std::function<void(const std::filesystem::path&)> observer);
  // For the backend: a file is about to be created at hostPath.
  void BeforeCreate(const std::filesystem::path& hostPath);
  // Test code: runs on the renaming thread, under the world's lock, just
  // after an entry took a new name (its host path), so a test can act at
  // that very moment, as another program opening a fresh file does. Empty: none.
  void SetRenameObserver(std::function<void(const std::filesystem::path&)> observer);
  // For the backend: an entry has just been renamed to hostPath.
  void AfterRename(const std::filesystem::path& hostPath);

  // Write faults, per drive letter or per file (a Windows path). Test code:
  //   world.SetWriteFault('C', hostworld::WriteFault::DiskFullAfter(4096));
  void SetWriteFault(char letter, WriteFault fault);
  void SetWriteFault(std::string_view windowsPath, WriteFault fault);
  void ClearWriteFaults();
  // For the backend: how a write of size bytes to hostPath goes; counts it.
  // A free-space figure set for its drive goes down by the bytes written.
  WriteAllowance AllowWrite(const std::filesystem::path& hostPath, std::size_t size);

  // Attributes the host file system lacks (read-only, hidden, system), by host path.
  std::uint32_t ExtraAttributes(const std::filesystem::path& hostPath) const;
  bool HasExtraAttributes() const;
  void SetExtraAttributes(const std::filesystem::path& hostPath, std::uint32_t attributes);

  // Handles of the platform layer.
  platform::RawHandle AddHandle(std::unique_ptr<HandleObject> object);
  HandleObject* FindHandle(platform::RawHandle handle) const;
  bool CloseHandle(platform::RawHandle handle);
  void ForEachHandle(const std::function<void(HandleObject&)>& visit) const;

  // Windows, message queues, timers, dialogs and the shell's notification area.
  hostworld::Desktop& Desktop() const { return *desktop_; }

  // The service control manager; its database is in the world's folder.
  ServiceManager& Services() const { return *services_; }

  // Terminal-services sessions: users logging on and off (WorldSessions.h).
  SessionTable& UserSessions() const { return *sessions_; }

  // The journal of what the world's processes of their own showed on their
  // sessions' screens (ScreenJournal.h).
  std::filesystem::path ScreenJournalFile() const { return Root() / "screen-journal"; }

  // What the system's write cache holds that a power cut would lose, and the
  // crash plan a process may take (WriteCache.h).
  WriteCache& Cache() const { return writeCache_; }

  // The device requests the world's threads are blocked in, for their
  // cancellation from another thread (SynchronousIo.h).
  SynchronousIo& PendingIo() const { return pendingIo_; }

  // Test conveniences working on Windows paths.
  void WriteFile(std::string_view windowsPath, std::string_view bytes) const;
  std::string ReadFile(std::string_view windowsPath) const;
  void MakeDirectories(std::string_view windowsPath) const;

  std::recursive_mutex& Mutex() const { return mutex_; }

 private:
  WriteAllowance AllowWriteUnderFaults(const std::filesystem::path& hostPath, std::size_t size);
  std::filesystem::path root_;
  bool ownsRoot_ = false;
  mutable std::recursive_mutex mutex_;
  std::map<char, Drive> drives_;
  platform::OsVersionInfo version_{};
  std::optional<std::string> windowsDirectory_;
  std::string moduleFileName_;
  std::map<int, std::optional<std::string>> specialFolders_;
  std::string currentDirectory_;
  std::map<std::filesystem::path, std::uint32_t> extraAttributes_;
  struct WriteFaultRule {
    std::optional<char> letter;
    std::string windowsPath;
    WriteFault fault;
    std::uint32_t writes = 0;
    std::uint64_t bytes = 0;
  };
  std::vector<WriteFaultRule> writeFaults_;
  std::map<std::uintptr_t, std::unique_ptr<HandleObject>> handles_;
  std::unique_ptr<hostworld::Desktop> desktop_;
  std::unique_ptr<ServiceManager> services_;
  std::unique_ptr<SessionTable> sessions_;
  mutable WriteCache writeCache_;
  std::function<void(const std::filesystem::path&)> createObserver_;
  std::function<void(const std::filesystem::path&)> renameObserver_;
  mutable SynchronousIo pendingIo_;
};

// Case-insensitive comparison of ANSI names as Windows volumes do it
// (SameTextIgnoringCase).
bool NamesEqual(std::string_view a, std::string_view b);

}  // namespace pw::hostworld
