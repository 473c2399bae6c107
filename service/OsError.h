#pragma once
// A failed system call as the service host reports it, and the system's
// message texts for error codes.
#include <stdexcept>
#include <string>

#include "platform/DebugTrace.h"
#include "platform/Errors.h"

namespace pw::service {

// The system's message for the code without the line break the system ends
// it with; empty when the system has no text for the code.
std::string SystemMessage(platform::ErrorCode code);

// "Win32 Error.  Code: <code>.\n<system message>", or "A Win32 API function
// failed" when the system reported no error code.
std::string OsErrorText(platform::ErrorCode code);

// The message of the exception being handled; call it inside a catch block.
using platform::CurrentExceptionMessage;

class OsError : public std::runtime_error {
 public:
  explicit OsError(platform::ErrorCode code);
  platform::ErrorCode Code() const noexcept { return code_; }
  // The code address that raised the error (the caller of the constructor).
  const void* Address() const noexcept { return address_; }

 private:
  platform::ErrorCode code_;
  const void* address_;
};

}  // namespace pw::service
