#include "scanner/TransferFile.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>

#include "platform/DebugTrace.h"

namespace pw::scanner {
namespace {

namespace error = platform::error;

constexpr int kNameAttempts = 64;
constexpr std::size_t kCompareChunk = 64 * 1024;

std::string TransferName(std::uint32_t value) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name = "~";
  for (int shift = 24; shift >= 0; shift -= 4) name.push_back(kHex[(value >> shift) & 0xF]);
  return name;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
  return folder + "\\" + name;
}

platform::FileHandle OpenForReading(const std::string& path, const platform::LocationRights& rights) {
  return rights.Open(path, platform::access::kGenericRead, platform::share::kRead, platform::Disposition::OpenExisting)
      .file;
}

}  // namespace

platform::Result<TransferFile> CreateTransferFile(const std::string& folder, std::uint32_t seed,
                                                  const platform::LocationRights& rights, TransferJournal* journal) {
  std::uint32_t value = seed;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    // Twenty-eight bits of the value: seven hex digits.
    const std::string path = JoinPath(folder, TransferName(value & 0x0FFFFFFFu));
    value = value * 2654435761u + 0x9E3779B9u;
    // A directory of that name would answer 5 to CREATE_NEW, not 80.
    if (platform::GetFileAttributes(path)) continue;
    if (journal != nullptr) {
      if (const platform::Result<void> listed = journal->Add(path); !listed) {
        platform::DebugTrace("Transfer " + path + " not listed: error " + std::to_string(listed.error()));
      }
    }
    platform::OpenResult created =
        rights.Open(path, platform::access::kGenericRead | platform::access::kGenericWrite, platform::share::kNone,
                    platform::Disposition::CreateNew);
    if (created.file) return TransferFile{path, std::move(created.file)};
    if (journal != nullptr) journal->Remove(path);
    if (created.error != error::kFileExists && created.error != error::kAlreadyExists) {
      return platform::Failure(created.error);
    }
  }
  return platform::Failure(error::kFileExists);
}

std::string PartialImagePath(const std::string& imagePath) {
  const std::size_t nameStart = imagePath.find_last_of("\\/:");
  const std::size_t dot = imagePath.rfind('.');
  const bool hasExtension = dot != std::string::npos && (nameStart == std::string::npos || dot > nameStart);
  return (hasExtension ? imagePath.substr(0, dot) : imagePath) + kPartialImageExtension;
}

platform::Result<void> PromoteTransfer(const std::string& transferPath, const std::string& imagePath,
                                       const platform::LocationRights& rights) {
  return rights.Move(transferPath, imagePath, false);
}

bool FileStartsWith(const std::string& longerPath, const std::string& shorterPath,
                    const platform::LocationRights& rights) {
  const platform::FileHandle longer = OpenForReading(longerPath, rights);
  const platform::FileHandle shorter = OpenForReading(shorterPath, rights);
  if (!longer || !shorter) return false;
  const std::optional<std::uint64_t> longerSize = platform::GetFileSize(longer);
  const std::optional<std::uint64_t> shorterSize = platform::GetFileSize(shorter);
  if (!longerSize || !shorterSize || *shorterSize > *longerSize) return false;

  std::array<std::byte, kCompareChunk> a{};
  std::array<std::byte, kCompareChunk> b{};
  for (std::uint64_t offset = 0; offset < *shorterSize;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kCompareChunk, *shorterSize - offset));
    const platform::IoResult readA = platform::ReadFileAt(longer, offset, std::span(a).first(want));
    const platform::IoResult readB = platform::ReadFileAt(shorter, offset, std::span(b).first(want));
    if (!readA.ok || !readB.ok || readA.bytes != want || readB.bytes != want) return false;
    if (!std::equal(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(want), b.begin())) return false;
    offset += want;
  }
  return true;
}

std::optional<std::string> KeepPartialTransfer(const std::string& transferPath, const std::string& imagePath,
                                               const platform::LocationRights& rights) {
  std::optional<std::uint64_t> size;
  {
    const platform::FileHandle transfer = OpenForReading(transferPath, rights);
    if (!transfer) return transferPath;  // cannot be looked at: left as it is
    size = platform::GetFileSize(transfer);
  }
  if (size && *size == 0) {
    rights.Delete(transferPath).IgnoreFailure();
    return std::nullopt;
  }

  const std::string partial = PartialImagePath(imagePath);
  const std::optional<std::uint32_t> attributes = platform::GetFileAttributes(partial);
  if (!attributes) {
    if (rights.Move(transferPath, partial, false)) return partial;
    return transferPath;
  }
  if ((*attributes & (platform::attribute::kDirectory | platform::attribute::kReparsePoint)) != 0) return transferPath;
  // The scanner sends a picture again from its start: a later attempt that
  // holds all of an earlier one's bytes replaces it, a shorter one goes.
  if (FileStartsWith(transferPath, partial, rights)) {
    if (rights.Move(transferPath, partial, true)) return partial;
    return transferPath;
  }
  if (FileStartsWith(partial, transferPath, rights)) {
    if (rights.Delete(transferPath)) return partial;
    return transferPath;
  }
  // Other bytes than the partial's: both stay.
  return transferPath;
}

void DropSupersededPartial(const std::string& imagePath, const platform::LocationRights& rights) {
  const std::string partial = PartialImagePath(imagePath);
  if (platform::FileExists(partial) && FileStartsWith(imagePath, partial, rights)) rights.Delete(partial).IgnoreFailure();
}

RepeatOfSaved CompareWithSaved(const std::string& transferPath, const ArrivedBytes& arrived,
                               const SavedPictureRecord& saved, const platform::LocationRights& rights) {
  // An empty picture (a scanner that answered the marker at once) says
  // nothing about the next one.
  if (saved.path.empty() || saved.size == 0) return RepeatOfSaved::None;
  const auto folderOf = [](const std::string& path) { return path.substr(0, path.find_last_of("\\/") + 1); };
  if (folderOf(saved.path) != folderOf(transferPath)) return RepeatOfSaved::None;
  if (arrived.size < saved.size) return RepeatOfSaved::None;
  const bool digestMatches = arrived.size == saved.size
                                 ? arrived.digest == saved.digest
                                 : arrived.markSize == saved.size && arrived.markDigest == saved.digest;
  if (!digestMatches) return RepeatOfSaved::None;
  // A picture the user changed, replaced or removed since is not compared.
  std::optional<std::uint64_t> savedSize;
  std::optional<std::uint64_t> transferSize;
  {
    const platform::FileHandle savedFile = OpenForReading(saved.path, rights);
    if (savedFile) savedSize = platform::GetFileSize(savedFile);
    const platform::FileHandle transfer = OpenForReading(transferPath, rights);
    if (transfer) transferSize = platform::GetFileSize(transfer);
  }
  if (savedSize != saved.size || !transferSize || !FileStartsWith(transferPath, saved.path, rights)) {
    return RepeatOfSaved::None;
  }
  return *transferSize == saved.size ? RepeatOfSaved::Same : RepeatOfSaved::Longer;
}

}  // namespace pw::scanner
