// Win32 process, environment and shell calls, each fetching its text whole.
#include "win32/platform.h"

#include <windows.h>
// windows.h first: the other platform headers need its types.
#include <shellapi.h>

#include <vector>

namespace tovik::win32 {
namespace {

// Calls `fill(buffer, size)` with a growing buffer until the text it reports fits with room to
// spare; `fill` returns the length it copied. A full buffer may mean a cut text, so grow then.
template <typename Fill>
std::string FetchWhole(DWORD initialSize, DWORD slack, Fill fill) {
  std::vector<char> buffer(initialSize);
  for (;;) {
    const DWORD length = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length + slack < buffer.size()) return std::string(buffer.data(), length);
    buffer.assign(buffer.size() * 2, '\0');
  }
}

}  // namespace

std::optional<std::string> Win32Environment::ExpandEnvironment(const std::string& text) {
  // Ask for the size needed, then expand into exactly that; retry if the environment grew.
  DWORD needed = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
  for (;;) {
    if (needed == 0) return std::nullopt;
    std::vector<char> buffer(needed);
    const DWORD written = ExpandEnvironmentStringsA(text.c_str(), buffer.data(), needed);
    if (written == 0) return std::nullopt;
    if (written <= needed) return std::string(buffer.data());
    needed = written;
  }
}

int32_t Win32Shell::ShellOpen(const std::string& file, const std::string& parameters) {
  const HINSTANCE result =
      ShellExecuteA(nullptr, "open", file.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL);
  return static_cast<int32_t>(reinterpret_cast<INT_PTR>(result));
}

std::string Win32Process::ModulePath() {
  // A completely filled buffer may hold a cut path.
  return FetchWhole(MAX_PATH + 1, 0, [](char* buffer, DWORD size) {
    return GetModuleFileNameA(nullptr, buffer, size);
  });
}

std::string Win32Process::CommandLine() { return GetCommandLineA(); }

std::string Win32Process::LoadText(unsigned id) {
  return FetchWhole(64, 1, [id](char* buffer, DWORD size) {
    return static_cast<DWORD>(
        LoadStringA(GetModuleHandleA(nullptr), id, buffer, static_cast<int>(size)));
  });
}

std::uintptr_t Win32Process::ModuleOffset(std::uintptr_t address) {
  return address - reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
}

void Win32Process::ExitProcess(uint32_t status) { ::ExitProcess(status); }

}  // namespace tovik::win32
