// Buffered settings: one read per start, the writes applied together to the file as it is then.
#include "core/settings_store.h"

namespace tovik {

IniText& BufferedSettingsStore::Loaded(const std::string& path) {
  if (!loaded_ || loadedPath_ != path) {
    // A file that cannot be read runs on the defaults, like a missing one.
    FileRead read = files_.ReadWhole(path);
    loaded_ = std::make_unique<IniText>(read.bytes, codec_);
    loadedPath_ = path;
    wholeAtStart_.reset();
    unreadableAtStart_ = read.kind == FileRead::Kind::kUnreadable;
    if (read.kind == FileRead::Kind::kWhole) wholeAtStart_ = std::move(read.bytes);
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
  // A file that start-up could not read held a history this run never saw: writing this run's
  // over it would lose that history, so it is left alone and this run's changes are lost.
  if (unreadableAtStart_ && loadedPath_ == path) {
    pending_.clear();
    return;
  }
  // The file as it is now, so keys that another copy or a hand edit added meanwhile survive.
  // Only a missing file is empty: one that exists but cannot be read whole falls back on the
  // text start-up read whole, or is left alone, and this run's changes are lost.
  FileRead now = files_.ReadWhole(path);
  if (now.kind == FileRead::Kind::kUnreadable) {
    if (!wholeAtStart_ || loadedPath_ != path) {
      pending_.clear();
      return;
    }
    now.bytes = *wholeAtStart_;
  }
  IniText current(now.bytes, codec_);
  for (const PendingWrite& write : pending_) current.Set(write.section, write.key, write.value);
  pending_.clear();
  files_.ReplaceWhole(path, current.Bytes());
}

}  // namespace tovik
