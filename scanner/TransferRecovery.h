#pragma once
// Settles the transfer files that a power cut or a killed process left in
// the save location's image folders ("~" and seven hex digits, no
// extension). An empty one is deleted. One that holds a whole picture takes
// the next free image name of its folder, or is deleted when an image there
// already holds the same bytes. Any other becomes the partial of the next
// free image name (KeepPartialTransfer's rules). Nothing whose bytes no other
// file holds is deleted; what cannot be read or renamed stays as it is.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/LocationRights.h"
#include "scanner/ScannerState.h"
#include "scanner/TransferJournal.h"

namespace pw::scanner {

// What settling asks of naming (the application implements it with the
// naming's own listing): the location's image folders and, for one folder at
// a time, its entries and the image names it hands out.
class SettleNaming {
 public:
  virtual ~SettleNaming() = default;
  // The image folders that exist below the location, from one listing.
  virtual std::vector<std::string> ImageFolders() = 0;
  // Lists the folder once, with sizes; the calls below answer for it.
  virtual std::vector<platform::FindEntry> ListFolder(const std::string& folder) = 0;
  // Whether the name is an image name of the listed folder's kind.
  virtual bool IsImageName(std::string_view name) const = 0;
  // The n-th free image name (n from 0) in the order the next images take
  // them; nothing past the last number.
  virtual std::optional<std::string> FreeImageName(std::int32_t n) const = 0;
  // A transfer took the name since the listing.
  virtual void TakeImageName(const std::string& name) = 0;
};

struct SettleCounts {
  std::int32_t folders = 0;  // image folders listed
  std::int32_t found = 0;    // transfer files found in them
  std::int32_t named = 0;    // whole pictures that took an image name
  std::int32_t deleted = 0;  // empty ones, and pictures an image already holds
  std::int32_t kept = 0;     // moved to (or dropped in favour of) a partial
  std::int32_t left = 0;     // left as they are
  // The image that holds the last whole picture settled (named, or already
  // there), with the digest taken as it was read: the scanner may still hold
  // that picture and offer it again.
  std::optional<SavedPictureRecord> lastWhole;
};

// Whether the name is that of a transfer file: "~" and seven hex digits of
// either case, nothing else.
bool IsTransferFileName(std::string_view name);

// One listing of the location and one of each image folder; the caller acts
// with the rights (inside their Acting). A location that does not exist is
// left alone; for the console user one that is a link is left alone, and a
// folder that is one is skipped. Only the service's own leftovers are
// settled: a transfer the journal lists, owned by the service (SYSTEM or
// Administrators) or by the user the thread acts for, with one name only (a
// hard link is never written through nor deleted). Any other stays as it is.
// A settled transfer's entry goes from the journal.
SettleCounts SettleLeftoverTransfers(const std::string& location, SettleNaming& naming,
                                     const platform::LocationRights& rights, TransferJournal& journal);

// Settles the location unless this run settled it already (the state
// remembers the last location settled; clearing it settles again). A whole
// picture settled becomes the picture saved last: a crash before the scanner
// let it go makes the scanner offer it again, and it is not saved twice.
void SettleLocationOnce(ScannerState& state, const std::string& location, SettleNaming& naming,
                        const platform::LocationRights& rights, TransferJournal& journal);

}  // namespace pw::scanner
