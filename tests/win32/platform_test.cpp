// The Win32 side of the platform interfaces, for real: the settings store against the platform's
// own profile functions, saves that are killed or meet read-only places, environment expansion.
#include "win32/platform.h"

#include <windows.h>
// windows.h first: the security header needs its types.
#include <sddl.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <random>
#include <set>

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

class SettingsFilesTest : public ::testing::Test {
 protected:
  std::string folder = ProgramFolder();
  win32::Win32SettingsFiles files;
  win32::Win32AnsiCodec codec;
};

// Every generated file reads as the platform reads it; on every other one, a save as the program
// makes it (read first, as at start-up) reads like the same writes made key by key by the
// platform, and a file made from nothing is the platform's own byte for byte.
TEST_F(SettingsFilesTest, ReadsAndSavesLikeTheProfileFunctionsForGeneratedFiles) {
  const std::string ours = folder + "ours.ini", oracle = folder + "oracle.ini";
  for (unsigned seed = 0; seed < 400; ++seed) {
    FileGenerator generator(seed);
    const bool fromNothing = seed % 16 == 0;
    const std::string text = generator.File(), original = Encoded(text, seed % 3);
    // Where the readers are meant to differ: Windows' own takes a UTF-8 byte order mark as bytes
    // of line 1 (Wine's decodes it), so an editor's "UTF-8 with BOM" file loses its first
    // section. Tovik reads it as UTF-8, as the platform reads the same text in UTF-16, which the
    // oracle holds then; where the platform misreads the mark, Tovik's saved file is read back
    // by Tovik's own reader.
    const bool readersDiffer = seed % 3 == 1 && !fromNothing;
    for (const std::string& path : {ours, oracle}) {
      DeleteFileA(path.c_str());
      if (!fromNothing)
        WriteBytes(path, path == oracle && readersDiffer ? Encoded(text, 2) : original);
    }
    BufferedSettingsStore store(files, codec), rereading(files, codec);
    SettingsStore* reader = readersDiffer && !UnderWine() ? &rereading : nullptr;
    ASSERT_EQ(ReadsOf(ours, &store), ReadsOf(oracle)) << "seed " << seed << "\n" << original;
    if (seed % 2) continue;
    std::vector<std::pair<std::string, std::string>> writes = {
        {"Top", "40"}, {"Left", "-30"}, {"DoClose", "1"}, {"DoMinimize", "0"}};
    const int count = generator.Pick(5);
    writes.emplace_back("Count", std::to_string(count));
    for (int i = 0; i < count; ++i) writes.emplace_back(HistoryKey(i), generator.Value());
    for (const auto& [key, value] : writes) {
      const char* section = key.rfind("MRU", 0) == 0 ? "MRU" : "Main";
      const std::string stored = EncodeHistoryValue(value);
      store.WriteSettingText(ours, section, key, stored);
      WritePrivateProfileStringA(section, key.c_str(), stored.c_str(), oracle.c_str());
    }
    store.CommitSettings(ours);
    ASSERT_EQ(ReadsOf(ours, reader), ReadsOf(oracle)) << "seed " << seed << "\n" << original;
    for (int i = 0; i < count; ++i) {  // every history entry reads back as it was, line breaks
      std::string entry = writes[5 + i].second;  // made spaces
      std::replace(entry.begin(), entry.end(), '\r', ' ');
      std::replace(entry.begin(), entry.end(), '\n', ' ');
      const std::string key = HistoryKey(i);
      ASSERT_EQ(reader ? reader->ReadSettingText(ours, "MRU", key, kDefault)
                       : ProfileRead(ours, "MRU", key.c_str()),
                entry)
          << "seed " << seed;
    }
    if (fromNothing) {
      ASSERT_EQ(ReadBytes(ours), ReadBytes(oracle)) << "seed " << seed;
    }
    EXPECT_FALSE(FileExists(win32::Win32SettingsFiles::TemporaryPathFor(ours)));
  }
}

// The file calls as Windows answers them, each of which a walk can fault: make it fail with each
// error Windows documents there, have another program hold its file, or write the temporary,
// from just before it, or end the process at it. Windows refuses what Wine lets pass: writing
// over a hidden or system file with other attributes, writing, moving or deleting a read-only
// file or one whose access list refuses it. A place's own rule stands beside: a folder that takes
// no new file.
struct Fault {
  enum Kind { kFail, kHold, kWrite, kEnd } kind;
  int at;           // the call, counted from 1
  int variant = 0;  // which error, holder or writer
};
// The walk's state: the faults, the calls so far (each with its number of errors and whether it
// names a file), the clock of the pauses, the holders and when each lets go, a report of what the
// faults did; the temporary another program writes; a folder that takes no new file (ending in
// '\'); a symbolic link and the file it names, which Windows marks as a reparse point and reads
// even when that file is missing; a file Wine makes read-only by a mount; a file whose access
// list refuses writing and deleting, and one whose list refuses writing.
struct Walk {
  std::vector<Fault> faults;
  int calls = 0, clockMs = 0;
  bool killed = false;
  struct Call {
    std::vector<DWORD> errors;
    bool names, temporaryThere;  // whether it names a file; whether the temporary was there
  };
  std::vector<Call> trace;
  std::vector<std::pair<HANDLE, int>> holders;
  std::string done, temporary, noNewFileIn, link, linkTarget, readOnly, refusing, unwritable;
} walk;
struct Killed {};  // the process ended: nothing after the call runs, open handles close

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
  const HANDLE file =
      CreateFileA(walk.temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  if (variant == 1)
    WriteFile(file, std::string("\0[Main]\r\nTop=9\r\n").data(), 16, &written, nullptr);
  CloseHandle(file);
}

// Counts a call on `file` (nullptr: a handle's); the error it is to fail with, or 0 to make it.
// Once the process has ended no call may come but the closing of its handles; a close may run in
// a destructor and must not throw, so an end there takes effect at the next call.
DWORD Faulted(const char* name, const char* file, std::initializer_list<DWORD> errors,
              bool mayThrow = true) {
  if (walk.killed) throw Killed{};
  const int call = ++walk.calls;
  const DWORD error = GetLastError();  // as the call before left it, which a close keeps
  walk.trace.push_back({errors, file != nullptr,
                        GetFileAttributesA(walk.temporary.c_str()) != INVALID_FILE_ATTRIBUTES});
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
        return errors.begin()[fault.variant];
      case Fault::kWrite:
        walk.done += fault.variant ? "came after half a text" : "came after an emptied";
        walk.done += " temporary by another program";
        SecondWriter(fault.variant);
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
  return 0;
}

template <typename R>
R Failing(DWORD error, R result) {
  SetLastError(error);
  return result;
}

bool Refuses(const char* name) {
  if (name == walk.readOnly || name == walk.refusing) return true;
  const DWORD attributes = GetFileAttributesA(name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

HANDLE WINAPI CreateFileLikeWindows(LPCSTR name, DWORD access, DWORD share,
                                    LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                                    HANDLE templateFile) {
  const bool creates = creation == CREATE_ALWAYS;
  if (const DWORD error =
          creates ? Faulted("CreateFileA", name,
                            {ERROR_DISK_FULL, ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED})
                  : Faulted("CreateFileA", name, {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}))
    return Failing(error, INVALID_HANDLE_VALUE);
  const std::string path = name;
  const DWORD existing = GetFileAttributesA(name);
  const DWORD keptByWindows = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const bool there = existing != INVALID_FILE_ATTRIBUTES;
  if ((creates && there && (existing & keptByWindows & ~flags)) ||
      (there && (access & (GENERIC_WRITE | DELETE)) && Refuses(name)) ||
      (there && (access & GENERIC_WRITE) && name == walk.unwritable) ||
      (!there && creation != OPEN_EXISTING && !walk.noNewFileIn.empty() &&
       path.rfind(walk.noNewFileIn, 0) == 0)) {
    return Failing(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  }
  return CreateFileA(name, access, share, security, creation, flags, templateFile);
}

// The system's call, or failing with one of `kErrors` where the walk is at it; a call whose first
// argument is a name names the file a holder takes.
inline const char* FileOf(LPCSTR name, ...) { return name; }
inline const char* FileOf(...) { return nullptr; }
constexpr char kRead[] = "ReadFile", kFlush[] = "FlushFileBuffers", kSeek[] = "SetFilePointerEx",
               kCut[] = "SetEndOfFile", kFinal[] = "GetFinalPathNameByHandleA",
               kSetAttributes[] = "SetFileAttributesA", kDelete[] = "DeleteFileA";
template <auto kCall, const char* kName, DWORD... kErrors>
struct Faulty;
template <typename R, typename... A, R (WINAPI* win32::FileCalls::*kCall)(A...), const char* kName,
          DWORD... kErrors>
struct Faulty<kCall, kName, kErrors...> {
  static R WINAPI Call(A... args) {
    const DWORD error = Faulted(kName, FileOf(args...), {kErrors...});
    if (error) return Failing(error, R{});
    // The calls that name a file change its attributes, which a read-only one allows, or delete it.
    const char* file = FileOf(args...);
    if (file && (kName == kDelete ? Refuses(file) : file == walk.refusing || file == walk.readOnly))
      return Failing(ERROR_ACCESS_DENIED, R{});
    return (win32::SystemFileCalls().*kCall)(args...);
  }
};

// A full disk takes part of a write.
BOOL WINAPI WriteFileFaulty(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                            LPOVERLAPPED o) {
  if (!Faulted("WriteFile", nullptr, {ERROR_DISK_FULL}))
    return WriteFile(file, data, size, written, o);
  WriteFile(file, data, size / 2, written, o);
  return Failing(ERROR_DISK_FULL, FALSE);
}

// The handle closes all the same; a late write error is what a close reports.
BOOL WINAPI CloseFaulty(HANDLE handle) {
  if (walk.killed) return CloseHandle(handle);
  const bool fails = Faulted("CloseHandle", nullptr, {ERROR_NETNAME_DELETED}, false);
  return CloseHandle(handle) && !fails;
}

DWORD WINAPI AttributesFaulty(LPCSTR name) {
  if (const DWORD error = Faulted("GetFileAttributesA", name, {ERROR_ACCESS_DENIED}))
    return Failing(error, INVALID_FILE_ATTRIBUTES);
  const DWORD attributes = GetFileAttributesA(name);
  if (name == walk.link)  // the link's own, there even when its file is missing
    return (attributes == INVALID_FILE_ATTRIBUTES ? FILE_ATTRIBUTE_ARCHIVE : attributes) |
           FILE_ATTRIBUTE_REPARSE_POINT;
  if (attributes == INVALID_FILE_ATTRIBUTES) return attributes;
  return attributes | (name == walk.readOnly ? FILE_ATTRIBUTE_READONLY : 0);
}

// Wine reads no link's reparse data: there the name the link holds is given as Windows gives it.
bool ReadLinkFaulty(const char* link, std::string& target) {
  if (Faulted("ReadLinkTarget", link, {ERROR_ACCESS_DENIED})) return false;
  if (!UnderWine()) return win32::SystemFileCalls().ReadLinkTarget(link, target);
  if (link != walk.link) return false;
  target = walk.linkTarget;
  return true;
}

// ReplaceFileA's documented failures: 1175 changes nothing; 1176 and, without a backup name, 1177
// take the old file away and leave the new text under its temporary name (1177 with the old
// file's attributes); a sharing violation changes nothing.
BOOL WINAPI ReplaceFaulty(LPCSTR replaced, LPCSTR replacement, LPCSTR backup, DWORD flags,
                          LPVOID exclude, LPVOID reserved) {
  const DWORD error = Faulted("ReplaceFileA", replaced,
                              {ERROR_UNABLE_TO_MOVE_REPLACEMENT, ERROR_UNABLE_TO_MOVE_REPLACEMENT_2,
                               ERROR_UNABLE_TO_REMOVE_REPLACED, ERROR_SHARING_VIOLATION});
  // A file that refuses is refused before anything is moved.
  if (Refuses(replaced)) return Failing(ERROR_ACCESS_DENIED, FALSE);
  if (!error) return ReplaceFileA(replaced, replacement, backup, flags, exclude, reserved);
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    const DWORD attributes = GetFileAttributesA(replaced);
    SetFileAttributesA(replaced, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(replaced);
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) SetFileAttributesA(replacement, attributes);
  }
  return Failing(error, FALSE);
}

// Renaming a file needs leave to delete it (an access list may refuse), not to write it.
BOOL WINAPI MoveFaulty(LPCSTR from, LPCSTR to, DWORD flags) {
  if (const DWORD error =
          Faulted("MoveFileExA", from, {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}))
    return Failing(error, FALSE);
  const bool newName = GetFileAttributesA(to) == INVALID_FILE_ATTRIBUTES;
  if (Refuses(to) || from == walk.refusing ||
      (newName && !walk.noNewFileIn.empty() && std::string(to).rfind(walk.noNewFileIn, 0) == 0))
    return Failing(ERROR_ACCESS_DENIED, FALSE);
  return MoveFileExA(from, to, flags);
}

using Calls = win32::FileCalls;
const Calls kCallsLikeWindows{
    CreateFileLikeWindows,
    Faulty<&Calls::ReadFile, kRead, ERROR_IO_DEVICE, ERROR_LOCK_VIOLATION>::Call, WriteFileFaulty,
    Faulty<&Calls::FlushFileBuffers, kFlush, ERROR_IO_DEVICE>::Call,
    Faulty<&Calls::SetFilePointerEx, kSeek, ERROR_IO_DEVICE>::Call,
    // Windows refuses to cut a file that another program has mapped.
    Faulty<&Calls::SetEndOfFile, kCut, ERROR_USER_MAPPED_FILE>::Call, CloseFaulty, AttributesFaulty,
    Faulty<&Calls::SetFileAttributesA, kSetAttributes, ERROR_ACCESS_DENIED>::Call, ReplaceFaulty,
    MoveFaulty,
    Faulty<&Calls::DeleteFileA, kDelete, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION>::Call,
    Faulty<&Calls::GetFinalPathNameByHandleA, kFinal, ERROR_PATH_NOT_FOUND>::Call, ReadLinkFaulty,
    SleepOnTheWalksClock};

constexpr char kStaleText[] = "left by a killed save";
// The walk's own forcing of what a Windows test run does, under Wine.
bool PlacesAsOnWindows() { return !UnderWine() || Environment("TOVIK_PLACES_AS_ON_WINDOWS"); }

// Where a settings file can be: its path (for a link, also the file it names), an attribute, a
// folder that takes no new file, or why this side cannot make the place. Under Wine root ignores
// permission bits and Wine then the read-only attribute, so the test run makes read-only places
// with bind mounts, full disks with small memory file systems, and the link
// (tests/tools/places.sh). On Windows the test makes them: the read-only attribute, a folder whose
// access control lets nobody add a file (the file in it keeps what it inherited), and a link.
struct Place {
  std::string path, target = {};
  DWORD attribute = 0;
  std::string skipped = {};
  bool noNewFile = false;
  std::string File() const { return target.empty() ? path : target; }
};

Place PreparedOnWine(const std::string& name) {
  const char* variable = name == "link"               ? "TOVIK_LINKED_FILE"
                         : name == "read-only file"   ? "TOVIK_READONLY_FILE"
                         : name == "read-only folder" ? "TOVIK_READONLY_FOLDER_FILE"
                         : name == "full disk"        ? "TOVIK_FULL_DISK_FILE"
                                                      : "TOVIK_FULL_DISK_NO_NEW_FILE";
  const std::optional<std::string> path = Environment(variable),
                                   target = name == "link" ? Environment("TOVIK_LINK_TARGET") : "";
  if (!path || !target) return {"", "", 0, "the test run could not mount it here"};
  return {*path, *target};
}

Place MadeOnWindows(const std::string& name, const std::string& folder) {
  const std::string place = folder + "place-" + name, file = place + "\\tovik.ini";
  if (name.rfind("full disk", 0) == 0) return {"", "", 0, "Windows gives no full disk to test on"};
  CreateDirectoryA(place.c_str(), nullptr);
  if (name == "read-only file") return {file, "", FILE_ATTRIBUTE_READONLY};
  if (name == "read-only folder") {
    WriteBytes(file, "");
    PSECURITY_DESCRIPTOR denyAdding = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:P(D;;0x2;;;WD)(A;OICI;FA;;;WD)", SDDL_REVISION_1, &denyAdding, nullptr)) {
      return {"", "", 0, "no security descriptor could be made"};
    }
    const bool denied = SetFileSecurityA(place.c_str(), DACL_SECURITY_INFORMATION, denyAdding);
    LocalFree(denyAdding);
    if (!denied) return {"", "", 0, "this file system keeps no access control"};
    // Wine keeps the access list but does not apply it: the walk's calls refuse as Windows does.
    return {file, "", 0, "", UnderWine()};
  }
  const std::string target = place + "\\real.ini";
  WriteBytes(target, "");
  DeleteFileA(file.c_str());
  // Wine 8 answers that it made the link and makes nothing.
  if (CreateSymbolicLinkA(file.c_str(), target.c_str(),
                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
      GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES)
    return {file, target};
  return {"", "", 0, "this account or system makes no symbolic link"};
}

Place PlaceNamed(const std::string& name, const std::string& folder) {
  return PlacesAsOnWindows() ? MadeOnWindows(name, folder) : PreparedOnWine(name);
}

// Puts the place back as a path starts: the old text in the file, or only in the temporary as a
// save left it, or no file; its attribute, and a temporary a killed save left. A file that should
// be there is written over, never deleted first: a folder that takes no new file would not take
// it back.
void Restore(const Place& place, const std::optional<std::string>& old, bool inTemporary,
             bool staleTemporary) {
  const std::string temporary = win32::Win32SettingsFiles::TemporaryPathFor(place.File());
  for (const std::string& path : {place.path, temporary}) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  DeleteFileA(temporary.c_str());
  if (!old || inTemporary) DeleteFileA(place.File().c_str());
  // Wine's ReplaceFile leaves an empty rfNNNN.tmp beside a target it could not replace; Windows
  // leaves nothing. Thousands of them would slow every lookup in the folder.
  const std::string folder = place.File().substr(0, place.File().find_last_of('\\') + 1);
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((folder + "rf*.tmp").c_str(), &found);
  for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
    DeleteFileA((folder + found.cFileName).c_str());
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  if (old) WriteBytes(inTemporary ? temporary : place.File(), *old);
  if (old && place.attribute) SetFileAttributesA(place.path.c_str(), place.attribute);
  if (staleTemporary) {
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
  // remembered, this run's writes and one commit.
  void Run(const std::string& path, const std::string& entry) {
    BufferedSettingsStore store(files, codec);
    store.ReadSettingText(path, "Main", "Top", "100");
    FakeHistory history;
    LoadHistory(store, path, history);
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

  std::string folder = ProgramFolder();
  win32::Win32SettingsFiles files{kCallsLikeWindows};
  win32::Win32AnsiCodec codec;
};

// Every file call of a start and a save, on every path a save can take from every kind of
// starting state, is faulted in turn: it fails with each error Windows documents there, another
// program holds its file, a second Tovik empties or half writes the temporary just before it, or
// the process ends at it; then an error that stays is followed by an error or an end at each
// later call. Each time the file is its old text or the whole new one (or one of them is whole in
// the temporary, with no file), both readers read it so after the next start, and the next two
// runs leave what a run without a fault leaves, with no temporary. Where the fault goes away
// within the wait, the new text is in place; where it does not go away, no time was spent.
TEST_F(SaveFailuresTest, NoFaultAndNoPairOfFaultsLosesTheFile) {
  struct Path {
    const char* name;
    std::optional<std::string> old;  // nullopt: no file yet
    bool inTemporary;                // the old text only in the temporary, as a save left it
    std::string place;               // a place made outside, or the test's folder
    DWORD attribute;
    bool staleTemporary;  // a hidden one that a killed save left
    bool noNewFile;
    std::string entry;     // the run's history entry: the text grows, or shrinks
    bool takesText;        // whether the place takes a new text at all
    std::string refusing;  // what an access list refuses: the "file" (writing, deleting) or the
                           // "temporary" (writing)
  };
  const std::string shorter = "C:\\a.exe", longer(300, 'o'), pages(5000, 'p');
  // Texts as people leave them: no final line end, a Ctrl+Z at the end, UTF-16; a long history,
  // about 140 KB, read in pieces; a long value that the save writes short.
  const std::string noFinalEnd = std::string(kOld).substr(0, sizeof kOld - 3),
                    ctrlZ = kOld + std::string("\x1A"), utf16 = Encoded(kOld, 2);
  std::string oldBig = "[Main]\r\nCount=4000\r\n[MRU]\r\n";
  for (int i = 0; i < 4000; ++i) oldBig += HistoryKey(i) + "=\"C:\\Program Files\\App\" -x\r\n";
  const std::string oldLong =
      "[Main]\r\nLeft=" + std::string(300, '0') + "5\r\n" + std::string(kOld).substr(8);
  // clang-format off
  const Path paths[] = {
      {"new file", std::nullopt, false, "", 0, false, false, shorter, true, ""},
      {"the last save only in the temporary, in a folder that takes no new file", noFinalEnd, true,
       "", 0, false, true, shorter, false, ""},
      {"existing file ending in Ctrl+Z, a stale temporary", ctrlZ, false, "", 0, true, false,
       shorter, true, ""},
      {"hidden file", kOld, false, "", FILE_ATTRIBUTE_HIDDEN, false, false, shorter, true, ""},
      {"linked file", kOld, false, "link", 0, false, false, shorter, true, ""},
      {"link whose file is missing, the last save beside it", noFinalEnd, true, "link", 0, false,
       false, shorter, true, ""},
      {"no new file, UTF-16 text grows", utf16, false, "", 0, false, true, longer, true, ""},
      {"no new file, text shrinks, a stale temporary that refuses", oldLong, false, "", 0, true,
       true, shorter, true, "temporary"},
      {"a long history", oldBig, false, "", 0, false, false, shorter, true, ""},
      {"a file whose access list refuses", kOld, false, "", 0, false, false, shorter, false, "file"},
      // The places only the platform makes; a growing text needs more than the full disks' page.
      {"read-only folder", kOld, false, "read-only folder", 0, false, false, pages, true, ""},
      {"read-only file", kOld, false, "read-only file", 0, false, false, shorter, false, ""},
      {"full disk", kOld, false, "full disk", 0, false, false, pages, false, ""},
      {"full disk, no new file", kOld, false, "full disk, no new file", 0, false, false, pages,
       false, ""},
  };
  // clang-format on
  int walked = 0, tried[2] = {}, lost = 0, tornCount = 0, longest = 0;  // single faults, pairs
  for (const Path& p : paths) {
    // Forced under Wine, the walk takes only the places Windows makes.
    if (UnderWine() && PlacesAsOnWindows() && p.place.empty()) continue;
    Place place =
        p.place.empty() ? Place{folder + "walk.ini", "", p.attribute} : PlaceNamed(p.place, folder);
    if (!place.skipped.empty()) {
      std::printf("save failures: %s not walked: %s\n", p.name, place.skipped.c_str());
      continue;
    }
    const std::string file = place.File();
    const std::string temporary = win32::Win32SettingsFiles::TemporaryPathFor(file);
    const auto arm = [&](std::vector<Fault> faults) {
      LetGo(true);
      walk = Walk{};
      walk.faults = std::move(faults);
      walk.temporary = temporary;
      if (p.noNewFile || place.noNewFile)
        walk.noNewFileIn = file.substr(0, file.find_last_of('\\') + 1);
      if (!place.target.empty()) walk.link = place.path, walk.linkTarget = place.target;
      if (p.place == "read-only file" && !PlacesAsOnWindows()) walk.readOnly = place.path;
      if (p.refusing == "file") walk.refusing = file;
      if (p.refusing == "temporary") walk.unwritable = temporary;
    };
    // What the old text reads as in a file, then the whole save once, without a fault: the new
    // text, the calls it makes, and no pause. A place the test may not write keeps what it holds.
    Restore(place, p.old, false, false);
    arm({});
    const std::vector<std::string> oldReads = Reads(place.path);
    const int oldCount = atoi(ProfileRead(place.path, "Main", "Count").c_str());
    const std::string last = HistoryKey(std::max(oldCount - 1, 0)), shifted = HistoryKey(oldCount);
    const std::string oldLast = ProfileRead(place.path, "MRU", last.c_str());
    Restore(place, p.old, p.inTemporary, p.staleTemporary);
    const std::string& holding = p.inTemporary ? temporary : file;
    const std::optional<std::string> old =
        FileExists(holding) ? std::optional(ReadBytes(holding)) : std::nullopt;
    ASSERT_EQ(old.has_value(), p.old.has_value()) << p.name << ": the place keeps no file";
    arm({});
    Run(place.path, p.entry);
    EXPECT_EQ(walk.clockMs, 0) << p.name << ": waited where nothing changes";
    const auto trace = walk.trace;
    arm({});
    const std::string saved = ReadBytes(p.takesText ? file : holding);
    const std::vector<std::string> newReads = Reads(place.path);
    const bool launched = std::count(newReads.begin(), newReads.end(), "MRU/MRU0=" + p.entry);
    ASSERT_EQ(launched, p.takesText) << p.name;
    const auto kept = [](const std::vector<std::string>& reads) {  // the user's line, to a start
      return std::count(reads.begin(), reads.begin() + reads.size() / 2, "Other/keep=1");
    };
    ASSERT_EQ(kept(newReads), kept(oldReads)) << p.name;
    // As a start reads it, the whole history moved down by the launch: none was left unread.
    BufferedSettingsStore start(files, codec);
    ASSERT_EQ(start.ReadSettingText(place.path, "Main", "Count", "0"),
              std::to_string(oldCount + p.takesText))
        << p.name;
    if (oldCount) {
      ASSERT_EQ(start.ReadSettingText(place.path, "MRU", p.takesText ? shifted : last, ""),
                oldLast);
    }
    EXPECT_EQ(FileExists(temporary), p.inTemporary && !p.takesText) << p.name;
    if (p.attribute) {
      EXPECT_TRUE(GetFileAttributesA(place.path.c_str()) & p.attribute) << p.name;
    }
    ++walked;
    // Runs a start and a save with `faults`; true when nothing was lost. `land`: the fault goes
    // away within the wait, so the new text must be in place; `noWait`: it does not go away, so no
    // pause may be taken for it. `after`: the calls the faulted run made.
    std::set<std::string> recovered;
    const auto survives = [&](const std::vector<Fault>& faults, bool land, bool noWait,
                              decltype(walk.trace)* after = nullptr) {
      Restore(place, old, p.inTemporary, p.staleTemporary);
      arm(faults);
      try {
        Run(place.path, p.entry);
      } catch (const Killed&) {
      }
      const std::string done = walk.done;
      const int waited = walk.clockMs;
      longest = std::max(longest, waited);
      if (after) *after = walk.trace;
      arm({});
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
      const std::vector<std::string> reads = Reads(place.path, !exact);
      const auto begins = [&](const std::vector<std::string>& all) {
        return std::equal(reads.begin(), reads.end(), all.begin());
      };
      bool whole =
          (text == trimmed(old.value_or("")) || text == trimmed(saved) || (!there && !old)) &&
          (begins(oldReads) || begins(newReads)) &&
          (!land || !p.takesText || (there && text == trimmed(saved))) && (!noWait || waited == 0);
      // The next runs depend only on what the files hold: a state seen to recover is not run again.
      const std::string state = std::to_string(GetFileAttributesA(place.path.c_str())) + "|" +
                                std::to_string(GetFileAttributesA(temporary.c_str())) + "|" +
                                ReadBytes(file) + "|" + ReadBytes(temporary);
      if (whole && recovered.count(state)) return true;
      for (int next = 0; next < 2 && whole; ++next) {
        Run(place.path, p.entry);
        // Another program's temporary, cut short after this save was made, may stay: it is
        // never read.
        const std::string left = ReadBytes(temporary);
        // Nor a stale one that refuses writing, where a fault kept it from being deleted.
        const bool othersLeft = (faults[0].kind == Fault::kWrite && (left.empty() || !left[0])) ||
                                (left == kStaleText && p.refusing == "temporary");
        whole =
            (ReadBytes(p.takesText ? file : holding) == saved || Reads(place.path) == newReads) &&
            (FileExists(temporary) == (p.inTemporary && !p.takesText) || othersLeft);
      }
      if (whole) recovered.insert(state);
      // A write of the new text over the old that failed part-way, then an end before the old
      // text was back: what no order of writes within one file can prevent (see the README).
      const bool torn = !whole && faults.size() == 2 && faults[1].kind == Fault::kEnd &&
                        done.rfind("WriteFile", 0) == 0 &&
                        (p.noNewFile || p.place == "read-only folder");
      if (!whole && !torn) {
        ADD_FAILURE() << p.name << ": " << done << " (" << waited << " ms waited); left\n" << bytes;
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
        const bool passes = passing.count(errors[v]),
                   stays = !passes && errors[v] != ERROR_ACCESS_DENIED;
        lost += !survives({{Fault::kFail, at, v}}, passes, stays, &traces[{at, v}]);
      }
      for (int v = 0; names && v < static_cast<int>(std::size(kHolders)); ++v) {
        ++tried[0];
        lost += !survives({{Fault::kHold, at, v}}, kHolders[v].forMs < 900, false);
      }
      // Where a temporary is there to be written over. Where it is the only copy, only the one who
      // put it there may touch it: a second Tovik moves it in as this one does.
      for (int v = 0; v < 2 && temporaryThere && !p.inTemporary; ++v) {
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
    // long history's a short one's.
    const bool repeated =
        p.attribute || (p.place == "link" && !p.inTemporary) || p.old == oldLong || p.old == oldBig;
    for (const auto& [first, after] : traces) {
      if (repeated || passing.count(trace[first.first - 1].errors[first.second])) continue;
      for (int then = first.first + 1; then <= static_cast<int>(after.size()); ++then) {
        for (const Fault second : {Fault{Fault::kFail, then}, Fault{Fault::kEnd, then}}) {
          ++tried[1];
          lost += !survives({{Fault::kFail, first.first, first.second}, second}, false, false);
        }
      }
    }
    Restore(place, old, false, false);
    SetFileAttributesA(place.path.c_str(), FILE_ATTRIBUTE_NORMAL);  // a read-only one stays
  }
  std::printf(
      "save failures%s: %d starting states (no file; the last save only in the temporary, beside "
      "no file or a link whose file is missing; texts without a final line end, ending in Ctrl+Z, "
      "in UTF-16, long; hidden, linked, read-only, refused by an access list, on a full disk, in a "
      "folder that takes no new file); %d single faults (each error Windows documents for each "
      "call, 3 holders, 2 second writers of the temporary, an end) and %d pairs (each error that "
      "stays, then a later call's first error or an end) tried, %d lost, none waited for where it "
      "stays, "
      "the longest wait of a start and a save %d ms; %d torn in-place rewrites (a write over the "
      "old text failed part-way, then the process ended)\n",
      UnderWine() && PlacesAsOnWindows() ? " in the places Windows makes" : "", walked, tried[0],
      tried[1], lost, longest, tornCount);
  EXPECT_EQ(lost, 0);
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
