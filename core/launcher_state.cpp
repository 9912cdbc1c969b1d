// Start-up and shutdown in their fixed order.
#include "core/launcher_state.h"

#include <cstdlib>

namespace tovik {
namespace {

int32_t ReadSettingInt(Platform& platform, const std::string& path, const char* key,
                       const char* defaultText) {
  return ParseSettingInt(platform.settings.ReadSettingText(path, kMainSection, key, defaultText));
}

void WriteSettingInt(Platform& platform, const std::string& path, const char* key, int32_t value) {
  platform.settings.WriteSettingText(path, kMainSection, key, FormatSettingInt(value));
}

}  // namespace

const char kAboutText[] =
    "Tovik - Version 1.0.0.0\n"
    "\n"
    "Copyright (c) 2026 the Tovik developers.\n"
    "All rights reserved.\n"
    "Free to use and to pass on unchanged, without warranty of any kind.";

int StartUp(LauncherState& state, Platform& platform) {
  LauncherWindow& window = platform.window;
  window.RegisterMainClass();
  state.settingsPath = SettingsPathFor(platform.process.ModulePath());
  // Each value is parsed before the next is read: the first malformed one ends the start.
  state.top = ReadSettingInt(platform, state.settingsPath, kTopKey, kPositionDefault);
  state.left = ReadSettingInt(platform, state.settingsPath, kLeftKey, kPositionDefault);
  state.doClose = ReadSettingInt(platform, state.settingsPath, kDoCloseKey, kOptionDefault);
  state.doMinimize = ReadSettingInt(platform, state.settingsPath, kDoMinimizeKey, kOptionDefault);
  window.CreateMainWindow(state.left, state.top);
  state.firstArgument = FirstArgument(platform.process.CommandLine());
  if (!state.firstArgument.empty()) window.SetCommandText(QuoteIfSpaced(state.firstArgument));
  window.FocusCommandField();
  LoadHistory(platform.settings, state.settingsPath, window.History());
  window.CreateRemainingControls(state.doMinimize, state.doClose);
  return window.RunMessageLoop();
}

void SaveAndExit(LauncherState& state, Platform& platform) {
  // A save now would write the defaults over the value the report names and orphan the rest.
  if (state.reportingFailure) platform.process.ExitProcess(kFailureExitStatus);
  const WindowPosition position = platform.window.RestoredPosition();
  WriteSettingInt(platform, state.settingsPath, kTopKey, position.top);
  WriteSettingInt(platform, state.settingsPath, kLeftKey, position.left);
  WriteSettingInt(platform, state.settingsPath, kDoCloseKey, state.doClose);
  WriteSettingInt(platform, state.settingsPath, kDoMinimizeKey, state.doMinimize);
  SaveHistory(platform.settings, state.settingsPath, platform.window.History());
  platform.settings.CommitSettings(state.settingsPath);
  platform.window.ReleaseWindowResources();
  platform.process.ExitProcess(0);
  std::abort();  // the process has ended; nothing may run on
}

int RunLauncher(LauncherState& state, Platform& platform) {
  try {
    return StartUp(state, platform);
  } catch (const Exception& failure) {
    state.reportingFailure = true;
    ReportFailureAndExit(failure.ClassName(), failure.Message(platform.process), failure.Address(),
                         platform);
  } catch (const std::exception&) {
    // A failure from outside the program carries no message of its own.
    state.reportingFailure = true;
    ReportFailureAndExit("Exception", "", 0, platform);
  }
}

void ReportFailureAndExit(std::string_view className, std::string_view message,
                          std::uintptr_t address, Platform& platform) {
  const FailureReport report =
      ComposeFailureReport(className, message, platform.process.ModulePath(),
                           address ? platform.process.ModuleOffset(address) : 0, platform.process);
  platform.window.ShowMessage(MessageOwner::kNone, report.text, report.caption, kReportBoxType);
  platform.process.ExitProcess(kFailureExitStatus);
  std::abort();
}

void ShowAboutBox(LauncherWindow& window) {
  window.ShowMessage(MessageOwner::kMainWindow, kAboutText, kAboutCaption, kAboutBoxType);
  window.FocusCommandField();
}

}  // namespace tovik
