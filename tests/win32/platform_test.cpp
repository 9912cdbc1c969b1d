// The Win32 side of the platform interfaces, for real: the settings store against the platform's
// own profile functions, saves that are killed or meet read-only places, environment expansion.
#include "win32/platform.h"

#include <windows.h>
// windows.h first: the security header needs its types.
#include <sddl.h>

#include <algorithm>
#include <cctype>
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
  EXPECT_EQ(ProfileRead(path, "MRU", "MRU9999"), history.entries.back());
  BufferedSettingsStore loading(files, codec);
  EXPECT_EQ(loading.ReadSettingText(path, "MRU", "MRU9999", ""), history.entries.back());
}

constexpr char kOld[] =
    "[Main]\r\nTop=1\r\nLeft=1\r\n; a long comment that makes the old text longer\r\n";
constexpr char kNew[] =
    "[Main]\r\nTop=2\r\nLeft=2\r\n; a long comment that makes the old text longer\r\n";

// Where a settings file can be: its path (for a link, also the file it names), an attribute, or
// why this side cannot make the place. Under Wine root ignores permission bits and Wine then the
// read-only attribute, so the test run makes read-only places with bind mounts, and the link
// (tests/tools/places.sh). On Windows the test makes them: the read-only attribute, a folder whose
// access control lets nobody add a file (the file in it keeps what it inherited), and a link.
struct Place {
  std::string path, target;
  DWORD attribute = 0;
  std::string skipped;
};

Place PreparedOnWine(const std::string& name) {
  const char* path = getenv(name == "link"             ? "TOVIK_LINKED_FILE"
                            : name == "read-only file" ? "TOVIK_READONLY_FILE"
                                                       : "TOVIK_READONLY_FOLDER_FILE");
  const char* target = name == "link" ? getenv("TOVIK_LINK_TARGET") : "";
  if (!path || !target) return {"", "", 0, "the test run could not mount it here"};
  return {path, target};
}

Place MadeOnWindows(const std::string& name, const std::string& folder) {
  const std::string place = folder + "place-" + name, file = place + "\\tovik.ini";
  CreateDirectoryA(place.c_str(), nullptr);
  if (name == "read-only file") return {file, "", FILE_ATTRIBUTE_READONLY};
  if (name == "read-only folder") {
    WriteBytes(file, "");
    PSECURITY_DESCRIPTOR denyAdding = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(D;;0x2;;;WD)(A;OICI;FA;;;WD)",
                                                         SDDL_REVISION_1, &denyAdding, nullptr);
    SetFileSecurityA(place.c_str(), DACL_SECURITY_INFORMATION, denyAdding);
    LocalFree(denyAdding);
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

struct SaveCase {
  const char* name;
  bool takesText, inPlace;  // a save gives the file the new text; only by rewriting it in place
};

class SaveTest : public SettingsFilesTest, public ::testing::WithParamInterface<SaveCase> {
 protected:
  Place ThePlace() {
    const std::string name = GetParam().name;
    if (name == "plain") return {folder + "tovik.ini"};
    if (name == "hidden") return {folder + "hidden.ini", "", FILE_ATTRIBUTE_HIDDEN};
    const bool underWine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version");
    return underWine ? PreparedOnWine(name) : MadeOnWindows(name, folder);
  }
};

// Wherever the file is, a save leaves the new text (or the old where the file takes none), keeps
// what the file is (hidden, a link) and leaves no temporary file, replacing one a killed save
// left. A kill at a pause leaves the old text, or inside a rewrite the new text whole first.
TEST_P(SaveTest, LosesNothingWhereverTheFileIs) {
  const Place c = ThePlace();
  const auto [name, takesText, inPlace] = GetParam();
  if (!c.skipped.empty()) GTEST_SKIP() << name << ": " << c.skipped;
  const std::string file = c.target.empty() ? c.path : c.target;
  const std::string temporary = win32::Win32SettingsFiles::TemporaryPathFor(file);
  WriteBytes(c.path, kOld);                        // not into a read-only file
  WriteBytes(temporary, "left by a killed save");  // nor into a read-only folder
  if (c.attribute) SetFileAttributesA(c.path.c_str(), c.attribute);
  const std::string before = ReadBytes(c.path);
  std::vector<std::string> atPauses;  // every step before a pause is done by the system
  files.pauseForTest = [&](Stage) { atPauses.push_back(ReadBytes(c.path)); };
  files.ReplaceWhole(c.path, kNew);
  files.pauseForTest = nullptr;
  ASSERT_FALSE(atPauses.empty());
  for (const std::string& seen : atPauses) {
    EXPECT_EQ(inPlace ? seen.substr(0, strlen(kNew)) : seen, inPlace ? kNew : before);
  }
  EXPECT_EQ(ReadBytes(file), takesText ? kNew : before);
  EXPECT_FALSE(FileExists(temporary));
  if (c.attribute) {
    EXPECT_TRUE(GetFileAttributesA(c.path.c_str()) & c.attribute);
  }
  SetFileAttributesA(c.path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

INSTANTIATE_TEST_SUITE_P(Places, SaveTest,
                         ::testing::Values(SaveCase{"plain", true, false},
                                           SaveCase{"hidden", true, false},
                                           SaveCase{"read-only folder", true, true},
                                           SaveCase{"read-only file", false, false},
                                           SaveCase{"link", true, false}),
                         [](const auto& info) {  // test names take no spaces or dashes
                           std::string name = info.param.name;
                           for (char& c : name)
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

TEST(Win32Environment, ExpandsWholeAndLeavesAnUnsetReference) {
  const std::string longValue(1000, 'e');
  SetEnvironmentVariableA("TOVIK_LONG", longValue.c_str());
  win32::Win32Environment environment;
  EXPECT_EQ(ExpandCommand("%TOVIK_LONG%\\x", environment), longValue + "\\x");
  EXPECT_EQ(ExpandCommand("%TOVIK_UNSET_VARIABLE%", environment), "%TOVIK_UNSET_VARIABLE%");
}

}  // namespace
}  // namespace tovik
