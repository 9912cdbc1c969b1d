// Process entry: the real platform, wired to the core, with start-up inside the failure handler.
#include <windows.h>

#include "win32/front_end.h"
#include "win32/platform.h"
#include "win32/settings_files.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using namespace tovik::win32;
  Win32Process process;
  Win32SettingsFiles files;
  Win32AnsiCodec codec;
  tovik::BufferedSettingsStore settings(files, codec);
  Win32Environment environment;
  Win32Shell shell;
  Win32Window window;
  tovik::Platform platform{process, settings, environment, shell, window};
  FrontEndState& launcher = Launcher();
  launcher.platform = &platform;
  return tovik::RunLauncher(launcher.core, platform);
}
