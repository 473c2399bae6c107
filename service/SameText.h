#pragma once
// Text comparison without regard to the case of ASCII letters, as the
// service host compares service names and switches.
#include <cctype>
#include <string_view>

namespace pw::service {

inline bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

}  // namespace pw::service
