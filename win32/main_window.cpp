// Main window and controls: class, window, the nine controls, fonts, and the window interface.
#include <windows.h>
// windows.h first: the other platform headers need its types.
#include <shellapi.h>

#include <algorithm>
#include <vector>

#include "win32/front_end.h"

namespace tovik::win32 {
namespace {

struct ControlLayout {
  const char* className;
  const char* text;
  DWORD style;
  DWORD extendedStyle;
  int x, y, width, height;
  int id;
};

// The nine controls in creation order; the keyboard's tab order follows it.
// clang-format off
//                        class       text                        style       ex     x    y    w    h  id
constexpr ControlLayout kIcon{        "Static",   "MAINICON",                 0x50000003, 0,     10,   2,   1,   2, 0};
constexpr ControlLayout kCancel{      "Button",   "Cancel",                   0x50011000, 0,    308,  93,  65,  24, 0};
constexpr ControlLayout kBrowse{      "Button",   "Browse...",                0x50011000, 0,    162,  93,  65,  24, 0};
constexpr ControlLayout kCommandField{"COMBOBOX", "",                         0x50210042, 0x200, 14,  48, 360, 140, 0};
constexpr ControlLayout kStart{       "Button",   "Start",                    0x50010001, 0,    235,  93,  65,  24, 0};
constexpr ControlLayout kMinimizeBox{ "Button",   " minimize",                0x50010003, 0,     17, 102,  70,  24, kMinimizeBoxId};
constexpr ControlLayout kCloseBox{    "Button",   " close",                   0x50010003, 0,     17,  82,  70,  24, kCloseBoxId};
constexpr ControlLayout kCaption{     "Static",   "Enter a process to start", 0x50000000, 0x20,  50,  12, 160,  21, 0};
constexpr ControlLayout kXButton{     "Button",   "X",                        0x50011000, 0,    354,  24,  20,  20, 0};
// clang-format on

constexpr DWORD kMainStyle = 0x100A0000;  // WS_VISIBLE | WS_SYSMENU | WS_MINIMIZEBOX
constexpr int kMainWidth = 390;
constexpr int kMainHeight = 155;

HWND CreateControl(const ControlLayout& layout) {
  FrontEndState& s = Launcher();
  return CreateWindowExA(layout.extendedStyle, layout.className, layout.text, layout.style,
                         layout.x, layout.y, layout.width, layout.height, s.mainWindow,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), s.instance,
                         nullptr);
}

// Each creation overwrites the one font slot; the last font is the one released at exit.
HFONT CreateTahoma(int weight) {
  Launcher().font =
      CreateFontA(13, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, "Tahoma");
  return Launcher().font;
}

void GiveFont(HWND control, HFONT font) {
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
}

// The former procedure is read immediately before the replacement goes in. The Ptr forms are
// GetWindowLongA and SetWindowLongA in the 32-bit program; they keep a 64-bit test build whole.
void ReplaceProcedure(HWND control, WNDPROC& formerSlot, WNDPROC replacement) {
  formerSlot = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(control, GWLP_WNDPROC));
  SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(replacement));
}

HWND CommandFieldEdit() {
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  return GetComboBoxInfo(Launcher().commandField, &info) ? info.hwndItem : nullptr;
}

// The combo box does not pass a selection request on; its edit box takes it.
void PutCaretAtEnd() {
  if (const HWND edit = CommandFieldEdit()) {
    const LRESULT end = GetWindowTextLengthA(edit);
    SendMessageA(edit, EM_SETSEL, static_cast<WPARAM>(end), end);
  }
}

std::string WindowTextOf(HWND window) {
  std::vector<char> buffer(static_cast<size_t>(GetWindowTextLengthA(window)) + 1);
  GetWindowTextA(window, buffer.data(), static_cast<int>(buffer.size()));
  return std::string(buffer.data());
}

LRESULT SendToField(UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageA(Launcher().commandField, message, wParam, lParam);
}

}  // namespace

FrontEndState& Launcher() {
  static FrontEndState state;
  return state;
}

WindowPosition ScreenPositionOf(const RECT& restored, const RECT& workArea, const RECT& monitor) {
  return {static_cast<int32_t>(restored.left + workArea.left - monitor.left),
          static_cast<int32_t>(restored.top + workArea.top - monitor.top)};
}

size_t ComboHistory::Count() {
  const LRESULT count = SendToField(CB_GETCOUNT, 0, 0);
  return count < 0 ? 0 : static_cast<size_t>(count);
}

std::optional<std::string> ComboHistory::EntryText(size_t position) {
  // While every entry is short, one buffer holds any of them without asking for its length: the
  // list keeps its texts in UTF-16, and the way back to the code page at most triples the bytes
  // put in (UTF-8 as the code page). Otherwise the length comes first, so an entry of any length
  // is fetched whole.
  LRESULT length = static_cast<LRESULT>(3 * longest_);
  if (longest_ >= kLongestListFetch) {
    length = SendToField(CB_GETLBTEXTLEN, position, 0);
    if (length < 0) return std::nullopt;
    if (length >= kLongestListFetch) return EntryTextThroughField(position);
  }
  fetch_.resize(static_cast<size_t>(length) + 1);
  const LRESULT copied =
      SendToField(CB_GETLBTEXT, position, reinterpret_cast<LPARAM>(fetch_.data()));
  if (copied < 0) return std::nullopt;
  return std::string(fetch_.data());
}

// Some platforms (Wine among them) convert an 8-bit CB_GETLBTEXT through a fixed 512-character
// stack buffer and overrun it for longer entries. A long entry is read through the field's own
// text instead, which has no such limit, and the field is put back as it was.
std::optional<std::string> ComboHistory::EntryTextThroughField(size_t position) {
  const HWND field = Launcher().commandField;
  const std::string text = WindowTextOf(field);
  const LRESULT selection = SendToField(CB_GETCURSEL, 0, 0);
  if (SendToField(CB_SETCURSEL, position, 0) < 0) return std::nullopt;
  std::string entry = WindowTextOf(field);
  SendToField(CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
  SetWindowTextA(field, text.c_str());
  return entry;
}

std::optional<size_t> ComboHistory::Find(const std::string& text) {
  const LRESULT found = SendToField(CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                    reinterpret_cast<LPARAM>(text.c_str()));
  if (found < 0) return std::nullopt;
  return static_cast<size_t>(found);
}

void ComboHistory::Append(const std::string& text) {
  longest_ = std::max(longest_, text.size());
  SendToField(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// The list's storage reserved once, and no redrawing while it fills: without them each entry can
// grow the list's storage and update its scroll bar.
void ComboHistory::BeginAppends(size_t count, size_t bytes) {
  SendToField(WM_SETREDRAW, FALSE, 0);
  SendToField(CB_INITSTORAGE, count, static_cast<LPARAM>(bytes));
}

void ComboHistory::EndAppends() {
  SendToField(WM_SETREDRAW, TRUE, 0);
  RedrawWindow(Launcher().commandField, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
}

void ComboHistory::InsertAtTop(const std::string& text) {
  longest_ = std::max(longest_, text.size());
  SendToField(CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void ComboHistory::Delete(size_t position) { SendToField(CB_DELETESTRING, position, 0); }

void Win32Window::RegisterMainClass() {
  FrontEndState& s = Launcher();
  s.instance = GetModuleHandleA(nullptr);
  s.windowClass = WNDCLASSA{};
  s.windowClass.style = CS_PARENTDC;
  s.windowClass.lpfnWndProc = MainWindowProc;
  s.windowClass.hInstance = s.instance;
  s.windowClass.hIcon = LoadIconA(s.instance, "MAINICON");
  // IDC_ARROW in its 8-bit form: the macro follows UNICODE, and this program uses the A calls.
  s.windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
  s.windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  s.windowClass.lpszClassName = kClassName;
  // Without its class the window never appears and the process would wait unseen.
  if (!RegisterClassA(&s.windowClass)) RaiseException("Tovik could not register its window class");
}

void Win32Window::CreateMainWindow(int32_t left, int32_t top) {
  FrontEndState& s = Launcher();
  s.mainWindow = CreateWindowExA(WS_EX_TOPMOST, kClassName, kWindowTitle, kMainStyle, left, top,
                                 kMainWidth, kMainHeight, nullptr, nullptr, s.instance, nullptr);
  if (!s.mainWindow) RaiseException("Tovik could not create its main window");
  DragAcceptFiles(s.mainWindow, TRUE);
  HMENU systemMenu = GetSystemMenu(s.mainWindow, FALSE);
  AppendMenuA(systemMenu, MF_SEPARATOR, kAboutItemId, "");
  AppendMenuA(systemMenu, MF_BYPOSITION, kAboutItemId, "About...");
  const HFONT regular = CreateTahoma(FW_DONTCARE);
  CreateControl(kIcon);
  s.cancelButton = CreateControl(kCancel);
  GiveFont(s.cancelButton, regular);
  ReplaceProcedure(s.cancelButton, s.formerCancelProc, CancelButtonProc);
  s.browseButton = CreateControl(kBrowse);
  GiveFont(s.browseButton, regular);
  ReplaceProcedure(s.browseButton, s.formerBrowseProc, BrowseButtonProc);
  s.commandField = CreateControl(kCommandField);
  GiveFont(s.commandField, regular);
}

void Win32Window::CreateRemainingControls(int32_t doMinimize, int32_t doClose) {
  FrontEndState& s = Launcher();
  // The regular font is still the one created with the main window; the slot holds it now.
  const HFONT regular = s.font;
  s.startButton = CreateControl(kStart);
  GiveFont(s.startButton, regular);
  ReplaceProcedure(s.startButton, s.formerStartProc, StartButtonProc);
  s.minimizeBox = CreateControl(kMinimizeBox);
  GiveFont(s.minimizeBox, regular);
  CheckDlgButton(s.mainWindow, kMinimizeBoxId, static_cast<UINT>(doMinimize));
  if (doClose == 1) EnableWindow(s.minimizeBox, FALSE);
  if (doClose == 0) EnableWindow(s.minimizeBox, TRUE);
  s.closeBox = CreateControl(kCloseBox);
  GiveFont(s.closeBox, regular);
  CheckDlgButton(s.mainWindow, kCloseBoxId, static_cast<UINT>(doClose));
  ReplaceProcedure(s.closeBox, s.formerCloseProc, CloseBoxProc);
  const HWND caption = CreateControl(kCaption);
  GiveFont(caption, CreateTahoma(FW_BOLD));
  s.xButton = CreateControl(kXButton);
  GiveFont(s.xButton, CreateTahoma(FW_BOLD));
  ReplaceProcedure(s.xButton, s.formerXProc, XButtonProc);
}

std::string Win32Window::CommandText() { return WindowTextOf(Launcher().commandField); }

void Win32Window::SetCommandText(const std::string& text) {
  const WPARAM end = text.size();
  SetWindowTextA(Launcher().commandField, text.c_str());
  SendToField(EM_SETSEL, end, static_cast<LPARAM>(end));
  PutCaretAtEnd();
  Launcher().caretToEnd = true;
}

void Win32Window::FocusCommandField() {
  FrontEndState& s = Launcher();
  SetFocus(s.commandField);
  // Gaining the focus selects the whole text; after a new text, typing must append to it.
  if (s.caretToEnd) PutCaretAtEnd();
  s.caretToEnd = false;
}

bool Win32Window::IsMinimizeChecked() {
  return IsDlgButtonChecked(Launcher().mainWindow, kMinimizeBoxId) == BST_CHECKED;
}

bool Win32Window::IsCloseChecked() {
  return IsDlgButtonChecked(Launcher().mainWindow, kCloseBoxId) == BST_CHECKED;
}

void Win32Window::Minimize() { ShowWindow(Launcher().mainWindow, SW_MINIMIZE); }

WindowPosition Win32Window::RestoredPosition() {
  const HWND window = Launcher().mainWindow;
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(window, &placement);
  // The placement is relative to the work area; the window is created in screen coordinates.
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) {
    return {static_cast<int32_t>(placement.rcNormalPosition.left),
            static_cast<int32_t>(placement.rcNormalPosition.top)};
  }
  return ScreenPositionOf(placement.rcNormalPosition, monitor.rcWork, monitor.rcMonitor);
}

void Win32Window::ShowMessage(MessageOwner owner, const std::string& text,
                              const std::string& caption, unsigned type) {
  const HWND main = Launcher().mainWindow;
  // A box without owner is the failure report: the window behind it takes no input meanwhile, as
  // a task-modal box asks (Wine leaves it enabled).
  if (owner == MessageOwner::kNone && main) EnableWindow(main, FALSE);
  MessageBoxA(owner == MessageOwner::kMainWindow ? main : nullptr, text.c_str(), caption.c_str(),
              type);
}

void Win32Window::ReleaseWindowResources() {
  FrontEndState& s = Launcher();
  DeleteObject(s.font);
  DragAcceptFiles(s.mainWindow, FALSE);
  UnregisterClassA(kClassName, s.instance);
}

}  // namespace tovik::win32
