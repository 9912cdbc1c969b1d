// The real start-up in this process: what another process cannot see or cannot make.
#include <windows.h>
// windows.h first: the other platform headers need its types.
#include <shellapi.h>
#include <shlobj.h>  // DROPFILES

#include <gtest/gtest.h>
#include <thread>

#include "tests/core/fakes.h"
#include "win32/drop_browse.h"
#include "win32/front_end.h"

namespace tovik {
namespace {

using namespace tovik::testing;
using win32::Launcher;

// The real window with the loop left out, so the test goes on after start-up.
class WindowWithoutLoop : public win32::Win32Window {
 public:
  int RunMessageLoop() override { return 0; }
};

class StartedWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static FakePlatform fake;
    static WindowWithoutLoop window;
    static Platform platform{fake.process, fake.settings, fake.environment, fake.shell, window};
    Launcher().platform = &platform;
    ASSERT_EQ(StartUp(Launcher().core, platform), 0);
  }
  static LauncherWindow& Window() { return Launcher().platform->window; }
};

LOGFONTA FontOf(HWND control) {
  LOGFONTA font{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), sizeof font, &font);
  return font;
}

TEST_F(StartedWindow, ControlsHoldTheirTahomaFonts) {
  const win32::FrontEndState& s = Launcher();
  const HWND caption = FindWindowExA(s.mainWindow, nullptr, "Static", "Enter a process to start");
  // clang-format off
  const std::pair<HWND, LONG> cases[] = {
      {s.cancelButton, FW_DONTCARE}, {s.browseButton, FW_DONTCARE}, {s.commandField, FW_DONTCARE},
      {s.startButton, FW_DONTCARE}, {s.minimizeBox, FW_DONTCARE}, {s.closeBox, FW_DONTCARE},
      {caption, FW_BOLD}, {s.xButton, FW_BOLD}};
  // clang-format on
  for (const auto& [control, weight] : cases) {
    const LOGFONTA font = FontOf(control);
    EXPECT_EQ(
        std::tuple(std::string(font.lfFaceName), font.lfHeight, font.lfWeight, font.lfCharSet),
        std::tuple("Tahoma", 13, weight, DEFAULT_CHARSET));
  }
}

// Another process does not see the system menu's items.
TEST_F(StartedWindow, SystemMenuEndsWithSeparatorAndAbout) {
  HMENU menu = GetSystemMenu(Launcher().mainWindow, FALSE);
  const int count = GetMenuItemCount(menu);
  ASSERT_GE(count, 2);
  EXPECT_TRUE(GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR);
  EXPECT_EQ(GetMenuItemID(menu, count - 1), 0xFFFFu);
  char text[32] = {};
  GetMenuStringA(menu, count - 1, text, sizeof text, MF_BYPOSITION);
  EXPECT_STREQ(text, "About...");
}

// A drop handle as the shell builds it: DROPFILES, then NUL-ended ANSI names, then a NUL.
HDROP MakeDrop(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += name + '\0';
  list += '\0';
  HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + list.size());
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), list.data(), list.size());
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

// A window of another thread in front of the launcher, as another program's would be: the
// launcher's own thread may not simply take the foreground from it.
class WindowOfAnotherThread {
 public:
  WindowOfAnotherThread() {
    const HANDLE made = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, made] {
      threadId_ = GetCurrentThreadId();
      window = CreateWindowExA(WS_EX_TOPMOST, "Static", "in front", WS_POPUP | WS_VISIBLE, 0, 0,
                               400, 200, nullptr, nullptr, nullptr, nullptr);
      SetEvent(made);
      MSG message;
      while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
      DestroyWindow(window);
    });
    WaitForSingleObject(made, INFINITE);
    CloseHandle(made);
  }
  ~WindowOfAnotherThread() {
    PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
    thread_.join();
  }
  HWND window = nullptr;

 private:
  std::thread thread_;
  DWORD threadId_ = 0;
};

// Drops as the shell hands them over: the first name whole, quoted when spaced, an empty one
// ignored; the launcher comes in front of another window with the focus in its field, as it
// puts it there when the user brings it forward.
TEST_F(StartedWindow, DropSetsTheFirstNameAndBringsTheLauncherForward) {
  const HWND main = Launcher().mainWindow;
  // Posting WM_DROPFILES skips the shell's own check that the window takes drops at all.
  ASSERT_TRUE(GetWindowLongA(main, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
  const WindowOfAnotherThread other;
  const std::string longName = "C:\\" + std::string(3000, 'n') + ".txt";
  struct Case {
    std::vector<std::string> names;
    std::string before, after;
    bool otherInFront;
  };
  const Case cases[] = {
      {{"C:\\My Files\\a.txt"}, "typed", "\"C:\\My Files\\a.txt\"", true},
      {{"C:\\a.txt", "C:\\b c.txt"}, "typed", "C:\\a.txt", false},
      {{longName, "C:\\b.txt"}, "typed", longName, true},
      {{""}, "kept", "kept", false},
  };
  for (const Case& c : cases) {
    Window().SetCommandText(c.before);
    SetFocus(Launcher().cancelButton);
    if (c.otherInFront) {
      SetForegroundWindow(other.window);
      ASSERT_NE(GetForegroundWindow(), main);
    }
    SendMessageA(main, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(c.names)), 0);
    EXPECT_EQ(Window().CommandText(), c.after);
    EXPECT_EQ(GetForegroundWindow(), main) << c.after;
    EXPECT_EQ(GetParent(GetFocus()), Launcher().commandField);  // the field's edit box
  }
  // Brought forward by the user, by the keyboard or by a click, it puts the focus in the field.
  for (const WPARAM how : {WA_ACTIVE, WA_CLICKACTIVE}) {
    SetFocus(Launcher().closeBox);
    SendMessageA(main, WM_ACTIVATE, how, 0);
    EXPECT_EQ(GetParent(GetFocus()), Launcher().commandField) << how;
  }
}

// The real list gives every entry back whole, whether a save fetches it straight (every entry
// short) or asks for its length first (once one is long, around the platform's 512 limit).
TEST_F(StartedWindow, EveryEntryComesBackWholeAroundTheLongEntryLimit) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      // appended, then on top
      {{"a", "caf\xE9 -x"}, std::string(510, 't')},
      {{"a", std::string(5000, 'l'), "z"}, std::string(511, 't')},
  };
  for (const auto& [appended, top] : cases) {
    SendMessageA(Launcher().commandField, CB_RESETCONTENT, 0, 0);
    HistoryList& history = Window().History();
    for (const std::string& entry : appended) history.Append(entry);
    history.InsertAtTop(top);
    EXPECT_EQ(history.EntryText(0), top);
    for (size_t i = 0; i < appended.size(); ++i) EXPECT_EQ(history.EntryText(i + 1), appended[i]);
  }
}

TEST(ScreenPositionOf, AddsTheWorkAreaOffsetOfTheMonitor) {
  const RECT monitor{1024, 0, 2048, 768};
  const std::pair<RECT, WindowPosition> cases[] = {
      {RECT{1024, 40, 2048, 768}, {10, 60}},  // taskbar at the top
      {RECT{1088, 0, 2048, 768}, {74, 20}},   // taskbar at the left
  };
  for (const auto& [work, expected] : cases) {
    const WindowPosition position = win32::ScreenPositionOf(RECT{10, 20, 400, 175}, work, monitor);
    EXPECT_EQ(std::pair(position.left, position.top), std::pair(expected.left, expected.top));
  }
}

}  // namespace
}  // namespace tovik
