// The settings file read once and written once: values in memory, one replace at the end.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ini_text.h"
#include "core/settings_file.h"

namespace tovik {

// What reading a whole file found: its bytes, no file at all, or a file that could not be read
// whole (held by another program, access denied, a read that failed part-way).
struct FileRead {
  enum class Kind { kWhole, kMissing, kUnreadable } kind = Kind::kMissing;
  std::string bytes;  // all of them when kWhole, else empty
};

// Whole-file access to the settings file.
class SettingsFiles {
 public:
  virtual ~SettingsFiles() = default;
  virtual FileRead ReadWhole(const std::string& path) = 0;
  // Puts `bytes` in place of the file so that it never holds a partial text where that can be
  // avoided; failure is not reported and must leave what was there.
  virtual void ReplaceWhole(const std::string& path, const std::string& bytes) = 0;
};

class BufferedSettingsStore : public SettingsStore {
 public:
  BufferedSettingsStore(SettingsFiles& files, AnsiCodec& codec) : files_(files), codec_(codec) {}
  std::string ReadSettingText(const std::string& path, const char* section, const std::string& key,
                              const char* defaultText) override;
  void WriteSettingText(const std::string& path, const char* section, const std::string& key,
                        const std::string& value) override;
  void CommitSettings(const std::string& path) override;

 private:
  struct PendingWrite {
    std::string section, key, value;
  };
  IniText& Loaded(const std::string& path);
  // Applies the writes that the text start-up read has not had yet; true when one changed it.
  bool CatchUp(IniText& text);

  SettingsFiles& files_;
  AnsiCodec& codec_;
  std::string loadedPath_;
  std::unique_ptr<IniText> loaded_;
  std::optional<std::string> wholeAtStart_;  // the file's bytes when start-up read them whole
  bool unreadableAtStart_ = false;           // there at start-up, but not to be read whole
  std::vector<PendingWrite> pending_;
  size_t caughtUp_ = 0;         // how many of `pending_` the loaded text has had
  bool loadedChanged_ = false;  // one of those changed it
};

}  // namespace tovik
