// Start-up against a bare window program, launch latency against ShellExecuteA, memory.
#include <windows.h>

#include <psapi.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

double Seconds(long long ticks) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

long long Ticks() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

std::string Folder() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Started {
  PROCESS_INFORMATION process{};
  HWND window = nullptr;
  double seconds = 0;
};

// From process creation until the window is visible and the process waits for input.
Started Start(const std::string& exe, const char* windowClass, const char* lastChild) {
  Started started;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string commandLine = "\"" + exe + "\"";
  const long long begin = Ticks();
  CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                 &startup, &started.process);
  WaitForInputIdle(started.process.hProcess, 30000);
  while (!(started.window = FindWindowA(windowClass, nullptr)) ||
         !IsWindowVisible(started.window) ||
         (lastChild && !FindWindowExA(started.window, nullptr, nullptr, lastChild))) {
    Sleep(0);
  }
  started.seconds = Seconds(Ticks() - begin);
  return started;
}

void End(Started& started, bool viaCancel) {
  if (viaCancel) {
    PostMessageA(
        started.window, WM_COMMAND, 0,
        reinterpret_cast<LPARAM>(FindWindowExA(started.window, nullptr, nullptr, "Cancel")));
  } else {
    PostMessageA(started.window, WM_CLOSE, 0, 0);
    PostThreadMessageA(started.process.dwThreadId, WM_QUIT, 0, 0);
  }
  WaitForSingleObject(started.process.hProcess, 30000);
  CloseHandle(started.process.hProcess);
  CloseHandle(started.process.hThread);
}

// The performance counter the recorder logged at its start.
long long ReadStamp(const std::string& path) {
  for (int i = 0; i < 5000; ++i) {
    std::ifstream in(path);
    long long pid = 0, stamp = 0;
    if (in >> pid >> stamp) return stamp;
    Sleep(1);
  }
  return 0;
}

}  // namespace

int main() {
  const std::string folder = Folder();
  const std::string work = folder + "program-bench\\";
  CreateDirectoryA(work.c_str(), nullptr);
  const std::string tovik = work + "tovik.exe";
  CopyFileA((folder + "tovik.exe").c_str(), tovik.c_str(), FALSE);
  const std::string bare = folder + "bare_window.exe";

  // Alternating runs, so both see the same machine and the same Wine server.
  std::vector<double> tovikStarts, bareStarts;
  SIZE_T peakPrivate = 0, barePeakPrivate = 0;
  // The first pair only warms the Wine server and the file cache, and is not counted.
  for (int i = 0; i < 12; ++i) {
    DeleteFileA((work + "tovik.ini").c_str());
    Started launcher = Start(tovik, "launcherclass", "X");
    if (i > 0) tovikStarts.push_back(launcher.seconds);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(launcher.process.hProcess,
                         reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    peakPrivate = std::max(peakPrivate, memory.PeakPagefileUsage);
    End(launcher, true);
    Started baseline = Start(bare, "barewindow", nullptr);
    if (i > 0) bareStarts.push_back(baseline.seconds);
    GetProcessMemoryInfo(baseline.process.hProcess,
                         reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    barePeakPrivate = std::max(barePeakPrivate, memory.PeakPagefileUsage);
    End(baseline, false);
  }
  const double tovikStart = Median(tovikStarts), bareStart = Median(bareStarts);
  std::printf("Start-up to a window ready for input, median of 11 (ms)\n");
  std::printf("  tovik.exe %.1f   bare window program %.1f   ratio %.2f (target at most 1.15)\n",
              tovikStart * 1e3, bareStart * 1e3, tovikStart / bareStart);

  // Launch latency: Enter (the keyboard's default command) to the started program's first
  // instruction, against ShellExecuteA called directly with the same target.
  const std::string recorderExe = folder + "recorder.exe";
  const std::string recorderLog = folder + "recorder.log";
  std::vector<double> viaTovik, direct;
  Started launcher = Start(tovik, "launcherclass", "X");
  HWND field = FindWindowExA(launcher.window, nullptr, "ComboBox", nullptr);
  const std::string command = "\"" + recorderExe + "\"";
  for (int i = 0; i < 12; ++i) {
    SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(command.c_str()));
    DeleteFileA(recorderLog.c_str());
    long long begin = Ticks();
    PostMessageA(launcher.window, WM_COMMAND, IDOK, 0);
    const double throughTovik = Seconds(ReadStamp(recorderLog) - begin);
    if (i > 0) viaTovik.push_back(throughTovik);
    DeleteFileA(recorderLog.c_str());
    begin = Ticks();
    ShellExecuteA(nullptr, "open", recorderExe.c_str(), "", nullptr, SW_SHOWNORMAL);
    const double directly = Seconds(ReadStamp(recorderLog) - begin);
    if (i > 0) direct.push_back(directly);
  }
  End(launcher, true);
  std::printf("Launch latency to the target's start, median of 11 (ms)\n");
  std::printf(
      "  through tovik.exe %.1f   ShellExecuteA directly %.1f   ratio %.2f (target at most 1.1)\n",
      Median(viaTovik) * 1e3, Median(direct) * 1e3, Median(viaTovik) / Median(direct));

  std::printf("Peak private memory: tovik.exe %.0f KB, bare window program %.0f KB\n",
              static_cast<double>(peakPrivate) / 1024.0,
              static_cast<double>(barePeakPrivate) / 1024.0);
  return 0;
}
