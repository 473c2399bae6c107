#include <string>

#include "platform/TextCompare.h"
#include "platform/winapi/WindowsApi.h"

namespace pw::platform {
namespace {

// The text in UTF-16 by the ANSI code page (double-byte characters stay
// whole), upper-cased by the system's case table.
std::wstring FoldedUtf16(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), length);
  ::CharUpperBuffW(wide.data(), static_cast<DWORD>(length));
  return wide;
}

}  // namespace

int CompareTextIgnoringCase(std::string_view a, std::string_view b) {
  const int order = FoldedUtf16(a).compare(FoldedUtf16(b));
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

std::uint32_t AnsiCodePage() { return ::GetACP(); }

}  // namespace pw::platform
