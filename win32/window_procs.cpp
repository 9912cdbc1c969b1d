// Message loop, main window procedure, option box synchronisation and replacement procedures.
#include <windows.h>

#include "win32/front_end.h"

namespace tovik::win32 {
namespace {

Platform& ThePlatform() { return *Launcher().platform; }

[[noreturn]] void SaveAndExitNow() { SaveAndExit(Launcher().core, ThePlatform()); }

void OnActivate(WPARAM wParam) {
  // Only a plain activation; a minimised window's activation has a non-zero high word.
  if (wParam == WA_ACTIVE || wParam == WA_CLICKACTIVE) SetFocus(Launcher().commandField);
}

void OnCommand(WPARAM wParam, LPARAM lParam) {
  FrontEndState& s = Launcher();
  const HWND source = reinterpret_cast<HWND>(lParam);
  // Controls are told apart by handle; a command from none of them with identifier 1 is the
  // keyboard's default (or another program's), whatever else it carries.
  // A control not created yet has no handle and matches nothing.
  const auto from = [source](HWND control) { return source && source == control; };
  if (from(s.cancelButton)) {
    SaveAndExitNow();
  } else if (from(s.startButton)) {
    LaunchCommand(s.core, ThePlatform());
  } else if (from(s.xButton)) {
    DeleteCurrentCommand(ThePlatform().window);
  } else if (from(s.browseButton)) {
    BrowseForCommand();
  } else if (from(s.closeBox) || from(s.minimizeBox)) {
    SyncOptionBoxes();
  } else if (wParam == IDOK) {
    LaunchCommand(s.core, ThePlatform());
  }
}

void OnSysCommand(WPARAM wParam) {
  if (wParam == kAboutItemId) ShowAboutBox(ThePlatform().window);
}

// Log-off and shutdown end the process without WM_DESTROY; save like any other way out.
void OnEndSession(WPARAM wParam) {
  if (wParam) SaveAndExitNow();
}

LRESULT ForwardWithTabRule(WNDPROC former, HWND tabTarget, HWND window, UINT message, WPARAM wParam,
                           LPARAM lParam) {
  const LRESULT result = CallWindowProcA(former, window, message, wParam, lParam);
  if (message == WM_KEYDOWN && wParam == VK_TAB) SetFocus(tabTarget);
  return result;
}

}  // namespace

int Win32Window::RunMessageLoop() {
  FrontEndState& s = Launcher();
  while (GetMessageA(&s.message, nullptr, 0, 0)) {
    const bool listShown = SendMessageA(s.commandField, CB_GETDROPPEDSTATE, 0, 0) != 0;
    if (s.message.message == WM_KEYDOWN && s.message.wParam == VK_ESCAPE && !listShown) {
      SaveAndExitNow();
    }
    if (IsDialogMessageA(s.mainWindow, &s.message)) continue;
    TranslateMessage(&s.message);
    DispatchMessageA(&s.message);
  }
  return 0;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = DefWindowProcA(window, message, wParam, lParam);
  // While a failure is reported the settings must stay as they are: no way out, no control acts.
  if (Launcher().core.reportingFailure) return result;
  switch (message) {
    case WM_DESTROY:
      SaveAndExitNow();
    case WM_ACTIVATE:
      OnActivate(wParam);
      break;
    case WM_COMMAND:
      OnCommand(wParam, lParam);
      break;
    case WM_SYSCOMMAND:
      OnSysCommand(wParam);
      break;
    case WM_DROPFILES:
      HandleDroppedFiles(reinterpret_cast<HDROP>(wParam));
      break;
    case WM_ENDSESSION:
      OnEndSession(wParam);
      break;
  }
  return result;
}

void SyncOptionBoxes() {
  FrontEndState& s = Launcher();
  s.core.doMinimize = IsDlgButtonChecked(s.mainWindow, kMinimizeBoxId) == BST_CHECKED ? 1 : 0;
  s.core.doClose = IsDlgButtonChecked(s.mainWindow, kCloseBoxId) == BST_CHECKED ? 1 : 0;
  EnableWindow(s.minimizeBox, s.core.doClose == 1 ? FALSE : TRUE);
}

LRESULT CALLBACK CancelButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const FrontEndState& s = Launcher();
  return ForwardWithTabRule(s.formerCancelProc, s.commandField, window, message, wParam, lParam);
}

LRESULT CALLBACK BrowseButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const FrontEndState& s = Launcher();
  return ForwardWithTabRule(s.formerBrowseProc, s.startButton, window, message, wParam, lParam);
}

LRESULT CALLBACK StartButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const FrontEndState& s = Launcher();
  return ForwardWithTabRule(s.formerStartProc, s.cancelButton, window, message, wParam, lParam);
}

LRESULT CALLBACK CloseBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcA(Launcher().formerCloseProc, window, message, wParam, lParam);
}

LRESULT CALLBACK XButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcA(Launcher().formerXProc, window, message, wParam, lParam);
}

}  // namespace tovik::win32
