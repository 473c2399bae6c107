// The main window under Wine: a real TMainForm window with real controls,
// the tray icon, timer ticks inside a message box, and a screenshot of the
// shown settings page (main-window.bmp beside this test's executable).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/Messages.h"
#include "platform/PathText.h"
#include "platform/SystemInfo.h"
#include "platform/NotifyIcon.h"
#include "platform/Windows.h"
#include "tests/support/TestEnvironment.h"
#include "platform/winapi/WindowsApi.h"
#include "ui/MainForm.h"
#include "ui/ProcessState.h"

namespace pw::ui {
namespace {

void Pump() {
  while (std::optional<platform::Message> message = platform::PeekMessage()) platform::DispatchMessage(*message);
}

// Pumps for a while so that the window and its controls have painted.
void PumpFor(std::chrono::milliseconds period) {
  auto end = std::chrono::steady_clock::now() + period;
  while (std::chrono::steady_clock::now() < end) {
    Pump();
    platform::Sleep(10);
  }
}

std::string ChildText(HWND child) {
  char text[256] = {};
  ::GetWindowTextA(child, text, static_cast<int>(sizeof text));
  return text;
}

// The screen under the window, as a 24-bit BMP file.
bool SaveScreenshot(HWND window, const std::string& path) {
  RECT rect;
  if (!::GetWindowRect(window, &rect)) return false;
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file stores it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  BOOL copied = ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  ::GdiFlush();
  std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  std::size_t imageSize = stride * static_cast<std::size_t>(height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = static_cast<DWORD>(file.bfOffBits + imageSize);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(imageSize));
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return copied && static_cast<bool>(out);
}

class MainWindowWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::EnsureMessageQueue();
    form_ = TMainForm::Create(process_, nullptr).value();
    process_.MainForm.Set(form_.get());
    form_->FormCreate();
  }
  void TearDown() override { form_.reset(); }

  HWND Main() const { return static_cast<HWND>(form_->Handle()); }

  ProcessState process_;
  std::unique_ptr<TMainForm> form_;
};

TEST_F(MainWindowWineTest, WindowIsFoundByClassAndTitleAndStartsHidden) {
  ASSERT_NE(Main(), nullptr);
  EXPECT_EQ(::FindWindowA("TMainForm", "Pagewick"), Main());
  EXPECT_FALSE(::IsWindowVisible(Main()));
  RECT client;
  ASSERT_TRUE(::GetClientRect(Main(), &client));
  EXPECT_EQ(client.right, 520);
  EXPECT_EQ(client.bottom, 362);
  // The design's client area holds; the frame around it is the system's (the
  // design's outer 528 x 396 needs a 4-pixel frame and a 26-pixel caption), by
  // the rule the host desktop models.
  RECT outer;
  ASSERT_TRUE(::GetWindowRect(Main(), &outer));
  EXPECT_EQ(outer.left, 268);
  EXPECT_EQ(outer.top, 226);
  EXPECT_EQ(outer.right - outer.left, 520 + 2 * ::GetSystemMetrics(SM_CXDLGFRAME));
  EXPECT_EQ(outer.bottom - outer.top, 362 + 2 * ::GetSystemMetrics(SM_CYDLGFRAME) + ::GetSystemMetrics(SM_CYCAPTION));
  LONG style = ::GetWindowLongA(Main(), GWL_STYLE);
  EXPECT_EQ(style & WS_SYSMENU, WS_SYSMENU);
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
}

TEST_F(MainWindowWineTest, ControlsExistWithCaptionsFromTheTextTable) {
  struct Row {
    const char* windowClass;
    std::int32_t textId;
  };
  const Row rows[] = {{"Static", text::kSaveLabel},     {"Static", text::kPathLabel},
                      {"Button", text::kBrowseButton},  {"Button", text::kApplyButton},
                      {"Button", text::kCancelButton},  {"Button", text::kCheckLabel}};
  for (const Row& row : rows) {
    std::string caption = form_->LoadText(row.textId);
    ASSERT_FALSE(caption.empty()) << "rc.info beside the test executable, text " << row.textId;
    EXPECT_NE(::FindWindowExA(Main(), nullptr, row.windowClass, caption.c_str()), nullptr) << caption;
  }
  HWND combo = ::FindWindowExA(Main(), nullptr, "ComboBox", nullptr);
  ASSERT_NE(combo, nullptr);
  ASSERT_EQ(::SendMessageA(combo, CB_GETCOUNT, 0, 0), 2);
  char item[128] = {};
  ::SendMessageA(combo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(item));
  EXPECT_EQ(std::string(item), form_->LoadText(text::kSaveModeCardItem));
  HWND edit = ::FindWindowExA(Main(), nullptr, "Edit", nullptr);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(ChildText(edit), form_->PathEdit.Text());
  EXPECT_NE(::GetWindowLongA(edit, GWL_STYLE) & ES_READONLY, 0);
  HWND list = ::FindWindowExA(Main(), nullptr, "ListBox", nullptr);
  ASSERT_NE(list, nullptr);
  EXPECT_FALSE(::IsWindowVisible(list));
}

TEST_F(MainWindowWineTest, NativeFileListShowsTheFolderItWasJustPointedAtInTheModelsOrder) {
  const std::string before = platform::GetCurrentDirectory();
  const std::string root = platform::ExtractFilePath(platform::GetModuleFileName()) + "file-list-probe";
  const std::vector<std::pair<std::string, std::vector<std::string>>> folders{
      {root + "\\a", {"img0001.jpg"}},
      {root + "\\b", {"img0003.jpg", "IMG0002.jpg", "other.jpg"}},
  };
  (void)platform::CreateDirectory(root);
  for (const auto& [folder, names] : folders) {
    (void)platform::CreateDirectory(folder);
    for (const std::string& name : names) std::ofstream(folder + "\\" + name) << "x";
  }
  HWND list = ::FindWindowExA(Main(), nullptr, "ListBox", nullptr);
  ASSERT_NE(list, nullptr);
  auto shown = [list] {
    std::vector<std::string> names;
    const auto count = ::SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      char name[MAX_PATH] = {};
      ::SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(name));
      names.emplace_back(name);
    }
    return names;
  };
  toolkit::FileListBox& model = form_->PagewickFileListBx;
  model.SetMask("img*.*");
  ASSERT_TRUE(model.SetDirectory(folders[0].first).ok());
  EXPECT_EQ(shown(), model.Items());
  EXPECT_EQ(shown(), std::vector<std::string>{"img0001.jpg"});
  ASSERT_TRUE(model.SetDirectory(folders[1].first).ok());
  EXPECT_EQ(shown(), model.Items());
  EXPECT_EQ(shown(), (std::vector<std::string>{"IMG0002.jpg", "img0003.jpg"}));
  model.SetMask("o*.*");
  EXPECT_EQ(shown(), std::vector<std::string>{"other.jpg"});

  (void)platform::SetCurrentDirectory(before);
  for (const auto& [folder, names] : folders) {
    for (const std::string& name : names) (void)platform::DeleteFile(folder + "\\" + name);
    (void)platform::RemoveDirectory(folder);
  }
  (void)platform::RemoveDirectory(root);
}

TEST_F(MainWindowWineTest, TrayIconIsAddedWithTheWindowAndGoesWithIt) {
  EXPECT_TRUE(form_->TrayIconShown());
  HWND owner = ::FindWindowA("PagewickTrayIconOwner", nullptr);
  ASSERT_NE(owner, nullptr);
  platform::NotifyIconData data;
  data.window = owner;
  data.id = 1;
  data.flags = platform::nif::kTip;
  data.tip = "Pagewick";
  EXPECT_TRUE(platform::ShellNotifyIcon(platform::nim::kModify, data)) << "the shell knows the icon";
  form_.reset();
  EXPECT_FALSE(::IsWindow(owner));
  EXPECT_FALSE(platform::ShellNotifyIcon(platform::nim::kModify, data)) << "the icon was removed";
}

// The icon carries its name as its tip, asks for the version-4 callbacks and
// shows a notification; its GUID is taken where the shell knows icon GUIDs.
TEST_F(MainWindowWineTest, TrayIconHasItsNameAnIdentityAndShowsANotification) {
  platform::TrayIcon icon(nullptr, {}, "Pagewick");
  ASSERT_TRUE(icon.added());
  if (!icon.identifiedByGuid()) {
    EXPECT_TRUE(pw::test::KnownWineDifference("the shell refuses the icon's GUID: its window and id identify it"));
  }
  EXPECT_EQ(icon.version(), platform::kNotifyIconVersion4);
  platform::NotifyIconData data;
  data.window = icon.ownerWindow();
  data.id = platform::TrayIcon::kIconId;
  data.flags = platform::nif::kTip | (icon.identifiedByGuid() ? platform::nif::kGuid : 0u);
  data.guid = platform::TrayIcon::kIconGuid;
  data.tip = "Pagewick";
  EXPECT_TRUE(platform::ShellNotifyIcon(platform::nim::kModify, data)) << "the shell knows the icon by its identity";
  EXPECT_TRUE(icon.ShowBalloon("Pagewick", "3 scanned pictures arrived in C:\\Scans\\Photo1."));
}

TEST_F(MainWindowWineTest, CloseBoxOnlyHides) {
  form_->Show();
  PumpFor(std::chrono::milliseconds(100));
  ASSERT_TRUE(::IsWindowVisible(Main()));
  ::PostMessageA(Main(), WM_CLOSE, 0, 0);
  PumpFor(std::chrono::milliseconds(100));
  EXPECT_TRUE(::IsWindow(Main()));
  EXPECT_FALSE(::IsWindowVisible(Main()));
  EXPECT_TRUE(form_->TrayIconShown());
}

TEST_F(MainWindowWineTest, ShownSettingsPageIsSavedAsAScreenshot) {
  form_->Show();
  ::UpdateWindow(Main());
  PumpFor(std::chrono::milliseconds(500));
  ASSERT_TRUE(::IsWindowVisible(Main()));
  EXPECT_TRUE(form_->Timer1.Enabled()) << "activation applied the page";
  std::string path = platform::ExtractFilePath(platform::GetModuleFileName()) + "main-window.bmp";
  ASSERT_TRUE(SaveScreenshot(Main(), path));
  std::cout << "screenshot: " << path << "\n";
}

// The page's loop as the agent and the service run it: keys go to the dialog
// manager first.
void PumpKeys(std::chrono::milliseconds period) {
  auto end = std::chrono::steady_clock::now() + period;
  while (std::chrono::steady_clock::now() < end) {
    while (std::optional<platform::Message> message = platform::PeekMessage()) {
      if (!platform::IsDialogMessage(*message)) platform::DispatchMessage(*message);
    }
    platform::Sleep(10);
  }
}

// A key pressed while the focus is where it is; GetKeyState(VK_SHIFT), which
// the dialog manager reads, follows the thread's keyboard state.
void PressKey(WPARAM key, bool shift = false) {
  BYTE state[256] = {};
  ::GetKeyboardState(state);
  state[VK_SHIFT] = shift ? 0x80 : 0;
  ::SetKeyboardState(state);
  HWND focus = ::GetFocus();
  ::PostMessageA(focus, WM_KEYDOWN, key, 1);
  ::PostMessageA(focus, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
  PumpKeys(std::chrono::milliseconds(100));
  state[VK_SHIFT] = 0;
  ::SetKeyboardState(state);
}

TEST_F(MainWindowWineTest, TabWalksThePageInScreenOrderEnterAppliesAndEscCancels) {
  form_->Show();
  PumpKeys(std::chrono::milliseconds(300));
  ASSERT_TRUE(::IsWindowVisible(Main()));
  const auto button = [&](std::int32_t textId) {
    return ::FindWindowExA(Main(), nullptr, "Button", form_->LoadText(textId).c_str());
  };
  HWND combo = ::FindWindowExA(Main(), nullptr, "ComboBox", nullptr);
  HWND edit = ::FindWindowExA(Main(), nullptr, "Edit", nullptr);
  HWND browse = button(text::kBrowseButton);
  HWND apply = button(text::kApplyButton);
  HWND cancel = button(text::kCancelButton);
  ASSERT_TRUE(combo && edit && browse && apply && cancel);
  // The combo box's focus is on its edit part.
  const auto focused = [&] {
    HWND focus = ::GetFocus();
    while (focus != nullptr && ::GetParent(focus) != Main()) focus = ::GetParent(focus);
    return focus;
  };
  EXPECT_EQ(focused(), combo) << "activation focuses the first control";
  // Save type computer, whatever an earlier run left in the settings file.
  form_->SaveComboBx.UserSelect(1);

  std::vector<HWND> forward{combo, edit, browse, apply, cancel, combo};
  if (form_->AutoRCheckBx.Visible()) {
    HWND check = ::FindWindowExA(Main(), browse, "Button", nullptr);
    while (check != nullptr && (::GetWindowLongA(check, GWL_STYLE) & BS_TYPEMASK) != BS_CHECKBOX) {
      check = ::FindWindowExA(Main(), check, "Button", nullptr);
    }
    forward.insert(forward.begin() + 3, check);
  }
  for (bool shift : {false, true}) {
    SCOPED_TRACE(shift ? "Shift+Tab" : "Tab");
    std::vector<HWND> expected = forward;
    if (shift) std::reverse(expected.begin(), expected.end());
    std::vector<HWND> walked{focused()};
    for (std::size_t i = 1; i < expected.size(); ++i) {
      PressKey(VK_TAB, shift);
      walked.push_back(focused());
    }
    EXPECT_EQ(walked, expected);
  }
  EXPECT_NE(::SendMessageA(edit, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS, UISF_HIDEFOCUS) << "focus is shown";

  // Enter on the save type is Apply while Apply is enabled.
  ASSERT_EQ(focused(), combo);
  form_->SaveComboBx.UserSelect(0);
  ASSERT_TRUE(form_->ApplyBtn.Enabled());
  PressKey(VK_RETURN);
  EXPECT_FALSE(form_->ApplyBtn.Enabled()) << "Enter applied the page";
  EXPECT_EQ(form_->SaveMode, SaveModeCard);
  EXPECT_TRUE(::IsWindowVisible(Main()));

  PressKey(VK_ESCAPE);
  EXPECT_FALSE(::IsWindowVisible(Main())) << "Esc is Cancel";
  // The settings file as the next run expects it.
  form_->SaveComboBx.UserSelect(1);
  form_->ApplyBtnClick();
}

// The save type is a drop-down list: typed letters pick no text of their
// own. Alt with a caption's underlined letter goes to its control, a label's
// to the control it names; a button's or the check box's presses it.
TEST_F(MainWindowWineTest, TheSaveTypeTakesNoTypingAndAltWithALetterReachesEveryControl) {
  form_->Show();
  PumpKeys(std::chrono::milliseconds(300));
  ASSERT_TRUE(::IsWindowVisible(Main()));
  form_->SaveComboBx.UserSelect(1);
  HWND combo = ::FindWindowExA(Main(), nullptr, "ComboBox", nullptr);
  HWND edit = ::FindWindowExA(Main(), nullptr, "Edit", nullptr);
  HWND apply = ::FindWindowExA(Main(), nullptr, "Button", form_->LoadText(text::kApplyButton).c_str());
  HWND check = ::FindWindowExA(Main(), nullptr, "Button", form_->LoadText(text::kCheckLabel).c_str());
  ASSERT_TRUE(combo && edit && apply && check);

  EXPECT_EQ(static_cast<DWORD>(::GetWindowLongA(combo, GWL_STYLE)) & 3u, static_cast<DWORD>(CBS_DROPDOWNLIST));
  EXPECT_EQ(::FindWindowExA(combo, nullptr, "Edit", nullptr), nullptr) << "no edit part to type into";
  const std::string item = form_->LoadText(text::kSaveModeComputerItem);
  ::SetFocus(combo);
  for (char c : std::string("hello")) ::SendMessageA(combo, WM_CHAR, static_cast<WPARAM>(c), 1);
  PumpKeys(std::chrono::milliseconds(100));
  EXPECT_EQ(ChildText(combo), item);
  EXPECT_EQ(form_->SaveComboBx.Text(), item);
  EXPECT_EQ(form_->SaveComboBx.ItemIndex(), 1);

  const auto alt = [](char letter) {
    ::PostMessageA(::GetFocus(), WM_SYSCHAR, static_cast<WPARAM>(letter), LPARAM{1} << 29);
    PumpKeys(std::chrono::milliseconds(100));
  };
  ::SetFocus(apply);
  alt('l');
  EXPECT_EQ(::GetFocus(), edit) << "Save location";
  alt('t');
  EXPECT_EQ(::GetFocus(), combo) << "Save type";
  const bool ticked = form_->AutoRCheckBx.Checked();
  alt('r');
  EXPECT_NE(form_->AutoRCheckBx.Checked(), ticked) << "Alt+R ticks the auto-rotate switch";
  alt('r');
  EXPECT_EQ(form_->AutoRCheckBx.Checked(), ticked);
  ASSERT_TRUE(form_->ApplyBtn.Enabled());
  alt('a');
  EXPECT_FALSE(form_->ApplyBtn.Enabled()) << "Alt+A applied the page";
  form_->Hide();
}

// Wine runs every monitor at the one DPI of LogPixels and never sends
// WM_DPICHANGED (KNOWN WINE DIFFERENCE): the message is sent here as Windows
// sends it when the window moves to a monitor at 150%.
TEST_F(MainWindowWineTest, DpiChangeLaysThePageOutAgainInTheSuggestedRectangle) {
  constexpr int kNewDpi = 144;
  const auto scale = [](int design) { return ::MulDiv(design, kNewDpi, 96); };
  RECT outer{0, 0, scale(520), scale(362)};
  ::AdjustWindowRectEx(&outer, static_cast<DWORD>(::GetWindowLongA(Main(), GWL_STYLE)), FALSE, 0);
  RECT suggested{40, 30, 40 + outer.right - outer.left, 30 + outer.bottom - outer.top};
  EXPECT_EQ(::SendMessageA(Main(), WM_DPICHANGED, MAKEWPARAM(kNewDpi, kNewDpi), reinterpret_cast<LPARAM>(&suggested)),
            0);
  RECT now;
  ASSERT_TRUE(::GetWindowRect(Main(), &now));
  EXPECT_EQ(now.left, suggested.left);
  EXPECT_EQ(now.top, suggested.top);
  EXPECT_EQ(now.right, suggested.right);
  EXPECT_EQ(now.bottom, suggested.bottom);

  HWND browse = ::FindWindowExA(Main(), nullptr, "Button", form_->LoadText(text::kBrowseButton).c_str());
  ASSERT_NE(browse, nullptr);
  RECT place;
  ASSERT_TRUE(::GetWindowRect(browse, &place));
  ::MapWindowPoints(nullptr, Main(), reinterpret_cast<POINT*>(&place), 2);
  EXPECT_EQ(place.left, scale(431));
  EXPECT_EQ(place.top, scale(95));
  EXPECT_EQ(place.right - place.left, scale(89));
  EXPECT_EQ(place.bottom - place.top, scale(25));
  LOGFONTA font{};
  ASSERT_NE(::GetObjectA(reinterpret_cast<HFONT>(::SendMessageA(browse, WM_GETFONT, 0, 0)), sizeof font, &font), 0);
  EXPECT_EQ(font.lfHeight, scale(-11)) << "the 8-point font at 150%";
}

// Ticks of a window's timer keep coming while a message box is open; a thread
// message posted meanwhile is taken by the box's loop and lost.
class TickCounter final : public platform::WindowHandler {
 public:
  int ticks = 0;
  std::optional<std::intptr_t> HandleMessage(platform::WindowHandle window, std::uint32_t message, std::uintptr_t,
                                             std::intptr_t) override {
    if (message != platform::wm::kTimer) return std::nullopt;
    if (++ticks == 1) (void)platform::PostThreadMessage(platform::GetCurrentThreadId(), WM_USER + 50, 0, 0);
    if (ticks == 3) {
      HWND box = ::FindWindowA(nullptr, "Pagewick tick probe");
      if (box != nullptr) ::PostMessageA(box, WM_COMMAND, IDOK, 0);
      (void)platform::KillTimer(window, 1);
    }
    return 0;
  }
};

TEST(ModalLoopWineTest, TimerTicksContinueInsideAMessageBox) {
  platform::EnsureMessageQueue();
  ASSERT_TRUE(platform::RegisterWindowClass("PagewickTickProbe").ok());
  TickCounter counter;
  platform::WindowParams details;
  details.className = "PagewickTickProbe";
  details.style = platform::style::kPopup;
  const auto window = platform::Window::Create(details, counter).value();
  ASSERT_NE(platform::SetTimer(window->handle(), 1, 50), 0u);
  int result = platform::MessageBoxEx(nullptr, "Ticks go on", "Pagewick tick probe", platform::mb::kOk, 0);
  EXPECT_EQ(result, platform::dialog_result::kOk);
  EXPECT_EQ(counter.ticks, 3);
  bool survived = false;
  while (std::optional<platform::Message> message = platform::PeekMessage()) {
    survived |= message->message == WM_USER + 50 && message->window == nullptr;
  }
  EXPECT_FALSE(survived) << "the thread message was taken by the box's loop";
}

}  // namespace
}  // namespace pw::ui
