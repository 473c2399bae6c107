#pragma once
// The process-wide values the drive walk and the poll keep between calls: the
// pending device broadcast and the attached scanner. One instance lives as
// long as the process (the service host owns it; tests make their own).
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace pw::scanner {

inline constexpr std::size_t kScannerDevicePathSize = 300;

struct ScannerState {
  // 0 none, 1 a device arrival was announced, 2 a device removal was announced.
  std::int32_t PendingDeviceEvent = 0;
  // A scanner drive has been found and ScannerDevicePath names it.
  std::uint32_t ScannerAttached = 0;
  // Device path "\\?\%c:" of the attached scanner, zero-terminated once set;
  // the start-up sequence fills all 300 bytes with the character '0'.
  std::array<char, kScannerDevicePathSize> ScannerDevicePath{};
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
};

}  // namespace pw::scanner
