// Test recorder: appends how it was asked to show itself and its command line to recorder.log
// beside itself, one line per start: "SHOW COMMAND-LINE".
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
  char path[4096];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path - 16);
  if (length == 0 || length >= sizeof path - 16) return 2;
  char* slash = path + length;
  while (slash > path && slash[-1] != '\\') --slash;
  lstrcpyA(slash, "recorder.log");
  const HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 3;
  const std::string line = std::to_string(show) + " " + GetCommandLineA() + "\n";
  DWORD written = 0;
  WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(log);
  return 0;
}
