#pragma once
// Where a pull writes while an image arrives, and what becomes of those bytes.
//
// A pull writes into a transfer file: a fresh file in the image folder whose
// name no picture viewer opens and no naming call counts ("~" and seven hex
// digits, no extension, never longer than an image name). Only when the
// scanner's end marker has arrived does the transfer take its image name, and
// then only if nothing of that name exists. An interrupted transfer keeps its
// bytes under the image's partial name (FilePrefix + number + ".partial"), at
// most one per image: the scanner still holds the picture and sends it again
// from its start, so a later attempt that holds an earlier one's bytes
// replaces it, and a shorter one is dropped.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/FileSystem.h"
#include "platform/LocationRights.h"
#include "platform/Result.h"
#include "scanner/ScannerState.h"
#include "scanner/TransferJournal.h"

namespace pw::scanner {

inline constexpr const char* kPartialImageExtension = ".partial";

struct TransferFile {
  std::string path;
  platform::FileHandle file;  // opened for reading and writing, shared with nobody
};

// Creates a new, empty transfer file in the folder (CREATE_NEW: an existing
// entry is never opened). seed varies the name; a taken name is stepped over.
// Every open goes through the rights' Open: for the console user no link is
// followed and nothing outside the location is opened.
// With a journal, each name is listed there before its file is made (a name
// found taken is cleared again); a journal that cannot be written does not
// stop the transfer.
platform::Result<TransferFile> CreateTransferFile(
    const std::string& folder, std::uint32_t seed,
    const platform::LocationRights& rights = platform::LocationRights::ProcessOwn(),
    TransferJournal* journal = nullptr);

// "C:\Scans\Photo1\img0001.partial" for "C:\Scans\Photo1\img0001.jpg".
std::string PartialImagePath(const std::string& imagePath);

// Gives a complete transfer its image name. Fails with 183 when an entry of
// that name exists (it is left as it is) and the transfer keeps its name.
// For the console user the rename goes through the folder's handle.
platform::Result<void> PromoteTransfer(
    const std::string& transferPath, const std::string& imagePath,
    const platform::LocationRights& rights = platform::LocationRights::ProcessOwn());

// Keeps the bytes of an interrupted transfer for the image: under the image's
// partial name when that is free, or replacing a partial there whose bytes the
// transfer begins with; an empty transfer, or one whose bytes the partial
// already begins with, is deleted. Anything else stays under its transfer
// name. Returns where the bytes are kept, or nothing when they were dropped.
std::optional<std::string> KeepPartialTransfer(
    const std::string& transferPath, const std::string& imagePath,
    const platform::LocationRights& rights = platform::LocationRights::ProcessOwn());

// After an image arrived whole: deletes its partial when the image begins
// with the partial's bytes (an earlier, interrupted delivery of it).
void DropSupersededPartial(const std::string& imagePath,
                           const platform::LocationRights& rights = platform::LocationRights::ProcessOwn());

// Whether the file at shorterPath holds a prefix of the bytes of longerPath
// (equal files count). False when either cannot be read.
bool FileStartsWith(const std::string& longerPath, const std::string& shorterPath,
                    const platform::LocationRights& rights = platform::LocationRights::ProcessOwn());

// A complete transfer's bytes as they arrived: their count and digest, and
// the digest of their first markSize bytes (taken on the way when that many
// arrived; markSize is the length of the picture saved last).
struct ArrivedBytes {
  std::uint64_t size = 0;
  std::uint64_t digest = 0;
  std::uint64_t markSize = 0;
  std::optional<std::uint64_t> markDigest;
};

// How a complete transfer stands to the picture saved last.
enum class RepeatOfSaved {
  None,    // another picture, another folder, or the saved one was changed or is gone
  Same,    // the same bytes: the scanner offered the saved picture again
  Longer,  // the saved picture is a strict prefix: it was cut short by an early end marker
};
// Compares only when the saved picture lies in the transfer's folder and the
// digest of the transfer's bytes (or of their first bytes, as many as the
// saved picture's) is the recorded one: a picture that differs costs no read.
// Then the files decide, byte by byte, and the saved picture must still have
// its recorded size.
RepeatOfSaved CompareWithSaved(const std::string& transferPath, const ArrivedBytes& arrived,
                               const SavedPictureRecord& saved,
                               const platform::LocationRights& rights = platform::LocationRights::ProcessOwn());

}  // namespace pw::scanner
