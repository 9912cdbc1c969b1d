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
  IniText& text = Loaded(path);
  loadedChanged_ |= CatchUp(text);
  return text.Find(section, key).value_or(defaultText);
}

bool BufferedSettingsStore::CatchUp(IniText& text) {
  bool changed = false;
  for (; caughtUp_ < pending_.size(); ++caughtUp_) {
    const PendingWrite& write = pending_[caughtUp_];
    changed |= text.Set(write.section, write.key, write.value);
  }
  return changed;
}

void BufferedSettingsStore::WriteSettingText(const std::string& /*path*/, const char* section,
                                             const std::string& key, const std::string& value) {
  // Applied when read or saved: a save applies each write once.
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
  // A file as start-up read it is saved from that reading, not parsed again.
  const bool asAtStart =
      loaded_ && loadedPath_ == path && wholeAtStart_ && now.bytes == *wholeAtStart_;
  std::optional<IniText> reread;
  if (!asAtStart) reread.emplace(now.bytes, codec_);
  IniText& current = asAtStart ? *loaded_ : *reread;
  if (!asAtStart) caughtUp_ = 0;
  const bool changed = CatchUp(current) || (asAtStart && loadedChanged_);
  pending_.clear();
  caughtUp_ = 0;
  loadedChanged_ = false;
  // A save that changes nothing leaves the file as it is.
  if (changed) files_.ReplaceWhole(path, current.Bytes());
}

}  // namespace tovik
