#include "platform/host/Wildcard.h"

#include "platform/TextCompare.h"
#include <vector>

namespace pw::host {
namespace {

constexpr char kDosStar = '<';
constexpr char kDosQm = '>';
constexpr char kDosDot = '"';

bool SameLetter(char a, char b) { return platform::SameTextIgnoringCase({&a, 1}, {&b, 1}); }

}  // namespace

bool HasWildcard(std::string_view pattern) { return pattern.find_first_of("*?") != std::string_view::npos; }

std::string DosWildcardPattern(std::string_view pattern) {
  if (pattern == "*.*") return "*";
  std::string result(pattern);
  for (std::size_t i = 0; i < result.size(); ++i) {
    const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    const bool last = i + 1 == pattern.size();
    if (pattern[i] == '?') {
      result[i] = kDosQm;
    } else if (pattern[i] == '*' && next == '.') {
      result[i] = kDosStar;
    } else if (pattern[i] == '.' && (next == '?' || next == '*' || last)) {
      result[i] = kDosDot;
    }
  }
  return result;
}

// The file system's matcher over the DOS pattern. reachable[j] tells whether
// the pattern's first i characters can consume the name's first j characters.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
  const std::string expression = DosWildcardPattern(pattern);
  const std::size_t n = name.size();
  const std::size_t lastDot = name.rfind('.');
  std::vector<char> reachable(n + 1, 0);
  std::vector<char> next(n + 1, 0);
  reachable[0] = 1;
  for (char e : expression) {
    std::fill(next.begin(), next.end(), 0);
    for (std::size_t j = 0; j <= n; ++j) {
      if (!reachable[j]) continue;
      switch (e) {
        case '*':
          // Zero or more characters of any kind.
          for (std::size_t k = j; k <= n; ++k) next[k] = 1;
          break;
        case kDosStar: {
          // Zero or more characters, but never past the name's last dot.
          next[j] = 1;
          for (std::size_t k = j; k < n; ++k) {
            if (k == lastDot) break;
            next[k + 1] = 1;
          }
          break;
        }
        case kDosQm:
          // One character other than a dot; at a dot or at the end it matches nothing.
          if (j < n && name[j] != '.') {
            next[j + 1] = 1;
          } else {
            next[j] = 1;
          }
          break;
        case kDosDot:
          // A dot, or nothing at the end of the name.
          if (j < n && name[j] == '.') next[j + 1] = 1;
          if (j == n) next[j] = 1;
          break;
        default:
          if (j < n && SameLetter(e, name[j])) next[j + 1] = 1;
          break;
      }
    }
    reachable.swap(next);
  }
  return reachable[n] != 0;
}

}  // namespace pw::host
