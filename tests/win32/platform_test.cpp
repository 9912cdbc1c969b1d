// The Win32 side of the platform interfaces, for real: the settings store against the platform's
// own profile reader, saves that fail, are killed or meet places that refuse, environment
// expansion.
#include "win32/platform.h"

#include <windows.h>
// windows.h first: the security header needs its types.
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <utility>

#include "core/launch_history.h"
#include "tests/core/fakes.h"
#include "win32/settings_files.h"

namespace tovik {
namespace {

using namespace tovik::testing;

// The folder of the running test program, where scratch files go.
std::string ProgramFolder() {
  char path[MAX_PATH * 4];
  const std::string self(path, GetModuleFileNameA(nullptr, path, sizeof path));
  return self.substr(0, self.find_last_of('\\') + 1);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool UnderWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"); }

// An environment variable's value, or nullopt when it is not set.
std::optional<std::string> Environment(const char* name) {
  char value[MAX_PATH * 4];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  if (length == 0 || length >= sizeof value) return std::nullopt;
  return std::string(value, length);
}

constexpr char kDefault[] = "\001default";

std::string ProfileRead(const std::string& path, const char* section, const char* key) {
  static char buffer[1 << 16];
  const DWORD length =
      GetPrivateProfileStringA(section, key, kDefault, buffer, sizeof buffer, path.c_str());
  return std::string(buffer, length);
}

const char* const kSections[] = {"Main", "MRU", "Other", "MRU] x", "Other]", "Absent"};
const char* const kKeys[] = {"Top",  "Left", "DoClose", "DoMinimize", "Count", "MRU0",
                             "MRU1", "MRU2", "MRU7",    "#hash",      "Extra", "keep"};

// Every key the generated files may hold, in every section they may hold it in: as `store` reads
// them, or as the platform's own reader does.
std::vector<std::string> ReadsOf(
    const std::string& path, SettingsStore* store = nullptr,
    const std::vector<std::pair<const char*, const char*>>& keys = {}) {
  std::vector<std::pair<const char*, const char*>> all = keys;
  for (const char* section : kSections) {
    for (const char* key : kKeys) {
      if (keys.empty()) all.emplace_back(section, key);
    }
  }
  std::vector<std::string> reads;
  for (const auto& [section, key] : all) {
    reads.push_back(std::string(section) + "/" + key + "=" +
                    (store ? store->ReadSettingText(path, section, key, kDefault)
                           : ProfileRead(path, section, key)));
  }
  return reads;
}

// Files of the shapes people and other programs leave behind.
class FileGenerator {
 public:
  explicit FileGenerator(unsigned seed) : random_(seed) {}

  std::string File() {
    std::string text;
    const int sections = 1 + Pick(4);
    for (int s = 0; s < sections; ++s) {
      if (Pick(4) == 0) text += "; comment " + std::to_string(s) + Eol();
      if (Pick(5) == 0) text += Eol();
      // Headers as people and programs leave them: spaced, unclosed, with more than one ']'.
      text += Spaces() +
              Pick({"[Main]", "[MRU]", "[main]", "[ mru ]", "[Other]", "[Main", "[MRU] x]",
                    "[Other]]"}) +
              Spaces() + Eol();
      for (int k = Pick(7); k > 0; --k) {
        const int shape = Pick(10);  // a key without '=', a commented key, a key and its value
        text += shape == 0   ? Key()
                : shape == 1 ? ";" + Key() + "=c"
                             : Spaces() + Key() + Spaces() + "=" + Spaces() + Value() + Spaces();
        text += Eol();
      }
    }
    if (Pick(6) == 0) text.erase(text.find_last_not_of("\r\n") + 1);  // no final line end
    return text;
  }
  // Values as people write them, and history entries that the reader would strip or split.
  std::string Value() {
    if (Pick(12) == 0) return std::string(3000 + Pick(3000), 'L');
    return Pick({"1",       "-20",       "$10",          "",
                 "\"a b\"", "'q'",       "\"open",       "close'",
                 "calc",    "x=y",       "C:\\My Files", "caf\xE9",
                 " lead",   "trail\t",   "eof\x1A",      "\x0Bvt",
                 "it's",    "a \"b\" c", "%PATH% x",     "first\r\nMRU1=forged",
                 "'mixed\""});
  }
  std::string Key() {
    return Pick({"Top", "Left", "DoClose", "count", "Count", "MRU0", "MRU1", "mru2", "MRU7",
                 "#hash", "Extra", "DOMINIMIZE"});
  }
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  std::string Pick(std::initializer_list<const char*> texts) {
    return texts.begin()[Pick(static_cast<int>(texts.size()))];
  }

 private:
  std::string Eol() { return Pick({"\r\n", "\n", "\r"}); }  // mixed, as editors leave them
  std::string Spaces() {
    return Pick(4) == 0 ? std::string(1 + Pick(2), Pick(2) ? ' ' : '\t') : "";
  }
  std::mt19937 random_;
};

// The file in the system code page (0), UTF-8 with its mark (1) or UTF-16 with its mark (2).
std::string Encoded(const std::string& ansi, unsigned kind) {
  if (kind == 0) return ansi;
  // The generated files are far below 2 GB: every size fits the calls' int.
  const int size = static_cast<int>(ansi.size());
  std::wstring wide(ansi.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, wide.data(), size));
  if (kind == 2) {
    return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
  }
  const int wideSize = static_cast<int>(wide.size());
  std::string utf8(wide.size() * 3, '\0');
  utf8.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, utf8.data(), wideSize * 3,
                                  nullptr, nullptr));
  return "\xEF\xBB\xBF" + utf8;
}

// Every generated file reads as the platform reads it. The writer is checked by the core's edit
// table and, against both readers, by the save walk.
TEST(SettingsFiles, ReadLikeTheProfileFunctionsForGeneratedFiles) {
  win32::Win32SettingsFiles files;
  win32::Win32AnsiCodec codec;
  const std::string ours = ProgramFolder() + "ours.ini", oracle = ProgramFolder() + "oracle.ini";
  for (unsigned seed = 0; seed < 400; ++seed) {
    FileGenerator generator(seed);
    const std::string text = generator.File(), original = Encoded(text, seed % 3);
    // Where the readers are meant to differ: Windows' own takes a UTF-8 byte order mark as bytes
    // of line 1 (Wine's decodes it), so an editor's "UTF-8 with BOM" file loses its first
    // section. Tovik reads it as UTF-8, as the platform reads the same text in UTF-16, which the
    // oracle holds then.
    const bool readersDiffer = seed % 3 == 1;
    WriteBytes(ours, original);
    WriteBytes(oracle, readersDiffer ? Encoded(text, 2) : original);
    BufferedSettingsStore store(files, codec);
    ASSERT_EQ(ReadsOf(ours, &store), ReadsOf(oracle)) << "seed " << seed << "\n" << original;
  }
}

// A starting state of the walk: what the file holds and where, and what Windows refuses there.
// Under Wine root ignores permission bits and Wine then the read-only attribute and access lists,
// so the walk's calls refuse as Windows does; the test run makes the link (tests/tools/places.sh).
// On Windows the test makes a folder whose access control lets nobody add a file (the file in it
// keeps what it inherited), and the link.
enum : unsigned {
  kInTemporary = 1,        // the old text only in the temporary, as a save left it
  kStaleTemporary = 2,     // a hidden temporary that a killed save left
  kNoNewFile = 4,          // a folder that takes no new file
  kTakesNoText = 8,        // the place takes no new text at all
  kRefusesFile = 16,       // an access list refuses writing and deleting the file
  kRefusesTemporary = 32,  // an access list refuses writing the stale temporary
  kSecondName = 64,        // the file has a second name (a hard link), as a package manager makes
  kNoFaults = 128,         // only the run without a fault: another state's faults take its calls
  kCutShort = 256,         // with kInTemporary: a rewrite in place cut short, its journal whole
  kStaleJournal = 512,     // a whole journal for the file, which was changed since
  kForeignJournal = 1024,  // a whole journal written for another file under the same name
  kStale = kStaleTemporary | kStaleJournal | kForeignJournal
};
struct Start {
  const char* name;
  std::optional<std::string> old;  // nullopt: no file yet
  std::string entry;               // the run's history entry: the text grows, or shrinks
  unsigned flags = 0;
  const char* place = nullptr;  // a place made outside the test's folder
  DWORD attribute = 0;
  // Where the walk found it: the path; for a link, the file it names, which Windows marks as a
  // reparse point and reads even when that file is missing; why this side cannot make the place.
  std::string path = {}, target = {}, skipped = {};
  std::map<std::string, std::string> links = {};  // under Wine, the links as Windows would see them
  bool Has(unsigned flag) const { return flags & flag; }
  std::string File() const { return target.empty() ? path : target; }
  std::string Temporary() const { return win32::Win32SettingsFiles::TemporaryPathFor(File()); }
  std::string OtherName() const { return Folder() + "walk-other.ini"; }
  std::string Folder() const { return File().substr(0, File().find_last_of('\\') + 1); }
};

// Finds the place on this side, or says why it cannot be made.
void Place(Start& s, const std::string& folder) {
  if (!s.place) {
    s.path = folder + "walk.ini";
    DeleteFileA(s.OtherName().c_str());
    WriteBytes(s.path, "");
    if (s.Has(kSecondName) && !CreateHardLinkA(s.OtherName().c_str(), s.path.c_str(), nullptr))
      s.skipped = "this file system makes no hard link";
    return;
  }
  const std::string name = s.place;
  if (UnderWine()) {  // where the folders that take no new file stand in for a read-only one
    s.path = Environment("TOVIK_LINKED_FILE").value_or("");
    s.target = Environment("TOVIK_LINK_TARGET").value_or("");
    if (name != "link" || s.path.empty()) s.skipped = "made on Windows only";
    s.links = {{s.path, s.target}};
    return;
  }
  const std::string place = folder + "place-" + name, file = place + "\\tovik.ini";
  CreateDirectoryA(place.c_str(), nullptr);
  s.path = file;
  if (name == "read-only folder") {
    WriteBytes(file, "");
    PSECURITY_DESCRIPTOR denyAdding = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:P(D;;0x2;;;WD)(A;OICI;FA;;;WD)", SDDL_REVISION_1, &denyAdding, nullptr)) {
      s.skipped = "no security descriptor could be made";
      return;
    }
    if (!SetFileSecurityA(place.c_str(), DACL_SECURITY_INFORMATION, denyAdding))
      s.skipped = "this file system keeps no access control";
    LocalFree(denyAdding);
  }
  if (name != "link") return;
  CreateDirectoryA((place + "\\sync").c_str(), nullptr);
  s.target = place + "\\sync\\real.ini";
  WriteBytes(s.target, "");
  DeleteFileA(file.c_str());
  if (!CreateSymbolicLinkA(file.c_str(), s.target.c_str(),
                           SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
    s.skipped = "this account or system makes no symbolic link";
}

// Each file call of a save can be faulted: made to fail with each error Windows documents there,
// its file held by another program, the temporary written by a second Tovik just before it, a
// second Tovik started, or the process ended at it.
struct Fault {
  enum Kind { kFail, kHold, kWrite, kEnd, kStart } kind;
  int at;           // the call, counted from 1
  int variant = 0;  // which error, holder or writer
};
// The walk's state: the starting state, the faults, the calls so far (each with its errors,
// whether it names a file and whether the temporary was there), the clock of the pauses, the
// holders and when each lets go, and a report of what the faults did.
struct Walk {
  const Start* start = nullptr;
  std::vector<Fault> faults;
  int calls = 0, clockMs = 0, startCalls = 0;  // startCalls: how many the start made
  bool killed = false;
  struct Call {
    std::vector<DWORD> errors;
    bool names, temporaryThere;
  };
  std::vector<Call> trace;
  std::vector<std::pair<HANDLE, int>> holders;
  std::vector<FileRead> secondReads;  // what a second Tovik started meanwhile read
  bool startInWrite = false;          // it starts when half of this write is on the disk
  std::string done;
} walk;
struct Killed {};  // the process ended: nothing after the call runs, open handles close

// What Windows refuses where Wine lets it pass: writing or deleting a read-only file, or one whose
// access list refuses it; writing a temporary whose list refuses it; adding a file to a folder
// that takes no new file. `access`: GENERIC_WRITE, DELETE, FILE_WRITE_ATTRIBUTES, and
// FILE_ADD_FILE for a name that is not there yet.
bool Refuses(const std::string& name, DWORD access) {
  const Start& s = *walk.start;
  const DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return (access & FILE_ADD_FILE) && s.Has(kNoNewFile) && name.rfind(s.Folder(), 0) == 0;
  const bool listed = s.Has(kRefusesFile) && name == s.File();
  const bool readOnly = listed || (attributes & FILE_ATTRIBUTE_READONLY);
  return (listed && (access & FILE_WRITE_ATTRIBUTES)) ||
         (readOnly && (access & (GENERIC_WRITE | DELETE))) ||
         (s.Has(kRefusesTemporary) && name == s.Temporary() && (access & GENERIC_WRITE));
}

// Other programs that open a file just written: a scanner sharing reading, one that shares
// nothing, and one that holds it past every wait.
constexpr struct {
  DWORD share;
  int forMs;
  const char* what;
} kHolders[] = {{FILE_SHARE_READ, 100, "held, sharing reading, for 100 ms"},
                {0, 700, "held, sharing nothing, for 700 ms"},
                {0, 1500, "held, sharing nothing, for 1.5 s"}};

void LetGo(bool all) {
  auto& held = walk.holders;
  for (auto it = held.begin(); it != held.end();) {
    const bool due = all || it->second <= walk.clockMs;
    if (due) CloseHandle(it->first);
    it = due ? held.erase(it) : it + 1;
  }
}

// The pause between tries passes on the walk's own clock, and holders let go on it.
void WINAPI SleepOnTheWalksClock(DWORD ms) {
  walk.clockMs += static_cast<int>(ms);
  LetGo(false);
}

constexpr char kOld[] =
    "[Main]\r\nTop=1\r\nCount=1\r\n[MRU]\r\nMRU0=old\r\n[Other]\r\nkeep=1\r\n; a comment\r\n";

// A second copy of Tovik writing the temporary, ended part-way: it emptied the file, or wrote half
// of its text, the first byte still to come. One that finds the temporary held would wait.
void SecondWriter(int variant) {
  const HANDLE file = CreateFileA(walk.start->Temporary().c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  if (variant == 1)
    WriteFile(file, std::string("\0[Main]\r\nTop=9\r\n").data(), 16, &written, nullptr);
  CloseHandle(file);
}

// A second copy of Tovik, on the system's own calls, whose waits pass at once.
void WINAPI NoPause(DWORD) {}
FileRead SecondStart() {
  static const win32::FileCalls calls = [] {
    win32::FileCalls system = win32::SystemFileCalls();
    system.Sleep = NoPause;
    return system;
  }();
  return win32::Win32SettingsFiles(calls).ReadWhole(walk.start->path);
}

// Counts a call on `file` (nullptr: a handle's); the error it is to fail with, or 0 to make it.
// A file the place refuses `access` to is refused before any error the walk makes. Once the
// process has ended no call may come but the closing of its handles; a close may run in a
// destructor and must not throw, so an end there takes effect at the next call.
DWORD Faulted(const char* name, const char* file, std::initializer_list<DWORD> errors,
              DWORD access = 0, bool mayThrow = true) {
  if (walk.killed) throw Killed{};
  const int call = ++walk.calls;
  const DWORD error = GetLastError();  // as the call before left it, which a close keeps
  const DWORD refused = file && access && Refuses(file, access) ? ERROR_ACCESS_DENIED : 0;
  walk.trace.push_back(
      {errors, file != nullptr,
       GetFileAttributesA(walk.start->Temporary().c_str()) != INVALID_FILE_ATTRIBUTES});
  SetLastError(error);
  for (const Fault& fault : walk.faults) {
    if (fault.at != call) continue;
    walk.done += std::string(walk.done.empty() ? "" : ", then ") + name + " (call " +
                 std::to_string(call) + ") ";
    switch (fault.kind) {
      case Fault::kEnd:
        walk.done += "ended the process";
        walk.killed = true;
        if (mayThrow) throw Killed{};
        return 0;
      case Fault::kFail:
        walk.done += "failed with " + std::to_string(errors.begin()[fault.variant]);
        return refused ? refused : errors.begin()[fault.variant];
      case Fault::kWrite:
        walk.done += fault.variant ? "came after half a text" : "came after an emptied";
        walk.done += " temporary by another program";
        SecondWriter(fault.variant);
        break;
      case Fault::kStart:  // in the middle of a write, where one is made
        walk.done += "met a second Tovik's start";
        walk.startInWrite = std::string(name) == "WriteFile";
        if (!walk.startInWrite) walk.secondReads.push_back(SecondStart());
        break;
      case Fault::kHold:
        const auto& holder = kHolders[fault.variant];
        walk.done += holder.what;
        const HANDLE held =
            CreateFileA(file, GENERIC_READ, holder.share, nullptr, OPEN_EXISTING, 0, nullptr);
        if (held != INVALID_HANDLE_VALUE)
          walk.holders.emplace_back(held, walk.clockMs + holder.forMs);
    }
  }
  return refused;
}

template <typename R>
R Failing(DWORD error, R result) {
  SetLastError(error);
  return result;
}

HANDLE WINAPI CreateFileLikeWindows(LPCSTR name, DWORD access, DWORD share,
                                    LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                                    HANDLE templateFile) {
  const bool creates = creation == CREATE_ALWAYS;
  const DWORD asked = access | (creation == OPEN_EXISTING ? 0 : FILE_ADD_FILE);
  if (const DWORD error =
          creates
              ? Faulted("CreateFileA", name,
                        {ERROR_DISK_FULL, ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED}, asked)
              : Faulted("CreateFileA", name, {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}, asked))
    return Failing(error, INVALID_HANDLE_VALUE);
  // Windows will not write over a hidden or system file with other attributes.
  const DWORD existing = GetFileAttributesA(name);
  const DWORD keptByWindows = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if (creates && existing != INVALID_FILE_ATTRIBUTES && (existing & keptByWindows & ~flags))
    return Failing(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  return CreateFileA(name, access, share, security, creation, flags, templateFile);
}

// The system's call, or failing with one of `kErrors` where the walk is at it; a call whose first
// argument is a name names the file a holder takes, and asks the place for `kAccess` to it.
inline const char* FileOf(LPCSTR name, ...) { return name; }
inline const char* FileOf(...) { return nullptr; }
constexpr char kRead[] = "ReadFile", kFlush[] = "FlushFileBuffers", kSeek[] = "SetFilePointerEx",
               kCut[] = "SetEndOfFile", kFinal[] = "GetFinalPathNameByHandleA",
               kSetAttributes[] = "SetFileAttributesA", kDelete[] = "DeleteFileA",
               kInformation[] = "GetFileInformationByHandle";
template <auto kCall, const char* kName, DWORD kAccess, DWORD... kErrors>
struct Faulty;
template <typename R, typename... A, R (WINAPI* win32::FileCalls::*kCall)(A...), const char* kName,
          DWORD kAccess, DWORD... kErrors>
struct Faulty<kCall, kName, kAccess, kErrors...> {
  static R WINAPI Call(A... args) {
    if (const DWORD error = Faulted(kName, FileOf(args...), {kErrors...}, kAccess))
      return Failing(error, R{});
    return (win32::SystemFileCalls().*kCall)(args...);
  }
};

// A full disk takes part of a write; a second Tovik may start when half of one is made.
BOOL WINAPI WriteFileFaulty(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                            LPOVERLAPPED o) {
  if (!Faulted("WriteFile", nullptr, {ERROR_DISK_FULL})) {
    if (!std::exchange(walk.startInWrite, false)) return WriteFile(file, data, size, written, o);
    DWORD half = 0;
    WriteFile(file, data, size / 2, &half, o);
    walk.secondReads.push_back(SecondStart());
    const bool rest =
        WriteFile(file, static_cast<const char*>(data) + half, size - half, written, o);
    *written += half;
    return rest;
  }
  WriteFile(file, data, size / 2, written, o);
  return Failing(ERROR_DISK_FULL, FALSE);
}

// What a flush makes lasting no process can see, and the walk cuts no power: one that succeeds is
// taken as made, which spares the disk thousands of waits.
BOOL WINAPI FlushFaulty(HANDLE) {
  if (const DWORD error = Faulted(kFlush, nullptr, {ERROR_IO_DEVICE})) return Failing(error, FALSE);
  return TRUE;
}

// The handle closes all the same; a late write error is what a close reports.
BOOL WINAPI CloseFaulty(HANDLE handle) {
  if (walk.killed) return CloseHandle(handle);
  const bool fails = Faulted("CloseHandle", nullptr, {ERROR_NETNAME_DELETED}, 0, false);
  return CloseHandle(handle) && !fails;
}

DWORD WINAPI AttributesFaulty(LPCSTR name) {
  if (const DWORD error = Faulted("GetFileAttributesA", name, {ERROR_ACCESS_DENIED}))
    return Failing(error, INVALID_FILE_ATTRIBUTES);
  const DWORD attributes = GetFileAttributesA(name);
  std::string asked = name;
  if (asked.size() > 3 && asked.back() == '\\') asked.pop_back();
  if (walk.start->links.count(asked))  // the link's own, there even when what it names is not
    return (attributes == INVALID_FILE_ATTRIBUTES ? FILE_ATTRIBUTE_ARCHIVE : attributes) |
           FILE_ATTRIBUTE_REPARSE_POINT;
  return attributes;
}

// Wine reads no link's reparse data: there the name the link holds is given as Windows gives it.
bool ReadLinkFaulty(const char* link, std::string& target) {
  if (Faulted("ReadLinkTarget", link, {ERROR_ACCESS_DENIED})) return false;
  if (!UnderWine()) return win32::SystemFileCalls().ReadLinkTarget(link, target);
  const auto found = walk.start->links.find(link);
  if (found == walk.start->links.end()) return false;
  target = found->second;
  return true;
}

// ReplaceFileA's documented failures: 1175 changes nothing; 1176 deletes the old file and 1177
// leaves it under another name, both leaving the new text under its temporary name (1177 with the
// old file's attributes); a sharing violation changes nothing.
BOOL WINAPI ReplaceFaulty(LPCSTR replaced, LPCSTR replacement, LPCSTR backup, DWORD flags,
                          LPVOID exclude, LPVOID reserved) {
  const DWORD error = Faulted("ReplaceFileA", replaced,
                              {ERROR_UNABLE_TO_MOVE_REPLACEMENT, ERROR_UNABLE_TO_MOVE_REPLACEMENT_2,
                               ERROR_UNABLE_TO_REMOVE_REPLACED, ERROR_SHARING_VIOLATION},
                              GENERIC_WRITE | DELETE);
  if (!error) return ReplaceFileA(replaced, replacement, backup, flags, exclude, reserved);
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    const DWORD attributes = GetFileAttributesA(replaced);
    SetFileAttributesA(replaced, FILE_ATTRIBUTE_NORMAL);
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT) DeleteFileA(replaced);
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
      MoveFileExA(replaced, (walk.start->Folder() + "rf1177.tmp").c_str(),
                  MOVEFILE_REPLACE_EXISTING);
      SetFileAttributesA(replacement, attributes);
    }
  }
  return Failing(error, FALSE);
}

// Renaming a file needs leave to delete it, and to delete or add the name it takes.
BOOL WINAPI MoveFaulty(LPCSTR from, LPCSTR to, DWORD flags) {
  if (const DWORD error =
          Faulted("MoveFileExA", from, {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}, DELETE))
    return Failing(error, FALSE);
  if (Refuses(to, DELETE | FILE_ADD_FILE)) return Failing(ERROR_ACCESS_DENIED, FALSE);
  return MoveFileExA(from, to, flags);
}

using Calls = win32::FileCalls;
const Calls kCallsLikeWindows{
    CreateFileLikeWindows,
    Faulty<&Calls::ReadFile, kRead, 0, ERROR_IO_DEVICE, ERROR_LOCK_VIOLATION>::Call,
    WriteFileFaulty, FlushFaulty, Faulty<&Calls::SetFilePointerEx, kSeek, 0, ERROR_IO_DEVICE>::Call,
    // Windows refuses to cut a file that another program has mapped.
    Faulty<&Calls::SetEndOfFile, kCut, 0, ERROR_USER_MAPPED_FILE>::Call, CloseFaulty,
    AttributesFaulty,
    Faulty<&Calls::SetFileAttributesA, kSetAttributes, FILE_WRITE_ATTRIBUTES,
           ERROR_ACCESS_DENIED>::Call,
    ReplaceFaulty, MoveFaulty,
    Faulty<&Calls::DeleteFileA, kDelete, DELETE, ERROR_ACCESS_DENIED,
           ERROR_SHARING_VIOLATION>::Call,
    Faulty<&Calls::GetFinalPathNameByHandleA, kFinal, 0, ERROR_PATH_NOT_FOUND>::Call,
    Faulty<&Calls::GetFileInformationByHandle, kInformation, 0, ERROR_IO_DEVICE>::Call,
    ReadLinkFaulty, SleepOnTheWalksClock};

constexpr char kStaleText[] = "left by a killed save";

BY_HANDLE_FILE_INFORMATION InformationOf(const std::string& path) {
  BY_HANDLE_FILE_INFORMATION information{};
  const HANDLE file = CreateFileA(path.c_str(), 0, 7, nullptr, OPEN_EXISTING, 0, nullptr);
  GetFileInformationByHandle(file, &information);
  CloseHandle(file);
  return information;
}

// Puts the place back as a state starts: the old text in the file, or only in the temporary as a
// save left it, or no file; its attribute, and a temporary a killed save left. A file that should
// be there is written over, never deleted first: a folder that takes no new file would not take
// it back.
void Restore(const Start& s, const std::optional<std::string>& old, bool inTemporary,
             bool staleTemporary) {
  const std::string temporary = s.Temporary();
  for (const std::string& path : {s.path, temporary}) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  DeleteFileA(temporary.c_str());
  if (!old || inTemporary) DeleteFileA(s.File().c_str());
  // Wine's ReplaceFile leaves an empty rfNNNN.tmp beside a target it could not replace, and the
  // model of 1177 the old file: thousands of them would slow every lookup in the folder.
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((s.Folder() + "rf*.tmp").c_str(), &found);
  for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
    DeleteFileA((s.Folder() + found.cFileName).c_str());
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  if (old && inTemporary && s.Has(kCutShort)) {
    // A rewrite from an earlier text into `old`, cut short: the file's first half new, the rest
    // old.
    std::string earlier = *old;
    std::replace(earlier.begin(), earlier.end(), 'o', 'w');
    WriteBytes(s.File(), old->substr(0, old->size() / 2) + earlier.substr(old->size() / 2));
    WriteBytes(temporary,
               win32::Win32SettingsFiles::JournalOf(InformationOf(s.File()), earlier, *old));
  } else if (old) {
    WriteBytes(inTemporary ? temporary : s.File(), *old);
  }
  if (s.Has(kSecondName)) {  // made again where a save gave the file a name of its own
    DeleteFileA(s.OtherName().c_str());
    CreateHardLinkA(s.OtherName().c_str(), s.File().c_str(), nullptr);
  }
  if (old && s.attribute) SetFileAttributesA(s.path.c_str(), s.attribute);
  if (staleTemporary && s.Has(kStaleJournal | kForeignJournal)) {
    // Whole, for this file's texts before an edit, or for the file that had its name before.
    const std::string other = s.Folder() + "walk-before.ini";
    WriteBytes(other, "");
    const std::string fresh = "[Main]\r\nTop=8\r\n";
    WriteBytes(temporary,
               s.Has(kStaleJournal)
                   ? win32::Win32SettingsFiles::JournalOf(InformationOf(s.File()),
                                                          "[Main]\r\nTop=7\r\n", fresh)
                   : win32::Win32SettingsFiles::JournalOf(InformationOf(other), *old, fresh));
  } else if (staleTemporary) {
    WriteBytes(temporary, kStaleText);
    SetFileAttributesA(temporary.c_str(), FILE_ATTRIBUTE_HIDDEN);
  }
}

class SaveFailuresTest : public ::testing::Test {
 protected:
  void TearDown() override {
    LetGo(true);
    walk = Walk{};
  }
  // A start and a save as the program makes them: one read, the history loaded, one launch
  // remembered, this run's writes and one commit; `between` happens while the run goes on.
  void Run(
      const std::string& path, const std::string& entry,
      const std::function<void()>& between = [] {}) {
    BufferedSettingsStore store(files, codec);
    store.ReadSettingText(path, "Main", "Top", "100");
    FakeHistory history;
    LoadHistory(store, path, history);
    walk.startCalls = walk.calls;
    between();
    RememberLaunch(history, entry);
    store.WriteSettingText(path, "Main", "Top", "2");
    store.WriteSettingText(path, "Main", "Left", "-30");
    SaveHistory(store, path, history);
    store.CommitSettings(path);
  }

  // Every key a run writes and a line of the user's, as a start reads them (putting in place a
  // save that the last one left in its temporary), then as the platform reads the file.
  std::vector<std::string> Reads(const std::string& path, bool platformToo = true) {
    BufferedSettingsStore store(files, codec);
    // The keys a run writes, a key it does not, and the user's line.
    const std::vector<std::pair<const char*, const char*>> keys = {
        {"Main", "Top"}, {"Main", "Left"}, {"Main", "Count"}, {"Main", "DoClose"},
        {"MRU", "MRU0"}, {"MRU", "MRU1"},  {"Other", "keep"}};
    std::vector<std::string> reads = ReadsOf(path, &store, keys);
    if (!platformToo) return reads;
    const std::vector<std::string> platform = ReadsOf(path, nullptr, keys);
    reads.insert(reads.end(), platform.begin(), platform.end());
    return reads;
  }

  void Arm(const Start& s, std::vector<Fault> faults) {
    LetGo(true);
    walk = Walk{};
    walk.start = &s;
    walk.faults = std::move(faults);
  }

  std::string folder = ProgramFolder();
  win32::Win32SettingsFiles files{kCallsLikeWindows};
  win32::Win32AnsiCodec codec;
};

// Every file call of a start and a save, on every path a save can take from every kind of
// starting state, is faulted in turn: it fails with each error Windows documents there, another
// program holds its file, a second Tovik empties or half writes the temporary just before it or
// starts (and must read a whole text, or none), or the process ends at it; then an error that
// stays is followed by an error or an end at each later call. Each time the file is its old text
// or the whole new one (or one of them is whole in the temporary, with no file), both readers
// read it so after the next start (a file that refuses writing, torn by a rewrite cut short, to
// Tovik only, from the rewrite's journal), and the next two
// runs leave what a run without a fault leaves, with no temporary. Where the fault goes away
// within the wait, the new text is in place; where it does not go away, no time was spent.
TEST_F(SaveFailuresTest, NoFaultAndNoPairOfFaultsLosesTheFile) {
  const std::string shorter = "C:\\a.exe", longer(300, 'o');
  // Texts as people leave them: no final line end, a Ctrl+Z at the end, UTF-16; a long history,
  // about 140 KB, read in pieces; a long value that the save writes short.
  const std::string noFinalEnd = std::string(kOld).substr(0, sizeof kOld - 3),
                    ctrlZ = kOld + std::string("\x1A"), utf16 = Encoded(kOld, 2);
  std::string oldBig = "[Main]\r\nCount=4000\r\n[MRU]\r\n";
  for (int i = 0; i < 4000; ++i) oldBig += HistoryKey(i) + "=\"C:\\Program Files\\App\" -x\r\n";
  const std::string oldLong =
      "[Main]\r\nLeft=" + std::string(300, '0') + "5\r\n" + std::string(kOld).substr(8);
  Start starts[] = {
      {"new file", std::nullopt, shorter},
      {"the last save only in the temporary, in a folder that takes no new file", noFinalEnd,
       shorter, kInTemporary | kNoNewFile | kTakesNoText},
      {"existing file ending in Ctrl+Z, a stale temporary", ctrlZ, shorter, kStaleTemporary},
      {"hidden file", kOld, shorter, 0, nullptr, FILE_ATTRIBUTE_HIDDEN},
      {"linked file", kOld, shorter, 0, "link"},
      {"link whose file is missing, the last save beside it", noFinalEnd, shorter, kInTemporary,
       "link"},
      {"no new file, UTF-16 text grows", utf16, longer, kNoNewFile},
      {"no new file, text shrinks, a stale temporary that refuses", oldLong, shorter,
       kNoNewFile | kStaleTemporary | kRefusesTemporary},
      {"a long history", oldBig, shorter},
      {"a file with a second hard link", kOld, shorter, kSecondName},
      {"a file with a second hard link, its rewrite cut short", kOld, shorter,
       kSecondName | kInTemporary | kCutShort},
      {"a link to a file with a second hard link, its rewrite cut short", kOld, shorter,
       kSecondName | kInTemporary | kCutShort | kNoFaults, "link"},
      {"a file whose rewrite was cut short, one name left", kOld, shorter,
       kInTemporary | kCutShort},
      {"a file whose rewrite was cut short, read-only for the next run", kOld, shorter,
       kInTemporary | kCutShort | kTakesNoText, nullptr, FILE_ATTRIBUTE_READONLY},
      {"a file with a second hard link, changed since a journal beside it", kOld, shorter,
       kSecondName | kStaleJournal},
      {"a file with a second hard link, a journal beside it written for another file", kOld,
       shorter, kSecondName | kForeignJournal | kNoFaults},
      {"a file whose access list refuses", kOld, shorter, kTakesNoText | kRefusesFile},
      {"read-only file", kOld, shorter, kTakesNoText, nullptr, FILE_ATTRIBUTE_READONLY},
      {"read-only folder", kOld, longer, 0, "read-only folder"},  // made on Windows
  };
  int walked = 0, tried[2] = {}, lost = 0, tornCount = 0, longest = 0;  // single faults, pairs
  // TOVIK_WALK_STATES walks only the states whose names hold it.
  const std::string only = Environment("TOVIK_WALK_STATES").value_or("");
  for (Start& s : starts) {
    if (std::string(s.name).find(only) == std::string::npos) continue;
    Place(s, folder);
    if (!s.skipped.empty()) {
      std::printf("save failures: %s not walked: %s\n", s.name, s.skipped.c_str());
      continue;
    }
    const bool takesText = !s.Has(kTakesNoText), inTemporary = s.Has(kInTemporary);
    const std::string file = s.File(), temporary = s.Temporary();
    // Every name of the file reads as the file: a save that gave it a new file split them.
    const auto oneFile = [&] {
      return !s.Has(kSecondName) || ReadBytes(s.OtherName()) == ReadBytes(file);
    };
    // What the old text reads as in a file, then the whole save once, without a fault: the new
    // text, the calls it makes, and no pause. A place the test may not write keeps what it holds.
    Restore(s, s.old, false, false);
    Arm(s, {});
    const std::vector<std::string> oldReads = Reads(s.path);
    const int oldCount = atoi(ProfileRead(s.path, "Main", "Count").c_str());
    const std::string last = HistoryKey(std::max(oldCount - 1, 0)), shifted = HistoryKey(oldCount);
    const std::string oldLast = ProfileRead(s.path, "MRU", last.c_str());
    Restore(s, s.old, inTemporary, s.Has(kStale));
    // A rewrite cut short leaves a torn file, and the start puts the journal's text in place.
    const std::string& holding = inTemporary && !s.Has(kCutShort) ? temporary : file;
    const std::optional<std::string> old = s.Has(kCutShort)      ? s.old
                                           : FileExists(holding) ? std::optional(ReadBytes(holding))
                                                                 : std::nullopt;
    ASSERT_EQ(old.has_value(), s.old.has_value()) << s.name << ": the place keeps no file";
    Arm(s, {});
    Run(s.path, s.entry);
    EXPECT_EQ(walk.clockMs, 0) << s.name << ": waited where nothing changes";
    const auto trace = walk.trace;
    const int startCalls = walk.startCalls;
    Arm(s, {});
    const std::string saved = ReadBytes(takesText ? file : holding);
    const std::vector<std::string> newReads = Reads(s.path);
    const bool launched = std::count(newReads.begin(), newReads.end(), "MRU/MRU0=" + s.entry);
    ASSERT_EQ(launched, takesText) << s.name;
    const auto kept = [](const std::vector<std::string>& reads) {  // the user's line, to a start
      return std::count(reads.begin(), reads.begin() + reads.size() / 2, "Other/keep=1");
    };
    ASSERT_EQ(kept(newReads), kept(oldReads)) << s.name;
    // As a start reads it, the whole history moved down by the launch: none was left unread.
    BufferedSettingsStore start(files, codec);
    ASSERT_EQ(start.ReadSettingText(s.path, "Main", "Count", "0"),
              std::to_string(oldCount + takesText))
        << s.name;
    if (oldCount) {
      ASSERT_EQ(start.ReadSettingText(s.path, "MRU", takesText ? shifted : last, ""), oldLast);
    }
    EXPECT_EQ(FileExists(temporary), inTemporary && !takesText) << s.name;
    EXPECT_TRUE(oneFile()) << s.name;
    if (s.attribute) {
      EXPECT_TRUE(GetFileAttributesA(s.path.c_str()) & s.attribute) << s.name;
    }
    ++walked;
    if (s.Has(kNoFaults)) continue;
    // Runs a start and a save with `faults`; true when nothing was lost. `land`: the fault goes
    // away within the wait, so the new text must be in place; `noWait`: it does not go away, so no
    // pause may be taken for it. `after`: the calls the faulted run made.
    std::set<std::string> recovered;
    const auto survives = [&](const std::vector<Fault>& faults, bool land, bool noWait,
                              decltype(walk.trace)* after = nullptr) {
      Restore(s, old, inTemporary, s.Has(kStale));
      Arm(s, faults);
      try {
        Run(s.path, s.entry);
      } catch (const Killed&) {
      }
      const std::string done = walk.done;
      const std::vector<FileRead> secondReads = walk.secondReads;
      const int waited = walk.clockMs;
      longest = std::max(longest, waited);
      if (after) *after = walk.trace;
      Arm(s, {});
      BufferedSettingsStore(files, codec).ReadSettingText(s.path, "Main", "Top", "");  // a start
      // Blanks the reader skips may follow a text where the in-place rewrite could not cut them;
      // with no file, a whole text may wait in the temporary.
      const bool there = FileExists(file);
      const std::string bytes = ReadBytes(there ? file : temporary);
      const auto trimmed = [](const std::string& t) {  // of blanks in 8 bits or UTF-16
        return t.substr(0, t.find_last_not_of(std::string(" \0", 2)) + 1);
      };
      const std::string text = trimmed(bytes);
      const bool exact = there && (bytes == old.value_or("") || bytes == saved);
      // Both readers, unless the bytes are those both were seen to read.
      // A cut-short rewrite that the file refuses stays torn for the platform's reader.
      const bool tornForThePlatform = s.Has(kCutShort) && !takesText;
      const std::vector<std::string> reads = Reads(s.path, !exact && !tornForThePlatform);
      const auto begins = [&](const std::vector<std::string>& all) {
        return std::equal(reads.begin(), reads.end(), all.begin());
      };
      bool whole =
          (text == trimmed(old.value_or("")) || text == trimmed(saved) || (!there && !old)) &&
          (begins(oldReads) || begins(newReads)) &&
          (!land || !takesText || (there && text == trimmed(saved))) && (!noWait || waited == 0) &&
          oneFile();
      // A second Tovik read the old text or the new one whole, or nothing while it could not.
      for (const FileRead& second : secondReads) {
        const std::string read = trimmed(second.bytes);
        whole &= second.kind == FileRead::Kind::kUnreadable ||
                 (second.kind == FileRead::Kind::kWhole &&
                  (read == trimmed(old.value_or("")) || read == trimmed(saved)));
      }
      // The next runs depend only on what the files hold: a state seen to recover is not run again.
      const std::string state = std::to_string(GetFileAttributesA(s.path.c_str())) + "|" +
                                std::to_string(GetFileAttributesA(temporary.c_str())) + "|" +
                                ReadBytes(file) + "|" + ReadBytes(temporary);
      if (whole && recovered.count(state)) return true;
      for (int next = 0; next < 2 && whole; ++next) {
        Run(s.path, s.entry);
        // Another program's temporary, cut short after this save was made, may stay: it is
        // never read. Nor a stale one that refuses writing, where a fault kept it from being
        // deleted.
        const std::string left = ReadBytes(temporary);
        const bool othersLeft = (faults[0].kind == Fault::kWrite && (left.empty() || !left[0])) ||
                                (left == kStaleText && s.Has(kRefusesTemporary));
        whole = (ReadBytes(takesText ? file : holding) == saved || Reads(s.path) == newReads) &&
                (FileExists(temporary) == (inTemporary && !takesText) || othersLeft) && oneFile();
      }
      if (whole) recovered.insert(state);
      // A write of the new text over the old that failed part-way, then an end before the old
      // text was back: what no order of writes within one file can prevent (docs/saving.md).
      const bool torn =
          !whole && faults.size() == 2 && faults[1].kind == Fault::kEnd &&
          done.rfind("WriteFile", 0) == 0 &&
          (s.Has(kNoNewFile) || std::string(s.place ? s.place : "") == "read-only folder");
      if (!whole && !torn) {
        ADD_FAILURE() << s.name << ": " << done << " (" << waited << " ms waited); left\n" << bytes;
      }
      tornCount += torn;
      return whole || torn;
    };
    // Single faults at every call: each error (a sharing or lock violation, or a replace that
    // changed nothing, passes at the next try; most others stay), each holder of a file it names,
    // each second writer of the temporary, an end.
    const std::set<DWORD> passing = {ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION,
                                     ERROR_UNABLE_TO_REMOVE_REPLACED};
    std::map<std::pair<int, int>, decltype(walk.trace)> traces;  // the calls after each failure
    for (int at = 1; at <= static_cast<int>(trace.size()); ++at) {
      const auto& [errors, names, temporaryThere] = trace[at - 1];
      for (int v = 0; v < static_cast<int>(errors.size()); ++v) {
        ++tried[0];
        // A cut that fails after a rewrite leaves its new text whole, blanks after it.
        const bool passes = passing.count(errors[v]), cut = errors[v] == ERROR_USER_MAPPED_FILE,
                   stays = !passes && errors[v] != ERROR_ACCESS_DENIED;
        lost += !survives({{Fault::kFail, at, v}}, passes || cut, stays, &traces[{at, v}]);
      }
      for (int v = 0; names && v < static_cast<int>(std::size(kHolders)); ++v) {
        ++tried[0];
        lost += !survives({{Fault::kHold, at, v}}, kHolders[v].forMs < 900, false);
      }
      // Where a temporary is there to be written over. Where it is the only copy, only the one who
      // put it there may touch it: a second Tovik moves it in as this one does.
      // Where the run rewrites in place, or finishes a rewrite, a second Tovik may start.
      if (takesText && !s.place && s.Has(kSecondName | kCutShort | kNoNewFile)) {
        ++tried[0];
        lost += !survives({{Fault::kStart, at}}, true, true);
      }
      for (int v = 0; v < 2 && temporaryThere && !inTemporary; ++v) {
        ++tried[0];
        lost += !survives({{Fault::kWrite, at, v}}, true, true);
      }
      ++tried[0];
      lost += !survives({{Fault::kEnd, at}}, false, false);
    }
    // Pairs: each error of a call that stays, then at every later call its first error, which
    // stays, or an end. An error that passes at the next try only adds a pause before the path
    // the singles walk. Where another state's pairs take the same calls, they are not repeated:
    // a hidden or linked file's are the existing file's, a shrinking text's the growing one's, the
    // long history's a short one's, a cut-short rewrite's with one name left the one with two. A
    // journal's start has pairs of its own, but once the start has dealt with it, the save is the
    // one of the file with a second name.
    const bool repeated = s.attribute == FILE_ATTRIBUTE_HIDDEN ||
                          (!s.target.empty() && !inTemporary) || s.old == oldLong ||
                          s.old == oldBig || (s.Has(kCutShort) && !s.Has(kSecondName) && takesText);
    const bool saveRepeated = s.Has(kStaleJournal) || (s.Has(kCutShort) && takesText);
    for (const auto& [first, after] : traces) {
      if (repeated || passing.count(trace[first.first - 1].errors[first.second]) ||
          (saveRepeated && first.first > startCalls)) {
        continue;
      }
      for (int then = first.first + 1; then <= static_cast<int>(after.size()); ++then) {
        for (const Fault second : {Fault{Fault::kFail, then}, Fault{Fault::kEnd, then}}) {
          ++tried[1];
          lost += !survives({{Fault::kFail, first.first, first.second}, second}, false, false);
        }
      }
    }
    Restore(s, old, false, false);
    SetFileAttributesA(s.path.c_str(), FILE_ATTRIBUTE_NORMAL);  // a read-only one stays
  }
  std::printf(
      "save failures: %d starting states (no file; the last save only in the temporary, beside "
      "no file or a link whose file is missing; texts without a final line end, ending in Ctrl+Z, "
      "in UTF-16, long; hidden, linked, read-only, refused by an access list, with a second name "
      "and its rewrite cut short or not, also through a link, with one name left or read-only, "
      "changed since a journal or beside another file's, in a folder that takes no new file); "
      "%d single faults (each error Windows documents for each call, 3 holders, 2 second writers "
      "of the temporary, a second Tovik started, an end) and %d pairs (each error that "
      "stays, then a later call's first error or an end) tried, %d lost, none waited for where it "
      "stays, the longest wait of a start and a save %d ms; %d torn in-place rewrites (a write "
      "over the old text failed part-way, then the process ended)\n",
      walked, tried[0], tried[1], lost, longest, tornCount);
  EXPECT_EQ(lost, 0);
}

// A link whose file's folder is not there at the start (a drive that comes later at log-on) names
// a file that cannot be read yet: when the folder is there by the save, the file is not saved over.
// So too where the link names another link, and where the folder is itself a link, whose own
// attributes Windows gives while what it leads to is missing. A link whose folder is there but
// whose file is not is a first run: its save makes the file.
TEST_F(SaveFailuresTest, ALinkWhoseFolderComesAfterTheStartIsNotSavedOver) {
  const struct {
    const char* what;
    bool throughAnotherLink, folderIsALink;
  } rows[] = {{"a link to the file", false, false},
              {"a link to a link to the file", true, false},
              {"a link into a folder that is a link", false, true}};
  for (const auto& row : rows) {
    Start s{row.what, kOld, "C:\\a.exe", 0, "link"};
    Place(s, folder);
    if (!s.skipped.empty()) GTEST_SKIP() << s.skipped;
    const std::string there = s.Folder().substr(0, s.Folder().size() - 1), real = there + "-real",
                      away = there + "-away", hop = folder + "walk-hop.ini";
    Restore(s, kOld, false, false);
    if (row.throughAnotherLink && UnderWine()) s.links = {{s.path, hop}, {hop, s.target}};
    if (row.throughAnotherLink && !UnderWine()) {
      DeleteFileA(hop.c_str());
      DeleteFileA(s.path.c_str());
      CreateSymbolicLinkA(hop.c_str(), s.target.c_str(),
                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
      CreateSymbolicLinkA(s.path.c_str(), hop.c_str(),
                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    }
    if (row.folderIsALink && UnderWine()) s.links[there] = real;
    if (row.folderIsALink && !UnderWine()) {
      MoveFileA(there.c_str(), real.c_str());
      CreateSymbolicLinkA(
          there.c_str(), real.c_str(),
          SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    }
    const std::string moved = row.folderIsALink && !UnderWine() ? real : there;
    Arm(s, {});
    ASSERT_TRUE(MoveFileA(moved.c_str(), away.c_str())) << row.what;
    Run(s.path, s.entry, [&] { MoveFileA(away.c_str(), moved.c_str()); });
    EXPECT_EQ(ReadBytes(s.File()), kOld) << row.what;
    EXPECT_FALSE(FileExists(hop)) << row.what;
    if (moved == real) {
      RemoveDirectoryA(there.c_str());
      MoveFileA(real.c_str(), there.c_str());
    }
    DeleteFileA(hop.c_str());
  }
  Start s{"a link whose file is missing", kOld, "C:\\a.exe", 0, "link"};
  Place(s, folder);
  Restore(s, std::nullopt, false, false);
  Arm(s, {});
  Run(s.path, s.entry);
  EXPECT_NE(ReadBytes(s.File()).find("MRU0=" + s.entry), std::string::npos);
}

TEST(Win32Environment, ExpandsWholeAndLeavesAnUnsetReference) {
  const std::string longValue(1000, 'e');
  SetEnvironmentVariableA("TOVIK_LONG", longValue.c_str());
  win32::Win32Environment environment;
  EXPECT_EQ(ExpandCommand("%TOVIK_LONG%\\x", environment), longValue + "\\x");
  EXPECT_EQ(ExpandCommand("%TOVIK_UNSET_VARIABLE%", environment), "%TOVIK_UNSET_VARIABLE%");
}

}  // namespace
}  // namespace tovik
