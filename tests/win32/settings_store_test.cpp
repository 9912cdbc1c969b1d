// The buffered settings store against the platform's own profile functions as the oracle.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <random>
#include <set>

#include "core/launch_history.h"
#include "tests/core/fakes.h"
#include "tests/win32/test_support.h"
#include "win32/settings_files.h"

namespace tovik {
namespace {

using namespace tovik::testing;

constexpr char kDefault[] = "\x01default";

std::string ProfileRead(const std::string& path, const char* section, const char* key) {
  std::vector<char> buffer(1 << 20);
  const DWORD length = GetPrivateProfileStringA(section, key, kDefault, buffer.data(),
                                                static_cast<DWORD>(buffer.size()), path.c_str());
  return std::string(buffer.data(), length);
}

std::vector<std::string> SplitNulList(const std::string& list) {
  std::vector<std::string> items;
  for (size_t at = 0; at < list.size() && list[at];) {
    const size_t end = list.find('\0', at);
    items.push_back(list.substr(at, end - at));
    at = end + 1;
  }
  return items;
}

// Every section, with every key and value in order, as the profile reader sees the file.
std::vector<std::string> ProfileView(const std::string& path) {
  std::vector<std::string> view;
  std::vector<char> buffer(1 << 20);
  DWORD length = GetPrivateProfileSectionNamesA(buffer.data(), buffer.size(), path.c_str());
  for (const std::string& section : SplitNulList(std::string(buffer.data(), length + 1))) {
    length = GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer.data(), buffer.size(),
                                      path.c_str());
    for (const std::string& key : SplitNulList(std::string(buffer.data(), length + 1))) {
      view.push_back("[" + section + "] " + key + "=" +
                     ProfileRead(path, section.c_str(), key.c_str()));
    }
  }
  return view;
}

// Files of the shapes people and other programs leave behind.
class FileGenerator {
 public:
  explicit FileGenerator(unsigned seed) : random_(seed) {}

  std::string File() {
    const char* eol = Pick(2) ? "\r\n" : "\n";
    std::string text;
    const int sections = 1 + Pick(4);
    for (int s = 0; s < sections; ++s) {
      if (Pick(4) == 0) text += std::string("; comment ") + std::to_string(s) + eol;
      if (Pick(5) == 0) text += eol;
      text += Spaces() + "[" + Section() + "]" + Spaces() + eol;
      const int keys = Pick(7);
      for (int k = 0; k < keys; ++k) {
        const int shape = Pick(10);
        if (shape == 0)
          text += Key() + eol;  // a key without '='
        else if (shape == 1)
          text += std::string(";") + Key() + "=c" + eol;
        else
          text += Spaces() + Key() + Spaces() + "=" + Spaces() + Value() + Spaces() + eol;
      }
    }
    return Pick(6) == 0 ? text.substr(0, text.size() - strlen(eol)) : text;
  }

  std::string Value() {
    static const char* const kValues[] = {"1",       "-20", "$10",          "",
                                          "\"a b\"", "'q'", "\"open",       "close'",
                                          "calc",    "x=y", "C:\\My Files", "caf\xE9"};
    if (Pick(12) == 0) return std::string(3000 + Pick(3000), 'L');
    return kValues[Pick(std::size(kValues))];
  }
  std::string Section() {
    static const char* const kSections[] = {"Main", "MRU", "main", "mru", "Other", "Main"};
    return kSections[Pick(std::size(kSections))];
  }
  std::string Key() {
    static const char* const kKeys[] = {"Top",  "Left", "DoClose", "count", "Count", "MRU0",
                                        "MRU1", "mru2", "MRU7",    "#hash", "Extra", "DOMINIMIZE"};
    return kKeys[Pick(std::size(kKeys))];
  }
  size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }

 private:
  std::string Spaces() {
    return Pick(4) == 0 ? std::string(1 + Pick(2), Pick(2) ? ' ' : '\t') : "";
  }
  std::mt19937 random_;
};

std::string WithByteOrderMark(const std::string& ansi, int kind) {
  if (kind == 0) return ansi;
  std::wstring wide(ansi.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_ACP, 0, ansi.data(), ansi.size(), wide.data(), wide.size()));
  if (kind == 1) {
    std::string utf8(wide.size() * 3, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide.size(), utf8.data(), utf8.size(),
                                    nullptr, nullptr));
    return "\xEF\xBB\xBF" + utf8;
  }
  return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
}

struct Write {
  const char* section;
  std::string key;
  std::string value;
};

// What a save writes: the five main keys, then the history.
std::vector<Write> SaveWrites(FileGenerator& generator) {
  std::vector<Write> writes = {{"Main", "Top", "40"},
                               {"Main", "Left", "-30"},
                               {"Main", "DoClose", "1"},
                               {"Main", "DoMinimize", "0"}};
  const size_t count = generator.Pick(5);
  writes.push_back({"Main", "Count", std::to_string(count)});
  for (size_t i = 0; i < count; ++i) {
    writes.push_back({"MRU", HistoryKey(i), EncodeHistoryValue(generator.Value())});
  }
  return writes;
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  std::string folder = ScratchFolder("store");
  win32::Win32SettingsFiles files;
  win32::Win32AnsiCodec codec;
};

TEST_F(SettingsStoreTest, ReadsWhatTheProfileReaderReadsForGeneratedFiles) {
  for (unsigned seed = 0; seed < 150; ++seed) {
    FileGenerator generator(seed);
    const std::string path = folder + "read.ini";
    WriteBytes(path, WithByteOrderMark(generator.File(), seed % 3));
    BufferedSettingsStore store(files, codec);
    for (const char* section : {"Main", "MRU", "Other", "Absent"}) {
      for (const char* key : {"Top", "Left", "DoClose", "DoMinimize", "Count", "MRU0", "MRU1",
                              "MRU2", "MRU7", "#hash", "Extra"}) {
        ASSERT_EQ(store.ReadSettingText(path, section, key, kDefault),
                  ProfileRead(path, section, key))
            << "seed " << seed << " " << section << "/" << key << "\n"
            << ReadBytes(path);
      }
    }
  }
}

TEST_F(SettingsStoreTest, SavesLikePerKeyWritesForGeneratedFiles) {
  for (unsigned seed = 0; seed < 150; ++seed) {
    FileGenerator generator(seed);
    const std::string original = WithByteOrderMark(generator.File(), seed % 3);
    const std::vector<Write> writes = SaveWrites(generator);
    const std::string ours = folder + "ours.ini", oracle = folder + "oracle.ini";
    WriteBytes(ours, original);
    WriteBytes(oracle, original);
    BufferedSettingsStore store(files, codec);
    for (const Write& w : writes) {
      store.WriteSettingText(ours, w.section, w.key, w.value);
      WritePrivateProfileStringA(w.section, w.key.c_str(), w.value.c_str(), oracle.c_str());
    }
    store.CommitSettings(ours);
    ASSERT_EQ(ProfileView(ours), ProfileView(oracle)) << "seed " << seed << "\n" << original;
    EXPECT_FALSE(FileExists(win32::Win32SettingsFiles::TemporaryPathFor(ours)));
  }
}

TEST_F(SettingsStoreTest, FileCreatedFromNothingIsByteForByteThePlatformsOwn) {
  for (unsigned seed = 0; seed < 20; ++seed) {
    FileGenerator generator(seed);
    const std::string ours = folder + "new-ours.ini", oracle = folder + "new-oracle.ini";
    DeleteFileA(ours.c_str());
    DeleteFileA(oracle.c_str());
    BufferedSettingsStore store(files, codec);
    for (const Write& w : SaveWrites(generator)) {
      store.WriteSettingText(ours, w.section, w.key, w.value);
      WritePrivateProfileStringA(w.section, w.key.c_str(), w.value.c_str(), oracle.c_str());
    }
    store.CommitSettings(ours);
    ASSERT_EQ(ReadBytes(ours), ReadBytes(oracle)) << "seed " << seed;
  }
}

TEST_F(SettingsStoreTest, LinesTheSaveDoesNotWriteKeepTheirBytes) {
  const std::string path = folder + "keep.ini";
  const std::string original =
      ";  my notes  \r\n\r\n[Other]\r\n  odd   =  spacing  \r\n[Main]\r\ntop = 9\r\nExtra=1\r\n\r\n"
      "; after the keys\r\n[MRU]\r\nMRU5=beyond\r\n";
  WriteBytes(path, original);
  BufferedSettingsStore store(files, codec);
  store.WriteSettingText(path, "Main", "Top", "40");
  store.WriteSettingText(path, "Main", "Count", "1");
  store.WriteSettingText(path, "MRU", "MRU0", "calc");
  store.CommitSettings(path);
  EXPECT_EQ(
      ReadBytes(path),
      ";  my notes  \r\n\r\n[Other]\r\n  odd   =  spacing  \r\n[Main]\r\ntop=40\r\nExtra=1\r\n"
      "Count=1\r\n\r\n; after the keys\r\n[MRU]\r\nMRU5=beyond\r\nMRU0=calc\r\n");
}

TEST_F(SettingsStoreTest, MissingFileReadsDefaultsAndIsNotCreated) {
  const std::string path = folder + "missing.ini";
  BufferedSettingsStore store(files, codec);
  EXPECT_EQ(store.ReadSettingText(path, "Main", "Top", "100"), "100");
  EXPECT_FALSE(FileExists(path));
}

// Saved by the store, read back by the platform's own reader and by the store at the next start.
TEST_F(SettingsStoreTest, HistoryValuesComeBackExactlyAndLineBreaksCorruptNothing) {
  const std::string path = folder + "history.ini";
  WriteBytes(path, "[Main]\r\nCount=9\r\n[MRU]\r\nMRU7=old\r\nMRU8=older\r\n");
  testing::FakeHistory history;
  history.entries = {"\"C:\\My Files\\a.txt\"",
                     "'single'",
                     "\"open",
                     "close\"",
                     " lead",
                     "trail ",
                     "eof\x1A",
                     "\x0Bvt",
                     "\ttab",
                     "it's",
                     "a \"b\" c",
                     "%PATH% x",
                     std::string(3000, 'L'),
                     "first\r\nMRU1=forged"};
  BufferedSettingsStore saving(files, codec);
  SaveHistory(saving, path, history);
  saving.CommitSettings(path);
  std::vector<std::string> expected = history.entries;
  expected.back() = "first  MRU1=forged";
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(ProfileRead(path, "MRU", HistoryKey(i).c_str()), expected[i]) << i;
  }
  EXPECT_EQ(ProfileRead(path, "MRU", "MRU14"), kDefault) << "no line was split";
  BufferedSettingsStore loading(files, codec);
  testing::FakeHistory loaded;
  LoadHistory(loading, path, loaded);
  EXPECT_EQ(loaded.entries, expected);
}

TEST_F(SettingsStoreTest, ShorterHistoryLeavesOldKeysThatTheNextLoadIgnores) {
  const std::string path = folder + "shorter.ini";
  WriteBytes(path,
             "[Main]\r\nCount=5\r\n[MRU]\r\nMRU0=a\r\nMRU1=b\r\nMRU2=c\r\nMRU3=d\r\nMRU4=e\r\n");
  testing::FakeHistory history;
  history.entries = {"x", "y"};
  BufferedSettingsStore saving(files, codec);
  SaveHistory(saving, path, history);
  saving.CommitSettings(path);
  EXPECT_EQ(ProfileRead(path, "Main", "Count"), "2");
  EXPECT_EQ(ProfileRead(path, "MRU", "MRU4"), "e");
  BufferedSettingsStore loading(files, codec);
  testing::FakeHistory loaded;
  LoadHistory(loading, path, loaded);
  EXPECT_EQ(loaded.entries, (std::vector<std::string>{"x", "y"}));
}

TEST_F(SettingsStoreTest, TenMegabytesOfBinaryBytesAndNulsAreReadWithoutCrash) {
  const std::string path = folder + "big.ini";
  std::string bytes = "[Main]\r\nTop=5\r\n";
  std::mt19937 random(7);
  while (bytes.size() < 10u << 20) bytes += static_cast<char>(random() % 256);
  WriteBytes(path, bytes);
  BufferedSettingsStore store(files, codec);
  EXPECT_EQ(store.ReadSettingText(path, "Main", "Top", "100"), "5");
  EXPECT_EQ(store.ReadSettingText(path, "MRU", "MRU0", kDefault), ProfileRead(path, "MRU", "MRU0"));
}

}  // namespace
}  // namespace tovik
