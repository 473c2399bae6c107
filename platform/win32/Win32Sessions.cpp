// Terminal-services sessions. wtsapi32.dll and userenv.dll are loaded from
// System32, and the kernel's session calls looked up, at run time, so that
// the program still starts on Windows 2000.
#include <string>
#include <vector>

#include "platform/ScopeExit.h"
#include "platform/Security.h"
#include "platform/Sessions.h"
#include "platform/win32/Win32SystemLibrary.h"
#include "platform/winapi/WindowsApi.h"
#include <wtsapi32.h>

namespace pw::platform {
namespace {

class Module {
 public:
  explicit Module(const char* name) : module_(LoadSystemLibrary(name)) {}
  ~Module() {
    if (module_ != nullptr) ::FreeLibrary(module_);
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  template <typename Function>
  Function Find(const char* name) const {
    if (module_ == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
  }

 private:
  HMODULE module_;
};

using EnumerateSessionsFunction = BOOL(WINAPI*)(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOA*, DWORD*);
using FreeMemoryFunction = void(WINAPI*)(PVOID);
using QueryUserTokenFunction = BOOL(WINAPI*)(ULONG, PHANDLE);
using CreateEnvironmentBlockFunction = BOOL(WINAPI*)(LPVOID*, HANDLE, BOOL);
using DestroyEnvironmentBlockFunction = BOOL(WINAPI*)(LPVOID);
using ActiveConsoleSessionFunction = DWORD(WINAPI*)();
using ProcessIdToSessionIdFunction = BOOL(WINAPI*)(DWORD, DWORD*);

}  // namespace

Result<std::vector<std::uint32_t>> EnumerateInteractiveSessions() {
  const Module wts("wtsapi32.dll");
  const auto enumerate = wts.Find<EnumerateSessionsFunction>("WTSEnumerateSessionsA");
  const auto freeMemory = wts.Find<FreeMemoryFunction>("WTSFreeMemory");
  if (enumerate == nullptr || freeMemory == nullptr) {
    return Failure(ERROR_CALL_NOT_IMPLEMENTED);
  }
  PWTS_SESSION_INFOA sessions = nullptr;
  DWORD count = 0;
  if (!enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) return Failure(::GetLastError());
  ScopeExit release([&] { freeMemory(sessions); });
  std::vector<std::uint32_t> listed;
  for (DWORD i = 0; i < count; ++i) {
    // A disconnected session keeps its logged-on user, who comes back to it
    // at a reconnect that no logon announces. Session 0, the services' own,
    // is listed as disconnected from Vista on and has no user.
    const bool loggedOn = sessions[i].State == WTSActive ||
                          (sessions[i].State == WTSDisconnected && sessions[i].SessionId != 0);
    if (loggedOn) listed.push_back(sessions[i].SessionId);
  }
  return listed;
}

std::uint32_t ActiveConsoleSessionId() {
  const auto query = KernelFunction<ActiveConsoleSessionFunction>("WTSGetActiveConsoleSessionId");
  return query == nullptr ? kNoSession : query();
}

Result<std::uint32_t> CurrentProcessSessionId() {
  const auto query = KernelFunction<ProcessIdToSessionIdFunction>("ProcessIdToSessionId");
  if (query == nullptr) return Failure(ERROR_CALL_NOT_IMPLEMENTED);
  DWORD session = 0;
  if (!query(::GetCurrentProcessId(), &session)) return Failure(::GetLastError());
  return static_cast<std::uint32_t>(session);
}

RawHandle TokenHandleTraits::Invalid() noexcept { return nullptr; }

void TokenHandleTraits::Close(RawHandle handle) noexcept {
  const DWORD lastError = ::GetLastError();
  ::CloseHandle(handle);
  ::SetLastError(lastError);
}

namespace {

// The primary token of the session's user (WTSQueryUserToken, LocalSystem
// only); ERROR_NO_TOKEN while the session shows the logon screen.
Result<TokenHandle> SessionUserToken(std::uint32_t session) {
  const Module wts("wtsapi32.dll");
  const auto queryToken = wts.Find<QueryUserTokenFunction>("WTSQueryUserToken");
  if (queryToken == nullptr) return Failure(ERROR_CALL_NOT_IMPLEMENTED);
  HANDLE token = nullptr;
  if (!queryToken(session, &token)) return Failure(::GetLastError());
  return TokenHandle(token);
}

}  // namespace

Result<std::uint32_t> StartProcessInSession(std::uint32_t session, std::string_view commandLine) {
  const Module userenv("userenv.dll");
  const auto createEnvironment = userenv.Find<CreateEnvironmentBlockFunction>("CreateEnvironmentBlock");
  const auto destroyEnvironment = userenv.Find<DestroyEnvironmentBlockFunction>("DestroyEnvironmentBlock");
  if (createEnvironment == nullptr || destroyEnvironment == nullptr) {
    return Failure(ERROR_CALL_NOT_IMPLEMENTED);
  }
  PW_TRY_ASSIGN(const TokenHandle user, SessionUserToken(session));
  HANDLE token = user.get();
  LPVOID environment = nullptr;
  if (!createEnvironment(&environment, token, FALSE)) {
    return Failure(::GetLastError());
  }
  ScopeExit destroy([&] { destroyEnvironment(environment); });

  std::string command(commandLine);  // CreateProcessAsUserA may write into it
  std::string desktop = "winsta0\\default";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop.data();
  PROCESS_INFORMATION process{};
  if (!::CreateProcessAsUserA(token, nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                              environment, nullptr, &startup, &process)) {
    return Failure(::GetLastError());
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return static_cast<std::uint32_t>(process.dwProcessId);
}

Result<TokenHandle> ConsoleUserToken() {
  const std::uint32_t session = ActiveConsoleSessionId();
  if (session == kNoSession) return Failure(error::kNoToken);
  return SessionUserToken(session);
}

}  // namespace pw::platform
