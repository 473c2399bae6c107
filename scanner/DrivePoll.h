#pragma once
// The drive walk and the poll: finds the scanner among the removable drives
// by its storage descriptor, tells it the save type, and on every poll opens
// the remembered drive for one exchange (in save type computer, a pull).
// This is the main window's scanner link in the program; tests may give the
// window another one. It reaches the application only through PollHost.
#include <string>
#include <string_view>

#include "platform/ThreadChecker.h"
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
// opens its own handles, which live for one scan step or one poll. The object
// keeps nothing between calls, so each run's service thread may use it in
// turn; a call checks that no other thread is inside one, and that the host's
// scanner fields are its thread's (ScannerState).
class DrivePoll final : public ScannerLink {
 public:
  // Walks the drives B: to Z: while no scanner is attached; an exception ends
  // the walk silently. A removable drive whose descriptor query fails makes
  // the next polls scan again (kDescriptorRescans times at most).
  void ScanDrives(PollHost& host) override;
  // Rescans after a device broadcast (or when a scan is due again), then
  // checks by one storage query that the remembered drive is still the
  // scanner, runs one exchange of the kind with it and removes the scratch
  // file of a pull that found no room. An open that fails, a drive that no
  // longer reads as the scanner, or an exception detaches the scanner, and
  // the next poll walks the drives.
  void PollScanner(PollHost& host, ScannerRequestKind kind) override;

 private:
  [[no_unique_address]] platform::ThreadChecker calls_{"DrivePoll", platform::kUnowned};
};

}  // namespace pw::scanner
