// Recording fakes of the core's platform interfaces; one shared log keeps the order of calls.
#pragma once

#ifdef _MSC_VER
#include <string.h>
#define strcasecmp _stricmp  // the same comparison, by MSVC's name
#else
#include <strings.h>
#endif

#include <map>
#include <string>
#include <vector>

#include "core/launch.h"
#include "core/launcher_state.h"
#include "core/settings_store.h"

namespace tovik::testing {

using Log = std::vector<std::string>;

struct ExitCalled {
  uint32_t status;
};

class FakeHistory : public HistoryList {
 public:
  std::vector<std::string> entries;
  size_t Count() override { return entries.size(); }
  std::optional<std::string> EntryText(size_t i) override {
    if (i >= entries.size()) return std::nullopt;
    return entries[i];
  }
  std::optional<size_t> Find(const std::string& text) override {
    for (size_t i = 0; i < entries.size(); ++i) {
      if (strcasecmp(entries[i].c_str(), text.c_str()) == 0) return i;
    }
    return std::nullopt;
  }
  void Append(const std::string& text) override { entries.push_back(text); }
  void InsertAtTop(const std::string& text) override { entries.insert(entries.begin(), text); }
  void Delete(size_t i) override {
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
  }
};

// Values by "Section/Key"; every read, write and commit is logged, writes and commits with
// their path.
class FakeSettings : public SettingsStore {
 public:
  explicit FakeSettings(Log& log) : log(log) {}
  Log& log;
  std::map<std::string, std::string> values;
  std::vector<std::string> writes;  // "Section/Key=value" in order
  std::string ReadSettingText(const std::string&, const char* section, const std::string& key,
                              const char* defaultText) override {
    log.push_back("read " + std::string(section) + "/" + key);
    const auto found = values.find(std::string(section) + "/" + key);
    return found == values.end() ? defaultText : found->second;
  }
  void WriteSettingText(const std::string& path, const char* section, const std::string& key,
                        const std::string& value) override {
    log.push_back("write @" + path);
    writes.push_back(std::string(section) + "/" + key + "=" + value);
  }
  void CommitSettings(const std::string& path) override { log.push_back("commit @" + path); }
};

class FakeProcess : public ProcessHost {
 public:
  explicit FakeProcess(Log& log) : log(log) {}
  Log& log;
  std::string modulePath = "C:\\Tools\\tovik.exe";
  std::string commandLine = "tovik.exe";
  std::map<unsigned, std::string> strings;
  std::string ModulePath() override { return modulePath; }
  std::string CommandLine() override { return commandLine; }
  std::string LoadText(unsigned id) override { return strings.count(id) ? strings[id] : ""; }
  std::uintptr_t ModuleOffset(std::uintptr_t address) override { return address & 0xFFFF; }
  [[noreturn]] void ExitProcess(uint32_t status) override {
    log.push_back("exit " + std::to_string(status));
    throw ExitCalled{status};
  }
};

class FakeEnvironment : public EnvironmentExpander {
 public:
  std::map<std::string, std::string> variables;
  bool fails = false;
  std::optional<std::string> ExpandEnvironment(const std::string& text) override {
    if (fails) return std::nullopt;
    std::string out = text;
    for (const auto& [name, value] : variables) {
      const std::string reference = "%" + name + "%";
      for (size_t at; (at = out.find(reference)) != std::string::npos;) {
        out.replace(at, reference.size(), value);
      }
    }
    return out;
  }
};

class FakeShell : public ShellLauncher {
 public:
  int32_t result = 42;
  std::vector<std::pair<std::string, std::string>> opened;
  int32_t ShellOpen(const std::string& file, const std::string& parameters) override {
    opened.emplace_back(file, parameters);
    return result;
  }
};

struct ShownMessage {
  MessageOwner owner;
  std::string text, caption;
  unsigned type;
};

class FakeWindow : public LauncherWindow {
 public:
  explicit FakeWindow(Log& log) : log(log) {}
  Log& log;
  FakeHistory history;
  std::string commandText;
  bool minimizeChecked = false, closeChecked = false, minimized = false;
  WindowPosition restored{100, 100};
  std::vector<ShownMessage> messages;
  void RegisterMainClass() override { log.push_back("register class"); }
  void CreateMainWindow(int32_t left, int32_t top) override {
    log.push_back("create window " + std::to_string(left) + "," + std::to_string(top));
  }
  void CreateRemainingControls(int32_t doMinimize, int32_t doClose) override {
    log.push_back("create remaining " + std::to_string(doMinimize) + "," + std::to_string(doClose));
  }
  int RunMessageLoop() override { return log.push_back("message loop"), 0; }
  HistoryList& History() override { return history; }
  std::string CommandText() override { return commandText; }
  void SetCommandText(const std::string& text) override {
    log.push_back("set text " + text);
    commandText = text;
  }
  void FocusCommandField() override { log.push_back("focus"); }
  bool IsMinimizeChecked() override { return minimizeChecked; }
  bool IsCloseChecked() override { return closeChecked; }
  void Minimize() override { minimized = true; }
  WindowPosition RestoredPosition() override { return restored; }
  void ShowMessage(MessageOwner owner, const std::string& text, const std::string& caption,
                   unsigned type) override {
    log.push_back("message " + caption);
    messages.push_back({owner, text, caption, type});
  }
  void ReleaseWindowResources() override { log.push_back("release"); }
};

// Latin-1 stands in for the system code page.
class Latin1Codec : public AnsiCodec {
 public:
  std::string WideToAnsi(const std::u16string& text) override {
    std::string out;
    for (char16_t c : text) out += c < 0x100 ? static_cast<char>(c) : '?';
    return out;
  }
  std::u16string AnsiToWide(const std::string& text) override {
    std::u16string out;
    for (char c : text) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
  }
};

// The settings file in memory, counting the reads and replaces; an unreadable one is there
// but gives nothing.
class MemoryFiles : public SettingsFiles {
 public:
  std::optional<std::string> bytes;
  bool unreadable = false;
  int reads = 0, replaces = 0;
  FileRead ReadWhole(const std::string&) override {
    ++reads;
    if (unreadable) return {FileRead::Kind::kUnreadable, {}};
    return bytes ? FileRead{FileRead::Kind::kWhole, *bytes} : FileRead{};
  }
  void ReplaceWhole(const std::string&, const std::string& newBytes) override {
    ++replaces;
    bytes = newBytes;
  }
};

// The whole fake platform, wired together.
struct FakePlatform {
  Log log;
  FakeSettings settings{log};
  FakeProcess process{log};
  FakeEnvironment environment;
  FakeShell shell;
  FakeWindow window{log};
  Platform platform{process, settings, environment, shell, window};
  LauncherState state;
};

}  // namespace tovik::testing
