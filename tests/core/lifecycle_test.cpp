// Start-up, shutdown, launch and the failure report, against recording fakes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/launch.h"
#include "core/launcher_state.h"
#include "tests/core/fakes.h"

namespace tovik {
namespace {

using ::testing::ElementsAre;
using testing::ExitCalled;
using testing::FakePlatform;
using ::testing::IsEmpty;

uint32_t ExitStatusOf(void (*action)(FakePlatform&), FakePlatform& fake) {
  try {
    action(fake);
  } catch (const ExitCalled& exit) {
    return exit.status;
  }
  ADD_FAILURE() << "the process did not end";
  return 0xFFFFFFFF;
}

TEST(StartUp, RunsItsStepsInOrder) {
  FakePlatform fake;
  fake.process.commandLine = "\"C:\\Tools\\tovik.exe\" \"C:\\My Files\\a.txt\" ignored";
  fake.settings.values = {{"Main/Top", "7"},
                          {"Main/Left", "-20"},
                          {"Main/DoClose", "5"},
                          {"Main/Count", "1"},
                          {"MRU/MRU0", "calc"}};
  EXPECT_EQ(StartUp(fake.state, fake.platform), 0);
  EXPECT_THAT(
      fake.log,
      ElementsAre("register class", "read Main/Top @C:\\Tools\\tovik.ini",
                  "read Main/Left @C:\\Tools\\tovik.ini", "read Main/DoClose @C:\\Tools\\tovik.ini",
                  "read Main/DoMinimize @C:\\Tools\\tovik.ini", "create window -20,7",
                  "set text \"C:\\My Files\\a.txt\"", "focus",
                  "read Main/Count @C:\\Tools\\tovik.ini", "read MRU/MRU0 @C:\\Tools\\tovik.ini",
                  "create remaining 0,5", "message loop"));
  EXPECT_EQ(fake.state.firstArgument, "C:\\My Files\\a.txt");
  EXPECT_THAT(fake.window.history.entries, ElementsAre("calc"));
}

TEST(StartUp, WithoutSettingsOrArgumentUsesTheDefaults) {
  FakePlatform fake;
  StartUp(fake.state, fake.platform);
  EXPECT_EQ(fake.state.left, 100);
  EXPECT_EQ(fake.state.top, 100);
  EXPECT_EQ(fake.state.doClose, 0);
  EXPECT_EQ(fake.state.doMinimize, 0);
  EXPECT_EQ(std::count(fake.log.begin(), fake.log.end(), "focus"), 1);
  EXPECT_EQ(std::count_if(fake.log.begin(), fake.log.end(),
                          [](const std::string& e) { return e.rfind("set text", 0) == 0; }),
            0);
}

TEST(RunLauncher, MalformedValueReportsAndEndsWithoutWriting) {
  struct Case {
    const char* key;
    const char* value;
    size_t readsBeforeFailure;
    bool windowCreated;
  };
  const Case cases[] = {{"Main/Top", "abc", 1, false},
                        {"Main/DoMinimize", "", 4, false},
                        {"Main/Count", "1.0", 5, true}};
  for (const Case& c : cases) {
    FakePlatform fake;
    fake.settings.values[c.key] = c.value;
    EXPECT_EQ(ExitStatusOf([](FakePlatform& f) { RunLauncher(f.state, f.platform); }, fake), 1u);
    EXPECT_THAT(fake.settings.writes, IsEmpty());
    EXPECT_EQ(std::count_if(fake.log.begin(), fake.log.end(),
                            [](const std::string& e) { return e.rfind("read", 0) == 0; }),
              static_cast<long>(c.readsBeforeFailure));
    EXPECT_EQ(std::count(fake.log.begin(), fake.log.end(), "create window 100,100"),
              c.windowCreated ? 1 : 0);
    ASSERT_EQ(fake.window.messages.size(), 1u);
    const testing::ShownMessage& box = fake.window.messages[0];
    EXPECT_EQ(box.owner, MessageOwner::kNone);
    EXPECT_EQ(box.caption, "Application Error");
    EXPECT_EQ(box.type, 0x2010u);
    EXPECT_THAT(box.text, ::testing::MatchesRegex(
                              "Exception EConvertError in module tovik.exe at [0-9A-F]{8}\\.\n'" +
                              std::string(c.value) + "' is not a valid integer value\\."));
  }
}

TEST(SaveAndExit, WritesEverythingInOrderThenReleasesAndExitsWithZero) {
  FakePlatform fake;
  fake.state.settingsPath = "s.ini";
  fake.state.doClose = 5;
  fake.state.doMinimize = 16;
  fake.window.restored = {-30, 40};
  fake.window.history.entries = {"b", "a"};
  EXPECT_EQ(ExitStatusOf([](FakePlatform& f) { SaveAndExit(f.state, f.platform); }, fake), 0u);
  EXPECT_THAT(fake.settings.writes,
              ElementsAre("Main/Top=40", "Main/Left=-30", "Main/DoClose=5", "Main/DoMinimize=16",
                          "Main/Count=2", "MRU/MRU0=b", "MRU/MRU1=a"));
  EXPECT_THAT(std::vector<std::string>(fake.log.end() - 3, fake.log.end()),
              ElementsAre("commit @s.ini", "release", "exit 0"));
}

struct LaunchCase {
  const char* name;
  const char* text;
  int32_t shellResult;
  const char* file;  // nullptr: the shell is not asked
  const char* parameters;
  std::vector<std::string> history;
};

TEST(LaunchCommand, HandsTheSplitCommandToTheShell) {
  const LaunchCase cases[] = {
      {"empty", "", 42, nullptr, "", {}},
      {"spaces only fail", "   ", 2, "", "", {}},
      {"plain", "notepad", 42, "notepad", "", {"notepad"}},
      {"parameters", "notepad C:\\a.txt", 42, "notepad", " C:\\a.txt", {"notepad C:\\a.txt"}},
      {"expanded kept raw",
       "%SystemRoot%\\notepad.exe",
       33,
       "C:\\Windows\\notepad.exe",
       "",
       {"%SystemRoot%\\notepad.exe"}},
      {"expanded with space is one file",
       "%SystemRoot%\\notepad.exe C:\\a.txt",
       42,
       "C:\\Windows\\notepad.exe C:\\a.txt",
       "",
       {"%SystemRoot%\\notepad.exe C:\\a.txt"}},
      {"lone percent", "notepad 100%.txt", 42, "notepad 100%.txt", "", {"notepad 100%.txt"}},
      {"failure at 32", "nothing", 32, "nothing", "", {}},
      {"negative result fails", "nothing", -5, "nothing", "", {}},
  };
  for (const LaunchCase& c : cases) {
    FakePlatform fake;
    fake.environment.variables = {{"SystemRoot", "C:\\Windows"}};
    fake.window.commandText = c.text;
    fake.shell.result = c.shellResult;
    LaunchCommand(fake.state, fake.platform);
    if (c.file) {
      ASSERT_EQ(fake.shell.opened.size(), 1u) << c.name;
      EXPECT_EQ(fake.shell.opened[0].first, c.file) << c.name;
      EXPECT_EQ(fake.shell.opened[0].second, c.parameters) << c.name;
    } else {
      EXPECT_THAT(fake.shell.opened, IsEmpty()) << c.name;
    }
    EXPECT_EQ(fake.window.history.entries, c.history) << c.name;
    EXPECT_EQ(fake.window.commandText, c.text) << c.name;
  }
}

TEST(LaunchCommand, FailureShowsTheOopsBoxAndStaysOpenEvenWithClose) {
  FakePlatform fake;
  fake.window.commandText = "\"no such\" -x";
  fake.window.closeChecked = true;
  fake.shell.result = 2;
  LaunchCommand(fake.state, fake.platform);
  ASSERT_EQ(fake.window.messages.size(), 1u);
  EXPECT_EQ(fake.window.messages[0].owner, MessageOwner::kMainWindow);
  EXPECT_EQ(fake.window.messages[0].text, "Unable to locate: \r\"no such\"");
  EXPECT_EQ(fake.window.messages[0].caption, "OOPS...");
  EXPECT_EQ(fake.window.messages[0].type, 16u);
  EXPECT_EQ(fake.state.doClose, 1);
}

TEST(LaunchCommand, OptionsAreRefreshedEvenForAnEmptyField) {
  FakePlatform fake;
  fake.state.doClose = 5;
  fake.state.doMinimize = 7;
  fake.window.minimizeChecked = true;
  LaunchCommand(fake.state, fake.platform);
  EXPECT_EQ(fake.state.doMinimize, 1);
  EXPECT_EQ(fake.state.doClose, 0);
}

TEST(LaunchCommand, SuccessWithCloseSavesTheNewEntryAndDoesNotMinimize) {
  FakePlatform fake;
  fake.window.commandText = "calc";
  fake.window.closeChecked = true;
  fake.window.minimizeChecked = true;
  EXPECT_EQ(ExitStatusOf([](FakePlatform& f) { LaunchCommand(f.state, f.platform); }, fake), 0u);
  EXPECT_THAT(fake.settings.writes, ::testing::Contains("MRU/MRU0=calc"));
  EXPECT_FALSE(fake.window.minimized);
}

TEST(LaunchCommand, SuccessWithMinimizeOnlyMinimizesAndKeepsText) {
  FakePlatform fake;
  fake.window.commandText = "calc";
  fake.window.minimizeChecked = true;
  LaunchCommand(fake.state, fake.platform);
  EXPECT_TRUE(fake.window.minimized);
  EXPECT_EQ(fake.window.commandText, "calc");
}

TEST(ShowAboutBox, ShowsTheOwnedInformationBoxThenFocusesTheField) {
  FakePlatform fake;
  ShowAboutBox(fake.window);
  ASSERT_EQ(fake.window.messages.size(), 1u);
  EXPECT_EQ(fake.window.messages[0].caption, "About Tovik");
  EXPECT_EQ(fake.window.messages[0].type, 0x40u);
  EXPECT_EQ(fake.window.messages[0].owner, MessageOwner::kMainWindow);
  EXPECT_EQ(fake.window.messages[0].text.rfind("Tovik - Version 1.0.0.0\n\n", 0), 0u);
  EXPECT_EQ(fake.window.messages[0].text.find('\r'), std::string::npos);
  EXPECT_EQ(fake.log.back(), "focus");
}

}  // namespace
}  // namespace tovik
