#include "service/Elevation.h"

#include <string>

#include "platform/Dialogs.h"
#include "platform/Shell.h"
#include "platform/SystemInfo.h"
#include "ui/MainForm.h"
#include "ui/TextTable.h"

namespace pw::service {

platform::ErrorCode OfferElevatedRun(std::int32_t offerId, std::string_view switchName) {
  const std::string caption = ui::LoadTableText(ui::text::kMessageCaption);
  const std::string switchText(switchName);
  const int answer =
      platform::MessageBoxEx(nullptr, ui::WithInserts(ui::LoadTableText(offerId), 0, switchText), caption,
                             platform::mb::kOkCancel | platform::mb::kIconWarning, 0);
  if (answer != platform::dialog_result::kOk) return platform::error::kAccessDenied;
  // The elevated run shows its own box when it fails; the summary below
  // follows it.
  const platform::Result<std::uint32_t> ran =
      platform::RunElevatedAndWait(nullptr, platform::GetModuleFileName(), switchText + " /silent");
  std::int32_t outcomeId = 0;
  std::uint32_t code = 0;
  if (!ran) {
    code = ran.error();
    outcomeId = code == platform::error::kCancelled ? ui::text::kElevationRefusedMessage
                                                    : ui::text::kElevationNotStartedMessage;
  } else {
    code = *ran;
    if (code != 0) {
      outcomeId = ui::text::kElevatedRunFailedMessage;
    } else {
      outcomeId = switchText == "/uninstall" ? ui::text::kElevatedUninstallDoneMessage
                                             : ui::text::kElevatedInstallDoneMessage;
    }
  }
  (void)platform::MessageBoxEx(nullptr, ui::WithInserts(ui::LoadTableText(outcomeId), code, switchText), caption,
                               platform::mb::kOk | (code == 0 ? platform::mb::kIconInformation
                                                              : platform::mb::kIconWarning),
                               0);
  return code;
}

}  // namespace pw::service
