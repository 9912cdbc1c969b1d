// Starts a program with the fenced heap loaded into it before its first line runs, and ends with
// its exit status:  fenced_start.exe DLL PROGRAM [ARGUMENT...]
// The program gets the rest of this command line as its own, and this one's start-up state.
#include <windows.h>

#include <string>

namespace {

// The command line past its first argument, parsed as the C library parses a program's name.
const wchar_t* PastFirst(const wchar_t* line) {
  if (*line == L'"') {
    line = wcschr(line + 1, L'"');
    line = line ? line + 1 : L"";
  }
  while (*line && *line != L' ' && *line != L'\t') ++line;
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

// Says on the error output which step failed and with what error, and gives the status.
int Failed(const char* step, int status) {
  const DWORD error = GetLastError();
  char line[160];
  const int length = wsprintfA(line, "fenced_start: %s failed with error %lu\r\n", step, error);
  DWORD written;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
  return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 125;
  std::wstring command = PastFirst(PastFirst(GetCommandLineW()));
  STARTUPINFOW startup;
  GetStartupInfoW(&startup);
  // The program ends with this starter, as it would with a wrapper that is killed; what it starts
  // stays out of the job (Wine's own desktop and services among them).
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
  PROCESS_INFORMATION child;
  if (!job) return Failed("CreateJobObjectW", 126);
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits))
    return Failed("SetInformationJobObject", 126);
  // The standard handles this starter was given are the program's (a test program's output).
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                      nullptr, &startup, &child))
    return Failed("CreateProcessW", 126);
  // Never run a program unfenced, nor one that could outlive this starter.
  const auto stop = [&](const char* step) {
    const int status = Failed(step, 127);
    TerminateProcess(child.hProcess, 127);
    return status;
  };
  if (!AssignProcessToJobObject(job, child.hProcess)) return stop("AssignProcessToJobObject");
  // The DLL's path written into the child, then LoadLibraryW run there on it: the system DLLs sit
  // at the same address in every process of one architecture.
  const size_t bytes = (wcslen(argv[1]) + 1) * sizeof(wchar_t);
  void* path = VirtualAllocEx(child.hProcess, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
  if (!path) return stop("VirtualAllocEx");
  if (!WriteProcessMemory(child.hProcess, path, argv[1], bytes, nullptr))
    return stop("WriteProcessMemory");
  const auto load = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
  const HANDLE loader = CreateRemoteThread(child.hProcess, nullptr, 0, load, path, 0, nullptr);
  if (!loader) return stop("CreateRemoteThread");
  DWORD loaded = 0;
  WaitForSingleObject(loader, INFINITE);
  GetExitCodeThread(loader, &loaded);
  CloseHandle(loader);
  SetLastError(0);  // the thread's result is all there is: the DLL refused, or was not found
  if (!loaded) return stop("LoadLibraryW of the fenced heap in the program");
  ResumeThread(child.hThread);
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(child.hProcess, &status);
  return static_cast<int>(status);
}
