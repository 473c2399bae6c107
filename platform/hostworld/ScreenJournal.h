#pragma once
// What a user could see on a session's screen, kept in one file of the world
// that every process of the world appends to: each process has a desktop
// object of its own, so a test that runs the service and its session agents
// as processes reads here what appeared on which session's screen. One line
// per event: session, process id, event and its detail, tab-separated.
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace pw::hostworld {

struct ScreenEvent {
  std::uint32_t session = 0;
  long processId = 0;
  std::string event;   // one of the names below
  std::string detail;  // tabs and line breaks inside are written as \t and \n
};

namespace screen_event {
inline constexpr std::string_view kTrayIconAdded = "tray-add";        // the icon's tip
inline constexpr std::string_view kTrayIconRemoved = "tray-delete";   // the icon's tip
inline constexpr std::string_view kTrayIconTip = "tray-tip";          // the icon's new tip
// How the icon is identified: "guid {...}" or "id <n>", tab, "version <n>".
inline constexpr std::string_view kTrayIconIdentity = "tray-identity";
inline constexpr std::string_view kTrayBalloon = "tray-balloon";  // title, tab, text
inline constexpr std::string_view kWindowShown = "window-shown";      // class, tab, title
inline constexpr std::string_view kWindowHidden = "window-hidden";    // class, tab, title
inline constexpr std::string_view kMessageBox = "message-box";        // caption, tab, text
inline constexpr std::string_view kFolderBrowser = "folder-browser";  // the browser's title
inline constexpr std::string_view kShellExecute = "shell-execute";    // verb, tab, file
inline constexpr std::string_view kElevationPrompt = "elevation-prompt";  // program, tab, its arguments
}  // namespace screen_event

class ScreenJournal {
 public:
  ScreenJournal(std::filesystem::path file, std::uint32_t session) : file_(std::move(file)), session_(session) {}

  // Appends one line in a single write, so lines of several processes never
  // interleave. A journal that cannot be written loses the line: it is a
  // record for tests, never a reason for the program to fail.
  void Record(std::string_view event, std::string_view detail) const noexcept;

  static std::vector<ScreenEvent> Read(const std::filesystem::path& file);

 private:
  std::filesystem::path file_;
  std::uint32_t session_;
};

}  // namespace pw::hostworld
