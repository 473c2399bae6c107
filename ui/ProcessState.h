#pragma once
// Values shared by the main window and the drive poll for the life of the
// process. One instance is owned by the service host; tests make their own.
#include <array>
#include <cstdint>

namespace pw::ui {

class TMainForm;

inline constexpr std::size_t kScannerDevicePathSize = 300;

struct ProcessState {
  // 0 none, 1 a device arrival was announced, 2 a device removal was announced.
  std::int32_t PendingDeviceEvent = 0;
  // A scanner drive has been found and ScannerDevicePath names it.
  std::uint32_t ScannerAttached = 0;
  // Device path "\\?\%c:" of the attached scanner, zero-terminated once set;
  // the start-up sequence fills all 300 bytes with the character '0'.
  std::array<char, kScannerDevicePathSize> ScannerDevicePath{};
  // The one main window, or nullptr.
  TMainForm* MainForm = nullptr;
};

}  // namespace pw::ui
