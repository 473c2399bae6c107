#include "platform/hostworld/World.h"

#include "platform/ScopeExit.h"
#include "platform/hostworld/CaseFolding.h"
#include "platform/hostworld/ServiceManager.h"
#include "platform/hostworld/WorldSessions.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace pw::hostworld {
namespace fs = std::filesystem;
using platform::DriveType;
using platform::ErrorCode;
namespace error = platform::error;

namespace {

std::atomic<World*> g_current{nullptr};

// Handle ids are never reused, not even by a later world, so that a handle
// left over from an earlier world cannot close an object of the current one.
std::atomic<std::uintptr_t> g_nextHandle{0x100};

char UpperLetter(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool IsDriveLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

fs::path MakeTemporaryRoot() {
  std::string pattern = (fs::temp_directory_path() / "pagewick-world-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::system_error(errno, std::generic_category(), "mkdtemp");
  return fs::path(pattern);
}

fs::path ExecutablePath() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path("/pagewick") : exe;
}

// Characters Windows refuses in a file name.
bool HasInvalidNameCharacter(std::string_view name) {
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    if (u < 32 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*') return true;
  }
  return false;
}

// Windows drops trailing dots and spaces of every path component.
std::string_view TrimTrailingDotsAndSpaces(std::string_view name) {
  if (name == "." || name == "..") return name;
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
  return name;
}

std::vector<std::string> SplitComponents(std::string_view path) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (c == '\\' || c == '/') {
      if (!current.empty()) parts.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) parts.push_back(std::move(current));
  return parts;
}

// Finds the entry of dir whose name matches name case-insensitively. The exact
// name is tried first, so large folders are scanned only on a miss.
std::optional<std::string> FindEntryName(const fs::path& dir, const std::string& name) {
  std::error_code ec;
  if (fs::symlink_status(dir / name, ec).type() != fs::file_type::not_found && !ec) return name;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string entry = it->path().filename().string();
    if (NamesEqual(entry, name)) return entry;
  }
  return std::nullopt;
}

}  // namespace

bool NamesEqual(std::string_view a, std::string_view b) { return SameTextIgnoringCase(a, b); }

World::World() : World(Options{}) {}

World::World(Options options) : desktop_(std::make_unique<hostworld::Desktop>(*this)) {
  if (options.root.empty()) {
    root_ = MakeTemporaryRoot();
    ownsRoot_ = true;
  } else {
    root_ = fs::absolute(options.root);
    fs::create_directories(root_);
  }
  // A constructor that throws runs no destructor: a temporary root made above
  // goes again unless the world comes to exist.
  ScopeExit removeRoot([this] {
    services_.reset();
    std::error_code ec;
    if (ownsRoot_) fs::remove_all(root_, ec);
  });
  AddDrive('C', DriveType::Fixed);
  MapDrive('Z', "/", DriveType::Fixed);

  // What GetVersionExA reports to a program without a compatibility manifest
  // on Windows 8 and later.
  // Set here without the world's file: a process attached to the folder of
  // another world reads the version that world's test set.
  version_.size = platform::kOsVersionInfoSize;
  version_.platformId = platform::kPlatformNt;
  version_.majorVersion = 6;
  version_.minorVersion = 2;
  version_.buildNumber = 9200;
  windowsDirectory_ = "C:\\Windows";
  specialFolders_[platform::csidl::kCommonDocuments] = "C:\\Users\\Public\\Documents";
  specialFolders_[platform::csidl::kCommonPictures] = "C:\\Users\\Public\\Pictures";
  specialFolders_[platform::csidl::kCommonAppData] = "C:\\ProgramData";
  currentDirectory_ = "C:\\";
  moduleFileName_ = WindowsPathOf(ExecutablePath()).value_or("Z:\\pagewick.exe");
  MakeDirectories("C:\\Windows");
  MakeDirectories("C:\\Users\\Public\\Documents");
  MakeDirectories("C:\\Users\\Public\\Pictures");
  MakeDirectories("C:\\ProgramData");
  services_ = std::make_unique<ServiceManager>(*this);
  sessions_ = std::make_unique<SessionTable>(*this);

  World* expected = nullptr;
  if (!g_current.compare_exchange_strong(expected, this)) {
    throw std::logic_error("a host World already exists");
  }
  removeRoot.Dismiss();
}

World::~World() {
  sessions_.reset();
  services_.reset();
  desktop_.reset();
  handles_.clear();
  g_current.store(nullptr);
  if (ownsRoot_) {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
}

World& World::Current() {
  World* world = g_current.load();
  if (world == nullptr) throw std::logic_error("no host World exists");
  return *world;
}

World* World::CurrentOrNull() { return g_current.load(); }

void World::MapDrive(char letter, fs::path folder, DriveType type) {
  std::scoped_lock lock(mutex_);
  Drive drive;
  drive.letter = UpperLetter(letter);
  drive.folder = std::move(folder);
  drive.type = type;
  drives_[drive.letter] = std::move(drive);
}

void World::UnmapDrive(char letter) {
  std::scoped_lock lock(mutex_);
  drives_.erase(UpperLetter(letter));
}

fs::path World::AddDrive(char letter, DriveType type) {
  fs::path folder = root_ / (std::string("drive_") + static_cast<char>(std::tolower(static_cast<unsigned char>(letter))));
  fs::create_directories(folder);
  MapDrive(letter, folder, type);
  return folder;
}

std::optional<Drive> World::FindDrive(char letter) const {
  std::scoped_lock lock(mutex_);
  auto it = drives_.find(UpperLetter(letter));
  if (it == drives_.end()) return std::nullopt;
  return it->second;
}

std::vector<Drive> World::Drives() const {
  std::scoped_lock lock(mutex_);
  std::vector<Drive> result;
  for (const auto& [letter, drive] : drives_) result.push_back(drive);
  return result;
}

void World::SetDriveFreeBytes(char letter, std::optional<std::uint64_t> freeBytes) {
  std::scoped_lock lock(mutex_);
  auto it = drives_.find(UpperLetter(letter));
  if (it == drives_.end()) throw std::invalid_argument("no such drive");
  it->second.freeBytes = freeBytes;
}

void World::SetDriveFreeSpaceError(char letter, std::optional<ErrorCode> code) {
  std::scoped_lock lock(mutex_);
  auto it = drives_.find(UpperLetter(letter));
  if (it == drives_.end()) throw std::invalid_argument("no such drive");
  it->second.freeSpaceError = code;
}

// Plugging and unplugging a device is announced to every top-level window, as
// the system broadcasts WM_DEVICECHANGE.
void World::AttachDevice(char letter, std::shared_ptr<Device> device) {
  {
    std::scoped_lock lock(mutex_);
    auto it = drives_.find(UpperLetter(letter));
    if (it == drives_.end()) throw std::invalid_argument("no such drive");
    it->second.device = std::move(device);
  }
  desktop_->BroadcastDeviceChange(platform::kDbtDeviceArrival);
}

void World::DetachDevice(char letter) {
  bool detached = false;
  {
    std::scoped_lock lock(mutex_);
    auto it = drives_.find(UpperLetter(letter));
    if (it != drives_.end() && it->second.device) {
      it->second.device.reset();
      detached = true;
    }
  }
  if (detached) desktop_->BroadcastDeviceChange(platform::kDbtDeviceRemoveComplete);
}

// The version a test set is kept in the world's folder, so the world's other
// processes (the program started by the control manager) report it too.
platform::OsVersionInfo World::Version() const {
  std::scoped_lock lock(mutex_);
  platform::OsVersionInfo version = version_;
  std::ifstream in(root_ / "version");
  std::uint32_t platformId = 0, major = 0, minor = 0, build = 0;
  if (in >> platformId >> major >> minor >> build) {
    version.platformId = platformId;
    version.majorVersion = major;
    version.minorVersion = minor;
    version.buildNumber = build;
  }
  return version;
}

void World::SetVersion(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor, std::uint32_t build,
                       std::string_view servicePack) {
  std::scoped_lock lock(mutex_);
  version_ = {};
  version_.size = platform::kOsVersionInfoSize;
  version_.platformId = platformId;
  version_.majorVersion = major;
  version_.minorVersion = minor;
  version_.buildNumber = build;
  servicePack = servicePack.substr(0, version_.csdVersion.size() - 1);
  std::copy(servicePack.begin(), servicePack.end(), version_.csdVersion.begin());
  std::ofstream(root_ / "version") << platformId << ' ' << major << ' ' << minor << ' ' << build << '\n';
}

std::optional<std::string> World::WindowsDirectory() const {
  std::scoped_lock lock(mutex_);
  return windowsDirectory_;
}

void World::SetWindowsDirectory(std::optional<std::string> path) {
  std::scoped_lock lock(mutex_);
  windowsDirectory_ = std::move(path);
}

std::string World::ModuleFileName() const {
  std::scoped_lock lock(mutex_);
  return moduleFileName_;
}

void World::SetModuleFileName(std::string path) {
  std::scoped_lock lock(mutex_);
  moduleFileName_ = std::move(path);
}

namespace {

// The machine policy file: one "name value" line per DWORD value.
std::vector<std::pair<std::string, std::uint32_t>> ReadPolicyFile(const std::filesystem::path& file) {
  std::vector<std::pair<std::string, std::uint32_t>> values;
  std::ifstream in(file);
  std::string name;
  std::uint32_t value = 0;
  while (in >> name >> value) values.emplace_back(name, value);
  return values;
}

}  // namespace

std::optional<std::uint32_t> World::MachinePolicyDword(std::string_view name) const {
  std::scoped_lock lock(mutex_);
  for (const auto& [stored, value] : ReadPolicyFile(root_ / "machine-policy")) {
    if (SameTextIgnoringCase(stored, name)) return value;
  }
  return std::nullopt;
}

void World::SetMachinePolicyDword(std::string_view name, std::optional<std::uint32_t> value) {
  if (name.empty() || name.find_first_of(" \t\r\n") != std::string_view::npos) {
    throw std::invalid_argument("a policy value's name is one word");
  }
  std::scoped_lock lock(mutex_);
  const std::filesystem::path file = root_ / "machine-policy";
  std::vector<std::pair<std::string, std::uint32_t>> values = ReadPolicyFile(file);
  std::erase_if(values, [&](const auto& entry) { return SameTextIgnoringCase(entry.first, name); });
  if (value) values.emplace_back(std::string(name), *value);
  // Replaced whole, so another process never reads half a file.
  const std::filesystem::path written = root_ / "machine-policy.new";
  {
    std::ofstream out(written, std::ios::trunc);
    for (const auto& [stored, number] : values) out << stored << ' ' << number << '\n';
  }
  std::filesystem::rename(written, file);
}

std::optional<std::string> World::SpecialFolder(int csidl) const {
  std::scoped_lock lock(mutex_);
  auto it = specialFolders_.find(csidl);
  if (it == specialFolders_.end()) return std::nullopt;
  return it->second;
}

void World::SetSpecialFolder(int csidl, std::optional<std::string> path) {
  std::scoped_lock lock(mutex_);
  specialFolders_[csidl] = std::move(path);
}

std::string World::CurrentDirectory() const {
  std::scoped_lock lock(mutex_);
  return currentDirectory_;
}

void World::SetCurrentDirectoryText(std::string path) {
  std::scoped_lock lock(mutex_);
  currentDirectory_ = std::move(path);
}

ResolvedPath World::Resolve(std::string_view windowsPath) const {
  std::scoped_lock lock(mutex_);
  ResolvedPath result;
  std::string text(windowsPath);
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  if (text.empty()) {
    result.error = error::kPathNotFound;
    return result;
  }
  // UNC and device paths do not name files of a drive.
  if (text.size() >= 2 && text[0] == '\\' && text[1] == '\\') {
    result.error = error::kPathNotFound;
    return result;
  }

  char letter = 0;
  std::string rest;
  if (text.size() >= 2 && IsDriveLetter(text[0]) && text[1] == ':') {
    letter = UpperLetter(text[0]);
    rest = text.substr(2);
    if (rest.empty() || rest[0] != '\\') {
      // Drive-relative: from the current directory when it is on that drive.
      if (!currentDirectory_.empty() && UpperLetter(currentDirectory_[0]) == letter) {
        rest = currentDirectory_.substr(2) + "\\" + rest;
      } else {
        rest = "\\" + rest;
      }
    }
  } else if (text[0] == '\\') {
    letter = currentDirectory_.empty() ? 'C' : UpperLetter(currentDirectory_[0]);
    rest = text;
  } else {
    letter = currentDirectory_.empty() ? 'C' : UpperLetter(currentDirectory_[0]);
    rest = (currentDirectory_.size() > 2 ? currentDirectory_.substr(2) : std::string("\\")) + "\\" + text;
  }

  auto drive = drives_.find(letter);
  if (drive == drives_.end()) {
    result.error = error::kPathNotFound;
    return result;
  }

  std::vector<std::string> components;
  for (std::string& part : SplitComponents(rest)) {
    std::string_view trimmed = TrimTrailingDotsAndSpaces(part);
    if (trimmed == ".") continue;
    if (trimmed == "..") {
      if (!components.empty()) components.pop_back();
      continue;
    }
    if (trimmed.empty()) continue;
    if (HasInvalidNameCharacter(trimmed)) {
      result.error = error::kInvalidName;
      return result;
    }
    components.emplace_back(trimmed);
  }

  result.windowsPath = std::string(1, letter) + ":\\";
  fs::path host = drive->second.folder;
  std::error_code ec;
  bool present = fs::is_directory(host, ec);
  result.isRoot = components.empty();
  result.exists = present && components.empty();
  result.parentExists = present;
  for (std::size_t i = 0; i < components.size(); ++i) {
    const bool last = i + 1 == components.size();
    if (i > 0) result.windowsPath += '\\';
    if (present) {
      bool directory = fs::is_directory(host, ec);
      if (!directory) {
        present = false;
      } else if (auto stored = FindEntryName(host, components[i])) {
        host /= *stored;
        result.windowsPath += *stored;
        if (last) result.exists = true;
        continue;
      } else {
        if (last) result.parentExists = true;
        present = false;
        host /= components[i];
        result.windowsPath += components[i];
        continue;
      }
    }
    if (last) result.parentExists = false;
    host /= components[i];
    result.windowsPath += components[i];
  }
  if (!components.empty() && result.exists) {
    // The parent of an existing entry exists as a directory.
    result.parentExists = true;
  }
  result.hostPath = host;
  return result;
}

fs::path World::HostPath(std::string_view windowsPath) const {
  ResolvedPath resolved = Resolve(windowsPath);
  if (resolved.error != error::kSuccess) throw std::invalid_argument("not a path of the world: " + std::string(windowsPath));
  return resolved.hostPath;
}

std::optional<std::string> World::WindowsPathOf(const fs::path& hostPath) const {
  std::scoped_lock lock(mutex_);
  fs::path target = hostPath.lexically_normal();
  const Drive* best = nullptr;
  std::size_t bestLength = 0;
  for (const auto& [letter, drive] : drives_) {
    fs::path folder = drive.folder.lexically_normal();
    auto mismatch = std::mismatch(folder.begin(), folder.end(), target.begin(), target.end());
    bool prefix = mismatch.first == folder.end() || (mismatch.first->empty() && std::next(mismatch.first) == folder.end());
    if (!prefix) continue;
    std::size_t length = folder.string().size();
    if (best == nullptr || length > bestLength) {
      best = &drive;
      bestLength = length;
    }
  }
  if (best == nullptr) return std::nullopt;
  fs::path relative = target.lexically_relative(best->folder.lexically_normal());
  std::string result = std::string(1, best->letter) + ":\\";
  std::string rel = relative.string();
  if (rel == ".") rel.clear();
  for (char& c : rel) {
    if (c == '/') c = '\\';
  }
  return result + rel;
}

std::optional<std::string> World::FinalWindowsPathOf(const fs::path& hostPath, bool followLast) const {
  std::error_code ec;
  fs::path reached;
  if (followLast) {
    reached = fs::weakly_canonical(hostPath, ec);
  } else {
    reached = fs::weakly_canonical(hostPath.parent_path(), ec) / hostPath.filename();
  }
  if (ec) return std::nullopt;
  std::scoped_lock lock(mutex_);
  // Drive folders are compared in their real form too: the world's root may
  // itself lie below a link.
  const Drive* best = nullptr;
  fs::path bestFolder;
  for (const auto& [letter, drive] : drives_) {
    std::error_code folderError;
    fs::path folder = fs::weakly_canonical(drive.folder, folderError);
    if (folderError) continue;
    auto mismatch = std::mismatch(folder.begin(), folder.end(), reached.begin(), reached.end());
    const bool prefix =
        mismatch.first == folder.end() || (mismatch.first->empty() && std::next(mismatch.first) == folder.end());
    if (!prefix) continue;
    if (best == nullptr || folder.string().size() > bestFolder.string().size()) {
      best = &drive;
      bestFolder = folder;
    }
  }
  if (best == nullptr) return std::nullopt;
  std::string rel = reached.lexically_relative(bestFolder).string();
  if (rel == ".") rel.clear();
  for (char& c : rel) {
    if (c == '/') c = '\\';
  }
  return std::string(1, best->letter) + ":\\" + rel;
}

namespace {

void CreateLink(const World& world, std::string_view link, std::string_view target, bool folder) {
  const ResolvedPath at = world.Resolve(link);
  if (at.error != error::kSuccess || at.exists || !at.parentExists || at.isRoot) {
    throw std::invalid_argument("cannot create a link at " + std::string(link));
  }
  const ResolvedPath to = world.Resolve(target);
  if (to.error != error::kSuccess) throw std::invalid_argument("not a path of the world: " + std::string(target));
  if (folder) {
    fs::create_directory_symlink(to.hostPath, at.hostPath);
  } else {
    fs::create_symlink(to.hostPath, at.hostPath);
  }
}

}  // namespace

void World::CreateJunction(std::string_view linkWindowsPath, std::string_view targetWindowsPath) const {
  CreateLink(*this, linkWindowsPath, targetWindowsPath, true);
}

void World::CreateFileSymlink(std::string_view linkWindowsPath, std::string_view targetWindowsPath) const {
  CreateLink(*this, linkWindowsPath, targetWindowsPath, false);
}

void World::CreateHardLink(std::string_view linkWindowsPath, std::string_view targetWindowsPath) const {
  const ResolvedPath at = Resolve(linkWindowsPath);
  if (at.error != error::kSuccess || at.exists || !at.parentExists || at.isRoot) {
    throw std::invalid_argument("cannot create a link at " + std::string(linkWindowsPath));
  }
  const ResolvedPath to = Resolve(targetWindowsPath);
  std::error_code ec;
  if (to.error != error::kSuccess || !to.exists || fs::is_directory(to.hostPath, ec)) {
    throw std::invalid_argument("not a file of the world: " + std::string(targetWindowsPath));
  }
  fs::create_hard_link(to.hostPath, at.hostPath);
}

std::uint32_t World::ExtraAttributes(const fs::path& hostPath) const {
  std::scoped_lock lock(mutex_);
  if (extraAttributes_.empty()) return 0;
  auto it = extraAttributes_.find(hostPath.lexically_normal());
  return it == extraAttributes_.end() ? 0 : it->second;
}

bool World::HasExtraAttributes() const {
  std::scoped_lock lock(mutex_);
  return !extraAttributes_.empty();
}

void World::SetExtraAttributes(const fs::path& hostPath, std::uint32_t attributes) {
  std::scoped_lock lock(mutex_);
  if (attributes == 0) {
    extraAttributes_.erase(hostPath.lexically_normal());
  } else {
    extraAttributes_[hostPath.lexically_normal()] = attributes;
  }
}

void World::SetWriteFault(char letter, WriteFault fault) {
  std::scoped_lock lock(mutex_);
  writeFaults_.push_back({UpperLetter(letter), {}, fault});
}

void World::SetWriteFault(std::string_view windowsPath, WriteFault fault) {
  std::scoped_lock lock(mutex_);
  writeFaults_.push_back({std::nullopt, std::string(windowsPath), fault});
}

void World::ClearWriteFaults() {
  std::scoped_lock lock(mutex_);
  writeFaults_.clear();
}

WriteAllowance World::AllowWrite(const fs::path& hostPath, std::size_t size) {
  std::scoped_lock lock(mutex_);
  WriteAllowance allowance = AllowWriteUnderFaults(hostPath, size);
  if (!allowance.ok) return allowance;
  // A drive's set free-space figure shrinks as its files take bytes.
  const bool anyFigure = std::any_of(drives_.begin(), drives_.end(), [](const auto& d) { return d.second.freeBytes.has_value(); });
  const std::optional<std::string> windowsPath = anyFigure ? WindowsPathOf(hostPath.lexically_normal()) : std::nullopt;
  if (windowsPath) {
    auto drive = drives_.find(UpperLetter(windowsPath->front()));
    if (drive != drives_.end() && drive->second.freeBytes) {
      std::uint64_t& free = *drive->second.freeBytes;
      free -= std::min<std::uint64_t>(free, allowance.bytes);
    }
  }
  return allowance;
}

WriteAllowance World::AllowWriteUnderFaults(const fs::path& hostPath, std::size_t size) {
  WriteAllowance allowance{true, size, error::kSuccess};
  if (writeFaults_.empty()) return allowance;
  const fs::path key = hostPath.lexically_normal();
  const std::optional<std::string> windowsPath = WindowsPathOf(key);
  std::vector<WriteFaultRule*> matching;
  for (WriteFaultRule& rule : writeFaults_) {
    const bool applies = rule.letter ? windowsPath && UpperLetter(windowsPath->front()) == *rule.letter
                                     : Resolve(rule.windowsPath).hostPath.lexically_normal() == key;
    if (applies) matching.push_back(&rule);
  }
  for (WriteFaultRule* rule : matching) {
    ++rule->writes;
    const WriteFault& fault = rule->fault;
    switch (fault.kind) {
      case WriteFault::Kind::Fail:
        if (rule->writes == fault.nth) allowance = {false, 0, fault.error};
        break;
      case WriteFault::Kind::Short:
        if (rule->writes == fault.nth) allowance.bytes = std::min<std::size_t>(allowance.bytes, fault.shortBytes);
        break;
      case WriteFault::Kind::DiskFull:
        // The volume allocates before it writes: a write that does not fit
        // fails as a whole.
        if (rule->bytes + size > fault.capacity) allowance = {false, 0, fault.error};
        break;
    }
  }
  if (!allowance.ok) return allowance;
  for (WriteFaultRule* rule : matching) rule->bytes += allowance.bytes;
  return allowance;
}

platform::RawHandle World::AddHandle(std::unique_ptr<HandleObject> object) {
  std::scoped_lock lock(mutex_);
  // Like kernel handles: multiples of four, never 0 or -1.
  std::uintptr_t id = g_nextHandle.fetch_add(4);
  handles_[id] = std::move(object);
  return reinterpret_cast<platform::RawHandle>(id);
}

HandleObject* World::FindHandle(platform::RawHandle handle) const {
  std::scoped_lock lock(mutex_);
  auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == handles_.end() ? nullptr : it->second.get();
}

bool World::CloseHandle(platform::RawHandle handle) {
  std::unique_ptr<HandleObject> object;
  {
    std::scoped_lock lock(mutex_);
    auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == handles_.end()) return false;
    object = std::move(it->second);
    handles_.erase(it);
  }
  return true;  // the object is destroyed outside the lock
}

void World::ForEachHandle(const std::function<void(HandleObject&)>& visit) const {
  std::scoped_lock lock(mutex_);
  for (const auto& [id, object] : handles_) visit(*object);
}

void World::WriteFile(std::string_view windowsPath, std::string_view bytes) const {
  fs::path host = HostPath(windowsPath);
  fs::create_directories(host.parent_path());
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + host.string());
}

std::string World::ReadFile(std::string_view windowsPath) const {
  std::ifstream in(HostPath(windowsPath), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + std::string(windowsPath));
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void World::MakeDirectories(std::string_view windowsPath) const { fs::create_directories(HostPath(windowsPath)); }

void World::SetCreateObserver(std::function<void(const fs::path&)> observer) {
  std::scoped_lock lock(mutex_);
  createObserver_ = std::move(observer);
}

void World::BeforeCreate(const fs::path& hostPath) {
  std::scoped_lock lock(mutex_);
  if (createObserver_) createObserver_(hostPath);
}

void World::SetRenameObserver(std::function<void(const fs::path&)> observer) {
  std::scoped_lock lock(mutex_);
  renameObserver_ = std::move(observer);
}

void World::AfterRename(const fs::path& hostPath) {
  std::scoped_lock lock(mutex_);
  if (renameObserver_) renameObserver_(hostPath);
}

}  // namespace pw::hostworld
