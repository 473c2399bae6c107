#include <cstdlib>
#include <string>

#include "platform/FileSystem.h"
#include "platform/StorageDevice.h"
#include "tests/support/ScannerDrive.h"
#include "tools/scanner-driver/ScannerWire.h"

namespace pw::test {
namespace {

// The Wine world's drive; its scanner is plugged through the driver with the
// simulator-control I/O control.
class Win32ScannerDrive final : public ScannerDrive {
 public:
  explicit Win32ScannerDrive(char letter) : letter_(letter) {}

  char Letter() const override { return letter_; }

  bool Plug(const std::string& options) override {
    platform::Result<platform::DeviceHandle> opened =
        platform::OpenDevice(std::string("\\\\?\\") + letter_ + ":", platform::access::kGenericRead | platform::access::kGenericWrite,
                             platform::share::kRead | platform::share::kWrite);
    if (!opened.ok()) return false;
    const std::string line = "plug " + options;
    std::string answer(1024, '\0');
    const platform::IoControlResult result =
        platform::DeviceIoControl(*opened, PW_WIRE_SIMULATOR_CONTROL, line.data(),
                                  static_cast<std::uint32_t>(line.size()), answer.data(),
                                  static_cast<std::uint32_t>(answer.size()));
    return result.ok && answer.rfind("ok", 0) == 0;
  }

 private:
  char letter_;
};

}  // namespace

std::unique_ptr<ScannerDrive> ScannerDrive::Attach() {
  const char* letter = std::getenv("PAGEWICK_SCANNER_DRIVE");
  if (!letter || letter[0] < 'B' || letter[0] > 'Z') return nullptr;
  auto drive = std::make_unique<Win32ScannerDrive>(letter[0]);
  if (!drive->Plug("")) return nullptr;
  return drive;
}

}  // namespace pw::test
