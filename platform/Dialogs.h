#pragma once
// Modal message boxes. While a box is open its own message loop keeps
// dispatching the calling thread's window messages (timer ticks go on); a
// thread message taken by that loop is lost; WM_QUIT closes the box and is
// posted again for the outer loop.
#include <cstdint>
#include <string_view>

#include "platform/Handle.h"

namespace pw::platform {

// MB_* style bits.
namespace mb {
inline constexpr std::uint32_t kOk = 0x0;
inline constexpr std::uint32_t kOkCancel = 0x1;
inline constexpr std::uint32_t kYesNo = 0x4;
inline constexpr std::uint32_t kIconError = 0x10;
inline constexpr std::uint32_t kIconQuestion = 0x20;
inline constexpr std::uint32_t kIconWarning = 0x30;
inline constexpr std::uint32_t kIconInformation = 0x40;
inline constexpr std::uint32_t kSystemModal = 0x1000;
inline constexpr std::uint32_t kTaskModal = 0x2000;
}  // namespace mb

// The button that closed a box (IDOK ...); 0 when the box could not be shown
// or was closed by WM_QUIT.
namespace dialog_result {
inline constexpr int kNone = 0;
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kYes = 6;
inline constexpr int kNo = 7;
}  // namespace dialog_result

// MessageBoxExA. The box is a top-level window titled with the caption while
// it is open, so FindWindowA finds it. Calling thread's loop only.
int MessageBoxEx(WindowHandle owner, std::string_view text, std::string_view caption, std::uint32_t style,
                 std::uint16_t languageId);

// Closes the dialogs of the calling thread that the window owns (message
// boxes, the folder browser) as their close box would (WM_CLOSE): a box with
// only an OK button answers IDOK, any other IDCANCEL, and their modal loops
// end. Calling thread only.
void CloseOwnedDialogs(WindowHandle owner);

}  // namespace pw::platform
