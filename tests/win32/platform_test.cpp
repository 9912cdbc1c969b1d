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
#include <optional>
#include <random>

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
std::vector<std::string> ReadsOf(const std::string& path, SettingsStore* store = nullptr) {
  std::vector<std::string> reads;
  for (const char* section : kSections) {
    for (const char* key : kKeys) {
      reads.push_back(std::string(section) + "/" + key + "=" +
                      (store ? store->ReadSettingText(path, section, key, kDefault)
                             : ProfileRead(path, section, key)));
    }
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
  std::wstring wide(ansi.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_ACP, 0, ansi.data(), ansi.size(), wide.data(), wide.size()));
  if (kind == 2) {
    return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
  }
  std::string utf8(wide.size() * 3, '\0');
  utf8.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide.size(), utf8.data(), utf8.size(),
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

// The file calls as Windows answers them, each of which a walk can make fail in turn or end the
// process at. Windows refuses what Wine lets pass: writing over a hidden or system file with
// other attributes. A place's own rules stand beside: a folder that takes no new file, a file
// another program holds from the save on.
struct Walk {
  int calls = 0, at = 0;  // `at`: the call that fails or ends the process; 0 for none
  bool kill = false, killed = false;
  std::string failed;                   // the name of the call that failed
  std::string noNewFileIn, heldAtSave;  // a folder, ending in '\', and a file
  std::string link;                     // a symbolic link, which Windows marks as a reparse point
  int readsOfHeld = 0;
} walk;
struct Killed {};  // the process ended: nothing after the call runs, open handles close

// Counts a call; true when it is the one to fail, with `error`. Once the process has ended, no
// call may come, but the closing of its handles. A close may run in a destructor and must not
// throw: an end there takes effect at the next call.
bool Fails(const char* name, DWORD error, bool mayThrow = true) {
  if (walk.killed) throw Killed{};
  if (++walk.calls != walk.at) return false;
  walk.failed = name;
  if (walk.kill) {
    walk.killed = true;
    if (mayThrow) throw Killed{};
    return false;
  }
  SetLastError(error);
  return true;
}

HANDLE WINAPI CreateFileLikeWindows(LPCSTR name, DWORD access, DWORD share,
                                    LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                                    HANDLE templateFile) {
  if (Fails("CreateFileA", creation == CREATE_ALWAYS ? ERROR_DISK_FULL : ERROR_SHARING_VIOLATION))
    return INVALID_HANDLE_VALUE;
  const std::string path = name;
  const DWORD existing = GetFileAttributesA(name);
  const bool overwrites = creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING;
  const DWORD keptByWindows = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  DWORD refused = 0;
  if (overwrites && existing != INVALID_FILE_ATTRIBUTES && (existing & keptByWindows & ~flags)) {
    refused = ERROR_ACCESS_DENIED;
  } else if (existing == INVALID_FILE_ATTRIBUTES && creation != OPEN_EXISTING &&
             path.rfind(walk.noNewFileIn, 0) == 0 && !walk.noNewFileIn.empty()) {
    refused = ERROR_ACCESS_DENIED;
  } else if ((access & GENERIC_READ) && path == walk.heldAtSave && ++walk.readsOfHeld > 1) {
    refused = ERROR_SHARING_VIOLATION;
  }
  if (refused) {
    SetLastError(refused);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileA(name, access, share, security, creation, flags, templateFile);
}

// The system's call, or `kName` failing with `kError` where the walk is at it.
template <auto kCall, DWORD kError, const char* kName>
struct Faulty;
template <typename R, typename... A, R (WINAPI* win32::FileCalls::*kCall)(A...), DWORD kError,
          const char* kName>
struct Faulty<kCall, kError, kName> {
  static R WINAPI Call(A... args) {
    return Fails(kName, kError) ? R{} : (win32::SystemFileCalls().*kCall)(args...);
  }
};
constexpr char kRead[] = "ReadFile", kFlush[] = "FlushFileBuffers", kSeek[] = "SetFilePointerEx",
               kCut[] = "SetEndOfFile", kSetAttributes[] = "SetFileAttributesA",
               kMove[] = "MoveFileExA", kDelete[] = "DeleteFileA",
               kFinal[] = "GetFinalPathNameByHandleA";

// A full disk takes part of a write.
BOOL WINAPI WriteFileFaulty(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                            LPOVERLAPPED o) {
  if (!Fails("WriteFile", ERROR_DISK_FULL)) return WriteFile(file, data, size, written, o);
  WriteFile(file, data, size / 2, written, o);
  SetLastError(ERROR_DISK_FULL);
  return FALSE;
}

// The handle closes all the same; a late write error is what a close reports.
BOOL WINAPI CloseFaulty(HANDLE handle) {
  if (walk.killed) return CloseHandle(handle);
  const bool fails = Fails("CloseHandle", ERROR_NETNAME_DELETED, false);
  return CloseHandle(handle) && !fails;
}

DWORD WINAPI AttributesFaulty(LPCSTR name) {
  if (Fails("GetFileAttributesA", ERROR_ACCESS_DENIED)) return INVALID_FILE_ATTRIBUTES;
  const DWORD attributes = GetFileAttributesA(name);
  const bool link = attributes != INVALID_FILE_ATTRIBUTES && name == walk.link;
  return link ? attributes | FILE_ATTRIBUTE_REPARSE_POINT : attributes;
}

// A replace that cannot move the new text in may already have taken the old file away.
BOOL WINAPI ReplaceFaulty(LPCSTR replaced, LPCSTR replacement, LPCSTR backup, DWORD flags,
                          LPVOID exclude, LPVOID reserved) {
  if (!Fails("ReplaceFileA", ERROR_UNABLE_TO_MOVE_REPLACEMENT)) {
    return ReplaceFileA(replaced, replacement, backup, flags, exclude, reserved);
  }
  DeleteFileA(replaced);
  SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
  return FALSE;
}

using Calls = win32::FileCalls;
const Calls kCallsLikeWindows{
    CreateFileLikeWindows, Faulty<&Calls::ReadFile, ERROR_LOCK_VIOLATION, kRead>::Call,
    WriteFileFaulty, Faulty<&Calls::FlushFileBuffers, ERROR_IO_DEVICE, kFlush>::Call,
    Faulty<&Calls::SetFilePointerEx, ERROR_IO_DEVICE, kSeek>::Call,
    // Windows refuses to cut a file that another program has mapped.
    Faulty<&Calls::SetEndOfFile, ERROR_USER_MAPPED_FILE, kCut>::Call, CloseFaulty, AttributesFaulty,
    Faulty<&Calls::SetFileAttributesA, ERROR_ACCESS_DENIED, kSetAttributes>::Call, ReplaceFaulty,
    Faulty<&Calls::MoveFileExA, ERROR_SHARING_VIOLATION, kMove>::Call,
    Faulty<&Calls::DeleteFileA, ERROR_SHARING_VIOLATION, kDelete>::Call,
    Faulty<&Calls::GetFinalPathNameByHandleA, ERROR_PATH_NOT_FOUND, kFinal>::Call};

constexpr char kStaleText[] = "left by a killed save";
constexpr char kOld[] =
    "[Main]\r\nTop=1\r\nCount=1\r\n[MRU]\r\nMRU0=old\r\n[Other]\r\nkeep=1\r\n; a comment\r\n";

// Where a settings file can be: its path (for a link, also the file it names), an attribute, or
// why this side cannot make the place. Under Wine root ignores permission bits and Wine then the
// read-only attribute, so the test run makes read-only places with bind mounts, full disks with
// small memory file systems, and the link (tests/tools/places.sh). On Windows the test makes them:
// the read-only attribute, a folder whose access control lets nobody add a file (the file in it
// keeps what it inherited), and a link.
struct Place {
  std::string path, target = {};
  DWORD attribute = 0;
  std::string skipped = {};
  std::string File() const { return target.empty() ? path : target; }
};

Place PreparedOnWine(const std::string& name) {
  const char* variable = name == "link"               ? "TOVIK_LINKED_FILE"
                         : name == "read-only file"   ? "TOVIK_READONLY_FILE"
                         : name == "read-only folder" ? "TOVIK_READONLY_FOLDER_FILE"
                         : name == "full disk"        ? "TOVIK_FULL_DISK_FILE"
                                                      : "TOVIK_FULL_DISK_NO_NEW_FILE";
  const char* path = getenv(variable);
  const char* target = name == "link" ? getenv("TOVIK_LINK_TARGET") : "";
  if (!path || !target) return {"", "", 0, "the test run could not mount it here"};
  return {path, target};
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
    return {file};
  }
  const std::string target = place + "\\real.ini";
  WriteBytes(target, "");
  DeleteFileA(file.c_str());
  if (CreateSymbolicLinkA(file.c_str(), target.c_str(),
                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
    return {file, target};
  return {"", "", 0, "this account may not make symbolic links"};
}

Place PlaceNamed(const std::string& name, const std::string& folder) {
  return UnderWine() ? PreparedOnWine(name) : MadeOnWindows(name, folder);
}

// Puts the place back as it was before a save, whatever the last one left: the old text (or no
// file), its attribute, and the temporary a killed save left, if any.
void Restore(const Place& place, const std::optional<std::string>& old,
             const char* staleTemporary) {
  const std::string temporary = win32::Win32SettingsFiles::TemporaryPathFor(place.File());
  for (const std::string& path : {place.path, temporary}) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  DeleteFileA(temporary.c_str());
  if (place.target.empty()) DeleteFileA(place.path.c_str());
  if (old) WriteBytes(place.File(), *old);
  if (old && place.attribute) SetFileAttributesA(place.path.c_str(), place.attribute);
  if (staleTemporary) {
    WriteBytes(temporary, kStaleText);
    SetFileAttributesA(temporary.c_str(), FILE_ATTRIBUTE_HIDDEN);
  }
}

class SaveFailuresTest : public ::testing::Test {
 protected:
  void TearDown() override { walk = Walk{}; }
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

  // Every key a run writes and a line of the user's, as a start reads them.
  std::vector<std::string> ReadsAtStart(const std::string& path) {
    BufferedSettingsStore store(files, codec);
    return ReadsOf(path, &store);
  }

  std::string folder = ProgramFolder();
  win32::Win32SettingsFiles files{kCallsLikeWindows};
  win32::Win32AnsiCodec codec;
};

// Every file call of a start and a save, on every path a save can take, fails in turn with the
// error Windows gives there; then the process is ended at each call in turn instead. The file is
// always its old text or the whole new one, a start reads it so, no temporary stays that the save
// could remove, and after an end the next save goes through.
TEST_F(SaveFailuresTest, NoFailingCallAndNoEndBetweenCallsLosesTheFile) {
  struct Path {
    const char* name;
    std::optional<std::string> old;  // nullopt: no file yet
    std::string place;               // a place made outside, or the test's folder
    DWORD attribute;
    const char* staleTemporary;  // a hidden one a killed save left
    bool noNewFile, heldAtSave;
    std::string entry;  // the run's history entry: the text grows, or shrinks
    bool takesText;     // whether the place takes a new text at all
  };
  const std::string shorter = "C:\\a.exe", longer(300, 'o'), pages(5000, 'p');
  // A long history, about 500 KB, read in many pieces; a long value that the save writes short.
  std::string oldBig = "[Main]\r\nCount=10000\r\n[MRU]\r\n";
  for (int i = 0; i < 10000; ++i) oldBig += HistoryKey(i) + "=\"C:\\Program Files\\App\" -x\r\n";
  const std::string oldLong =
      "[Main]\r\nLeft=" + std::string(300, '0') + "5\r\n" + std::string(kOld).substr(8);
  // clang-format off
  const Path paths[] = {
      {"new file", std::nullopt, "", 0, nullptr, false, false, shorter, true},
      {"existing file", kOld, "", 0, "stale", false, false, shorter, true},
      {"hidden file", kOld, "", FILE_ATTRIBUTE_HIDDEN, nullptr, false, false, shorter, true},
      {"linked file", kOld, "link", 0, nullptr, false, false, shorter, true},
      {"no new file, text grows", kOld, "", 0, nullptr, true, false, longer, true},
      {"no new file, text shrinks", oldLong, "", 0, nullptr, true, false, shorter, true},
      {"held at the save", kOld, "", 0, nullptr, false, true, shorter, true},
      {"a long history", oldBig, "", 0, nullptr, false, false, shorter, true},
      // The places only the platform makes; a growing text needs more than the full disks' page.
      {"read-only folder", kOld, "read-only folder", 0, nullptr, false, false, pages, true},
      {"read-only file", kOld, "read-only file", 0, nullptr, false, false, shorter, false},
      {"full disk", kOld, "full disk", 0, nullptr, false, false, pages, false},
      {"full disk, no new file", kOld, "full disk, no new file", 0, nullptr, false, false, pages,
       false},
  };
  // clang-format on
  int walked = 0, tried[2] = {}, lost[2] = {};  // by failing calls, by ends
  for (const Path& p : paths) {
    Place place =
        p.place.empty() ? Place{folder + "walk.ini", "", p.attribute} : PlaceNamed(p.place, folder);
    if (!place.skipped.empty()) {
      std::printf("save failures: %s not walked: %s\n", p.name, place.skipped.c_str());
      continue;
    }
    struct CleanUp {  // whatever the checks find: a place left read-only breaks the next run
      const Place& place;
      ~CleanUp() { SetFileAttributesA(place.path.c_str(), FILE_ATTRIBUTE_NORMAL); }
    } cleanUp{place};
    const std::string file = place.File();
    const std::string temporary = win32::Win32SettingsFiles::TemporaryPathFor(file);
    const auto arm = [&](int at, bool kill, bool held) {  // held: another program holds it
      walk = Walk{};
      walk.at = at;
      walk.kill = kill;
      if (p.noNewFile) walk.noNewFileIn = file.substr(0, file.find_last_of('\\') + 1);
      if (held) walk.heldAtSave = file;
      if (!place.target.empty()) walk.link = place.path;
    };
    // The whole save once, without a fault: the new text, and how many calls it takes. A place
    // the test may not write keeps what it holds.
    Restore(place, p.old, p.staleTemporary);
    const std::optional<std::string> old =
        FileExists(file) ? std::optional(ReadBytes(file)) : std::nullopt;
    const std::vector<std::string> oldReads = ReadsAtStart(place.path);
    const int oldCount = atoi(ProfileRead(place.path, "Main", "Count").c_str());
    const std::string last = HistoryKey(std::max(oldCount - 1, 0)), shifted = HistoryKey(oldCount);
    const std::string oldLast = ProfileRead(place.path, "MRU", last.c_str());
    arm(0, false, p.heldAtSave);
    Run(place.path, p.entry);
    const int calls = walk.calls;
    arm(0, false, false);
    const std::string saved = ReadBytes(file);
    const std::vector<std::string> newReads = ReadsAtStart(place.path);
    const bool launched = std::count(newReads.begin(), newReads.end(), "MRU/MRU0=" + p.entry);
    ASSERT_EQ(launched, p.takesText) << p.name;
    ASSERT_EQ(std::count(newReads.begin(), newReads.end(), "Other/keep=1"),
              std::count(oldReads.begin(), oldReads.end(), "Other/keep=1"));  // the user's line
    // As the platform reads it, the whole history moved down by the launch: none was left unread.
    ASSERT_EQ(atoi(ProfileRead(place.path, "Main", "Count").c_str()), oldCount + p.takesText);
    if (oldCount) {
      ASSERT_EQ(ProfileRead(place.path, "MRU", (p.takesText ? shifted : last).c_str()), oldLast);
    }
    EXPECT_FALSE(FileExists(temporary)) << p.name;
    if (p.attribute) {
      EXPECT_TRUE(GetFileAttributesA(place.path.c_str()) & p.attribute) << p.name;
    }
    ++walked;
    for (const bool kill : {false, true}) {
      for (int at = 1; at <= calls; ++at) {
        Restore(place, old, p.staleTemporary);
        arm(at, kill, p.heldAtSave);
        try {
          Run(place.path, p.entry);
        } catch (const Killed&) {
        }
        const std::string failed = walk.failed;
        arm(0, false, false);
        const std::string bytes = FileExists(file) ? ReadBytes(file) : "";
        const std::vector<std::string> reads = ReadsAtStart(place.path);
        bool whole = reads == oldReads || reads == newReads;
        if (!kill) {
          // A temporary stays only where the save could not delete it, or could not see it.
          const bool stale = p.staleTemporary && ReadBytes(temporary) == kStaleText;
          // Blanks the reader skips may follow the old text where its room could not be cut.
          const std::string text = bytes.substr(0, bytes.find_last_not_of(' ') + 1);
          whole = whole && (text == old.value_or("") || bytes == saved) &&
                  (failed == "DeleteFileA" || stale || !FileExists(temporary));
        } else {
          Run(place.path, p.entry);  // the next save, without a fault
          whole = whole && ReadsAtStart(place.path) == newReads && !FileExists(temporary);
        }
        ++tried[kill];
        if (!whole) {
          ++lost[kill];
          ADD_FAILURE() << p.name << ": " << (kill ? "ended at " : "failing ") << failed
                        << " (call " << at << " of " << calls << ") left\n"
                        << bytes;
        }
      }
    }
    Restore(place, old, nullptr);
  }
  std::printf("save failures: %d paths, %d failing calls tried, %d lost\n", walked, tried[0],
              lost[0]);
  std::printf("save ends: %d paths, an end at each of %d calls, %d lost\n", walked, tried[1],
              lost[1]);
  EXPECT_EQ(lost[0] + lost[1], 0);
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
