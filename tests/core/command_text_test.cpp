// Command text rules: the token rule, the first argument, expansion and quoting.
#include "core/command_text.h"

#include <gtest/gtest.h>

#include "tests/core/fakes.h"

namespace tovik {
namespace {

TEST(SplitCommand, GivesTokenAndUntouchedRemainder) {
  const std::string longProgram(5000, 'p');
  // clang-format off
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"notepad.exe C:\\notes.txt", "notepad.exe", " C:\\notes.txt"},
      {"\"C:\\Program Files\\App\\app.exe\" -x", "C:\\Program Files\\App\\app.exe", " -x"},
      {"   \"\"  calc", "calc", ""}, {"   ", "", ""}, {"", "", ""}, {"app\t-x", "app", "\t-x"},
      {"caf\xE9.exe -v", "caf\xE9.exe", " -v"}, {"ab\"c d\"e f", "abc de", " f"},
      {"\"C:\\Tools\\x.exe", "C:\\Tools\\x.exe", ""}, {"a\"\"b c", "ab", " c"}, {"\"\"", "", ""},
      {"\"\" \"\" x", "x", ""}, {"\x01\x1F" "a\x20" "b", "a", " b"}, {"\"a\"\"b\" c", "ab", " c"},
      {longProgram + " -x", longProgram, " -x"}};
  // clang-format on
  for (const auto& [text, token, remainder] : cases) {
    const SplitResult result = SplitCommand(text);
    EXPECT_EQ(result.token, token) << text;
    EXPECT_EQ(result.remainder, remainder) << text;
  }
}

// The field's text at start-up: the first argument, quoted only when it holds a space.
TEST(FirstArgument, IsTheSecondTokenQuotedWhenSpaced) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"app.exe \"\" C:\\a.txt", "C:\\a.txt"}, {"app.exe \"\"", ""}, {"app.exe", ""},
      {"\"C:\\My Tools\\app.exe\" a b", "a"}, {"app.exe \"a\\\" b", "a\\"}, {"app.exe   ", ""},
      {"app.exe \"a\tb\"", "a\tb"},
      {"app.exe \"C:\\Program Files\\App\\app.exe\"", "\"C:\\Program Files\\App\\app.exe\""}};
  // clang-format on
  for (const auto& [commandLine, field] : cases) {
    EXPECT_EQ(QuoteIfSpaced(FirstArgument(commandLine)), field) << commandLine;
  }
}

TEST(ExpandCommand, QuotesTheWholeLineWhenItHoldsASpace) {
  testing::FakeEnvironment environment;
  environment.variables = {{"SystemRoot", "C:\\Windows"},
                           {"ProgramFiles", "C:\\Program Files"},
                           {"LONG", std::string(1000, 'd')}};
  const std::pair<std::string, std::string> cases[] = {
      {"%SystemRoot%\\notepad.exe", "C:\\Windows\\notepad.exe"},
      {"%SystemRoot%\\notepad.exe C:\\a.txt", "\"C:\\Windows\\notepad.exe C:\\a.txt\""},
      {"%ProgramFiles%\\x.exe", "\"C:\\Program Files\\x.exe\""},
      {"notepad 100%.txt", "\"notepad 100%.txt\""},
      {"%Unset%", "%Unset%"},
      {"%LONG%\\x.exe", std::string(1000, 'd') + "\\x.exe"}};
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ExpandCommand(text, environment), expected) << text;
  }
  environment.fails = true;  // the platform could not expand it: there is nothing to open
  EXPECT_EQ(ExpandCommand("%SystemRoot%\\x.exe", environment), "");
}

}  // namespace
}  // namespace tovik
