// Launch history rules over whatever list holds it.
#include "core/launch_history.h"

#include <algorithm>

namespace tovik {

void LoadHistory(SettingsStore& store, const std::string& path, HistoryList& history) {
  const int32_t count =
      ParseSettingInt(store.ReadSettingText(path, kMainSection, kCountKey, kCountDefault));
  const int32_t readable = std::min(count, kMaxHistoryRead);
  for (int32_t i = 0; i < readable; ++i) {
    const std::string text = store.ReadSettingText(
        path, kHistorySection, HistoryKey(static_cast<size_t>(i)), kHistoryEntryDefault);
    if (!text.empty()) history.Append(text);
  }
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
