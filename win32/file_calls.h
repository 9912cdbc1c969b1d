// The file system calls of the settings files, in one table a test can replace call by call.
#pragma once

#include <windows.h>

#include <string>

namespace tovik::win32 {

struct FileCalls {
  decltype(&::CreateFileA) CreateFileA;
  decltype(&::ReadFile) ReadFile;
  decltype(&::WriteFile) WriteFile;
  decltype(&::FlushFileBuffers) FlushFileBuffers;
  decltype(&::SetFilePointerEx) SetFilePointerEx;
  decltype(&::SetEndOfFile) SetEndOfFile;
  decltype(&::CloseHandle) CloseHandle;
  decltype(&::GetFileAttributesA) GetFileAttributesA;
  decltype(&::SetFileAttributesA) SetFileAttributesA;
  decltype(&::ReplaceFileA) ReplaceFileA;
  decltype(&::MoveFileExA) MoveFileExA;
  decltype(&::DeleteFileA) DeleteFileA;
  DWORD(WINAPI* GetFinalPathNameByHandleA)(HANDLE, LPSTR, DWORD, DWORD);
  decltype(&::GetFileInformationByHandle) GetFileInformationByHandle;  // how many names it has
  // What a symbolic link names, read from the link itself, so also when that file is missing;
  // false when `link` is no symbolic link or its target has no 8-bit name.
  bool (*ReadLinkTarget)(const char* link, std::string& target);
  decltype(&::Sleep) Sleep;  // the pause before a call is tried again
};

// The system's own calls.
const FileCalls& SystemFileCalls();

// A handle closed through the table when it goes.
class Handle {
 public:
  Handle(const FileCalls& calls, HANDLE handle) : calls_(calls), handle_(handle) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  // A close can report a write the system could not complete after all.
  bool Close() {
    const bool closed = valid() && calls_.CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  const FileCalls& calls_;
  HANDLE handle_;
};

}  // namespace tovik::win32
