// The Win32 side of the platform interfaces, for real: the settings store against the platform's
// own profile functions, saves that are killed or meet read-only places, environment expansion
// and the shell.
#include "win32/platform.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

#include "core/launch_history.h"
#include "tests/core/fakes.h"
#include "win32/settings_files.h"

namespace tovik {
namespace {

using namespace tovik::testing;
using Stage = win32::Win32SettingsFiles::Stage;

// The folder of the running test program; the recorder is built beside it, scratch files go in it.
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

constexpr char kDefault[] =
    "\x01"
    "default";

std::string ProfileRead(const std::string& path, const char* section, const char* key) {
  static char buffer[1 << 16];
  const DWORD length =
      GetPrivateProfileStringA(section, key, kDefault, buffer, sizeof buffer, path.c_str());
  return std::string(buffer, length);
}

const char* const kSections[] = {"Main", "MRU", "Other", "MRU] x", "Other]", "Absent"};
const char* const kKeys[] = {"Top",  "Left", "DoClose", "DoMinimize", "Count", "MRU0",
                             "MRU1", "MRU2", "MRU7",    "#hash",      "Extra"};

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
    const std::string original = Encoded(generator.File(), seed % 3);
    for (const std::string& path : {ours, oracle}) {
      DeleteFileA(path.c_str());
      if (!fromNothing) WriteBytes(path, original);
    }
    BufferedSettingsStore store(files, codec);
    ASSERT_EQ(ReadsOf(ours, &store), ReadsOf(ours)) << "seed " << seed << "\n" << original;
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
    ASSERT_EQ(ReadsOf(ours), ReadsOf(oracle)) << "seed " << seed << "\n" << original;
    for (int i = 0; i < count; ++i) {  // every history entry reads back as it was, line breaks
      std::string entry = writes[5 + i].second;  // made spaces
      std::replace(entry.begin(), entry.end(), '\r', ' ');
      std::replace(entry.begin(), entry.end(), '\n', ' ');
      ASSERT_EQ(ProfileRead(ours, "MRU", HistoryKey(i).c_str()), entry) << "seed " << seed;
    }
    if (fromNothing) ASSERT_EQ(ReadBytes(ours), ReadBytes(oracle)) << "seed " << seed;
    EXPECT_FALSE(FileExists(win32::Win32SettingsFiles::TemporaryPathFor(ours)));
  }
}

// About 500 KB: the file is read in many pieces and written whole.
TEST_F(SettingsFilesTest, TenThousandEntriesSaveAndLoadWhole) {
  const std::string path = folder + "big.ini";
  DeleteFileA(path.c_str());
  FakeHistory history;
  for (int i = 0; i < 10000; ++i) {
    history.entries.push_back("\"C:\\Program Files\\App " + std::to_string(i) + "\\app.exe\" -x");
  }
  BufferedSettingsStore saving(files, codec);
  SaveHistory(saving, path, history);
  saving.CommitSettings(path);
  EXPECT_GT(ReadBytes(path).size(), 400000u);
  EXPECT_EQ(ProfileRead(path, "MRU", "MRU9999"), history.entries.back());
  BufferedSettingsStore loading(files, codec);
  FakeHistory loaded;
  LoadHistory(loading, path, loaded);
  EXPECT_EQ(loaded.entries, history.entries);
}

constexpr char kOld[] =
    "[Main]\r\nTop=1\r\nLeft=1\r\n; a long comment that makes the old text longer\r\n";
constexpr char kNew[] =
    "[Main]\r\nTop=2\r\nLeft=2\r\n; a long comment that makes the old text longer\r\n";

// The file as a save killed at `stage` leaves it: every step before is done by the system, so
// the bytes on disk at that moment are what a kill there would leave.
std::string FileAtStage(win32::Win32SettingsFiles& files, const std::string& path, Stage stage) {
  std::string seen;
  files.pauseForTest = [&](Stage reached) {
    if (reached == stage) seen = ReadBytes(path);
  };
  files.ReplaceWhole(path, kNew);
  files.pauseForTest = nullptr;
  return seen;
}

TEST_F(SettingsFilesTest, ASaveKilledBeforeTheReplaceLeavesTheOldFileAndALeftTemporaryIsReplaced) {
  const std::string path = folder + "tovik.ini";
  WriteBytes(path, kOld);
  EXPECT_EQ(FileAtStage(files, path, Stage::kTemporaryWritten), kOld);
  WriteBytes(win32::Win32SettingsFiles::TemporaryPathFor(path), "left by a killed save");
  files.ReplaceWhole(path, kNew);
  EXPECT_EQ(ReadBytes(path), kNew);
  EXPECT_FALSE(FileExists(win32::Win32SettingsFiles::TemporaryPathFor(path)));
}

// Root ignores permission bits and Wine then the read-only attribute, so the test run makes
// read-only places with bind mounts (tests/tools/readonly-folder.sh).
std::string PreparedPlace(const char* variable) {
  const char* place = getenv(variable);
  return place ? place : "";
}

TEST_F(SettingsFilesTest, AFileThatCannotBeWrittenLosesNothing) {
  const std::string path = PreparedPlace("TOVIK_READONLY_FILE");
  if (path.empty()) GTEST_SKIP() << "no read-only file was prepared";
  const std::string before = ReadBytes(path);
  ASSERT_EQ(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  files.ReplaceWhole(path, kNew);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_FALSE(FileExists(win32::Win32SettingsFiles::TemporaryPathFor(path)));
}

TEST_F(SettingsFilesTest, AWritableFileInAReadOnlyFolderIsRewrittenInPlace) {
  const std::string path = PreparedPlace("TOVIK_READONLY_FOLDER_FILE");
  if (path.empty()) GTEST_SKIP() << "no read-only folder was prepared";
  WriteBytes(path, kOld);
  files.ReplaceWhole(path, kNew);
  EXPECT_EQ(ReadBytes(path), kNew);
  EXPECT_FALSE(FileExists(win32::Win32SettingsFiles::TemporaryPathFor(path)));
  WriteBytes(path, kOld);
  // Killed inside the rewrite: the new text is whole, only the old tail may follow it.
  EXPECT_EQ(FileAtStage(files, path, Stage::kRewrittenBeforeCut).substr(0, strlen(kNew)), kNew);
}

// A save replaces the file's text, not the file: its attributes stay, and a link stays a link
// whose target takes the new text (the test run checks the link itself afterwards).
TEST_F(SettingsFilesTest, ASaveKeepsTheFileHiddenAndALinkALink) {
  const std::string hidden = folder + "hidden.ini";
  WriteBytes(hidden, kOld);
  SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
  files.ReplaceWhole(hidden, kNew);
  EXPECT_EQ(ReadBytes(hidden), kNew);
  EXPECT_TRUE(GetFileAttributesA(hidden.c_str()) & FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_NORMAL);
  const std::string link = PreparedPlace("TOVIK_LINKED_FILE");
  if (link.empty()) GTEST_SKIP() << "no linked file was prepared";
  files.ReplaceWhole(link, kNew);
  EXPECT_EQ(ReadBytes(PreparedPlace("TOVIK_LINK_TARGET")), kNew);
  EXPECT_EQ(ReadBytes(link), kNew);
  EXPECT_FALSE(FileExists(win32::Win32SettingsFiles::TemporaryPathFor(link)));
}

TEST(Win32Environment, ExpandsWholeAndReportsSpacesForQuoting) {
  SetEnvironmentVariableA("TOVIK_SPACED", "C:\\Program Files");
  const std::string longValue(1000, 'e');
  SetEnvironmentVariableA("TOVIK_LONG", longValue.c_str());
  win32::Win32Environment environment;
  EXPECT_EQ(ExpandCommand("%TOVIK_SPACED%\\app.exe", environment),
            "\"C:\\Program Files\\app.exe\"");
  EXPECT_EQ(ExpandCommand("%TOVIK_LONG%\\x", environment), longValue + "\\x");
  EXPECT_EQ(ExpandCommand("%TOVIK_UNSET_VARIABLE%", environment), "%TOVIK_UNSET_VARIABLE%");
}

// The recorder logs how it was asked to show itself and the command line it received.
TEST(Win32Shell, OpensTheProgramWithTheRemainderAsParametersShownNormally) {
  const std::string recorder = ProgramFolder() + "recorder.exe";
  const std::string log = ProgramFolder() + "recorder.log";
  DeleteFileA(log.c_str());
  win32::Win32Shell shell;
  const SplitResult split = SplitCommand("\"" + recorder + "\" hello  world");
  EXPECT_GT(shell.ShellOpen(split.token, split.remainder), 32);
  for (int i = 0; i < 200 && ReadBytes(log).empty(); ++i) Sleep(25);
  EXPECT_EQ(ReadBytes(log), "1 \"" + recorder + "\"  hello  world\n");
  EXPECT_LE(shell.ShellOpen(ProgramFolder() + "no-such-program.exe", ""), 32);
}

}  // namespace
}  // namespace tovik
