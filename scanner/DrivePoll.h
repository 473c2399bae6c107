#pragma once
// The drive walk and the poll: finds the scanner among the removable drives
// by its storage descriptor, tells it the save type, and on every poll opens
// the remembered drive for one exchange (in save type computer, a pull).
// This is the main window's scanner link in the program; tests may give the
// window another one. It reaches the application only through PollHost.
#include <string>
#include <string_view>

#include "scanner/ScannerRequestKind.h"
#include "scanner/PollHost.h"

namespace pw::scanner {

inline constexpr const char* kScannerProduct = "SCAN";  // compared ignoring case
inline constexpr const char* kScannerRevision = "1000";

// Whether a drive with these descriptor texts is the scanner: the product is
// "SCAN" in any letter case and the revision exactly
// "1000" (no trimming; the vendor is not consulted).
bool IsScannerIdentity(std::string_view product, std::string_view revision);

// "\\?\E:" for the letter E.
std::string VolumePath(char letter);

// Service thread only: every call runs on the thread that owns the window and
// opens its own handles, which live for one scan step or one poll.
class DrivePoll final : public ScannerLink {
 public:
  // Walks the drives B: to Z: while no scanner is attached; an exception ends
  // the walk silently.
  void ScanDrives(PollHost& host) override;
  // Rescans after a device broadcast, then runs one exchange of the kind with
  // the attached scanner and removes the scratch file of a pull that found no
  // room. An open that fails, or an exception, detaches the scanner.
  void PollScanner(PollHost& host, ScannerRequestKind kind) override;
};

}  // namespace pw::scanner
