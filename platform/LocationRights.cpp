#include "platform/LocationRights.h"

#include "platform/TextCompare.h"

namespace pw::platform {
namespace {

const char* Reason(LocationRefusal why) {
  switch (why) {
    case LocationRefusal::NobodyAtConsole:
      return "Nobody is at the console to save for: ";
    case LocationRefusal::NotWritable:
      return "The console user may not write in ";
    case LocationRefusal::Link:
      return "A link leads out of the save location at ";
  }
  return "Refused: ";
}

}  // namespace

LocationRefusedError::LocationRefusedError(LocationRefusal why, const std::string& path)
    : std::runtime_error(Reason(why) + path), why_(why) {}

const LocationRights& LocationRights::ProcessOwn() {
  static const LocationRights own;
  return own;
}

LocationRights::Pull::Pull(LocationRights& rights) : rights_(rights) {
  rights_.locationFinal_.reset();
  if (!rights_.consoleUser_) return;
  Result<TokenHandle> console = ConsoleUserToken();
  if (!console) throw LocationRefusedError(LocationRefusal::NobodyAtConsole, "the console");
  rights_.token_ = std::move(console).value();
}

LocationRights::Pull::~Pull() {
  rights_.token_.reset();
  rights_.locationFinal_.reset();
}

LocationRights::Acting::Acting(const LocationRights& rights) {
  if (!rights.consoleUser_) return;
  if (!rights.token_) throw LocationRefusedError(LocationRefusal::NobodyAtConsole, "the console");
  impersonation_ = std::make_unique<Impersonation>(*rights.token_);
  if (!impersonation_->ok()) throw LocationRefusedError(LocationRefusal::NobodyAtConsole, "the console");
}

LocationRights::Acting::~Acting() = default;

void LocationRights::ConfineTo(const std::string& location) const {
  if (!consoleUser_) return;
  const OpenResult opened = CreateFile(location, 0, share::kRead | share::kWrite | share::kDelete,
                                       Disposition::OpenExisting, open_flag::kBackupSemantics);
  std::optional<std::string> final = opened.file ? FinalPathOfHandle(opened.file) : std::nullopt;
  if (!final) {
    CheckError(opened.error, location);
    throw LocationRefusedError(LocationRefusal::Link, location);
  }
  locationFinal_ = std::move(final);
}

bool LocationRights::Inside(const std::optional<std::string>& finalPath) const {
  if (!finalPath || !locationFinal_) return false;
  const std::string& root = *locationFinal_;
  if (finalPath->size() <= root.size() || !SameTextIgnoringCase(finalPath->substr(0, root.size()), root)) return false;
  return root.back() == '\\' || (*finalPath)[root.size()] == '\\';
}

OpenResult LocationRights::Open(const std::string& path, std::uint32_t access, std::uint32_t shareMode,
                                Disposition disposition) const {
  if (!consoleUser_) return CreateFile(path, access, shareMode, disposition);
  OpenResult opened = CreateFile(path, access, shareMode, disposition, open_flag::kOpenReparsePoint);
  if (!opened.file) return opened;
  const std::optional<std::uint32_t> attributes = GetFileAttributes(path);
  if (!attributes || (*attributes & attribute::kReparsePoint) != 0 || !Inside(FinalPathOfHandle(opened.file))) {
    OpenResult refused;
    refused.error = error::kAccessDenied;
    return refused;
  }
  return opened;
}

void LocationRights::CheckFolder(const std::string& folder) const {
  if (!consoleUser_) return;
  const OpenResult opened = CreateFile(folder, 0, share::kRead | share::kWrite | share::kDelete,
                                       Disposition::OpenExisting,
                                       open_flag::kBackupSemantics | open_flag::kOpenReparsePoint);
  const std::optional<std::uint32_t> attributes = GetFileAttributes(folder);
  if (!opened.file || !attributes || (*attributes & attribute::kReparsePoint) != 0 ||
      (*attributes & attribute::kDirectory) == 0 || !Inside(FinalPathOfHandle(opened.file))) {
    throw LocationRefusedError(LocationRefusal::Link, folder);
  }
}

void LocationRights::CheckError(ErrorCode error, const std::string& path) const {
  if (consoleUser_ && error == error::kAccessDenied) throw LocationRefusedError(LocationRefusal::NotWritable, path);
}

}  // namespace pw::platform
