// The Win32 side of the core's process, settings, environment and shell interfaces, for real.
#include "win32/platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/launch_history.h"
#include "tests/core/fakes.h"
#include "tests/win32/test_support.h"

namespace tovik {
namespace {

using namespace tovik::testing;
using ::testing::ElementsAre;

class ProfileStoreTest : public ::testing::Test {
 protected:
  std::string folder = ScratchFolder("profile");
  std::string path = folder + "tovik.ini";
  win32::ProfileSettingsStore store;
  void SetUp() override { DeleteFileA(path.c_str()); }
  std::string Read(const char* section, const std::string& key, const char* defaultText = "dflt") {
    return store.ReadSettingText(path, section, key, defaultText);
  }
};

TEST_F(ProfileStoreTest, MissingFileReadsDefaultsAndIsNotCreated) {
  EXPECT_EQ(Read("Main", "Top", "100"), "100");
  EXPECT_FALSE(FileExists(path));
}

TEST_F(ProfileStoreTest, ReadsValuesAsTheProfileReaderGivesThem) {
  WriteBytes(path,
             "[Main]\r\nTop=\r\n  Left  =  -20  \r\nquoted=\"a b\"\r\nsingle='x'\r\n;Count=9\r\n"
             "[main]\r\nDoClose=7\r\n[MRU]\r\nMRU0=one\r\nmru0=two\r\n");
  const std::pair<const char*, const char*> cases[] = {
      {"Top", ""},       {"Left", "-20"},     {"quoted", "a b"}, {"single", "x"},
      {"Count", "dflt"}, {"DoClose", "dflt"}, {"TOP", ""},
  };
  for (const auto& [key, value] : cases) EXPECT_EQ(Read("Main", key), value) << key;
  EXPECT_EQ(Read("mru", "MRU0"), "one");
  EXPECT_EQ(Read("Other", "MRU0"), "dflt");
}

TEST_F(ProfileStoreTest, ValueOfAnyLengthIsReadWhole) {
  const std::string value(9000, 'v');
  WriteBytes(path, "[MRU]\r\nMRU0=" + value + "\r\n");
  EXPECT_EQ(Read("MRU", "MRU0"), value);
}

// The whole save path over the real profile functions, from a file that did not exist.
TEST_F(ProfileStoreTest, SaveCreatesTheFileInWriteOrder) {
  Log log;
  FakeProcess process(log);
  FakeEnvironment environment;
  FakeShell shell(log);
  FakeWindow window(log);
  Platform platform{process, store, environment, shell, window};
  LauncherState state;
  state.settingsPath = path;
  state.doClose = 5;
  window.restored = {-30, 40};
  window.history.entries = {"notepad C:\\a.txt", "\"C:\\My Files\\a.txt\""};
  EXPECT_THROW(SaveAndExit(state, platform), ExitCalled);
  EXPECT_EQ(ReadBytes(path),
            "[Main]\r\nTop=40\r\nLeft=-30\r\nDoClose=5\r\nDoMinimize=0\r\nCount=2\r\n"
            "[MRU]\r\nMRU0=notepad C:\\a.txt\r\nMRU1=\"\"C:\\My Files\\a.txt\"\"\r\n");
}

TEST_F(ProfileStoreTest, ShorterHistoryLeavesOldKeysThatTheNextLoadIgnores) {
  WriteBytes(path,
             "[Main]\r\nCount=5\r\n[MRU]\r\nMRU0=a\r\nMRU1=b\r\nMRU2=c\r\nMRU3=d\r\nMRU4=e\r\n");
  FakeHistory history;
  history.entries = {"x", "y"};
  SaveHistory(store, path, history);
  EXPECT_EQ(Read("Main", "Count"), "2");
  EXPECT_EQ(Read("MRU", "MRU1"), "y");
  EXPECT_EQ(Read("MRU", "MRU4"), "e");
  FakeHistory loaded;
  LoadHistory(store, path, loaded);
  EXPECT_THAT(loaded.entries, ElementsAre("x", "y"));
}

TEST_F(ProfileStoreTest, HistoryValuesComeBackExactly) {
  FakeHistory history;
  history.entries = {"\"C:\\My Files\\a.txt\"",
                     "'single'",
                     "\"open",
                     "close\"",
                     " lead",
                     "trail ",
                     "eof\x1A",
                     "\x0Bvt",
                     "\ttab",
                     "plain",
                     "it's",
                     "a \"b\" c",
                     "%PATH% x",
                     std::string(3000, 'L')};
  SaveHistory(store, path, history);
  FakeHistory loaded;
  LoadHistory(store, path, loaded);
  EXPECT_EQ(loaded.entries, history.entries);
}

TEST_F(ProfileStoreTest, LineBreakInAValueDoesNotCorruptTheEntriesAfterIt) {
  FakeHistory history;
  history.entries = {"first\r\nMRU1=forged", "second"};
  SaveHistory(store, path, history);
  FakeHistory loaded;
  LoadHistory(store, path, loaded);
  EXPECT_THAT(loaded.entries, ElementsAre("first  MRU1=forged", "second"));
}

TEST_F(ProfileStoreTest, BinaryAndHugeFilesLoadWithoutCrashOrHang) {
  std::string garbage = "[Main]\r\nCount=2147483647\r\n[MRU]\r\nMRU0=";
  for (int i = 1; i < 2000; ++i) garbage += static_cast<char>((i * 7919) % 256);
  garbage += std::string(10000, 'x') + "\r\nMRU1=" + std::string("\0\0z", 3) + "\r\n";
  WriteBytes(path, garbage);
  FakeHistory loaded;
  LoadHistory(store, path, loaded);
  // Entries cut short by the binary bytes may read empty; the missing ones read "0".
  EXPECT_LE(loaded.entries.size(), 65536u);
  EXPECT_GE(loaded.entries.size(), 65530u);
  EXPECT_EQ(loaded.entries.back(), "0");
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

TEST(Win32Shell, OpensTheProgramWithTheRemainderAsParameters) {
  const std::string recorder = ProgramFolder() + "recorder.exe";
  const std::string log = ProgramFolder() + "recorder.log";
  DeleteFileA(log.c_str());
  win32::Win32Shell shell;
  const SplitResult split = SplitCommand("\"" + recorder + "\" hello  world");
  EXPECT_GT(shell.ShellOpen(split.token, split.remainder), 32);
  for (int i = 0; i < 200 && ReadBytes(log).empty(); ++i) Sleep(25);
  EXPECT_EQ(ReadBytes(log), "\"" + recorder + "\"  hello  world\n");
  EXPECT_LE(shell.ShellOpen(ProgramFolder() + "no-such-program.exe", ""), 32);
}

TEST(Win32Process, GivesTheWholeModulePathAndTheCommandLine) {
  win32::Win32Process process;
  EXPECT_EQ(process.ModulePath(), ProgramFolder() + "platform_test.exe");
  EXPECT_EQ(process.CommandLine(), GetCommandLineA());
  EXPECT_EQ(
      process.ModuleOffset(reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)) + 0x1234),
      0x1234u);
  EXPECT_EQ(process.LoadText(65438), "");  // the test program carries no string table
}

}  // namespace
}  // namespace tovik
