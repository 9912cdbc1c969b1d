// Settings files on Win32: a save leaves the old text or the new one whole, or the next start
// finishes it.
#include "win32/settings_files.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tovik::win32 {

namespace {

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

// A file with other names is rewritten in place, and first the rewrite's journal is written as its
// temporary, its first byte last: a mark, the file's identity, the sizes of the old text and of
// the new one, then both texts. A start applies it only to that file, and only while the file
// holds the old text, the new one or a mix of the two that a rewrite cut short leaves: a file
// changed since, or another file under the name, is not written over.
constexpr char kJournalMark[] = "Tovik rewrite 1\n";
constexpr size_t kMarkSize = sizeof kJournalMark - 1, kHeadSize = kMarkSize + 3 * 4 + 2 * 8;

// The old text and the new one in a journal; nothing where the bytes are none, or not whole.
std::optional<std::pair<std::string, std::string>> JournalTexts(const std::string& bytes) {
  uint64_t sizes[2];
  if (bytes.size() < kHeadSize || bytes.compare(0, kMarkSize, kJournalMark) != 0) return {};
  std::memcpy(sizes, bytes.data() + kHeadSize - sizeof sizes, sizeof sizes);
  const uint64_t texts = bytes.size() - kHeadSize;
  if (sizes[0] > texts || sizes[1] != texts - sizes[0]) return {};
  const size_t old = static_cast<size_t>(sizes[0]);
  return std::pair(bytes.substr(kHeadSize, old), bytes.substr(kHeadSize + old));
}

// Each byte the old text's or the new one's (blanks past either's end), at a size a rewrite gives
// the file: what it leaves wherever it stops, a power cut's pages included.
bool Mixes(const std::string& text, const std::string& old, const std::string& fresh) {
  const size_t size = text.size();
  if (size != old.size() && size != fresh.size() && size != std::max(old.size(), fresh.size()))
    return false;
  const auto from = [&](const std::string& source, size_t i) {
    return i < source.size() ? text[i] == source[i] : text[i] == ' ' || text[i] == '\0';
  };
  for (size_t i = 0; i < size; ++i) {
    if (!from(old, i) && !from(fresh, i)) return false;
  }
  return true;
}

// kTorn: a write over the old text failed part-way and the old text could not be put back.
enum class Rewritten { kDone, kUnchanged, kTorn };

// Writes `bytes` over `old` in the file open at its start. The file never stays with part of the
// new text over the old while the system runs: a longer text first makes its room at the end with
// blanks the reader skips, so a full disk stops there with the old text whole, and if a write
// fails once the new text is going over the old, the old text is put back. A power cut meanwhile
// can leave some of the file's pages new and some old: the journal, where there is one, mends that.
Rewritten Rewrite(const FileCalls& calls, HANDLE file, const std::string& old,
                  const std::string& bytes) {
  const auto seek = [&](size_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return calls.SetFilePointerEx(file, to, nullptr, FILE_BEGIN);
  };
  const auto write = [&](const std::string& text) {
    return WriteAll(calls, file, text.data(), text.size());
  };
  const auto cut = [&](size_t size) { return seek(size) && calls.SetEndOfFile(file); };
  // The room is on the disk before any of the old text is written over.
  if (bytes.size() > old.size() &&
      !(seek(old.size()) && write(Blanks(bytes, bytes.size() - old.size())) &&
        calls.FlushFileBuffers(file))) {
    cut(old.size());
    return Rewritten::kUnchanged;
  }
  // Blanks after a shorter text cover the old one's end until the cut; where the cut fails, the
  // new text is whole all the same, the blanks after it skipped by the reader.
  const size_t covered = old.size() > bytes.size() ? old.size() - bytes.size() : 0;
  if (seek(0) && write(bytes + Blanks(bytes, covered))) {
    cut(bytes.size());
    if (calls.FlushFileBuffers(file)) return Rewritten::kDone;
  }
  // A device that has just failed a write may fail the first try to put the old text back.
  // Blanks cover a longer new text's end until the cut.
  const std::string restored =
      old + Blanks(old, bytes.size() > old.size() ? bytes.size() - old.size() : 0);
  for (int tries = 0; tries < 3; ++tries) {
    if (seek(0) && write(restored) && cut(old.size()) && calls.FlushFileBuffers(file))
      return Rewritten::kUnchanged;
  }
  return Rewritten::kTorn;
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

FileRead Win32SettingsFiles::ReadWhole(const std::string& named) {
  Patience patience(calls_);
  // A plain file is its own final name; only a link's is looked up, as its save's temporary lies
  // beside the file it names.
  DWORD attributes = 0;
  const bool plain = PresenceOf(calls_, named, &attributes) == Presence::kThere &&
                     !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  const std::optional<std::string> file = plain ? named : FileOf(named);
  // A link whose file cannot be told may name the last save: it is not to be saved over. Nor may
  // one whose file's folder is missing: it names a drive that is not there yet (a synced folder,
  // an encrypted volume, at log-on), whose file cannot be read now, which is no first run.
  if (!file || (*file != named && !FolderOpens(*file, patience)))
    return {FileRead::Kind::kUnreadable, {}};
  bool settled = false;
  return Settle(*file, true, patience, settled);
}

// Settles what the temporary beside the file holds before the file is read (`wantText`) or saved
// over, and gives the file's text: a whole journal that applies is finished, a stale one goes; with
// no file, a plain temporary written whole is the last save (a replace took the old file away
// without moving the new text in), which is moved into place. `settled`: no last save is left
// waiting outside the file, and nothing kept it from being told.
FileRead Win32SettingsFiles::Settle(const std::string& path, bool wantText, Patience& patience,
                                    bool& settled) {
  settled = false;
  const std::string temporary = TemporaryPathFor(path);
  // The temporary first: a rewrite that ends between the two reads has put its whole text in place.
  const FileRead last = ReadFrom(temporary, patience);
  // A temporary that cannot be read may hold the last save: the run must not save over it.
  if (last.kind == FileRead::Kind::kUnreadable) return last;
  // A journal is whole where its sizes and its first byte say so.
  const auto texts = JournalTexts(last.bytes);
  const bool whole = last.kind == FileRead::Kind::kWhole && WrittenWhole(last.bytes) &&
                     (texts || last.bytes.compare(0, kMarkSize, kJournalMark) != 0);
  if (!whole && !wantText) {
    settled = true;
    return {};
  }
  const FileRead read = ReadFrom(path, patience);
  if (read.kind == FileRead::Kind::kUnreadable) return read;
  settled = true;
  // One cut short as it was written never touched the file; the next save writes over it.
  if (!whole) return read;
  if (!texts) {
    // Beside a file, a plain one is a replace's that was not cleared: the next save writes over it.
    if (read.kind != FileRead::Kind::kMissing) return read;
    // The move never replaces a file: one that another copy of Tovik put in place meanwhile stays.
    settled = MoveIn(temporary, path, 0, patience);
    return last;
  }
  const auto clear = [&] { patience.Try([&] { return calls_.DeleteFileA(temporary.c_str()); }); };
  if (read.kind == FileRead::Kind::kMissing) {  // the journal's file was deleted since
    clear();
    return read;
  }
  // Told under the file's lock, so that no other copy of Tovik rewrites it meanwhile. Where the
  // file cannot be written (read-only, held past the wait), the journal's text stands for it.
  std::optional<Handle> file;
  std::string now;
  const bool locked = OpenToRewrite(path, file, now, patience);
  const auto information = InformationOf(path, patience);
  if (!locked) now = read.bytes;
  settled = locked && information;
  if (!information) return {FileRead::Kind::kUnreadable, {}};
  const auto& [old, fresh] = *texts;
  if (JournalOf(*information, old, fresh) != last.bytes || !Mixes(now, old, fresh) ||
      now == fresh) {
    if (locked) clear();
    return {FileRead::Kind::kWhole, now};
  }
  settled = locked && Rewrite(calls_, file->get(), now, fresh) == Rewritten::kDone;
  if (settled) clear();
  return {FileRead::Kind::kWhole, fresh};
}

// The file's identity and how many names (hard links) it has; nothing when that cannot be told.
std::optional<BY_HANDLE_FILE_INFORMATION> Win32SettingsFiles::InformationOf(const std::string& path,
                                                                            Patience& patience) {
  BY_HANDLE_FILE_INFORMATION information{};
  const bool told = patience.Try([&] {
    Handle file(calls_, calls_.CreateFileA(path.c_str(), 0,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid() && calls_.GetFileInformationByHandle(file.get(), &information);
  });
  if (!told) return std::nullopt;
  return information;
}

// Whether the folder of `file` is there, through every link and junction on the way: its
// attributes would be a link's own, there while the drive it leads to is not.
bool Win32SettingsFiles::FolderOpens(const std::string& file, Patience& patience) {
  std::string folder = file.substr(0, file.find_last_of('\\'));
  if (folder.empty() || folder.back() == ':') folder += '\\';
  return patience.Try([&] {
    return Handle(calls_,
                  calls_.CreateFileA(folder.c_str(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr))
        .valid();
  });
}

// The file a path names in the end, through any symbolic link, so that a save replaces the
// link's target and the link stays; a link whose file is missing names it still, through every
// link of a chain. Nothing when the path is a link whose file cannot be told: replacing it would
// put a plain file in the link's place.
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
  // Windows follows at most 63 links in a path.
  std::string target = named;
  for (int links = 0; links <= 63; ++links) {
    DWORD attributes = 0;
    const Presence presence = PresenceOf(calls_, target, &attributes);
    if (presence == Presence::kUnknown) return std::nullopt;
    if (presence == Presence::kMissing || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return target;
    if (!calls_.ReadLinkTarget(std::string(target).c_str(), target)) return std::nullopt;
  }
  return std::nullopt;
}

void Win32SettingsFiles::ReplaceWhole(const std::string& named, const std::string& bytes) {
  Patience patience(calls_);
  const std::optional<std::string> file = FileOf(named);
  if (!file) return;
  // The last save may wait outside the file: it goes into place before anything may write over
  // it, or this save is not made.
  bool settled = false;
  Settle(*file, false, patience, settled);
  if (!settled) return;
  // Another program that wrote the temporary after this save did (a second copy of Tovik, killed
  // part-way) had its text put in place: this save's own goes over it, once more.
  for (int round = 0; round < 2; ++round) {
    if (PutInPlace(*file, bytes, patience) != Put::kOther) return;
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
  // Nor is it made where nobody can tell whether the file is there.
  DWORD attributes = 0;
  const Presence presence = PresenceOf(calls_, path, &attributes);
  if (presence == Presence::kUnknown) return Put::kGaveUp;
  const bool exists = presence == Presence::kThere;
  const DWORD kept = exists ? attributes & kKept : 0;
  // A file with other names (hard links, as a package manager keeps settings across updates)
  // keeps them all: a replace would give this name a new file and leave the others the old text.
  if (exists) {
    const auto information = InformationOf(path, patience);
    if (!information) return Put::kGaveUp;
    if (information->nNumberOfLinks > 1) return RewriteInPlace(path, bytes, kept, true, patience);
  }
  switch (WriteTemporary(temporary, bytes, kept, patience)) {
    case Written::kNoNewFile:
      // The folder takes no new file; the file itself may still take its new text.
      if (exists) RewriteInPlace(path, bytes, kept, false, patience);
      return Put::kGaveUp;
    case Written::kNotCreated:
      return Put::kGaveUp;
    case Written::kFailed:
      patience.Try([&] { return calls_.DeleteFileA(temporary.c_str()); });
      return Put::kGaveUp;
    case Written::kWhole:
      break;
  }
  // Whether the file holds this save's text once it is in place; one that cannot be read is taken
  // to.
  const auto placed = [&] {
    const FileRead now = ReadFrom(path, patience);
    const bool ours = now.kind == FileRead::Kind::kWhole && now.bytes == bytes;
    return ours || now.kind == FileRead::Kind::kUnreadable ? Put::kDone : Put::kOther;
  };
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

// Opens the file to be rewritten and reads its text, sharing nothing until it is closed: another
// copy of Tovik neither reads a half-done rewrite nor starts one of its own meanwhile. Waits a
// moment while another program holds or locks it.
bool Win32SettingsFiles::OpenToRewrite(const std::string& path, std::optional<Handle>& file,
                                       std::string& old, Patience& patience) {
  return patience.Try([&] {
    old.clear();
    file.emplace(calls_, calls_.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file->valid() && ReadAll(calls_, file->get(), old);
  });
}

// With a journal, the whole new text and the old one wait in it, on the disk, while the file is
// rewritten in place under its lock; the next start finishes a rewrite that was cut short. A
// folder that takes no new file gets the rewrite without one.
Win32SettingsFiles::Put Win32SettingsFiles::RewriteInPlace(const std::string& path,
                                                           const std::string& bytes,
                                                           DWORD attributes, bool journaled,
                                                           Patience& patience) {
  std::optional<Handle> file, journal;
  std::string old;
  BY_HANDLE_FILE_INFORMATION information{};
  if (!OpenToRewrite(path, file, old, patience) ||
      (journaled && !calls_.GetFileInformationByHandle(file->get(), &information))) {
    return Put::kGaveUp;
  }
  const std::string temporary = TemporaryPathFor(path);
  switch (journaled ? WriteTemporary(temporary, JournalOf(information, old, bytes), attributes,
                                     patience, &journal)
                    : Written::kNoNewFile) {
    case Written::kNoNewFile:
      Rewrite(calls_, file->get(), old, bytes);
      return Put::kGaveUp;
    case Written::kNotCreated:
      return Put::kGaveUp;
    case Written::kFailed:
      journal.reset();
      patience.Try([&] { return calls_.DeleteFileA(temporary.c_str()); });
      return Put::kGaveUp;
    case Written::kWhole:
      break;
  }
  if (Rewrite(calls_, file->get(), old, bytes) != Rewritten::kTorn) {
    journal.reset();
    patience.Try([&] { return calls_.DeleteFileA(temporary.c_str()); });
  }
  return Put::kDone;
}

std::string Win32SettingsFiles::JournalOf(const BY_HANDLE_FILE_INFORMATION& file,
                                          const std::string& old, const std::string& fresh) {
  const DWORD identity[3] = {file.dwVolumeSerialNumber, file.nFileIndexHigh, file.nFileIndexLow};
  const uint64_t sizes[2] = {old.size(), fresh.size()};
  std::string journal = kJournalMark;
  journal.append(reinterpret_cast<const char*>(identity), sizeof identity);
  journal.append(reinterpret_cast<const char*>(sizes), sizeof sizes);
  return journal + old + fresh;
}

Win32SettingsFiles::Written Win32SettingsFiles::WriteTemporary(const std::string& temporary,
                                                               const std::string& bytes,
                                                               DWORD attributes, Patience& patience,
                                                               std::optional<Handle>* kept) {
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
  std::optional<Handle> own;
  std::optional<Handle>& file = kept ? *kept : own;
  file.emplace(calls_, created);
  if (!file->valid()) {
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
  const bool whole = WriteAll(calls_, file->get(), rest.data(), rest.size()) &&
                     calls_.FlushFileBuffers(file->get()) &&
                     calls_.SetFilePointerEx(file->get(), start, nullptr, FILE_BEGIN) &&
                     WriteAll(calls_, file->get(), bytes.data(), bytes.empty() ? 0 : 1) &&
                     calls_.FlushFileBuffers(file->get());
  // A journal stays open, shared with nobody, until its rewrite is done.
  return (kept || file->Close()) && whole ? Written::kWhole : Written::kFailed;
}

}  // namespace tovik::win32
