// The launch and the shutdown it may lead to, against recording fakes.
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

// The exit status `action` ended the process with, or -1 when it returned.
template <typename Action>
int64_t ExitStatusOf(Action action, FakePlatform& fake) {
  try {
    action(fake.state, fake.platform);
  } catch (const ExitCalled& exit) {
    return exit.status;
  }
  return -1;
}

struct LaunchCase {
  const char* text;
  int32_t shellResult;
  bool closeBox, minimizeBox;
  const char* file;  // nullptr: the shell is not asked
  const char* parameters;
  bool remembered;      // put at the top of {"notepad"}
  const char* outcome;  // "stays", "minimized", "saved and ended" or "oops"
};

TEST(LaunchCommand, HandsTheSplitCommandToTheShellAndFollowsTheOptions) {
  // clang-format off
  const LaunchCase cases[] = {
      {"",                       42, true,  false, nullptr,                "",          false, "stays"},
      {"   ",                     2, false, false, "",                     "",          false, "oops"},
      {"notepad C:\\a.txt",      42, false, false, "notepad",              " C:\\a.txt", true,  "stays"},
      {"NOTEPAD",                42, false, true,  "NOTEPAD",              "",          false, "minimized"},
      {"calc",                   42, true,  true,  "calc",                 "",          true,  "saved and ended"},
      {"%SystemRoot%\\x.exe",    33, false, false, "C:\\Windows\\x.exe",    "",          true,  "stays"},
      {"%SystemRoot%\\x.exe -v", 42, false, false, "C:\\Windows\\x.exe -v", "",          true,  "stays"},
      {"\"no such\" -x",         32, true,  false, "no such",              " -x",       false, "oops"},
      {"nothing",                -5, false, false, "nothing",              "",          false, "oops"},
  };
  // clang-format on
  for (const LaunchCase& c : cases) {
    FakePlatform fake;
    fake.environment.variables = {{"SystemRoot", "C:\\Windows"}};
    fake.window.history.entries = {"notepad"};
    fake.window.commandText = c.text;
    fake.window.closeChecked = c.closeBox;
    fake.window.minimizeChecked = c.minimizeBox;
    fake.state.doClose = fake.state.doMinimize = 7;
    fake.state.settingsPath = "s.ini";
    fake.window.restored = {-30, 40};
    fake.shell.result = c.shellResult;
    const int64_t status = ExitStatusOf(LaunchCommand, fake);
    using Opened = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(fake.shell.opened, (c.file ? Opened{{c.file, c.parameters}} : Opened{})) << c.text;
    using Texts = std::vector<std::string>;
    EXPECT_EQ(fake.window.history.entries,
              (c.remembered ? Texts{c.text, "notepad"} : Texts{"notepad"}))
        << c.text;
    EXPECT_EQ(fake.window.commandText, c.text) << c.text;
    // The options follow the boxes before anything else, even for an empty field.
    EXPECT_EQ(fake.state.doClose, c.closeBox ? 1 : 0) << c.text;
    EXPECT_EQ(fake.state.doMinimize, c.minimizeBox ? 1 : 0) << c.text;
    const std::string outcome = status == 0                     ? "saved and ended"
                                : fake.window.minimized         ? "minimized"
                                : !fake.window.messages.empty() ? "oops"
                                                                : "stays";
    EXPECT_EQ(outcome, c.outcome) << c.text;
    if (outcome == "saved and ended") {  // everything written in order, then released
      EXPECT_THAT(fake.settings.writes,
                  ElementsAre("Main/Top=40", "Main/Left=-30", "Main/DoClose=1", "Main/DoMinimize=1",
                              "Main/Count=2", "MRU/MRU0=calc", "MRU/MRU1=notepad"));
      EXPECT_THAT(testing::Log(fake.log.end() - 3, fake.log.end()),
                  ElementsAre("commit @s.ini", "release", "exit 0"));
    }
    if (outcome == "oops") {
      ASSERT_EQ(fake.window.messages.size(), 1u) << c.text;
      const testing::ShownMessage& box = fake.window.messages[0];
      EXPECT_EQ(std::tuple(box.owner, box.caption, box.type, box.text),
                std::tuple(MessageOwner::kMainWindow, "OOPS...", 16u,
                           "Unable to locate: \r\"" + std::string(c.file) + "\""));
    }
  }
}

}  // namespace
}  // namespace tovik
