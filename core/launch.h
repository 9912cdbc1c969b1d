// Launch action: the command field's text handed to the shell, and the history's delete-current.
#pragma once

#include <string>

#include "core/launcher_state.h"

namespace tovik {

inline constexpr char kLaunchFailureCaption[] = "OOPS...";
inline constexpr char kLaunchFailurePrefix[] = "Unable to locate: ";
inline constexpr unsigned kLaunchFailureBoxType = 16;  // MB_ICONERROR | MB_OK

// Asks the shell to "open" a target with parameters; the result means success above 32.
class ShellLauncher {
 public:
  virtual ~ShellLauncher() = default;
  virtual int32_t ShellOpen(const std::string& file, const std::string& parameters) = 0;
};

void LaunchCommand(LauncherState& state, Platform& platform);
void DeleteCurrentCommand(LauncherWindow& window);

}  // namespace tovik
