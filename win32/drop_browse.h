// Dropped files, the file browser and bringing the window to the foreground.
#pragma once

#include <windows.h>

#include <string>

namespace tovik::win32 {

// The platform calls that bring a window forward, in a form a test can record.
class ForegroundCalls {
 public:
  virtual ~ForegroundCalls() = default;
  virtual HWND GetForegroundWindow() = 0;
  virtual DWORD GetWindowThreadProcessId(HWND window) = 0;
  virtual DWORD GetCurrentThreadId() = 0;
  virtual BOOL AttachThreadInput(DWORD attach, DWORD attachTo, BOOL doAttach) = 0;
  virtual BOOL SetForegroundWindow(HWND window) = 0;
  virtual BOOL BringWindowToTop(HWND window) = 0;
};

class Win32ForegroundCalls : public ForegroundCalls {
 public:
  HWND GetForegroundWindow() override;
  DWORD GetWindowThreadProcessId(HWND window) override;
  DWORD GetCurrentThreadId() override;
  BOOL AttachThreadInput(DWORD attach, DWORD attachTo, BOOL doAttach) override;
  BOOL SetForegroundWindow(HWND window) override;
  BOOL BringWindowToTop(HWND window) override;
};

void ForceForeground(ForegroundCalls& calls, HWND mainWindow);
// The first dropped file's whole name; empty when the drop holds none.
std::string FirstDroppedName(HDROP drop);
// The path chosen in the open-file dialog, or empty when cancelled or failed.
std::string AskOpenFileName(HWND owner);
// The dialog record as the launcher fills it, for a buffer of `bufferSize` characters.
OPENFILENAMEA OpenFileRecord(HWND owner, char* buffer, DWORD bufferSize);

}  // namespace tovik::win32
