// Acting with a user's token on the calling thread.
#include <cstdlib>

#include "platform/Security.h"
#include "platform/winapi/WindowsApi.h"

namespace pw::platform {

Impersonation::Impersonation(const TokenHandle& token) {
  if (!token.valid()) {
    error_ = ERROR_INVALID_HANDLE;
    return;
  }
  if (!::ImpersonateLoggedOnUser(token.get())) {
    error_ = ::GetLastError();
    return;
  }
  ok_ = true;
}

Impersonation::~Impersonation() {
  // A thread that cannot return to its own rights must not go on with the
  // user's (or, worse, half of them): the process ends here.
  if (ok_ && !::RevertToSelf()) std::abort();
}

}  // namespace pw::platform
