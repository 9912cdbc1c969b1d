// Launch history: the list of successfully launched commands, its load, insert, delete and save.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "core/settings_file.h"

namespace tovik {

// A corrupted Count must not hang the start-up: positions beyond this are never read.
inline constexpr int32_t kMaxHistoryRead = 65536;

// The list that holds the history; in the running program, the command field's drop-down.
class HistoryList {
 public:
  virtual ~HistoryList() = default;
  virtual size_t Count() = 0;
  virtual std::optional<std::string> EntryText(size_t position) = 0;  // nullopt on error
  virtual std::optional<size_t> Find(const std::string& text) = 0;    // first match, any case
  virtual void Append(const std::string& text) = 0;
  // Bracket a run of appends: `count` entries of `bytes` characters in all, terminators included.
  virtual void BeginAppends(size_t /*count*/, size_t /*bytes*/) {}
  virtual void EndAppends() {}
  virtual void InsertAtTop(const std::string& text) = 0;
  virtual void Delete(size_t position) = 0;
};

void LoadHistory(SettingsStore& store, const std::string& path, HistoryList& history);
void SaveHistory(SettingsStore& store, const std::string& path, HistoryList& history);
void RememberLaunch(HistoryList& history, const std::string& rawText);
// Deletes the first entry matching `commandText`; true when one was deleted.
bool DeleteMatchingEntry(HistoryList& history, const std::string& commandText);

}  // namespace tovik
