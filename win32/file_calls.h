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

}  // namespace tovik::win32
