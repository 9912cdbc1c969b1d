// INI text rules and the buffered store: reads as the profile reader, edits that keep lines.
#include "core/settings_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/core/fakes.h"

namespace tovik {
namespace {

using testing::Latin1Codec;
using testing::MemoryFiles;

Latin1Codec codec;

// The reader's rules, with the encodings its marks choose, are checked against the platform's
// own reader under Wine; NUL is not.
TEST(IniText, ANulEndsTheValue) {
  EXPECT_EQ(IniText(std::string("[M]\r\nnul=a\0b\r\n", 14), codec).Find("M", "nul"), "a");
}

struct EditCase {
  const char* name;
  std::string before;
  std::vector<std::array<const char*, 3>> writes;
  std::string after;
};

TEST(IniText, EditsKeepEveryLineTheyDoNotWrite) {
  // clang-format off
  const EditCase cases[] = {
      {"from nothing", "", {{"Main", "Top", "1"}, {"Main", "Left", "2"}, {"MRU", "MRU0", "a"}},
       "[Main]\r\nTop=1\r\nLeft=2\r\n[MRU]\r\nMRU0=a\r\n"},
      {"replace keeps spelling", "; c\r\n[main]\r\n  TOP = 9  \r\nx=1\r\n", {{"Main", "Top", "1"}},
       "; c\r\n[main]\r\nTOP=1\r\nx=1\r\n"},
      {"new key after last key", "[Main]\r\na=1\r\n\r\n; tail\r\n[B]\r\n", {{"Main", "b", "2"}},
       "[Main]\r\na=1\r\nb=2\r\n\r\n; tail\r\n[B]\r\n"},
      {"key without equals", "[Main]\r\nTop\r\n", {{"Main", "Top", "5"}}, "[Main]\r\nTop=5\r\n"},
      {"empty section", "[Main]\n", {{"Main", "a", "1"}}, "[Main]\na=1\r\n"},
      {"no final line end", "[A]\nx=1", {{"B", "y", "2"}}, "[A]\nx=1\r\n[B]\r\ny=2\r\n"},
      {"first duplicate section", "[M]\r\n[M]\r\nk=old\r\n", {{"M", "k", "new"}},
       "[M]\r\nk=new\r\n[M]\r\nk=old\r\n"},
      {"lf kept", "[M]\nk=1\nj=2\n", {{"M", "k", "3"}}, "[M]\nk=3\nj=2\n"},
      {"lone cr ends a line", "[M]\rk=1\rj=2\r", {{"M", "k", "3"}}, "[M]\rk=3\rj=2\r"},
      {"headers as the reader sees them", "[A]\r\nx=1\r\n[Main\r\nTop=5\r\n[B] x]\r\n",
       {{"A", "Top", "6"}, {"B] x", "k", "1"}}, "[A]\r\nx=1\r\n[Main\r\nTop=6\r\n[B] x]\r\nk=1\r\n"},
  };
  // clang-format on
  for (const EditCase& c : cases) {
    IniText text(c.before, codec);
    for (const auto& [section, key, value] : c.writes) text.Set(section, key, value);
    EXPECT_EQ(text.Bytes(), c.after) << c.name;
  }
}

TEST(IniText, WritingKeepsTheEncodingItsByteOrderMarkChose) {
  const std::string utf8 = "\xEF\xBB\xBF[M]\r\nk=caf\xC3\xA9\r\nz=\xE2\x82\xAC\r\n";
  IniText text(utf8, codec);
  text.Set("M", "n", "\xE9");
  EXPECT_EQ(text.Bytes(), utf8 + "n=\xC3\xA9\r\n");

  const std::string utf16 = std::string("\xFF\xFE[\0M\0]\0\r\0\n\0k\0=\0\xE9\0\r\0\n\0", 22);
  IniText wide(utf16, codec);
  wide.Set("M", "k", "a");
  EXPECT_EQ(wide.Bytes(), std::string("\xFF\xFE[\0M\0]\0\r\0\n\0k\0=\0a\0\r\0\n\0", 22));
}

TEST(BufferedSettingsStore, ReadsOnceAndWritesOnceOverTheFileAsItIsAtCommit) {
  MemoryFiles files;
  files.bytes = "[Main]\r\nTop=7\r\n";
  BufferedSettingsStore store(files, codec);
  EXPECT_EQ(store.ReadSettingText("s", "Main", "Top", "100"), "7");
  EXPECT_EQ(store.ReadSettingText("s", "Main", "Left", "100"), "100");
  EXPECT_EQ(files.reads, 1);
  store.WriteSettingText("s", "Main", "Top", "8");
  store.WriteSettingText("s", "MRU", "MRU0", "a");
  EXPECT_EQ(store.ReadSettingText("s", "Main", "Top", "100"), "8");
  EXPECT_EQ(files.replaces, 0);
  files.bytes = "[Main]\r\nTop=7\r\nOther=kept\r\n";  // changed on disk meanwhile
  store.CommitSettings("s");
  EXPECT_EQ(files.replaces, 1);
  EXPECT_EQ(files.bytes, "[Main]\r\nTop=8\r\nOther=kept\r\n[MRU]\r\nMRU0=a\r\n");
  store.CommitSettings("s");
  EXPECT_EQ(files.replaces, 1) << "nothing new to write";
  BufferedSettingsStore again(files, codec);  // the same values: the file keeps its bytes
  again.ReadSettingText("s", "Main", "Top", "100");
  again.WriteSettingText("s", "Main", "Top", "8");
  again.WriteSettingText("s", "MRU", "MRU0", "a");
  again.CommitSettings("s");
  EXPECT_EQ(files.replaces, 1) << "nothing changed";
}

// Only a missing file reads as empty: a file that cannot be read at the start or the save never
// loses its lines.
TEST(BufferedSettingsStore, AFileThatCannotBeReadAtTheSaveKeepsItsOtherLines) {
  const std::optional<std::string> kOther = "[Other]\r\nkeep=1\r\n";
  struct Case {
    const char* name;
    std::optional<std::string> atStart;  // nullopt: missing
    bool unreadableAtStart, unreadableAtSave;
    std::optional<std::string> after;  // nullopt: the file is left alone
    bool readBack = false;             // the write read back, the file as it was at the save
  };
  const Case cases[] = {
      {"read whole at start", kOther, false, true, "[Other]\r\nkeep=1\r\n[Main]\r\nTop=8\r\n"},
      {"unreadable at start too", kOther, true, true, std::nullopt},
      {"missing at start", std::nullopt, false, true, std::nullopt},
      // The history start-up could not read is still in the file: this run never saw it.
      {"unreadable at start only", kOther, true, false, std::nullopt},
      // What the store lets a caller read back, it saves.
      {"read back before the save", kOther, false, false,
       "[Other]\r\nkeep=1\r\n[Main]\r\nTop=8\r\n", true},
  };
  for (const Case& c : cases) {
    MemoryFiles files;
    files.bytes = c.atStart;
    files.unreadable = c.unreadableAtStart;
    BufferedSettingsStore store(files, codec);
    EXPECT_EQ(store.ReadSettingText("s", "Main", "Top", "100"), "100") << c.name;
    store.WriteSettingText("s", "Main", "Top", "8");
    if (c.readBack) {
      EXPECT_EQ(store.ReadSettingText("s", "Main", "Top", "100"), "8") << c.name;
    } else {
      files.bytes = "[Other]\r\nkeep=1\r\nnewer=2\r\n";  // there, but held by another program
    }
    files.unreadable = c.unreadableAtSave;
    store.CommitSettings("s");
    EXPECT_EQ(files.replaces, c.after ? 1 : 0) << c.name;
    if (c.after) {
      EXPECT_EQ(files.bytes, c.after) << c.name;
    }
  }
}

}  // namespace
}  // namespace tovik
