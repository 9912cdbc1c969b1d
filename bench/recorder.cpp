// Launch target of the latency benchmark and the end-to-end launches: appends one line per start
// to recorder.log beside itself, "SHOW TICKS COMMAND-LINE": how it was asked to show itself, the
// performance counter at its start, and the command line it received.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  std::string path(32768, '\0');
  path.resize(GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size())));
  path = path.substr(0, path.find_last_of('\\') + 1) + "recorder.log";
  const HANDLE log = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 3;
  const std::string line =
      std::to_string(show) + " " + std::to_string(now.QuadPart) + " " + GetCommandLineA() + "\n";
  DWORD written = 0;
  WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(log);
  return 0;
}
