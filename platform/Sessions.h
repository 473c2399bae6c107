#pragma once
// Terminal-services sessions (Windows Vista and later): the interactive
// sessions, the console session, this process's session, and starting a
// process in a session as its logged-on user (WTSQueryUserToken,
// CreateEnvironmentBlock, CreateProcessAsUserA on "winsta0\default"). The
// calls are looked up at run time, so the program still starts on Windows 2000;
// there they fail with ERROR_CALL_NOT_IMPLEMENTED (120).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Errors.h"
#include "platform/NamedPipe.h"

namespace pw::platform {

inline constexpr std::uint32_t kNoSession = 0xFFFFFFFFu;

// SERVICE_CONTROL_SESSIONCHANGE and its event types.
namespace session_change {
inline constexpr std::uint32_t kControl = 14;
inline constexpr std::uint32_t kAccept = 0x80;  // SERVICE_ACCEPT_SESSIONCHANGE
inline constexpr std::uint32_t kLogon = 5;      // WTS_SESSION_LOGON
inline constexpr std::uint32_t kLogoff = 6;     // WTS_SESSION_LOGOFF
}  // namespace session_change

// The sessions a user is logged on to: WTSActive ones, and WTSDisconnected
// ones other than session 0 (their user may reconnect).
Result<std::vector<std::uint32_t>> EnumerateInteractiveSessions();

// WTSGetActiveConsoleSessionId: kNoSession while none is attached.
std::uint32_t ActiveConsoleSessionId();

// ProcessIdToSessionId for this process.
Result<std::uint32_t> CurrentProcessSessionId();

// Starts `commandLine` in `session` as the session's user, on its interactive
// desktop, with the user's environment. Needs LocalSystem on Windows.
// Gives the new process's id.
Result<std::uint32_t> StartProcessInSession(std::uint32_t session, std::string_view commandLine);

}  // namespace pw::platform
