#pragma once
// The windowing side of the host world: per-thread message queues, windows
// with their procedures, timers on a clock that tests advance, activation,
// the shell's notification area, and the modal dialogs, which are recorded
// and answered by a desktop driver (a test callback, or the world's default).
// The World owns one Desktop; a new World starts with an empty desktop.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/Messages.h"
#include "platform/NotifyIcon.h"
#include "platform/Windows.h"
#include "platform/hostworld/CaseFolding.h"
#include "platform/hostworld/ScreenJournal.h"

namespace pw::platform {
class PopupMenu;
}

namespace pw::hostworld {

class World;
class Desktop;
struct BrowseRequest;

// Told when the desktop destroys a window made for a platform Window object
// (on the window's thread), so that the object forgets its handle. The host
// adapter implements it; the desktop calls nothing of the platform library.
class WindowObserver {
 public:
  virtual void WindowDestroyed(platform::Window& object) noexcept = 0;

 protected:
  ~WindowObserver() = default;
};

struct MessageBoxRecord {
  platform::WindowHandle owner = nullptr;
  std::string text;
  std::string caption;
  std::uint32_t style = 0;
  std::uint16_t language = 0;
  int result = 0;  // filled when the box closes
};

struct BrowseRecord {
  platform::WindowHandle owner = nullptr;
  std::string title;
  std::uint32_t flags = 0;
  bool rootIsDrives = false;                 // the root was the computer's drives folder
  bool initializedSent = false;              // the callback got BFFM_INITIALIZED
  std::optional<std::string> selectionSent;  // the path of a BFFM_SETSELECTIONA
};

struct MenuRecord {
  platform::WindowHandle owner = nullptr;
  platform::Point at;
  std::vector<std::pair<std::uint32_t, std::string>> items;
  std::uint32_t defaultItem = 0;
  std::uint32_t chosen = 0;
};

struct ShellExecuteRecord {
  platform::WindowHandle owner = nullptr;
  std::string verb;
  std::string file;
  std::string parameters;
  std::string directory;
  int show = 0;
  std::intptr_t result = 0;
};

// Windows' consent prompt (UAC) for a program started with the "runas" verb.
struct ElevationRecord {
  platform::WindowHandle owner = nullptr;
  std::string file;
  std::string parameters;
  bool consented = false;                 // filled when the prompt closes
  std::optional<std::uint32_t> exitCode;  // of the program that ran elevated
};

struct TrayIconRecord {
  platform::WindowHandle window = nullptr;
  std::uint32_t id = 0;
  std::uint32_t callbackMessage = 0;
  platform::RawHandle icon = nullptr;
  std::string tip;
  std::optional<platform::Guid> guid;  // the icon's identity when it was added with one
  std::uint32_t version = 0;           // what NIM_SETVERSION set (0: the first behaviour)
};

// A notification an icon showed (NIF_INFO).
struct BalloonRecord {
  platform::WindowHandle window = nullptr;
  std::uint32_t id = 0;
  std::string title;
  std::string text;
};

struct TrayIconCall {
  std::uint32_t action = 0;  // platform::nim
  platform::WindowHandle window = nullptr;
  std::uint32_t id = 0;
  bool ok = false;
};

// The loop of an open modal dialog as its driver sees it. The driver runs on
// the dialog's thread, inside the dialog, like a user who acts while the box
// is on screen.
class ModalLoop {
 public:
  ModalLoop(Desktop& desktop, platform::WindowHandle dialog) : desktop_(desktop), dialog_(dialog) {}

  // Dispatches the thread's waiting messages as the dialog's loop does: window
  // messages (and due timers) reach their windows, thread messages are lost,
  // WM_QUIT closes the dialog. False once the dialog has been closed so.
  bool Pump();
  // Advances the world's clock, then pumps, so timers tick inside the dialog.
  bool AdvanceTime(std::uint32_t milliseconds);
  [[nodiscard]] bool closedByQuit() const { return closedByQuit_; }
  // The owner closed the dialog (CloseOwnedDialogs): the user's answer is moot.
  [[nodiscard]] bool closedByOwner() const { return closedByOwner_; }
  [[nodiscard]] platform::WindowHandle dialog() const { return dialog_; }

 private:
  Desktop& desktop_;
  platform::WindowHandle dialog_;
  bool closedByQuit_ = false;
  bool closedByOwner_ = false;
};

// What the user does in the folder browser.
struct BrowseAnswer {
  enum class Kind { Cancel, Path, NoPath };
  Kind kind = Kind::Cancel;
  std::string path;

  static BrowseAnswer Cancel() { return {}; }
  static BrowseAnswer Choose(std::string path) { return {Kind::Path, std::move(path)}; }
  // An item without a file-system path, such as the computer node itself.
  static BrowseAnswer ChooseWithoutPath() { return {Kind::NoPath, {}}; }
};

using MessageBoxDriver = std::function<int(const MessageBoxRecord&, ModalLoop&)>;
using BrowseDriver = std::function<BrowseAnswer(const BrowseRecord&, ModalLoop&)>;
using MenuDriver = std::function<std::uint32_t(const MenuRecord&, ModalLoop&)>;
// Answers the consent prompt: nullopt is No; a value is Yes, and the exit
// code of the program that the driver ran with administrator rights in the
// prompt's place (the driver is the elevated process).
using ElevationDriver = std::function<std::optional<std::uint32_t>(const ElevationRecord&)>;

enum class MouseButton { Left, Right };

class Desktop {
 public:
  explicit Desktop(World& world);
  ~Desktop();
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  // --- Clock. Manual by default: time moves only by AdvanceTime. In real-time
  // mode (the demo) it also follows the steady clock.
  std::uint64_t Now() const;
  void AdvanceTime(std::uint32_t milliseconds);
  void SetRealTime(bool on);

  // --- Desktop driver. The defaults: message boxes press their default
  // button, the browser is cancelled, menus are dismissed.
  void SetMessageBoxDriver(MessageBoxDriver driver);
  // The button a user who just presses Enter chooses: what the default driver answers.
  static int DefaultMessageBoxResult(std::uint32_t style);
  void SetBrowseDriver(BrowseDriver driver);
  void SetMenuDriver(MenuDriver driver);
  // Without a driver the consent prompt is refused: nothing runs elevated.
  void SetElevationDriver(ElevationDriver driver);

  // --- A record of what appears on this desktop, for the world's other
  // processes (ScreenJournal.h). Set before the desktop is used by more than
  // one thread; none by default.
  void SetScreenJournal(std::optional<ScreenJournal> journal) { journal_ = std::move(journal); }

  // --- What happened.
  std::vector<MessageBoxRecord> MessageBoxes() const;
  std::vector<BrowseRecord> Browses() const;
  std::vector<MenuRecord> Menus() const;
  std::vector<ShellExecuteRecord> ShellExecutes() const;
  std::vector<ElevationRecord> Elevations() const;
  std::vector<TrayIconRecord> TrayIcons() const;
  std::vector<TrayIconCall> TrayIconCalls() const;
  std::vector<BalloonRecord> Balloons() const;
  std::size_t LostThreadMessages() const;  // taken and dropped by modal loops
  // How often the thread has looked at its queue without waiting
  // (PeekMessage) and found it empty: a loop that serves its queue once per
  // pass advances it every pass, so a test can wait for passes to have run.
  std::uint64_t EmptyQueueChecks(platform::ThreadId thread) const;
  std::size_t LiveItemIdLists() const;     // allocated and not yet freed

  // --- The desktop's windows.
  // Top-level windows, topmost first.
  std::vector<platform::WindowHandle> TopLevelWindows() const;
  // A window of no process of ours, such as an explorer window.
  platform::WindowHandle OpenForeignWindow(std::string className, std::string title);
  void CloseForeignWindow(platform::WindowHandle window);
  void SetCursorPos(platform::Point at);

  // --- Controls inside a window. The host's controls have no procedure of
  // their own: what they do reaches their window as WM_COMMAND. Their order
  // is the native Z-order, which Tab walks.
  platform::WindowHandle CreateControl(platform::WindowHandle parent, int id, std::string name, std::uint32_t style);
  void DestroyControl(platform::WindowHandle control);
  void SetControlState(platform::WindowHandle control, bool visible, bool enabled);
  // SetWindowPos with an insert-after window: right after `after` (null: first).
  void PlaceControlAfter(platform::WindowHandle control, platform::WindowHandle after);
  // A window's controls, in order.
  std::vector<platform::WindowHandle> Controls(platform::WindowHandle parent) const;
  std::string ControlName(platform::WindowHandle control) const;
  platform::WindowHandle ControlParent(platform::WindowHandle control) const;
  // The keyboard focus (of the foreground window's thread): a control or a window.
  platform::WindowHandle Focus() const;
  void SetFocus(platform::WindowHandle window);
  // The user presses a key, holding Shift or not: WM_KEYDOWN and WM_KEYUP are
  // posted to the window with the focus. False when nothing has the focus.
  bool PressKey(std::uintptr_t virtualKey, bool shift = false);
  // IsDialogMessageA (platform::IsDialogMessage) for a window with controls.
  bool IsDialogMessage(const platform::Message& message);

  // --- The shell's side.
  // Posts the icon's callback message for a click (button down, then up), as
  // the notification area does. False when no such icon is shown.
  bool ClickTrayIcon(std::uint32_t id, MouseButton button);
  bool DoubleClickTrayIcon(std::uint32_t id);
  // The user clicks the last notification shown: NIN_BALLOONUSERCLICK to its
  // icon, in the form of the icon's version. False when none was shown or its
  // icon is gone.
  bool ClickLastBalloon();
  // The shell refuses icon GUIDs, as Windows does for a GUID first seen with
  // an executable at another path (and as shells before Windows 7 do).
  void SetTrayGuidRefused(bool refused);
  // The taskbar restarts: every icon is gone and "TaskbarCreated" is
  // broadcast to the top-level windows.
  void RestartTaskbar();
  // WM_DEVICECHANGE (DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE) to every
  // top-level window, posted as the system broadcasts it.
  void BroadcastDeviceChange(std::uintptr_t event);

  // --- Backend surface, used by the host platform layer.
  platform::ThreadId CurrentThreadId();
  void EnsureQueue();
  platform::Result<void> Post(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                         std::intptr_t lParam);
  platform::Result<void> PostToThread(platform::ThreadId thread, std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam);
  void PostQuit(int exitCode);
  std::optional<platform::Message> Take();
  std::optional<platform::Message> TakeFrom(std::thread::id thread);
  void PostToThread(std::thread::id thread, platform::Message message);
  platform::Message Wait();
  // Blocks until the calling thread has a message or a due timer, or until
  // timeoutMs of the steady clock have passed (platform::kInfinite: no limit).
  bool WaitForInput(std::uint32_t timeoutMs);
  std::vector<platform::Message> Pending(std::thread::id thread) const;
  std::intptr_t Dispatch(const platform::Message& message);
  std::intptr_t Send(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                     std::intptr_t lParam);
  platform::TimerId SetTimer(platform::WindowHandle window, platform::TimerId id, std::uint32_t intervalMs);
  bool KillTimer(platform::WindowHandle window, platform::TimerId id);

  platform::Result<void> RegisterClass(std::string_view className);
  // While set, every CreateWindow fails with the error, as the system's does
  // when the desktop's heap is used up (ERROR_NOT_ENOUGH_MEMORY).
  void SetWindowCreationFailure(std::optional<platform::ErrorCode> error);
  // The window is made for object (the host adapter's Window), whose observer
  // the desktop tells when it destroys the window.
  platform::Result<platform::WindowHandle> CreateWindow(const platform::WindowParams& details, platform::Window* object,
                                                        WindowObserver* observer, platform::WindowHandler* handler);
  platform::Result<void> Destroy(platform::WindowHandle window);
  // Cuts the window from its object and procedure (the object is going away
  // while the window cannot be destroyed, e.g. from a foreign thread).
  void DetachObject(platform::WindowHandle window);
  bool IsWindow(platform::WindowHandle window) const;
  bool IsVisible(platform::WindowHandle window) const;
  bool Show(platform::WindowHandle window, platform::ShowCommand command);
  bool SetForeground(platform::WindowHandle window);
  platform::WindowHandle Foreground() const;
  void Raise(platform::WindowHandle window);
  platform::WindowHandle Find(std::optional<std::string_view> className, std::optional<std::string_view> title) const;
  platform::Result<void> SetText(platform::WindowHandle window, std::string_view text);
  std::string Text(platform::WindowHandle window) const;
  std::optional<platform::Rect> Bounds(platform::WindowHandle window) const;
  std::optional<platform::Size> ClientSize(platform::WindowHandle window) const;
  platform::ThreadId WindowThread(platform::WindowHandle window) const;
  void Broadcast(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
  std::uint32_t RegisterMessage(std::string_view name);
  platform::Point CursorPos() const;

  int RunMessageBox(platform::WindowHandle owner, std::string_view text, std::string_view caption,
                    std::uint32_t style, std::uint16_t language);
  // Closes the open dialogs the window owns: their modal loops end (Pump
  // answers false) and a box answers as its close box would.
  void CloseOwnedDialogs(platform::WindowHandle owner);
  platform::RawHandle NewItemIdList(std::optional<std::string> path, bool drivesFolder);
  void FreeItemIdList(platform::RawHandle list);
  std::optional<std::string> ItemIdListPath(platform::RawHandle list) const;
  bool ItemIdListIsDrives(platform::RawHandle list) const;
  platform::RawHandle RunBrowser(const BrowseRequest& request);
  std::intptr_t RunShellExecute(ShellExecuteRecord record);
  // The consent prompt and the elevated program's run: its exit code, or
  // kCancelled when refused, kFileNotFound when the program is missing
  // (kPathNotFound when its folder is).
  platform::Result<std::uint32_t> RunElevation(ElevationRecord record);
  std::uint32_t RunMenu(const platform::PopupMenu& menu, platform::Point at, platform::WindowHandle owner);
  bool NotifyIcon(std::uint32_t action, const platform::NotifyIconData& data);
  platform::RawHandle NewIcon(int width, int height, int colours);
  std::optional<platform::Size> IconSize(platform::RawHandle icon) const;

  // The screen's DPI (96 is 100% scaling): sizes the system scales by it.
  void SetDpi(int dpi);
  int Dpi() const;
  // A size of the 96-DPI design at the screen's DPI.
  int ScaleForDpi(int designSize) const;
  void FreeIcon(platform::RawHandle icon);

  // The frame of a window with a caption, as Windows lays it out from the
  // system's metrics: the dialog frame (SM_CXDLGFRAME, SM_CYDLGFRAME) on every
  // side and the caption bar (SM_CYCAPTION) above the client area. The
  // default is what Wine's and classic Windows' metrics give.
  struct FrameMetrics {
    int frameWidth = 3;
    int frameHeight = 3;
    int caption = 19;
  };
  void SetFrameMetrics(FrameMetrics metrics);
  // What a window of this style adds to its client area: nothing without a caption.
  platform::Size FrameAround(std::uint32_t style) const;

 private:
  struct ThreadState {
    platform::ThreadId id = 0;
    bool hasQueue = false;
    std::deque<platform::Message> posted;
    std::optional<int> quitCode;
    std::uint64_t emptyChecks = 0;
  };
  struct WindowRecord {
    std::string className;
    std::string title;
    std::uint32_t style = 0;
    platform::Rect bounds;
    std::thread::id thread;
    bool foreign = false;
    bool visible = false;
    bool dialog = false;
    bool closedByOwner = false;  // a dialog its owner closed; its modal loop ends
    platform::WindowHandle owner = nullptr;
    bool destroying = false;
    std::optional<std::size_t> browseIndex;  // the browse record of a folder-browser dialog
    platform::WindowHandler* handler = nullptr;
    platform::Window* object = nullptr;
    WindowObserver* observer = nullptr;
    std::uint64_t z = 0;
  };
  struct ControlRecord {
    platform::WindowHandle parent = nullptr;
    int id = 0;
    std::string name;
    std::uint32_t style = 0;
    bool visible = true;
    bool enabled = true;
  };
  struct Timer {
    platform::WindowHandle window = nullptr;
    platform::TimerId id = 0;
    std::uint32_t interval = 0;
    std::uint64_t due = 0;
    std::thread::id thread;
  };
  struct ItemIdListObject {
    std::optional<std::string> path;
    bool drivesFolder = false;
  };

  friend class ModalLoop;
  using Lock = std::unique_lock<std::mutex>;

  ThreadState& ThreadLocked(std::thread::id thread);
  std::uint64_t NowLocked() const;
  WindowRecord* FindLocked(platform::WindowHandle window);
  const WindowRecord* FindLocked(platform::WindowHandle window) const;
  platform::Size FrameAroundLocked(std::uint32_t style) const;
  platform::WindowHandle NewHandleLocked();
  std::optional<platform::Message> TakeLocked(std::thread::id thread);
  // Whether TakeLocked would give the thread a message now.
  bool HasInputLocked(std::thread::id thread);
  // The earliest due time of the thread's timers in real-time mode.
  std::optional<std::uint64_t> NextDueLocked(std::thread::id thread) const;
  void PostLocked(const WindowRecord& record, platform::Message message);
  // Runs the window procedure on the owning thread, or posts the message when
  // the window belongs to another thread (the simulated cross-thread send).
  std::intptr_t Deliver(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                        std::intptr_t lParam);
  std::intptr_t DefaultProcessing(platform::WindowHandle window, std::uint32_t message);
  // Posts a callback event of the icon in the form of its version.
  void PostTrayEvent(const TrayIconRecord& icon, std::uint32_t event);
  platform::WindowHandle OpenDialogWindow(std::string_view title, std::optional<std::size_t> browseIndex,
                                          platform::WindowHandle owner);
  // What a modal dialog learns as it opens.
  template <class Driver>
  struct DialogEntry {
    std::size_t index = 0;  // its record's place in the desktop's list
    Driver driver;          // the test's answer to it, if any
    bool quitWaiting = false;  // WM_QUIT already waits on this thread
  };
  // Adds a dialog's record to its list and takes the driver, in one step.
  template <class Record, class Driver>
  DialogEntry<Driver> EnterDialog(std::vector<Record>& records, const Record& record, const Driver& driver);
  bool DialogClosedByOwner(platform::WindowHandle dialog) const;
  // Destroys a modal dialog's window and gives the activation back to its owner.
  void CloseDialogWindow(platform::WindowHandle dialog, platform::WindowHandle owner);
  void Activate(platform::WindowHandle window);
  void Deactivate(platform::WindowHandle window);

  World& world_;
  mutable std::mutex mutex_;
  FrameMetrics frameMetrics_;
  std::condition_variable wake_;
  std::map<std::thread::id, ThreadState> threads_;
  platform::ThreadId nextThreadId_ = 0x20;
  std::map<std::uintptr_t, WindowRecord> windows_;
  std::uintptr_t nextWindow_ = 0x10010;
  std::uint64_t nextZ_ = 1;
  platform::WindowHandle foreground_ = nullptr;
  std::vector<std::string> classes_;
  std::optional<platform::ErrorCode> windowCreationFailure_;
  // RegisterWindowMessageA's names are the same in any letter case.
  struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const { return LessTextIgnoringCase(a, b); }
  };
  std::map<std::string, std::uint32_t, NameLess> registeredMessages_;
  std::uint32_t nextRegisteredMessage_ = 0xC0F0;
  std::vector<Timer> timers_;
  std::map<std::uintptr_t, ControlRecord> controls_;
  std::vector<platform::WindowHandle> controlOrder_;  // of all windows' controls
  platform::WindowHandle focus_ = nullptr;
  bool shiftDown_ = false;
  std::uint64_t manualNow_ = 0;
  bool realTime_ = false;
  std::chrono::steady_clock::time_point realBase_ = std::chrono::steady_clock::now();
  platform::Point cursor_{800, 580};

  MessageBoxDriver messageBoxDriver_;
  BrowseDriver browseDriver_;
  MenuDriver menuDriver_;
  ElevationDriver elevationDriver_;
  std::vector<ElevationRecord> elevations_;
  std::vector<MessageBoxRecord> messageBoxes_;
  std::vector<BrowseRecord> browses_;
  std::vector<MenuRecord> menus_;
  std::vector<ShellExecuteRecord> shellExecutes_;
  std::map<std::pair<platform::WindowHandle, std::uint32_t>, TrayIconRecord> trayIcons_;
  std::vector<TrayIconCall> trayIconCalls_;
  std::vector<BalloonRecord> balloons_;
  bool trayGuidRefused_ = false;
  std::size_t lostThreadMessages_ = 0;
  std::map<std::uintptr_t, ItemIdListObject> itemIdLists_;
  std::uintptr_t nextItemIdList_ = 0x5000;
  std::map<std::uintptr_t, platform::Size> icons_;
  int dpi_ = 96;
  std::uintptr_t nextIcon_ = 0x7000;
  std::optional<ScreenJournal> journal_;
};

// A folder-browser request as the host shell receives it.
struct BrowseRequest {
  platform::WindowHandle owner = nullptr;
  platform::RawHandle root = nullptr;
  std::string title;
  std::uint32_t flags = 0;
  std::function<void(platform::WindowHandle dialog, std::uint32_t notification, std::intptr_t param)> callback;
};

}  // namespace pw::hostworld
