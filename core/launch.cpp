// Launch action and delete-current.
#include "core/launch.h"

namespace tovik {

void LaunchCommand(LauncherState& state, Platform& platform) {
  LauncherWindow& window = platform.window;
  state.doMinimize = window.IsMinimizeChecked() ? 1 : 0;
  state.doClose = window.IsCloseChecked() ? 1 : 0;
  const std::string rawText = window.CommandText();
  const std::string workingText = rawText.find('%') != std::string::npos
                                      ? ExpandCommand(rawText, platform.environment)
                                      : rawText;
  const SplitResult split = SplitCommand(workingText);
  if (rawText.empty()) return;
  const int32_t result = platform.shell.ShellOpen(split.token, split.remainder);
  if (result > 32) {
    // The raw text is remembered, so references stay unexpanded in the history.
    RememberLaunch(window.History(), rawText);
    if (state.doClose == 1) SaveAndExit(state, platform);
    if (state.doMinimize == 1) window.Minimize();
    return;
  }
  window.ShowMessage(MessageOwner::kMainWindow,
                     std::string(kLaunchFailurePrefix) + "\r\"" + split.token + "\"",
                     kLaunchFailureCaption, kLaunchFailureBoxType);
}

void DeleteCurrentCommand(LauncherWindow& window) {
  if (DeleteMatchingEntry(window.History(), window.CommandText())) window.SetCommandText("");
  window.FocusCommandField();
}

}  // namespace tovik
