// Command text rules: the token rule, the first argument, expansion and quoting.
#include "core/command_text.h"

#include <gtest/gtest.h>

#include "tests/core/fakes.h"

namespace tovik {
namespace {

struct SplitCase {
  const char* text;
  const char* token;
  const char* remainder;
};

TEST(SplitCommand, GivesTokenAndUntouchedRemainder) {
  const SplitCase cases[] = {
      SplitCase{"notepad.exe C:\\notes.txt", "notepad.exe", " C:\\notes.txt"},
      SplitCase{"\"C:\\Program Files\\App\\app.exe\" -x", "C:\\Program Files\\App\\app.exe", " -x"},
      SplitCase{"   \"\"  calc", "calc", ""},
      SplitCase{"   ", "", ""},
      SplitCase{"", "", ""},
      SplitCase{"app\t-x", "app", "\t-x"},
      SplitCase{"caf\xE9.exe -v", "caf\xE9.exe", " -v"},
      SplitCase{"ab\"c d\"e f", "abc de", " f"},
      SplitCase{"\"C:\\Tools\\x.exe", "C:\\Tools\\x.exe", ""},
      SplitCase{"a\"\"b c", "ab", " c"},
      SplitCase{"\"\"", "", ""},
      SplitCase{"\"\" \"\" x", "x", ""},
      SplitCase{"\x01\x1F"
                "a",
                "a", ""},
      SplitCase{"\"a\"\"b\" c", "ab", " c"}};
  for (const SplitCase& c : cases) {
    const SplitResult result = SplitCommand(c.text);
    EXPECT_EQ(result.token, c.token) << c.text;
    EXPECT_EQ(result.remainder, c.remainder) << c.text;
  }
}

TEST(SplitCommand, TokenLongerThanAnyFixedBufferIsKeptWhole) {
  const std::string program(5000, 'p');
  const SplitResult result = SplitCommand(program + " -x");
  EXPECT_EQ(result.token, program);
  EXPECT_EQ(result.remainder, " -x");
}

struct ArgumentCase {
  const char* commandLine;
  const char* argument;
};

TEST(FirstArgument, IsTheSecondTokenOfTheCommandLine) {
  const ArgumentCase cases[] = {ArgumentCase{"app.exe \"\" C:\\a.txt", "C:\\a.txt"},
                                ArgumentCase{"app.exe \"\"", ""},
                                ArgumentCase{"app.exe", ""},
                                ArgumentCase{"\"C:\\My Tools\\app.exe\" a b", "a"},
                                ArgumentCase{"app.exe \"C:\\Program Files\\App\\app.exe\"",
                                             "C:\\Program Files\\App\\app.exe"},
                                ArgumentCase{"app.exe \"a\\\" b", "a\\"},
                                ArgumentCase{"app.exe   ", ""}};
  for (const ArgumentCase& c : cases)
    EXPECT_EQ(FirstArgument(c.commandLine), c.argument) << c.commandLine;
}

struct ExpandCase {
  const char* text;
  const char* expected;
};

TEST(ExpandCommand, QuotesTheWholeLineWhenItHoldsASpace) {
  testing::FakeEnvironment environment;
  environment.variables = {{"SystemRoot", "C:\\Windows"}, {"ProgramFiles", "C:\\Program Files"}};
  const ExpandCase cases[] = {
      ExpandCase{"%SystemRoot%\\notepad.exe", "C:\\Windows\\notepad.exe"},
      ExpandCase{"%SystemRoot%\\notepad.exe C:\\a.txt", "\"C:\\Windows\\notepad.exe C:\\a.txt\""},
      ExpandCase{"%ProgramFiles%\\x.exe", "\"C:\\Program Files\\x.exe\""},
      ExpandCase{"notepad 100%.txt", "\"notepad 100%.txt\""}, ExpandCase{"%Unset%", "%Unset%"}};
  for (const ExpandCase& c : cases)
    EXPECT_EQ(ExpandCommand(c.text, environment), c.expected) << c.text;
}

TEST(ExpandCommand, QuotedProgramWithSpacedExpansionSplitsAtFirstSpace) {
  testing::FakeEnvironment environment;
  environment.variables = {{"ProgramFiles", "C:\\Program Files"}};
  const SplitResult split =
      SplitCommand(ExpandCommand("\"%ProgramFiles%\\App\\app.exe\" -x", environment));
  EXPECT_EQ(split.token, "C:\\Program");
  EXPECT_EQ(split.remainder, " Files\\App\\app.exe\" -x\"");
}

TEST(ExpandCommand, FailureGivesEmptyText) {
  testing::FakeEnvironment environment;
  environment.fails = true;
  EXPECT_EQ(ExpandCommand("%X%", environment), "");
}

TEST(ExpandCommand, LongExpansionIsKeptWhole) {
  testing::FakeEnvironment environment;
  environment.variables = {{"LONG", std::string(1000, 'd')}};
  EXPECT_EQ(ExpandCommand("%LONG%\\x.exe", environment), std::string(1000, 'd') + "\\x.exe");
}

TEST(QuoteIfSpaced, WrapsOnlyPathsHoldingASpace) {
  EXPECT_EQ(QuoteIfSpaced("C:\\My Files\\a.txt"), "\"C:\\My Files\\a.txt\"");
  EXPECT_EQ(QuoteIfSpaced("C:\\a.txt"), "C:\\a.txt");
  EXPECT_EQ(QuoteIfSpaced(""), "");
  EXPECT_EQ(QuoteIfSpaced("a\tb"), "a\tb");
  EXPECT_EQ(QuoteIfSpaced("\"a b\""), "\"\"a b\"\"");
}

}  // namespace
}  // namespace tovik
