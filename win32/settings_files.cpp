// Settings files on Win32: a temporary file beside the settings replaces them in one move.
#include "win32/settings_files.h"

#include <windows.h>

#include <vector>

namespace tovik::win32 {
namespace {

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Writes all of `bytes` from the current position; false on any failure.
bool WriteAll(HANDLE file, const char* data, size_t size) {
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

}  // namespace

std::string Win32AnsiCodec::WideToAnsi(const std::u16string& text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, length, out.data(), size, nullptr, nullptr);
  return out;
}

std::u16string Win32AnsiCodec::AnsiToWide(const std::string& text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  std::u16string out(static_cast<size_t>(size), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, reinterpret_cast<wchar_t*>(out.data()), size);
  return out;
}

FileRead Win32SettingsFiles::ReadWhole(const std::string& path) {
  Handle file(CreateFileA(path.c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD error = GetLastError();
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return {missing ? FileRead::Kind::kMissing : FileRead::Kind::kUnreadable, {}};
  }
  FileRead result{FileRead::Kind::kWhole, {}};
  std::vector<char> chunk(1 << 16);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) {
      return {FileRead::Kind::kUnreadable, {}};
    }
    if (read == 0) return result;
    result.bytes.append(chunk.data(), read);
  }
}

// The file a path names in the end, through any symbolic link, so that a save replaces the
// link's target and the link stays; the path itself where that cannot be told. Looked up, not
// imported: older systems lack the call.
std::string FinalPathOf(const std::string& path) {
  using GetFinalPath = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
  const auto get = reinterpret_cast<GetFinalPath>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
  Handle file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!get || !file.valid()) return path;
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = get(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (length == 0) return path;
    if (length < buffer.size()) {
      const std::string final(buffer.data(), length);
      if (final.rfind("\\\\?\\UNC\\", 0) == 0) return "\\" + final.substr(7);
      return final.rfind("\\\\?\\", 0) == 0 ? final.substr(4) : final;
    }
    buffer.resize(length + 1);
  }
}

void Win32SettingsFiles::ReplaceWhole(const std::string& named, const std::string& bytes) {
  const std::string path = FinalPathOf(named);
  const std::string temporary = TemporaryPathFor(path);
  bool written = false;
  {
    // A temporary file left by a killed save is simply overwritten.
    Handle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    written = file.valid() && WriteAll(file.get(), bytes.data(), bytes.size()) &&
              FlushFileBuffers(file.get());
    if (!file.valid()) {
      // The folder takes no new file; the file itself may still take its new text.
      RewriteInPlace(path, bytes);
      return;
    }
  }
  if (written) {
    // An existing file keeps its attributes (hidden, say): the new text takes them before it
    // moves into place, so no moment shows the file without them. Replacing keeps its
    // permissions where the platform can; a new file is moved into place.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (exists && (attributes & kKept)) SetFileAttributesA(temporary.c_str(), attributes & kKept);
    Pause(Stage::kTemporaryWritten);
    if (exists && ReplaceFileA(path.c_str(), temporary.c_str(), nullptr,
                               REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
      return;
    }
    if (MoveFileExA(temporary.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return;
    }
  }
  DeleteFileA(temporary.c_str());
  // A file that can be written but not replaced (held by another mount, say) is rewritten.
  if (written && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    RewriteInPlace(path, bytes);
  }
}

bool Win32SettingsFiles::RewriteInPlace(const std::string& path, const std::string& bytes) {
  Handle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  // New text first, the cut after it: an interruption leaves every new value readable.
  if (!WriteAll(file.get(), bytes.data(), bytes.size())) return false;
  Pause(Stage::kRewrittenBeforeCut);
  return SetEndOfFile(file.get()) && FlushFileBuffers(file.get());
}

}  // namespace tovik::win32
