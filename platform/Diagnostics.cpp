// Both tool chains (g++ on Linux, mingw-w64 for Windows) use the Itanium C++
// ABI of GCC, whose run-time library demangles: one copy serves both builds.
#include <cxxabi.h>

#include <cstdlib>
#include <memory>

#include "platform/Diagnostics.h"

namespace pw::platform {

std::string TypeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                   std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(type.name());
}

}  // namespace pw::platform
