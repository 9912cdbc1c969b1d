// The whole program with a growing history: from process creation to a window ready for input,
// and from Cancel to the end of the process, each size measured in the same run.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string Folder() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

void WriteSettings(const std::string& path, size_t entries) {
  std::string text = "[Main]\r\nCount=" + std::to_string(entries) + "\r\n[MRU]\r\n";
  for (size_t i = 0; i < entries; ++i) {
    text += "MRU" + std::to_string(i) + "=\"C:\\Program Files\\Vendor\\tool.exe\" --item " +
            std::to_string(i) + "\r\n";
  }
  std::ofstream(path, std::ios::binary) << text;
}

struct Run {
  double start, exit;
};

// The window is ready once its last control exists and the process waits for input.
Run Once(const std::string& exe) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string commandLine = "\"" + exe + "\"";
  const double begin = Now();
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return {-1, -1};
  }
  WaitForInputIdle(process.hProcess, 60000);
  HWND main = nullptr;
  while (!(main = FindWindowA("launcherclass", nullptr)) || !IsWindowVisible(main) ||
         !FindWindowExA(main, nullptr, "Button", "X")) {
    Sleep(1);
  }
  const double ready = Now();
  PostMessageA(main, WM_COMMAND, 0,
               reinterpret_cast<LPARAM>(FindWindowExA(main, nullptr, "Button", "Cancel")));
  WaitForSingleObject(process.hProcess, 60000);
  const double ended = Now();
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return {ready - begin, ended - ready};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  const std::string folder = Folder();
  const size_t sizes[] = {0, 1000, 5000, 10000, 100000};
  constexpr int kRounds = 6;
  std::vector<Run> runs[std::size(sizes)];
  std::vector<std::string> exes;
  for (size_t entries : sizes) {
    const std::string runFolder = folder + "startup-" + std::to_string(entries) + "\\";
    CreateDirectoryA(runFolder.c_str(), nullptr);
    exes.push_back(runFolder + "tovik.exe");
    CopyFileA((folder + "tovik.exe").c_str(), exes.back().c_str(), FALSE);
  }
  // The sizes take turns, so each sees the same machine and the same Wine server; the first
  // round only warms them and is not counted.
  for (int round = 0; round < kRounds; ++round) {
    for (size_t i = 0; i < std::size(sizes); ++i) {
      WriteSettings(exes[i].substr(0, exes[i].size() - 3) + "ini", sizes[i]);
      // Each start on a quiet machine: the last process's window and X resources are gone.
      Sleep(500);
      const Run run = Once(exes[i]);
      if (round > 0) runs[i].push_back(run);
    }
  }
  std::printf("Start to window and Cancel to exit, median of %d runs each, sizes in turn (ms)\n",
              kRounds - 1);
  std::printf("%8s %10s %10s %10s %12s\n", "entries", "start", "exit", "total", "x empty");
  double empty = 0;
  for (size_t i = 0; i < std::size(sizes); ++i) {
    std::vector<double> starts, exits, totals;
    for (const Run& run : runs[i]) {
      starts.push_back(run.start);
      exits.push_back(run.exit);
      totals.push_back(run.start + run.exit);
    }
    const double total = Median(totals);
    if (i == 0) empty = total;
    std::printf("%8zu %10.1f %10.1f %10.1f %12.2f\n", sizes[i], Median(starts) * 1e3,
                Median(exits) * 1e3, total * 1e3, total / empty);
  }
  std::printf(
      "Target: 10,000 entries at most 1.1 x the empty history; growth linear in entries.\n");
  return 0;
}
