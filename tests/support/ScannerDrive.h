#pragma once
// A removable drive that carries the scanner simulator, in either build: in
// the host build a drive of a fresh host world with the simulator attached;
// in the win32 build the drive of the Wine world's scanner driver (absent
// outside that world). Contract tests of the storage-device facility run
// against it through the platform layer alone.
#include <memory>
#include <string>

namespace pw::test {

class ScannerDrive {
 public:
  // nullptr when this build has no scanner drive here.
  static std::unique_ptr<ScannerDrive> Attach();
  virtual ~ScannerDrive() = default;

  virtual char Letter() const = 0;
  // Plugs a fresh scanner configured by the simulator's device options
  // (see pagewick-scanner-sim --help); false when they are refused.
  virtual bool Plug(const std::string& options) = 0;
};

}  // namespace pw::test
