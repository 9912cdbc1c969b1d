// The Win32 side of the core's process, environment and shell interfaces.
#pragma once

#include "core/launch.h"
#include "core/launcher_state.h"

namespace tovik::win32 {

class Win32Environment : public EnvironmentExpander {
 public:
  std::optional<std::string> ExpandEnvironment(const std::string& text) override;
};

class Win32Shell : public ShellLauncher {
 public:
  int32_t ShellOpen(const std::string& file, const std::string& parameters) override;
};

class Win32Process : public ProcessHost {
 public:
  std::string ModulePath() override;
  std::string CommandLine() override;
  std::string LoadText(unsigned id) override;
  std::uintptr_t ModuleOffset(std::uintptr_t address) override;
  [[noreturn]] void ExitProcess(uint32_t status) override;
};

}  // namespace tovik::win32
