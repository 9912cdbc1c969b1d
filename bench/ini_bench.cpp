// The settings store's core part natively: parse, reads, writes and the text, for growing files.
#include <chrono>
#include <cstdio>
#include <string>

#include "core/ini_text.h"
#include "core/launch_history.h"

namespace {

class Latin1Codec : public tovik::AnsiCodec {
 public:
  std::string WideToAnsi(const std::u16string& text) override {
    return std::string(text.begin(), text.end());
  }
  std::u16string AnsiToWide(const std::string& text) override {
    return std::u16string(text.begin(), text.end());
  }
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main() {
  Latin1Codec codec;
  std::printf("INI text, native (ms)\n%8s %10s %10s %10s %10s %12s\n", "entries", "parse", "reads",
              "writes", "text", "ms/1000");
  for (size_t entries : {0, 100, 1000, 10000, 100000}) {
    std::string file = "[Main]\r\nTop=100\r\nCount=" + std::to_string(entries) + "\r\n[MRU]\r\n";
    for (size_t i = 0; i < entries; ++i) {
      file += tovik::HistoryKey(i) + "=\"C:\\Program Files\\Vendor\\tool.exe\" --item " +
              std::to_string(i) + "\r\n";
    }
    auto start = std::chrono::steady_clock::now();
    tovik::IniText text(file, codec);
    const double parse = Seconds(start);
    start = std::chrono::steady_clock::now();
    size_t found = 0;
    for (size_t i = 0; i < entries; ++i)
      found += text.Find("MRU", tovik::HistoryKey(i)).has_value();
    const double reads = Seconds(start);
    start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < entries; ++i) text.Set("MRU", tovik::HistoryKey(i), "changed");
    text.Set("MRU", tovik::HistoryKey(entries), "new");
    const double writes = Seconds(start);
    start = std::chrono::steady_clock::now();
    const size_t size = text.Bytes().size();
    const double bytes = Seconds(start);
    const double total = (parse + reads + writes + bytes) * 1e3;
    std::printf("%8zu %10.2f %10.2f %10.2f %10.2f %12.3f%s\n", entries, parse * 1e3, reads * 1e3,
                writes * 1e3, bytes * 1e3,
                entries ? total / static_cast<double>(entries) * 1000 : 0.0,
                found == entries && size > 0 ? "" : " (wrong result)");
  }
  std::printf("A constant last column means the work grows linearly with the file.\n");
  return 0;
}
