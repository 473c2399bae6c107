#include "service/OsError.h"

#include "platform/Diagnostics.h"
#include "platform/ErrorText.h"

namespace pw::service {

std::string SystemMessage(platform::ErrorCode code) {
  std::string text = platform::SystemErrorMessage(code);
  // The system ends its texts with CR LF; inside a dialog or an event-log
  // entry the break would only add an empty line.
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string OsErrorText(platform::ErrorCode code) {
  if (code == platform::error::kSuccess) return "A Win32 API function failed";
  return "Win32 Error.  Code: " + std::to_string(code) + ".\n" + SystemMessage(code);
}

OsError::OsError(platform::ErrorCode code)
    : std::runtime_error(OsErrorText(code)), code_(code), address_(platform::ReturnAddress()) {}

}  // namespace pw::service
