#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/hostworld/World.h"
#include "tests/support/ScannerDrive.h"
#include "tools/scanner-sim/DeviceOptions.h"
#include "tools/scanner-sim/ScannerSimulator.h"

namespace pw::test {
namespace {

class HostScannerDrive final : public ScannerDrive {
 public:
  HostScannerDrive() { world_.AddDrive(kLetter, platform::DriveType::Removable); }

  char Letter() const override { return kLetter; }

  bool Plug(const std::string& options) override {
    auto device = std::make_shared<sim::ScannerSimulator>();
    sim::DescriptorConfig descriptor = device->Descriptor();
    sim::DeviceSetup setup{*device, descriptor, [&](std::vector<std::byte> bytes) { device->QueueImage(std::move(bytes)); }};
    std::istringstream words(options);
    std::vector<std::string> parts;
    for (std::string word; words >> word;) parts.push_back(word);
    try {
      for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string option = parts[i];
        auto next = [&]() -> std::string_view {
          if (i + 1 >= parts.size()) throw std::invalid_argument("missing value for " + option);
          return parts[++i];
        };
        if (!sim::ApplyDeviceOption(setup, option, next, static_cast<std::uint32_t>(i + 1))) return false;
      }
    } catch (const std::invalid_argument&) {
      return false;
    }
    device->SetDescriptor(descriptor);
    world_.DetachDevice(kLetter);
    world_.AttachDevice(kLetter, device);
    return true;
  }

 private:
  static constexpr char kLetter = 'E';
  hostworld::World world_;
};

}  // namespace

std::unique_ptr<ScannerDrive> ScannerDrive::Attach() {
  auto drive = std::make_unique<HostScannerDrive>();
  if (!drive->Plug("")) return nullptr;
  return drive;
}

}  // namespace pw::test
