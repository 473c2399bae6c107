#include <stdexcept>
#include <string>

#include "platform/FileSystem.h"
#include "platform/win32/WinApi.h"
#include "tests/support/TestEnvironment.h"

namespace pw::test {

struct ScratchFolder::Backend {};

ScratchFolder::ScratchFolder() {
  char temp[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathA(sizeof temp, temp);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("GetTempPathA failed");
  std::string base(temp, length);
  if (!base.empty() && base.back() == '\\') base.pop_back();
  for (unsigned attempt = 0;; ++attempt) {
    path_ = base + "\\pagewick-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(::GetTickCount()) + "-" + std::to_string(attempt);
    const platform::Outcome created = platform::CreateDirectory(path_);
    if (created) break;
    if (created.error != ERROR_ALREADY_EXISTS || attempt > 1000) {
      throw std::runtime_error("cannot create the scratch folder " + path_);
    }
  }
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

bool IsRunningUnderWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace pw::test
