// Settings files on Win32: a temporary file beside the settings replaces them in one move.
#include "win32/settings_files.h"

#include <windows.h>

#include <vector>

namespace tovik::win32 {
namespace {

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

// Writes all of `data` from the current position; false on any failure.
bool WriteAll(const FileCalls& calls, HANDLE file, const char* data, size_t size) {
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!calls.WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

// Reads from the current position to the end; false when a read fails part-way.
bool ReadAll(const FileCalls& calls, HANDLE file, std::string& out) {
  std::vector<char> chunk(1 << 16);
  for (;;) {
    DWORD read = 0;
    if (!calls.ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) {
      return false;
    }
    if (read == 0) return true;
    out.append(chunk.data(), read);
  }
}

bool Missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Blanks in the text's own encoding, which the reader skips at the end of a line or as a line.
std::string Blanks(const std::string& text, size_t size) {
  std::string blanks(size, ' ');
  const bool utf16le = text.rfind("\xFF\xFE", 0) == 0, utf16be = text.rfind("\xFE\xFF", 0) == 0;
  if (utf16le || utf16be) {
    for (size_t i = utf16le ? 1 : 0; i < size; i += 2) blanks[i] = '\0';
  }
  return blanks;
}

DWORD WINAPI FinalPathNameOf(HANDLE file, LPSTR buffer, DWORD size, DWORD flags) {
  // Looked up, not imported: older systems lack the call.
  using GetFinalPath = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
  const auto get = reinterpret_cast<GetFinalPath>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
  if (get) return get(file, buffer, size, flags);
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}

}  // namespace

const FileCalls& SystemFileCalls() {
  static const FileCalls calls{
      ::CreateFileA,  ::ReadFile,    ::WriteFile,          ::FlushFileBuffers,   ::SetFilePointerEx,
      ::SetEndOfFile, ::CloseHandle, ::GetFileAttributesA, ::SetFileAttributesA, ::ReplaceFileA,
      ::MoveFileExA,  ::DeleteFileA, FinalPathNameOf};
  return calls;
}
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
  Handle file(calls_, calls_.CreateFileA(path.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    return {Missing(GetLastError()) ? FileRead::Kind::kMissing : FileRead::Kind::kUnreadable, {}};
  }
  FileRead result{FileRead::Kind::kWhole, {}};
  if (!ReadAll(calls_, file.get(), result.bytes)) return {FileRead::Kind::kUnreadable, {}};
  return result;
}

// The file a path names in the end, through any symbolic link, so that a save replaces the
// link's target and the link stays. Nothing when the path is a link whose file cannot be told:
// replacing it would put a plain file in the link's place.
std::optional<std::string> Win32SettingsFiles::FinalPathOf(const std::string& path) {
  Handle file(calls_, calls_.CreateFileA(
                          path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  std::vector<char> buffer(MAX_PATH);
  while (file.valid()) {
    const DWORD length = calls_.GetFinalPathNameByHandleA(file.get(), buffer.data(),
                                                          static_cast<DWORD>(buffer.size()), 0);
    if (length == 0) break;
    if (length < buffer.size()) {
      const std::string final(buffer.data(), length);
      if (final.rfind("\\\\?\\UNC\\", 0) == 0) return "\\" + final.substr(7);
      return final.rfind("\\\\?\\", 0) == 0 ? final.substr(4) : final;
    }
    buffer.resize(length + 1);
  }
  const DWORD attributes = calls_.GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return std::nullopt;
  }
  return path;
}

void Win32SettingsFiles::ReplaceWhole(const std::string& named, const std::string& bytes) {
  const std::optional<std::string> final = FinalPathOf(named);
  if (!final) {
    RewriteInPlace(named, bytes);  // written through the link, which stays
    return;
  }
  const std::string& path = *final;
  const std::string temporary = TemporaryPathFor(path);
  // An existing file keeps its attributes (hidden, say): the new text has them from its
  // creation, so no moment shows the file without them.
  const DWORD attributes = calls_.GetFileAttributesA(path.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES || !Missing(GetLastError());
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD kept = attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes & kKept;
  switch (WriteTemporary(temporary, bytes, kept)) {
    case Written::kNoNewFile:
      // The folder takes no new file; the file itself may still take its new text.
      if (exists) RewriteInPlace(path, bytes);
      return;
    case Written::kFailed:
      calls_.DeleteFileA(temporary.c_str());
      return;
    case Written::kWhole:
      break;
  }
  // Replacing keeps the file's permissions where the platform can; a new file is moved.
  if (exists && calls_.ReplaceFileA(path.c_str(), temporary.c_str(), nullptr,
                                    REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
    return;
  }
  if (calls_.MoveFileExA(temporary.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return;
  }
  // A replace that could not move the new text in may have taken the old file away already
  // (ERROR_UNABLE_TO_MOVE_REPLACEMENT): the temporary is then the only copy and stays.
  const bool stillThere = calls_.GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES ||
                          !Missing(GetLastError());
  if (exists && !stillThere) return;
  calls_.DeleteFileA(temporary.c_str());
  // A file that can be written but not replaced (held by another mount, say) is rewritten.
  if (stillThere) RewriteInPlace(path, bytes);
}

Win32SettingsFiles::Written Win32SettingsFiles::WriteTemporary(const std::string& temporary,
                                                               const std::string& bytes,
                                                               DWORD attributes) {
  const auto create = [&] {
    return calls_.CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE created = create();
  if (created == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED &&
      calls_.GetFileAttributesA(temporary.c_str()) != INVALID_FILE_ATTRIBUTES) {
    // A killed save's temporary that is hidden, system or read-only refuses to be written over
    // with other attributes: it goes first.
    calls_.SetFileAttributesA(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
    calls_.DeleteFileA(temporary.c_str());
    created = create();
  }
  Handle file(calls_, created);
  if (!file.valid()) return Written::kNoNewFile;
  const bool whole = WriteAll(calls_, file.get(), bytes.data(), bytes.size()) &&
                     calls_.FlushFileBuffers(file.get());
  return file.Close() && whole ? Written::kWhole : Written::kFailed;
}

// Only for a file whose folder takes no new file. The file never stays with part of the new
// text over the old: a longer text first makes its room at the end with blanks the reader skips,
// so a full disk stops there with the old text whole, and if anything fails once the new text is
// being written, the old text is put back where it was.
bool Win32SettingsFiles::RewriteInPlace(const std::string& path, const std::string& bytes) {
  Handle file(calls_,
              calls_.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string old;
  if (!file.valid() || !ReadAll(calls_, file.get(), old)) return false;
  const auto seek = [&](size_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return calls_.SetFilePointerEx(file.get(), to, nullptr, FILE_BEGIN);
  };
  const auto write = [&](const std::string& text) {
    return WriteAll(calls_, file.get(), text.data(), text.size());
  };
  const auto cut = [&](size_t size) { return seek(size) && calls_.SetEndOfFile(file.get()); };
  if (bytes.size() > old.size() &&
      !(seek(old.size()) && write(Blanks(bytes, bytes.size() - old.size())))) {
    cut(old.size());
    return false;
  }
  // Blanks after a shorter text cover the old one's end until the cut.
  const size_t covered = old.size() > bytes.size() ? old.size() - bytes.size() : 0;
  if (seek(0) && write(bytes + Blanks(bytes, covered)) && cut(bytes.size()) &&
      calls_.FlushFileBuffers(file.get())) {
    return true;
  }
  if (seek(0) && write(old) && cut(old.size())) calls_.FlushFileBuffers(file.get());
  return false;
}

}  // namespace tovik::win32
