// The settings file read once and written once: values in memory, one replace at the end.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ini_text.h"
#include "core/settings_file.h"

namespace tovik {

// Whole-file access to the settings file.
class SettingsFiles {
 public:
  virtual ~SettingsFiles() = default;
  // The file's bytes, or nullopt when it does not exist or cannot be read.
  virtual std::optional<std::string> ReadWhole(const std::string& path) = 0;
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

  SettingsFiles& files_;
  AnsiCodec& codec_;
  std::string loadedPath_;
  std::unique_ptr<IniText> loaded_;
  std::vector<PendingWrite> pending_;
};

}  // namespace tovik
