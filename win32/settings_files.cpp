// Settings files on Win32: a temporary file beside the settings replaces them in one move.
#include "win32/settings_files.h"

#include <windows.h>
// windows.h first: the device control header needs its types.
#include <winioctl.h>

#include <cstring>
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

// Whether a file is there: the attributes call can fail for other reasons (a delete still
// pending, access denied), and then nobody can tell.
enum class Presence { kThere, kMissing, kUnknown };
Presence PresenceOf(const FileCalls& calls, const std::string& path, DWORD* attributes = nullptr) {
  const DWORD found = calls.GetFileAttributesA(path.c_str());
  if (attributes) *attributes = found;
  if (found != INVALID_FILE_ATTRIBUTES) return Presence::kThere;
  return Missing(GetLastError()) ? Presence::kMissing : Presence::kUnknown;
}

// A save's temporary is written with its first byte last, after the rest is on the disk: one
// that the end of the process, a full disk or another program's truncation cut short is empty
// or begins with a NUL, whatever its text (no final line end, UTF-16, Ctrl+Z). No editor starts
// a settings file with a NUL.
bool WrittenWhole(const std::string& text) { return !text.empty() && text[0] != '\0'; }

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

// Another program (a virus scanner, the search indexer, a sync client) opens a file that was just
// written, for a moment. A call it refuses is tried again after a pause that grows by 25 ms each
// time, as long as one read or one save has waited less than a second in all: 8 more tries,
// 900 ms at most. Errors that do not go away by themselves (a read-only file or folder, a full
// disk) are not waited on.
class Patience {
 public:
  explicit Patience(const FileCalls& calls) : calls_(calls) {}
  // After a failed call: true when `error` may pass and the pause was taken. Access denied may
  // pass only where the caller found a holder or a pending delete that explains it.
  bool Waited(DWORD error, bool deniedByHolder = false) {
    const bool passing = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                         error == ERROR_UNABLE_TO_REMOVE_REPLACED ||
                         (error == ERROR_ACCESS_DENIED && deniedByHolder);
    const DWORD pause = kStepMs * (tries_ + 1);
    if (!passing || waited_ + pause > kBudgetMs) return false;
    calls_.Sleep(pause);
    ++tries_;
    waited_ += pause;
    return true;
  }
  // Makes `call` until it succeeds or its failure is not worth a wait; `explained` tells, after
  // an access denied, whether a holder may be behind it.
  template <typename Call, typename Explained>
  bool Try(Call call, Explained explained) {
    while (!call()) {
      const DWORD error = GetLastError();
      if (!Waited(error, error == ERROR_ACCESS_DENIED && explained())) {
        SetLastError(error);
        return false;
      }
    }
    return true;
  }
  template <typename Call>
  bool Try(Call call) {
    return Try(call, [] { return false; });
  }

 private:
  static constexpr DWORD kStepMs = 25, kBudgetMs = 1000;
  const FileCalls& calls_;
  DWORD tries_ = 0, waited_ = 0;
};

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

// Reads the whole file, waiting a moment for a program that holds it.
FileRead Win32SettingsFiles::ReadFrom(const std::string& path, Patience& patience) {
  FileRead result{FileRead::Kind::kMissing, {}};
  patience.Try([&] {
    result = {FileRead::Kind::kWhole, {}};
    Handle file(calls_, calls_.CreateFileA(path.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.valid() && ReadAll(calls_, file.get(), result.bytes)) return true;
    const DWORD error = GetLastError();
    result = {
        Missing(error) && !file.valid() ? FileRead::Kind::kMissing : FileRead::Kind::kUnreadable,
        {}};
    SetLastError(error);
    return false;
  });
  return result;
}

// Access denied on a file that is there and not read-only: a holder, a pending delete, or an
// access list that refuses it. Asking for what a replace needs tells them apart: a holder shows
// as a sharing violation, an access list as access denied, which no wait changes.
bool Win32SettingsFiles::HeldOrGoing(const std::string& path) {
  DWORD attributes = 0;
  const Presence presence = PresenceOf(calls_, path, &attributes);
  if (presence != Presence::kThere) return presence == Presence::kUnknown;
  if (attributes & FILE_ATTRIBUTE_READONLY) return false;
  Handle probe(calls_, calls_.CreateFileA(path.c_str(), GENERIC_WRITE | DELETE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  const DWORD error = GetLastError();
  return probe.valid() || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool Win32SettingsFiles::MoveIn(const std::string& temporary, const std::string& path, DWORD flags,
                                Patience& patience) {
  return patience.Try(
      [&] {
        return calls_.MoveFileExA(temporary.c_str(), path.c_str(), flags | MOVEFILE_WRITE_THROUGH);
      },
      [&] { return HeldOrGoing(path); });
}

// Whether the file holds `bytes` after they were put in place; a file that cannot be read now
// is taken to.
bool Win32SettingsFiles::Holds(const std::string& path, const std::string& bytes,
                               Patience& patience) {
  const FileRead now = ReadFrom(path, patience);
  return now.kind == FileRead::Kind::kUnreadable ||
         (now.kind == FileRead::Kind::kWhole && now.bytes == bytes);
}

FileRead Win32SettingsFiles::ReadWhole(const std::string& named) {
  Patience patience(calls_);
  FileRead read = ReadFrom(named, patience);
  if (read.kind == FileRead::Kind::kUnreadable) return read;
  if (read.kind == FileRead::Kind::kWhole) {
    // A plain file is its own final name; only a link's is looked up, as its save's temporary
    // lies beside the file it names.
    DWORD attributes = 0;
    const bool plain = PresenceOf(calls_, named, &attributes) == Presence::kThere &&
                       !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    const std::optional<std::string> file = plain ? named : FileOf(named);
    return file ? FinishRewrite(*file, std::move(read), patience) : read;
  }
  const std::optional<std::string> file = FileOf(named);
  // A link whose file cannot be told may name the last save: it is not to be saved over.
  if (!file) return {FileRead::Kind::kUnreadable, {}};
  // A link whose file's folder is missing names a drive that is not there yet (a synced folder,
  // an encrypted volume, at log-on): its file cannot be read now, which is no first run.
  if (*file != named &&
      PresenceOf(calls_, file->substr(0, file->find_last_of('\\') + 1)) != Presence::kThere) {
    return {FileRead::Kind::kUnreadable, {}};
  }
  // With no file, a temporary written whole beside it holds the last save (one that could not
  // move its text into place): it is put in place, or read where it is while it cannot be
  // moved. Beside a link it lies where the save wrote it, beside the link's target.
  const std::string temporary = TemporaryPathFor(*file);
  FileRead last = ReadFrom(temporary, patience);
  // A temporary that cannot be read may hold the last save: the run must not save over it.
  if (last.kind == FileRead::Kind::kUnreadable) return last;
  if (last.kind != FileRead::Kind::kWhole || !WrittenWhole(last.bytes)) return read;
  // The move never replaces a file: one that another copy of Tovik put in place meanwhile stays.
  MoveIn(temporary, *file, 0, patience);
  return last;
}

// A file with other names is saved by a rewrite in place, while the whole new text waits in the
// temporary: a temporary written whole beside it is a rewrite that was cut short, or done but not
// yet cleared. The rewrite is finished from it, or while it cannot be, its text is the file's.
FileRead Win32SettingsFiles::FinishRewrite(const std::string& path, FileRead read,
                                           Patience& patience) {
  const std::string temporary = TemporaryPathFor(path);
  if (PresenceOf(calls_, temporary) == Presence::kMissing) return read;
  const std::optional<DWORD> names = NamesOf(path, patience);
  if (names && *names < 2) return read;
  FileRead last = ReadFrom(temporary, patience);
  // Whether the file is whole cannot be told: it is not to be saved over.
  if (!names || last.kind == FileRead::Kind::kUnreadable) return {FileRead::Kind::kUnreadable, {}};
  if (last.kind != FileRead::Kind::kWhole || !WrittenWhole(last.bytes)) return read;
  if (RewriteInPlace(path, last.bytes, patience) == Rewritten::kDone)
    patience.Try([&] { return calls_.DeleteFileA(temporary.c_str()); });
  return last;
}

// How many names (hard links) the file has; nothing when that cannot be told.
std::optional<DWORD> Win32SettingsFiles::NamesOf(const std::string& path, Patience& patience) {
  BY_HANDLE_FILE_INFORMATION information{};
  const bool told = patience.Try([&] {
    Handle file(calls_, calls_.CreateFileA(path.c_str(), 0,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid() && calls_.GetFileInformationByHandle(file.get(), &information);
  });
  if (!told) return std::nullopt;
  return information.nNumberOfLinks;
}

// The file a path names in the end, through any symbolic link, so that a save replaces the
// link's target and the link stays; a link whose file is missing names it still. Nothing when
// the path is a link whose file cannot be told: replacing it would put a plain file in the
// link's place.
std::optional<std::string> Win32SettingsFiles::FileOf(const std::string& named) {
  Handle file(calls_, calls_.CreateFileA(
                          named.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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
  // A file that is not there is made where it is named; one that cannot be told may be a link.
  DWORD attributes = 0;
  const Presence presence = PresenceOf(calls_, named, &attributes);
  if (presence == Presence::kUnknown) return std::nullopt;
  if (presence == Presence::kThere && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    std::string target;
    if (!calls_.ReadLinkTarget(named.c_str(), target)) return std::nullopt;
    return target;
  }
  return named;
}

void Win32SettingsFiles::ReplaceWhole(const std::string& named, const std::string& bytes) {
  Patience patience(calls_);
  const std::optional<std::string> file = FileOf(named);
  if (!file) return;
  const std::string& path = *file;
  const std::string temporary = TemporaryPathFor(path);
  // The last save may be only in the temporary: it goes into place before anything may write
  // over it, or this save is not made; nor where nobody can tell whether the file is there.
  const Presence presence = PresenceOf(calls_, path);
  if (presence == Presence::kUnknown) return;
  if (presence == Presence::kMissing) {
    const FileRead last = ReadFrom(temporary, patience);
    if (last.kind == FileRead::Kind::kUnreadable) return;
    if (last.kind == FileRead::Kind::kWhole && WrittenWhole(last.bytes) &&
        !MoveIn(temporary, path, 0, patience)) {
      return;
    }
  }
  // Another program that wrote the temporary after this save did (a second copy of Tovik, killed
  // part-way) had its text put in place: this save's own goes over it, once more.
  for (int round = 0; round < 2; ++round) {
    if (PutInPlace(path, bytes, patience) != Put::kOther) return;
  }
}

Win32SettingsFiles::Put Win32SettingsFiles::PutInPlace(const std::string& path,
                                                       const std::string& bytes,
                                                       Patience& patience) {
  const std::string temporary = TemporaryPathFor(path);
  // An existing file keeps its attributes (hidden, say): the new text has them from its
  // creation, so no moment shows the file without them.
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  DWORD attributes = 0;
  const Presence presence = PresenceOf(calls_, path, &attributes);
  const bool exists = presence != Presence::kMissing;
  const DWORD kept = presence == Presence::kThere ? attributes & kKept : 0;
  // A file with other names (hard links, as a package manager keeps settings across updates)
  // keeps them all: a replace would give this name a new file and leave the others the old text.
  const std::optional<DWORD> names =
      presence == Presence::kMissing ? std::optional<DWORD>(1) : NamesOf(path, patience);
  if (!names) return Put::kGaveUp;
  switch (WriteTemporary(temporary, bytes, kept, patience)) {
    case Written::kNoNewFile:
      // The folder takes no new file; the file itself may still take its new text.
      if (exists) RewriteInPlace(path, bytes, patience);
      return Put::kGaveUp;
    case Written::kNotCreated:
      return Put::kGaveUp;
    case Written::kFailed:
      patience.Try([&] { return calls_.DeleteFileA(temporary.c_str()); });
      return Put::kGaveUp;
    case Written::kWhole:
      break;
  }
  // The whole new text waits in the temporary until the rewrite is on the disk: the next start
  // finishes a rewrite that was cut short (FinishRewrite).
  if (*names > 1) {
    if (RewriteInPlace(path, bytes, patience) != Rewritten::kTorn)
      patience.Try([&] { return calls_.DeleteFileA(temporary.c_str()); });
    return Put::kDone;
  }
  const auto placed = [&] { return Holds(path, bytes, patience) ? Put::kDone : Put::kOther; };
  // Replacing keeps the file's permissions where the platform can; a new file is moved. A
  // replace that fails with the old file still in place has changed nothing and is tried again.
  bool replaced = false;
  if (exists) {
    patience.Try(
        [&] {
          replaced = calls_.ReplaceFileA(path.c_str(), temporary.c_str(), nullptr,
                                         REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
          const DWORD error = GetLastError();
          if (replaced || PresenceOf(calls_, path) != Presence::kThere) return true;
          SetLastError(error);
          return false;
        },
        [&] { return HeldOrGoing(path); });
    if (replaced) return placed();
  }
  // A replace may have taken the old file away without moving the new text in
  // (ERROR_UNABLE_TO_MOVE_REPLACEMENT and its like): the temporary is then the only copy. It is
  // moved into place, or kept for the next start, which reads it.
  const Presence after = PresenceOf(calls_, path);
  if (after != Presence::kThere) {
    return after == Presence::kMissing && MoveIn(temporary, path, 0, patience) ? placed()
                                                                               : Put::kGaveUp;
  }
  // The old file is whole and this save's text could not take its place: the file stays as it
  // was and this run's changes are lost, as in a folder that cannot be written.
  if (MoveIn(temporary, path, MOVEFILE_REPLACE_EXISTING, patience)) return placed();
  patience.Try([&] { return calls_.DeleteFileA(temporary.c_str()); });
  return Put::kGaveUp;
}

Win32SettingsFiles::Written Win32SettingsFiles::WriteTemporary(const std::string& temporary,
                                                               const std::string& bytes,
                                                               DWORD attributes,
                                                               Patience& patience) {
  const auto create = [&] {
    return calls_.CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  // Access denied with a temporary there: a killed save's temporary whose attributes (hidden,
  // system, read-only) or access list refuse it goes first; one that is held, or whose delete is
  // pending, is waited for. None there: the folder refuses a new file.
  HANDLE created = create();
  bool cleared = false, held = false;
  while (created == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    held = false;
    if (error == ERROR_ACCESS_DENIED) {
      const Presence presence = PresenceOf(calls_, temporary);
      if (presence == Presence::kThere && !cleared) {
        cleared = true;
        calls_.SetFileAttributesA(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
        calls_.DeleteFileA(temporary.c_str());
        created = create();
        continue;
      }
      held = presence == Presence::kUnknown ||
             (presence == Presence::kThere && HeldOrGoing(temporary));
    }
    if (!patience.Waited(error, held)) {
      SetLastError(error);
      break;
    }
    created = create();
  }
  Handle file(calls_, created);
  if (!file.valid()) {
    // A folder that refuses a new file, with no temporary there or one that refuses to go, is
    // rewritten in place.
    const DWORD error = GetLastError();
    const bool refused = error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT;
    return refused && !held ? Written::kNoNewFile : Written::kNotCreated;
  }
  // All but the first byte, on the disk, then the first byte: see WrittenWhole.
  std::string rest = bytes;
  if (!rest.empty()) rest[0] = '\0';
  LARGE_INTEGER start{};
  const bool whole = WriteAll(calls_, file.get(), rest.data(), rest.size()) &&
                     calls_.FlushFileBuffers(file.get()) &&
                     calls_.SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) &&
                     WriteAll(calls_, file.get(), bytes.data(), bytes.empty() ? 0 : 1) &&
                     calls_.FlushFileBuffers(file.get());
  return file.Close() && whole ? Written::kWhole : Written::kFailed;
}

// Only for a file whose folder takes no new file. The file never stays with part of the new
// text over the old while the system runs: a longer text first makes its room at the end with
// blanks the reader skips, so a full disk stops there with the old text whole, and if anything
// fails once the new text is being written, the old text is put back where it was. A power cut
// while the new text goes over the old can leave some of the file's pages new and some old.
Win32SettingsFiles::Rewritten Win32SettingsFiles::RewriteInPlace(const std::string& path,
                                                                 const std::string& bytes,
                                                                 Patience& patience) {
  // Opened and read again while another program holds or locks it for a moment.
  std::optional<Handle> file;
  std::string old;
  const bool opened = patience.Try([&] {
    old.clear();
    file.emplace(calls_,
                 calls_.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file->valid() && ReadAll(calls_, file->get(), old);
  });
  if (!opened) return Rewritten::kUnchanged;
  const auto seek = [&](size_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return calls_.SetFilePointerEx(file->get(), to, nullptr, FILE_BEGIN);
  };
  const auto write = [&](const std::string& text) {
    return WriteAll(calls_, file->get(), text.data(), text.size());
  };
  const auto cut = [&](size_t size) { return seek(size) && calls_.SetEndOfFile(file->get()); };
  // The room is on the disk before any of the old text is written over.
  if (bytes.size() > old.size() &&
      !(seek(old.size()) && write(Blanks(bytes, bytes.size() - old.size())) &&
        calls_.FlushFileBuffers(file->get()))) {
    cut(old.size());
    return Rewritten::kUnchanged;
  }
  // Blanks after a shorter text cover the old one's end until the cut.
  const size_t covered = old.size() > bytes.size() ? old.size() - bytes.size() : 0;
  if (seek(0) && write(bytes + Blanks(bytes, covered)) && cut(bytes.size()) &&
      calls_.FlushFileBuffers(file->get())) {
    return Rewritten::kDone;
  }
  // A device that has just failed a write may fail the first try to put the old text back.
  // Blanks cover a longer new text's end until the cut.
  const std::string restored =
      old + Blanks(old, bytes.size() > old.size() ? bytes.size() - old.size() : 0);
  for (int tries = 0; tries < 3; ++tries) {
    if (seek(0) && write(restored) && cut(old.size()) && calls_.FlushFileBuffers(file->get()))
      return Rewritten::kUnchanged;
  }
  return Rewritten::kTorn;
}

}  // namespace tovik::win32
