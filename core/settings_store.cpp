// Buffered settings: one read per start, the writes applied together to the file as it is then.
#include "core/settings_store.h"

namespace tovik {

IniText& BufferedSettingsStore::Loaded(const std::string& path) {
  if (!loaded_ || loadedPath_ != path) {
    loaded_ = std::make_unique<IniText>(files_.ReadWhole(path).value_or(std::string()), codec_);
    loadedPath_ = path;
  }
  return *loaded_;
}

std::string BufferedSettingsStore::ReadSettingText(const std::string& path, const char* section,
                                                   const std::string& key,
                                                   const char* defaultText) {
  return Loaded(path).Find(section, key).value_or(defaultText);
}

void BufferedSettingsStore::WriteSettingText(const std::string& path, const char* section,
                                             const std::string& key, const std::string& value) {
  if (loaded_ && loadedPath_ == path) loaded_->Set(section, key, value);
  pending_.push_back({section, key, value});
}

void BufferedSettingsStore::CommitSettings(const std::string& path) {
  if (pending_.empty()) return;
  // The file as it is now, so keys that another copy or a hand edit added meanwhile survive.
  IniText current(files_.ReadWhole(path).value_or(std::string()), codec_);
  for (const PendingWrite& write : pending_) current.Set(write.section, write.key, write.value);
  pending_.clear();
  files_.ReplaceWhole(path, current.Bytes());
}

}  // namespace tovik
