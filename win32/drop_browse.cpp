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

// Brings the main window in front of the foreground window, which may be another program's.
void ForceForeground(HWND mainWindow) {
  if (GetForegroundWindow() == mainWindow) return;
  // Windows lets only the foreground thread hand the foreground on, so borrow its input state.
  // Asked again: the foreground may have changed since.
  const DWORD foregroundThread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
  const DWORD ownThread = GetCurrentThreadId();
  AttachThreadInput(ownThread, foregroundThread, TRUE);
  SetForegroundWindow(mainWindow);
  AttachThreadInput(ownThread, foregroundThread, FALSE);
  BringWindowToTop(mainWindow);
}

}  // namespace

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
  ForceForeground(s.mainWindow);
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
