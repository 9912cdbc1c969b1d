// Test recorder: appends the command line it was started with to recorder.log beside itself.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[4096];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path - 16);
  if (length == 0 || length >= sizeof path - 16) return 2;
  char* slash = path + length;
  while (slash > path && slash[-1] != '\\') --slash;
  lstrcpyA(slash, "recorder.log");
  const HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 3;
  const char* commandLine = GetCommandLineA();
  DWORD written = 0;
  WriteFile(log, commandLine, lstrlenA(commandLine), &written, nullptr);
  WriteFile(log, "\n", 1, &written, nullptr);
  CloseHandle(log);
  return 0;
}
