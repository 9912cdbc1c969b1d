// The real start-up in this process: what another process cannot see of the window.
#include <windows.h>
// windows.h first: the other platform headers need its types.
#include <shellapi.h>
#include <shlobj.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/core/fakes.h"
#include "tests/win32/test_support.h"
#include "win32/drop_browse.h"
#include "win32/front_end.h"
#include "win32/platform.h"
#include "win32/settings_files.h"

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
    static Log log;
    static FakeProcess process(log);
    static win32::Win32SettingsFiles files;
    static win32::Win32AnsiCodec codec;
    static BufferedSettingsStore settings(files, codec);
    static FakeEnvironment environment;
    static FakeShell shell(log);
    static WindowWithoutLoop window;
    static Platform platform{process, settings, environment, shell, window};
    const std::string folder = ScratchFolder("window");
    process.modulePath = folder + "tovik.exe";
    process.commandLine = "tovik.exe \"C:\\My Files\\a b.txt\"";
    WriteBytes(folder + "tovik.ini",
               "[Main]\r\nDoClose=1\r\nDoMinimize=1\r\nCount=2\r\n[MRU]\r\nMRU0=calc\r\nMRU1=" +
                   std::string(5000, 'h') + "\r\n");
    Launcher().platform = &platform;
    ASSERT_EQ(StartUp(Launcher().core, platform), 0);
  }
  static LauncherWindow& Window() { return Launcher().platform->window; }
  static HWND FocusedControl() {
    const HWND focus = GetFocus();
    return GetParent(focus) == Launcher().commandField ? Launcher().commandField : focus;
  }
  static std::pair<DWORD, DWORD> EditSelection() {
    DWORD start = 0, end = 0;
    SendMessageA(FindWindowExA(Launcher().commandField, nullptr, "Edit", nullptr), EM_GETSEL,
                 reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return {start, end};
  }
};

LOGFONTA FontOf(HWND control) {
  LOGFONTA font{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), sizeof font, &font);
  return font;
}

TEST_F(StartedWindow, SystemMenuEndsWithSeparatorAndAbout) {
  HMENU menu = GetSystemMenu(Launcher().mainWindow, FALSE);
  const int count = GetMenuItemCount(menu);
  ASSERT_GE(count, 2);
  EXPECT_EQ(GetMenuItemID(menu, count - 2), 0xFFFFu);
  EXPECT_TRUE(GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR);
  EXPECT_EQ(GetMenuItemID(menu, count - 1), 0xFFFFu);
  char text[32] = {};
  GetMenuStringA(menu, count - 1, text, sizeof text, MF_BYPOSITION);
  EXPECT_STREQ(text, "About...");
}

TEST_F(StartedWindow, ControlsHoldTheirTahomaFonts) {
  const win32::FrontEndState& s = Launcher();
  const HWND caption = FindWindowExA(s.mainWindow, nullptr, "Static", "Enter a process to start");
  const std::pair<HWND, LONG> cases[] = {{s.cancelButton, FW_DONTCARE},
                                         {s.browseButton, FW_DONTCARE},
                                         {s.commandField, FW_DONTCARE},
                                         {s.startButton, FW_DONTCARE},
                                         {s.minimizeBox, FW_DONTCARE},
                                         {s.closeBox, FW_DONTCARE},
                                         {caption, FW_BOLD},
                                         {s.xButton, FW_BOLD}};
  for (const auto& [control, weight] : cases) {
    const LOGFONTA font = FontOf(control);
    EXPECT_STREQ(font.lfFaceName, "Tahoma");
    EXPECT_EQ(font.lfHeight, 13);
    EXPECT_EQ(font.lfWeight, weight);
    EXPECT_EQ(font.lfCharSet, DEFAULT_CHARSET);
  }
  // The slot holds the last font made, the X button's, which is not the caption's.
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(s.xButton, WM_GETFONT, 0, 0)), s.font);
  EXPECT_NE(reinterpret_cast<HFONT>(SendMessageA(caption, WM_GETFONT, 0, 0)), s.font);
  const HWND icon = GetWindow(s.mainWindow, GW_CHILD);
  EXPECT_EQ(SendMessageA(icon, WM_GETFONT, 0, 0), 0);
}

TEST_F(StartedWindow, ClassIsRegisteredAsDescribed) {
  WNDCLASSA cls{};
  ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "launcherclass", &cls));
  EXPECT_EQ(cls.style, static_cast<UINT>(CS_PARENTDC));
  EXPECT_EQ(cls.hbrBackground, reinterpret_cast<HBRUSH>(16));
  EXPECT_EQ(cls.lpfnWndProc, win32::MainWindowProc);
}

TEST_F(StartedWindow, FirstArgumentIsQuotedWithCaretAtItsEnd) {
  EXPECT_EQ(Window().CommandText(), "\"C:\\My Files\\a b.txt\"");
  EXPECT_EQ(FocusedControl(), Launcher().commandField);
  const DWORD end = static_cast<DWORD>(Window().CommandText().size());
  EXPECT_EQ(EditSelection(), std::make_pair(end, end));
}

TEST_F(StartedWindow, HistoryEntriesOfAnyLengthAreFetchedWhole) {
  HistoryList& history = Window().History();
  ASSERT_EQ(history.Count(), 2u);
  EXPECT_EQ(history.EntryText(0), "calc");
  const std::string text = Window().CommandText();
  EXPECT_EQ(history.EntryText(1), std::string(5000, 'h'));
  EXPECT_EQ(Window().CommandText(), text) << "fetching leaves the field as it was";
  EXPECT_EQ(history.EntryText(7), std::nullopt);
  EXPECT_EQ(history.Find("CALC"), 0u);
  EXPECT_EQ(history.Find("cal"), std::nullopt);
  history.InsertAtTop("new");
  EXPECT_EQ(history.EntryText(0), "new");
  history.Delete(0);
  EXPECT_EQ(history.Count(), 2u);
}

TEST_F(StartedWindow, TabKeyDownDeliveredToAButtonMovesTheFocusByItsRule) {
  const win32::FrontEndState& s = Launcher();
  const std::pair<HWND, HWND> cases[] = {{s.cancelButton, s.commandField},
                                         {s.browseButton, s.startButton},
                                         {s.startButton, s.cancelButton}};
  for (const auto& [button, target] : cases) {
    SendMessageA(button, WM_KEYDOWN, VK_TAB, 0);
    EXPECT_EQ(FocusedControl(), target);
  }
  SetFocus(s.xButton);
  SendMessageA(s.xButton, WM_KEYDOWN, VK_TAB, 0);
  EXPECT_EQ(FocusedControl(), s.xButton);
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

TEST_F(StartedWindow, DropTakesALongFirstNameWholeAndIgnoresAnEmptyOne) {
  struct Case {
    std::vector<std::string> names;
    std::string before;
    std::string after;
  };
  const std::string longName = "C:\\" + std::string(3000, 'n') + ".txt";
  // Real drops are tested end to end; these are the names XDND cannot produce.
  const Case cases[] = {
      {{longName, "C:\\b.txt"}, "typed", longName},
      {{""}, "kept", "kept"},
  };
  for (const Case& c : cases) {
    Window().SetCommandText(c.before);
    SetFocus(Launcher().cancelButton);
    SendMessageA(Launcher().mainWindow, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(c.names)),
                 0);
    EXPECT_EQ(Window().CommandText(), c.after);
    EXPECT_EQ(FocusedControl(), Launcher().commandField);
  }
}

// With a taskbar at the top the placement is relative to the work area; the saved position
// must still be the screen position at which the window is created again.
TEST_F(StartedWindow, RestoredPositionIsInScreenCoordinatesWithTheWorkAreaMoved) {
  RECT original{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &original, 0);
  RECT moved = original;
  moved.top += 40;
  moved.left += 30;
  SystemParametersInfoA(SPI_SETWORKAREA, 0, &moved, 0);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoA(MonitorFromWindow(Launcher().mainWindow, MONITOR_DEFAULTTONEAREST), &monitor);
  const bool honoured = monitor.rcWork.top == moved.top && monitor.rcWork.left == moved.left;
  SetWindowPos(Launcher().mainWindow, nullptr, 200, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  const WindowPosition position = Window().RestoredPosition();
  SystemParametersInfoA(SPI_SETWORKAREA, 0, &original, 0);
  if (!honoured) GTEST_SKIP() << "the platform does not move the work area";
  EXPECT_EQ(position.left, 200);
  EXPECT_EQ(position.top, 150);
}

TEST(ScreenPositionOf, AddsTheWorkAreaOffsetOfTheMonitor) {
  const RECT monitor{0, 0, 1024, 768};
  const std::pair<RECT, WindowPosition> cases[] = {
      {RECT{0, 0, 1024, 768}, {10, 20}},   // no taskbar
      {RECT{0, 40, 1024, 768}, {10, 60}},  // taskbar at the top
      {RECT{64, 0, 1024, 768}, {74, 20}},  // taskbar at the left
  };
  for (const auto& [work, expected] : cases) {
    const WindowPosition position = win32::ScreenPositionOf(RECT{10, 20, 400, 175}, work, monitor);
    EXPECT_EQ(position.left, expected.left);
    EXPECT_EQ(position.top, expected.top);
  }
  const WindowPosition second = win32::ScreenPositionOf(RECT{5, 5, 9, 9}, RECT{1024, 30, 2048, 768},
                                                        RECT{1024, 0, 2048, 768});
  EXPECT_EQ(second.left, 5);
  EXPECT_EQ(second.top, 35);
}

class RecordingForeground : public win32::ForegroundCalls {
 public:
  HWND foreground = reinterpret_cast<HWND>(0x111);
  std::vector<std::string> calls;
  HWND GetForegroundWindow() override {
    calls.push_back("GetForegroundWindow");
    return foreground;
  }
  DWORD GetWindowThreadProcessId(HWND window) override {
    calls.push_back("GetWindowThreadProcessId " +
                    std::to_string(reinterpret_cast<INT_PTR>(window)));
    return 77;
  }
  DWORD GetCurrentThreadId() override {
    calls.push_back("GetCurrentThreadId");
    return 5;
  }
  BOOL AttachThreadInput(DWORD attach, DWORD attachTo, BOOL doAttach) override {
    calls.push_back("AttachThreadInput " + std::to_string(attach) + " " + std::to_string(attachTo) +
                    " " + std::to_string(doAttach));
    return FALSE;  // every step fails: the rest must run all the same
  }
  BOOL SetForegroundWindow(HWND window) override {
    calls.push_back("SetForegroundWindow " + std::to_string(reinterpret_cast<INT_PTR>(window)));
    return FALSE;
  }
  BOOL BringWindowToTop(HWND window) override {
    calls.push_back("BringWindowToTop " + std::to_string(reinterpret_cast<INT_PTR>(window)));
    return FALSE;
  }
};

TEST(ForceForeground, AttachesToTheForegroundThreadForEverySetAndDetaches) {
  RecordingForeground calls;
  win32::ForceForeground(calls, reinterpret_cast<HWND>(0x222));
  EXPECT_THAT(calls.calls,
              ::testing::ElementsAre("GetForegroundWindow", "GetForegroundWindow",
                                     "GetWindowThreadProcessId 273", "GetCurrentThreadId",
                                     "AttachThreadInput 5 77 1", "SetForegroundWindow 546",
                                     "AttachThreadInput 5 77 0", "BringWindowToTop 546"));
}

TEST(ForceForeground, DoesNothingWhenAlreadyInFront) {
  RecordingForeground calls;
  calls.foreground = reinterpret_cast<HWND>(0x222);
  win32::ForceForeground(calls, reinterpret_cast<HWND>(0x222));
  EXPECT_THAT(calls.calls, ::testing::ElementsAre("GetForegroundWindow"));
}

TEST(RegisterMainClass, FailureIsReportedInsteadOfWaitingUnseen) {
  // With the class already there, registering it again fails.
  WNDCLASSA existing{};
  existing.lpfnWndProc = DefWindowProcA;
  existing.hInstance = GetModuleHandleA(nullptr);
  existing.lpszClassName = "launcherclass";
  RegisterClassA(&existing);
  WindowWithoutLoop window;
  EXPECT_THROW(window.RegisterMainClass(), Exception);
}

}  // namespace
}  // namespace tovik
