// The system's own file calls, with those that older systems or the 8-bit forms lack.
#include "win32/file_calls.h"

#include <windows.h>
// windows.h first: the device control header needs its types.
#include <winioctl.h>

#include <cstring>
#include <vector>

namespace tovik::win32 {
namespace {

DWORD WINAPI FinalPathNameOf(HANDLE file, LPSTR buffer, DWORD size, DWORD flags) {
  // Looked up, not imported: older systems lack the call.
  using GetFinalPath = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
  const auto get = reinterpret_cast<GetFinalPath>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
  if (get) return get(file, buffer, size, flags);
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}

// The target a symbolic link holds, from its reparse data: a link whose file is missing still
// names it. A relative target is taken from the link's folder.
bool ReadLinkTargetOf(const char* link, std::string& target) {
  struct SymbolicLink {  // the reparse data of a symbolic link, as the file system gives it
    ULONG tag;
    USHORT dataLength, reserved, substituteOffset, substituteLength, printOffset, printLength;
    ULONG flags;
  };
  const HANDLE opened = CreateFileA(
      link, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return false;
  std::vector<char> data(16 * 1024);  // the largest reparse data there is
  DWORD size = 0;
  const bool read = DeviceIoControl(opened, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                                    static_cast<DWORD>(data.size()), &size, nullptr);
  CloseHandle(opened);
  SymbolicLink header{};
  if (!read || size < sizeof header) return false;
  std::memcpy(&header, data.data(), sizeof header);
  const bool printed = header.printLength > 0;
  const size_t offset = sizeof header + (printed ? header.printOffset : header.substituteOffset);
  const size_t length = printed ? header.printLength : header.substituteLength;
  if (header.tag != IO_REPARSE_TAG_SYMLINK || offset + length > size || length == 0) return false;
  std::wstring name(length / 2, L'\0');
  std::memcpy(name.data(), data.data() + offset, name.size() * 2);
  if (name.rfind(L"\\??\\", 0) == 0) name.erase(0, 4);
  const int wide = static_cast<int>(name.size());
  BOOL lossy = FALSE;
  const int bytes = WideCharToMultiByte(CP_ACP, 0, name.data(), wide, nullptr, 0, nullptr, &lossy);
  if (bytes == 0 || lossy) return false;
  std::string ansi(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, name.data(), wide, ansi.data(), bytes, nullptr, nullptr);
  constexpr ULONG kRelative = 1;  // SYMLINK_FLAG_RELATIVE
  const std::string named = link;
  target = header.flags & kRelative ? named.substr(0, named.find_last_of('\\') + 1) + ansi : ansi;
  return true;
}

}  // namespace

const FileCalls& SystemFileCalls() {
  static const FileCalls calls{::CreateFileA,        ::ReadFile,
                               ::WriteFile,          ::FlushFileBuffers,
                               ::SetFilePointerEx,   ::SetEndOfFile,
                               ::CloseHandle,        ::GetFileAttributesA,
                               ::SetFileAttributesA, ::ReplaceFileA,
                               ::MoveFileExA,        ::DeleteFileA,
                               FinalPathNameOf,      ::GetFileInformationByHandle,
                               ReadLinkTargetOf,     ::Sleep};
  return calls;
}

}  // namespace tovik::win32
