#include "platform/ErrorText.h"
#include "platform/winapi/WindowsApi.h"

namespace pw::platform {

std::string SystemErrorMessage(ErrorCode code) {
  char buffer[1024] = {};
  const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        buffer, sizeof buffer, nullptr);
  return std::string(buffer, length);
}

}  // namespace pw::platform
