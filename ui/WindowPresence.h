#pragma once

namespace pw::ui {

// Where the main window is: on a user's desktop (with its tray icon), or in
// the service's session 0 on Windows Vista and later, where nobody sees it:
// then it adds no tray icon, never shows itself, and what it would show goes
// to the session agents through its notifier.
enum class WindowPresence { OnDesktop, Unseen };

}  // namespace pw::ui
