#pragma once
// The process-wide values the drive walk and the poll keep between calls: the
// pending device broadcast and the attached scanner. One instance lives as
// long as the process (the service host owns it; tests make their own).
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ThreadChecker.h"

namespace pw::scanner {

inline constexpr std::size_t kScannerDevicePathSize = 300;
inline constexpr std::int32_t kDescriptorRescans = 5;

// The picture this service run saved last under an image name: its path,
// and the size and XXH3-64 digest of its bytes as they arrived (an empty
// path: none yet). Kept in memory only.
struct SavedPictureRecord {
  std::string path;
  std::uint64_t size = 0;
  std::uint64_t digest = 0;
};

struct ScannerState {
  // The plain fields (all but InterruptPull) belong to the thread of the
  // window that polls: the drive walk, the poll, the pull and the settling of
  // leftovers check it. A window lets them go as it goes, and the service
  // thread as it ends; the next thread to check takes them.
  [[no_unique_address]] platform::ThreadChecker PlainFieldsThread{"ScannerState's plain fields", platform::kUnowned};
  // 0 none, 1 a device arrival was announced, 2 a device removal was announced.
  std::int32_t PendingDeviceEvent = 0;
  // A scanner drive has been found and ScannerDevicePath names it.
  std::uint32_t ScannerAttached = 0;
  // Device path "\\?\%c:" of the attached scanner, zero-terminated once set;
  // the start-up sequence fills all 300 bytes with the character '0'.
  std::array<char, kScannerDevicePathSize> ScannerDevicePath{};
  // A scan found a removable drive whose descriptor query failed (a device
  // still settling after its arrival): the next poll scans again, at most
  // kDescriptorRescans times in a row; a device broadcast starts the count anew.
  bool RescanDue = false;
  std::int32_t DescriptorRescans = 0;
  // Stop, shutdown and pause requests that wait for the service thread,
  // counted from any thread (the service's control handler adds, the service
  // thread takes away as it acts on each). While any waits, a running pull
  // ends between two requests, keeping what arrived, so that the request is
  // acted on within its wait hint.
  std::atomic<int> InterruptPull{0};
  // The destination of the last picture the user was told did not arrive (or
  // could not be saved): a fault that persists is told once, not at every
  // poll. Cleared when a picture arrives whole.
  std::string LastFaultNotice;
  // A picture was stopped because the drive ran out of room while it
  // arrived: the next poll drains it into the scratch file (the disk-full
  // path). Cleared once drained, or when no picture waits any more.
  bool DrainNextPicture = false;
  // A picture the scanner offers again after an end marker that came too
  // early, or after the answer to its last length query was lost, is
  // compared with this one rather than saved a second time.
  SavedPictureRecord LastSavedPicture;
  // The save location whose leftover transfer files this run has settled
  // (empty: none yet). A location used for the first time is settled before
  // its first pull.
  std::string SettledLocation;
};

}  // namespace pw::scanner
