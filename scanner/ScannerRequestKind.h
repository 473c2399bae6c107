#pragma once
// What one exchange with the scanner does after its INQUIRY.
#include <cstdint>

namespace pw::scanner {

enum class ScannerRequestKind : std::int32_t {
  RequestCardMode = 0,
  RequestComputerMode = 1,
  RequestPull = 2,
};

}  // namespace pw::scanner
