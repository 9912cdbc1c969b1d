// Process entry: the real platform, wired to the core, with start-up inside the failure handler.
#include <windows.h>

#include "win32/front_end.h"
#include "win32/platform.h"
#include "win32/settings_files.h"

namespace {

// Later loads come only from the system folder, never from the folder Tovik was started in
// (a downloads folder may hold a planted DLL). Looked up, not imported: older systems lack it.
void LoadLibrariesOnlyFromSystemFolder() {
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const auto set = reinterpret_cast<SetDirectories>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  LoadLibrariesOnlyFromSystemFolder();
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
