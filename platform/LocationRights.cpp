#include "platform/LocationRights.h"

#include <cctype>

#include "platform/TextCompare.h"

namespace pw::platform {
namespace {

// "C:\Scans\Photo1" and "img0001.jpg" of "C:\Scans\Photo1\img0001.jpg";
// a root keeps its separator ("E:\").
std::pair<std::string, std::string> SplitFolder(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return {std::string(), path};
  std::string folder = path.substr(0, separator);
  if (folder.size() == 2 && folder[1] == ':') folder.push_back('\\');
  return {folder, path.substr(separator + 1)};
}

// ERROR_CALL_NOT_IMPLEMENTED: the relative calls are missing (before Vista).
constexpr ErrorCode kCallNotImplemented = 120;

std::string FolderKey(std::string folder) {
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  for (char& c : folder) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return folder;
}

}  // namespace

bool IsLocationRefusal(ErrorCode error) {
  return error == error::kLocationNotWritable || error == error::kLocationLink;
}

std::string LocationFailureText(ErrorCode error, const std::string& path) {
  switch (error) {
    case error::kNobodyAtConsole:
      return "Nobody is at the console to save in " + path;
    case error::kLocationNotWritable:
      return "The console user may not write in " + path;
    case error::kLocationLink:
      return "A link leads out of the save location at " + path;
    default:
      return "Failed with error " + std::to_string(error) + " in " + path;
  }
}

const LocationRights& LocationRights::ProcessOwn() {
  static const LocationRights own;
  return own;
}

Result<LocationRights::Pull> LocationRights::Pull::Begin(LocationRights& rights) {
  rights.thread_.Check();
  Pull pull(rights);
  rights.locationFinal_.reset();
  rights.folders_.clear();
  if (!rights.consoleUser_) return pull;
  Result<TokenHandle> console = ConsoleUserToken();
  if (!console) return Failure(error::kNobodyAtConsole);
  rights.token_ = std::move(console).value();
  return pull;
}

LocationRights::Pull::~Pull() {
  if (rights_ == nullptr) return;
  rights_->thread_.Check();
  rights_->folders_.clear();
  rights_->token_.reset();
  rights_->locationFinal_.reset();
}

LocationRights::Acting::Acting() = default;
LocationRights::Acting::Acting(Acting&&) noexcept = default;
LocationRights::Acting::~Acting() = default;

Result<LocationRights::Acting> LocationRights::Act() const {
  Acting acting;
  if (!consoleUser_) return acting;
  thread_.Check();
  if (!token_) return Failure(error::kNobodyAtConsole);
  acting.impersonation_ = std::make_unique<Impersonation>(*token_);
  if (!acting.impersonation_->ok()) return Failure(error::kNobodyAtConsole);
  return acting;
}

Result<void> LocationRights::ConfineTo(const std::string& location) const {
  if (!consoleUser_) return Success();
  thread_.Check();
  folders_.clear();
  const OpenResult opened = CreateFile(location, 0, share::kRead | share::kWrite | share::kDelete,
                                       Disposition::OpenExisting, open_flag::kBackupSemantics);
  std::optional<std::string> final = opened.file ? FinalPathOfHandle(opened.file) : std::nullopt;
  if (!final) {
    PW_TRY(CheckError(opened.error));
    return Failure(error::kLocationLink);
  }
  locationFinal_ = std::move(final);
  return Success();
}

bool LocationRights::Inside(const std::optional<std::string>& finalPath) const {
  if (!finalPath || !locationFinal_) return false;
  const std::string& root = *locationFinal_;
  if (finalPath->size() <= root.size() || !SameTextIgnoringCase(finalPath->substr(0, root.size()), root)) return false;
  return root.back() == '\\' || (*finalPath)[root.size()] == '\\';
}

const FileHandle* LocationRights::HeldFolder(const std::string& folder) const {
  const std::string key = FolderKey(folder);
  if (const auto held = folders_.find(key); held != folders_.end()) return &held->second;
  // Opened without following a link: a junction in its place is the link
  // itself, refused below.
  OpenResult opened = CreateFile(folder, access::kGenericRead, share::kRead | share::kWrite | share::kDelete,
                                 Disposition::OpenExisting, open_flag::kBackupSemantics | open_flag::kOpenReparsePoint);
  const std::optional<std::uint32_t> attributes = GetFileAttributes(folder);
  if (!opened.file || !attributes || (*attributes & attribute::kReparsePoint) != 0 ||
      (*attributes & attribute::kDirectory) == 0 || !Inside(FinalPathOfHandle(opened.file))) {
    return nullptr;
  }
  return &folders_.emplace(key, std::move(opened.file)).first->second;
}

OpenResult LocationRights::OpenInFolder(const std::string& path, std::uint32_t access, std::uint32_t shareMode,
                                        Disposition disposition) const {
  OpenResult refused;
  refused.error = error::kAccessDenied;
  const auto [folder, name] = SplitFolder(path);
  const FileHandle* held = folder.empty() ? nullptr : HeldFolder(folder);
  if (held == nullptr) return refused;
  // Delete access as well: a file that turns out to lie outside the location
  // is deleted through its own handle, never by a name that may lead elsewhere.
  OpenResult opened = CreateFileRelative(*held, name, access | access::kDelete, shareMode, disposition);
  if (opened.error == kCallNotImplemented) return refused;
  if (!opened.file) return opened;
  if (!Inside(FinalPathOfHandle(opened.file))) {
    const bool created = disposition == Disposition::CreateNew ||
                         ((disposition == Disposition::OpenAlways || disposition == Disposition::CreateAlways) &&
                          opened.error != error::kAlreadyExists);
    if (created) DeleteByHandle(opened.file).IgnoreFailure();
    return refused;
  }
  return opened;
}

OpenResult LocationRights::Open(const std::string& path, std::uint32_t access, std::uint32_t shareMode,
                                Disposition disposition) const {
  if (!consoleUser_) return CreateFile(path, access, shareMode, disposition);
  thread_.Check();
  return OpenInFolder(path, access, shareMode, disposition);
}

Result<void> LocationRights::Move(const std::string& from, const std::string& to, bool replace) const {
  if (!consoleUser_) return replace ? ReplaceFileWith(from, to) : MoveFileNoReplace(from, to);
  thread_.Check();
  const auto [fromFolder, fromName] = SplitFolder(from);
  const auto [toFolder, toName] = SplitFolder(to);
  const FileHandle* target = toFolder.empty() ? nullptr : HeldFolder(toFolder);
  if (target == nullptr) return Failure(error::kAccessDenied);
  const OpenResult source = OpenInFolder(from, 0, share::kRead | share::kWrite | share::kDelete,
                                         Disposition::OpenExisting);
  if (!source.file) return Failure(source.error);
  return RenameRelative(source.file, *target, toName, replace);
}

Result<void> LocationRights::Delete(const std::string& path) const {
  if (!consoleUser_) return DeleteFile(path);
  thread_.Check();
  const OpenResult file = OpenInFolder(path, 0, share::kRead | share::kWrite | share::kDelete,
                                       Disposition::OpenExisting);
  if (!file.file) return Failure(file.error);
  return DeleteByHandle(file.file);
}

Result<void> LocationRights::CheckFolder(const std::string& folder) const {
  if (!consoleUser_) return Success();
  thread_.Check();
  if (HeldFolder(folder) == nullptr) return Failure(error::kLocationLink);
  return Success();
}

Result<void> LocationRights::CheckError(ErrorCode error) const {
  if (consoleUser_ && error == error::kAccessDenied) return Failure(error::kLocationNotWritable);
  return Success();
}

}  // namespace pw::platform
