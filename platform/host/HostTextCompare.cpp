#include "platform/TextCompare.h"
#include "platform/hostworld/CaseFolding.h"

namespace pw::platform {

// The simulated Windows folds case by the rules of code page 1252.
int CompareTextIgnoringCase(std::string_view a, std::string_view b) { return hostworld::CompareTextIgnoringCase(a, b); }

std::uint32_t AnsiCodePage() { return 1252; }

}  // namespace pw::platform
