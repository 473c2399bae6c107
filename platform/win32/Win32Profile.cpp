#include <algorithm>
#include <string>
#include <vector>

#include "platform/Profile.h"
#include "platform/winapi/WindowsApi.h"

namespace pw::platform {

ProfileText ReadProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                              const std::string& path, std::size_t bufferSize) {
  const std::string sectionText(section);
  const std::string keyText(key);
  const std::string defaultText(defaultValue);
  // At least one byte, so that a buffer size of zero still has a valid pointer.
  std::vector<char> buffer(bufferSize == 0 ? 1 : bufferSize, '\0');
  ::SetLastError(ERROR_SUCCESS);
  const DWORD length = ::GetPrivateProfileStringA(sectionText.c_str(), keyText.c_str(), defaultText.c_str(),
                                                  buffer.data(), static_cast<DWORD>(bufferSize), path.c_str());
  const DWORD lastError = ::GetLastError();
  ProfileText result;
  result.text.assign(buffer.data(), std::min<std::size_t>(length, bufferSize == 0 ? 0 : bufferSize - 1));
  result.error = lastError;
  return result;
}

}  // namespace pw::platform
