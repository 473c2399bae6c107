#pragma once
// The text table beside the executable, for the parts of the program that
// have no main window to ask (the process entry, the session agent before
// its page exists), and the ids of the texts that tell the user what the
// desktop around the program is doing.
#include <cstdint>
#include <string>

#include "platform/Handle.h"

namespace pw::ui {

namespace text {
inline constexpr std::int32_t kTrayIconTip = 10012;
inline constexpr std::int32_t kServiceNotInstalledMessage = 40011;
inline constexpr std::int32_t kServiceStoppedMessage = 40012;
inline constexpr std::int32_t kServiceSilentMessage = 40013;
inline constexpr std::int32_t kRunAsAdministratorMessage = 40014;
// The notification after a burst of pictures: "%s" the folder, "%u" the count.
inline constexpr std::int32_t kOnePictureArrivedMessage = 40015;
inline constexpr std::int32_t kPicturesArrivedMessage = 40016;
// How a run started through the administrator prompt ended ("%s" the switch,
// "%u" the error code).
inline constexpr std::int32_t kElevatedInstallDoneMessage = 40070;
inline constexpr std::int32_t kElevatedUninstallDoneMessage = 40071;
inline constexpr std::int32_t kElevationRefusedMessage = 40072;
inline constexpr std::int32_t kElevatedRunFailedMessage = 40073;
inline constexpr std::int32_t kElevationNotStartedMessage = 40074;
// The service's description in the control manager.
inline constexpr std::int32_t kServiceDescription = 40077;
}  // namespace text

// The text with the given id, read anew from the table; empty when missing.
std::string LoadTableText(std::int32_t id);

// The text with its first "%u" replaced by the count and its first "%s" by
// the value. The table is data, never a format string.
std::string WithInserts(std::string text, std::uint32_t count, const std::string& value);

// A box with the text and the message caption (10010), an OK button and the
// icon (an MB_ICON* style), owned by the window (may be null).
void ShowTableMessage(platform::WindowHandle owner, std::int32_t id, std::uint32_t icon);

}  // namespace pw::ui
