// Launcher state and lifecycle: the process-wide record, start-up and shutdown.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/command_text.h"
#include "core/launch_history.h"
#include "core/settings_file.h"

namespace tovik {

struct LauncherState {
  std::string settingsPath;
  int32_t doClose = 0;
  int32_t doMinimize = 0;
  int32_t left = 0;
  int32_t top = 0;
  std::string firstArgument;
  bool reportingFailure = false;  // from the failure report on, nothing is written
};

struct WindowPosition {
  int32_t left = 0;
  int32_t top = 0;
};

enum class MessageOwner { kNone, kMainWindow };

// The process as the core sees it.
class ProcessHost : public TextSource {
 public:
  virtual std::string ModulePath() = 0;
  virtual std::string CommandLine() = 0;
  // A code address as an offset into the program's own image.
  virtual std::uintptr_t ModuleOffset(std::uintptr_t address) = 0;
  [[noreturn]] virtual void ExitProcess(uint32_t status) = 0;
};

// The window front end as the core sees it.
class LauncherWindow {
 public:
  virtual ~LauncherWindow() = default;
  virtual void RegisterMainClass() = 0;
  virtual void CreateMainWindow(int32_t left, int32_t top) = 0;
  virtual void CreateRemainingControls(int32_t doMinimize, int32_t doClose) = 0;
  virtual int RunMessageLoop() = 0;
  virtual HistoryList& History() = 0;
  virtual std::string CommandText() = 0;
  virtual void SetCommandText(const std::string& text) = 0;
  virtual void FocusCommandField() = 0;
  virtual bool IsMinimizeChecked() = 0;
  virtual bool IsCloseChecked() = 0;
  virtual void Minimize() = 0;
  // The restored rectangle's top-left, in screen coordinates.
  virtual WindowPosition RestoredPosition() = 0;
  virtual void ShowMessage(MessageOwner owner, const std::string& text, const std::string& caption,
                           unsigned type) = 0;
  // Font, drop registration and window class, released just before the process ends.
  virtual void ReleaseWindowResources() = 0;
};

class ShellLauncher;

// Everything the core needs from the platform.
struct Platform {
  ProcessHost& process;
  SettingsStore& settings;
  EnvironmentExpander& environment;
  ShellLauncher& shell;
  LauncherWindow& window;
};

inline constexpr char kAboutCaption[] = "About Tovik";
inline constexpr unsigned kAboutBoxType = 0x40;  // MB_ICONINFORMATION | MB_OK
extern const char kAboutText[];

// Builds the state and the window, then runs the message loop; returns its exit status.
int StartUp(LauncherState& state, Platform& platform);
// StartUp inside the top-level failure handler.
int RunLauncher(LauncherState& state, Platform& platform);
[[noreturn]] void ReportFailureAndExit(std::string_view className, std::string_view message,
                                       std::uintptr_t address, Platform& platform);
[[noreturn]] void SaveAndExit(LauncherState& state, Platform& platform);
void ShowAboutBox(LauncherWindow& window);

}  // namespace tovik
