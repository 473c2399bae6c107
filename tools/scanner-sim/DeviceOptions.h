#pragma once
// The device options of the simulator's command line (pictures, chunk policy,
// descriptor texts, mode, faults), shared by the executable's arguments and
// the control lines of its FIFO mode.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/scanner-sim/ScannerSimulator.h"

namespace pw::sim {

struct DeviceSetup {
  ScannerSimulator& simulator;
  DescriptorConfig& descriptor;  // applied by the caller once every option is read
  // Takes each image the options queue, in order.
  std::function<void(std::vector<std::byte>)> queue;
};

// Applies one option; next() yields its value (and throws when there is none).
// Returns false when the option is not a device option; throws
// std::invalid_argument for a bad value. seed varies generated pictures.
bool ApplyDeviceOption(DeviceSetup& setup, std::string_view option, const std::function<std::string_view()>& next,
                       std::uint32_t seed);

// A decimal or 0x-hexadecimal number that fits 32 bits; throws
// std::invalid_argument naming what otherwise.
std::uint32_t ParseNumber32(std::string_view text, std::string_view what);

// Splits text at every separator (empty parts kept).
std::vector<std::string> SplitText(std::string_view text, char separator);

}  // namespace pw::sim
