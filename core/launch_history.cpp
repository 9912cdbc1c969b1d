// Launch history rules over whatever list holds it.
#include "core/launch_history.h"

#include <algorithm>
#include <vector>

namespace tovik {

void LoadHistory(SettingsStore& store, const std::string& path, HistoryList& history) {
  const int32_t count =
      ParseSettingInt(store.ReadSettingText(path, kMainSection, kCountKey, kCountDefault));
  const int32_t readable = std::min(count, kMaxHistoryRead);
  // Read whole first, so the list can reserve its storage once instead of growing per entry.
  std::vector<std::string> entries;
  size_t bytes = 0;
  for (int32_t i = 0; i < readable; ++i) {
    std::string text = store.ReadSettingText(
        path, kHistorySection, HistoryKey(static_cast<size_t>(i)), kHistoryEntryDefault);
    if (text.empty()) continue;
    bytes += text.size() + 1;
    entries.push_back(std::move(text));
  }
  if (entries.empty()) return;
  history.BeginAppends(entries.size(), bytes);
  for (const std::string& text : entries) history.Append(text);
  history.EndAppends();
}

void SaveHistory(SettingsStore& store, const std::string& path, HistoryList& history) {
  const size_t count = history.Count();
  store.WriteSettingText(path, kMainSection, kCountKey,
                         FormatSettingInt(static_cast<int32_t>(count)));
  for (size_t i = 0; i < count; ++i) {
    const std::string text = history.EntryText(i).value_or(std::string());
    store.WriteSettingText(path, kHistorySection, HistoryKey(i), EncodeHistoryValue(text));
  }
}

void RememberLaunch(HistoryList& history, const std::string& rawText) {
  if (!history.Find(rawText)) history.InsertAtTop(rawText);
}

bool DeleteMatchingEntry(HistoryList& history, const std::string& commandText) {
  const std::optional<size_t> match = history.Find(commandText);
  if (match) history.Delete(*match);
  return match.has_value();
}

}  // namespace tovik
