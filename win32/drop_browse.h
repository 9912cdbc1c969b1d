// Dropped files, the file browser and bringing the window to the foreground.
#pragma once

#include <windows.h>

#include <string>

namespace tovik::win32 {

// The first dropped file's whole name; empty when the drop holds none.
std::string FirstDroppedName(HDROP drop);
// The path chosen in the open-file dialog, or empty when cancelled or failed.
std::string AskOpenFileName(HWND owner);
// The dialog record as the launcher fills it, for a buffer of `bufferSize` characters.
OPENFILENAMEA OpenFileRecord(HWND owner, char* buffer, DWORD bufferSize);

}  // namespace tovik::win32
