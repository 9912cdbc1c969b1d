// Dropped files, the file browser and the foreground rule after a drop.
#include "win32/drop_browse.h"

#include <commdlg.h>
#include <shellapi.h>

#include <vector>

#include "core/command_text.h"
#include "win32/front_end.h"

namespace tovik::win32 {
namespace {

constexpr char kFilter[] = "All files\0*.*\0";  // the literal adds the closing second NUL
constexpr char kDialogTitle[] = "Search for a file to open";
constexpr DWORD kFileBufferSize = 2048;

}  // namespace

HWND Win32ForegroundCalls::GetForegroundWindow() { return ::GetForegroundWindow(); }
DWORD Win32ForegroundCalls::GetWindowThreadProcessId(HWND window) {
  return ::GetWindowThreadProcessId(window, nullptr);
}
DWORD Win32ForegroundCalls::GetCurrentThreadId() { return ::GetCurrentThreadId(); }
BOOL Win32ForegroundCalls::AttachThreadInput(DWORD attach, DWORD attachTo, BOOL doAttach) {
  return ::AttachThreadInput(attach, attachTo, doAttach);
}
BOOL Win32ForegroundCalls::SetForegroundWindow(HWND window) {
  return ::SetForegroundWindow(window);
}
BOOL Win32ForegroundCalls::BringWindowToTop(HWND window) { return ::BringWindowToTop(window); }

void ForceForeground(ForegroundCalls& calls, HWND mainWindow) {
  if (calls.GetForegroundWindow() == mainWindow) return;
  // Windows lets only the foreground thread hand the foreground on, so borrow its input state.
  const DWORD foregroundThread = calls.GetWindowThreadProcessId(calls.GetForegroundWindow());
  const DWORD ownThread = calls.GetCurrentThreadId();
  calls.AttachThreadInput(ownThread, foregroundThread, TRUE);
  calls.SetForegroundWindow(mainWindow);
  calls.AttachThreadInput(ownThread, foregroundThread, FALSE);
  calls.BringWindowToTop(mainWindow);
}

std::string FirstDroppedName(HDROP drop) {
  // Ask for the length first so a name of any length is taken whole.
  const UINT length = DragQueryFileA(drop, 0, nullptr, 0);
  std::vector<char> buffer(static_cast<size_t>(length) + 1);
  DragQueryFileA(drop, 0, buffer.data(), static_cast<UINT>(buffer.size()));
  return std::string(buffer.data());
}

void HandleDroppedFiles(HDROP drop) {
  FrontEndState& s = Launcher();
  const std::string name = FirstDroppedName(drop);
  if (!name.empty()) s.platform->window.SetCommandText(QuoteIfSpaced(name));
  DragFinish(drop);
  Win32ForegroundCalls calls;
  ForceForeground(calls, s.mainWindow);
  s.platform->window.FocusCommandField();
}

OPENFILENAMEA OpenFileRecord(HWND owner, char* buffer, DWORD bufferSize) {
  OPENFILENAMEA record{};
  record.lStructSize = OPENFILENAME_SIZE_VERSION_400A;  // the 76-byte form
  record.hwndOwner = owner;
  record.lpstrFilter = kFilter;
  record.nFilterIndex = 1;
  record.lpstrFile = buffer;
  record.nMaxFile = bufferSize;
  record.lpstrInitialDir = "";
  record.lpstrTitle = kDialogTitle;
  return record;
}

std::string AskOpenFileName(HWND owner) {
  std::vector<char> buffer(kFileBufferSize, '\0');
  OPENFILENAMEA record = OpenFileRecord(owner, buffer.data(), kFileBufferSize);
  if (!GetOpenFileNameA(&record)) return std::string();
  return std::string(buffer.data());
}

void BrowseForCommand() {
  FrontEndState& s = Launcher();
  // A cancelled or failed dialog leaves the command the user had typed as it was.
  const std::string chosen = AskOpenFileName(s.mainWindow);
  if (!chosen.empty()) s.platform->window.SetCommandText(QuoteIfSpaced(chosen));
  s.platform->window.FocusCommandField();
}

}  // namespace tovik::win32
