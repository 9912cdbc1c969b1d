// Settings load and save times: the buffered store against per-key profile calls, side by side.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "core/launch_history.h"
#include "win32/settings_files.h"

namespace {

using tovik::SettingsStore;

// The baseline: one profile call per value, each scanning or rewriting the whole file.
class ProfileSettingsStore : public SettingsStore {
 public:
  std::string ReadSettingText(const std::string& path, const char* section, const std::string& key,
                              const char* defaultText) override {
    std::vector<char> buffer(1 << 16);
    const DWORD length = GetPrivateProfileStringA(section, key.c_str(), defaultText, buffer.data(),
                                                  static_cast<DWORD>(buffer.size()), path.c_str());
    return std::string(buffer.data(), length);
  }
  void WriteSettingText(const std::string& path, const char* section, const std::string& key,
                        const std::string& value) override {
    WritePrivateProfileStringA(section, key.c_str(), value.c_str(), path.c_str());
  }
};

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string Entry(size_t i) {
  return "\"C:\\Program Files\\Some Vendor\\Application\\tool.exe\" --item " + std::to_string(i);
}

void WriteFile(const std::string& path, size_t entries) {
  std::string text = "[Main]\r\nTop=100\r\nLeft=100\r\nDoClose=0\r\nDoMinimize=0\r\nCount=" +
                     std::to_string(entries) + "\r\n[MRU]\r\n";
  for (size_t i = 0; i < entries; ++i) text += tovik::HistoryKey(i) + "=" + Entry(i) + "\r\n";
  std::ofstream(path, std::ios::binary) << text;
}

// Start-up's reads: the four options, Count, then every entry.
double Load(SettingsStore& store, const std::string& path, size_t entries) {
  const double start = Now();
  for (const char* key : {"Top", "Left", "DoClose", "DoMinimize", "Count"}) {
    store.ReadSettingText(path, "Main", key, "0");
  }
  for (size_t i = 0; i < entries; ++i)
    store.ReadSettingText(path, "MRU", tovik::HistoryKey(i), "0");
  return Now() - start;
}

// A save's writes over the existing file, then the commit.
double Save(SettingsStore& store, const std::string& path, size_t entries) {
  const double start = Now();
  for (const char* key : {"Top", "Left", "DoClose", "DoMinimize"}) {
    store.WriteSettingText(path, "Main", key, "1");
  }
  store.WriteSettingText(path, "Main", "Count", std::to_string(entries));
  for (size_t i = 0; i < entries; ++i) {
    store.WriteSettingText(path, "MRU", tovik::HistoryKey(i), Entry(entries - i));
  }
  store.CommitSettings(path);
  return Now() - start;
}

struct Times {
  double load, save;
};

Times Measure(bool buffered, const std::string& path, size_t entries) {
  tovik::win32::Win32SettingsFiles files;
  tovik::win32::Win32AnsiCodec codec;
  ProfileSettingsStore profile;
  WriteFile(path, entries);
  tovik::BufferedSettingsStore loadStore(files, codec), saveStore(files, codec);
  SettingsStore& forLoad = buffered ? static_cast<SettingsStore&>(loadStore) : profile;
  SettingsStore& forSave = buffered ? static_cast<SettingsStore&>(saveStore) : profile;
  Times times;
  times.load = Load(forLoad, path, entries);
  times.save = Save(forSave, path, entries);
  return times;
}

// The per-key calls rescan the file each time: fit t = a n + b n^2 through two sizes. A curve
// that bends down (b < 0) would predict less time for a bigger file, even a negative one; the
// estimate never falls below the larger size's measured time, so the ratio is never overstated.
double QuadraticFit(double n1, double t1, double n2, double t2, double n) {
  const double b = (t2 / n2 - t1 / n1) / (n2 - n1);
  const double a = t1 / n1 - b * n1;
  return std::max(t2, a * n + b * n * n);
}

}  // namespace

int main() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "tovik-settings-bench.ini";
  std::printf("Settings store against per-key profile calls, same machine, same run (ms)\n");
  std::printf("%8s %12s %12s %12s %12s %10s %10s\n", "entries", "store load", "store save",
              "per-key load", "per-key save", "load x", "save x");
  Times perKey1000{}, perKey3000{};
  for (size_t entries : {0, 100, 1000, 3000, 10000}) {
    const Times store = Measure(true, path, entries);
    Times perKey{};
    bool fitted = entries > 3000;
    if (!fitted) perKey = Measure(false, path, entries);
    if (entries == 1000) perKey1000 = perKey;
    if (entries == 3000) perKey3000 = perKey;
    if (fitted) {
      perKey.load =
          QuadraticFit(1000, perKey1000.load, 3000, perKey3000.load, static_cast<double>(entries));
      perKey.save =
          QuadraticFit(1000, perKey1000.save, 3000, perKey3000.save, static_cast<double>(entries));
    }
    std::printf("%8zu %12.2f %12.2f %11.1f%s %11.1f%s %10.0f %10.0f\n", entries, store.load * 1e3,
                store.save * 1e3, perKey.load * 1e3, fitted ? "*" : " ", perKey.save * 1e3,
                fitted ? "*" : " ", perKey.load / store.load, perKey.save / store.save);
    if (entries == 10000) {
      const double total = (store.load + store.save) * 1e3;
      std::printf(
          "\n10,000 entries: store load + save %.1f ms (target under 50 ms: %s); "
          "at least 500x faster than per-key calls: load %s, save %s\n",
          total, total < 50 ? "met" : "missed", perKey.load / store.load >= 500 ? "met" : "missed",
          perKey.save / store.save >= 500 ? "met" : "missed");
    }
  }
  std::printf(
      "* quadratic fit of the per-key times measured at 1,000 and 3,000 entries, at least the "
      "time at 3,000\n");
  {
    // How much of a save is the file system's: read, then write, flush and move into place.
    WriteFile(path, 10000);
    tovik::win32::Win32SettingsFiles files;
    double start = Now();
    const std::string bytes = files.ReadWhole(path).bytes;
    const double read = Now() - start;
    start = Now();
    files.ReplaceWhole(path, bytes);
    const double replace = Now() - start;
    std::printf("10,000 entries, file system alone: read %.1f ms, write+flush+move %.1f ms\n",
                read * 1e3, replace * 1e3);
  }
  DeleteFileA(path.c_str());
  return 0;
}
