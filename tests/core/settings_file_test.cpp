// Settings file rules: path, strict integers, history value encoding, the failure report text.
#include "core/settings_file.h"

#include <climits>
#include <gtest/gtest.h>

#include "tests/core/fakes.h"

namespace tovik {
namespace {

TEST(SettingsPathFor, ReplacesOnlyTheLastComponentsExtension) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\Tools\\run.exe", "C:\\Tools\\run.ini"}, {"C:\\Tools\\run.v2.exe", "C:\\Tools\\run.v2.ini"},
      {"C:\\my.tools\\run", "C:\\my.tools\\run.ini"}, {"C:run", "C:run.ini"},
      {"C:\\a.b/run", "C:\\a.ini"}, {"a.b:run", "a.b:run.ini"}, {"", ".ini"}};
  // clang-format on
  for (const auto& [exe, ini] : cases) EXPECT_EQ(SettingsPathFor(exe), ini) << exe;
}

TEST(ParseSettingInt, AcceptsTheStrictFormsAndReadsBackWhatIsWritten) {
  // clang-format off
  const std::pair<const char*, int32_t> cases[] = {
      {" 42", 42}, {"+7", 7}, {"-7", -7}, {"007", 7}, {"$1F", 31}, {"$1f", 31}, {"$0000000001", 1},
      {"$FFFFFFFF", -1}, {"$80000000", INT32_MIN}, {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN}, {"-0", 0}};
  // clang-format on
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(ParseSettingInt(text), value) << text;
    EXPECT_EQ(ParseSettingInt(FormatSettingInt(value)), value) << text;
  }
}

TEST(ParseSettingInt, RejectsEverythingElseWithTheWholeTextInTheMessage) {
  // clang-format off
  const std::string cases[] = {"", "   ", "42 ", "- 5", "-$1F", "$", "$100000000", "2147483648",
      "-2147483649", "0x10", "1.0", "1e3", "\t5", "+", "-", "$G", "+-1", "5\n", std::string(3000, '9')};
  // clang-format on
  for (const std::string& text : cases) {
    try {
      ParseSettingInt(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const EConvertError& failure) {
      EXPECT_EQ(std::string(failure.what()), "'" + text + "' is not a valid integer value");
      EXPECT_NE(failure.Address(), 0u);
    }
  }
}

TEST(EncodeHistoryValue, WrapsWhatTheReaderWouldStrip) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"notepad C:\\a.txt", "notepad C:\\a.txt"}, {"\"C:\\My Files\\a\"", "\"\"C:\\My Files\\a\"\""},
      {"'x'", "\"'x'\""}, {"\"open", "\"\"open\""}, {"a\"", "\"a\"\""}, {" lead", "\" lead\""},
      {"trail\t", "\"trail\t\""}, {"line\r\nbreak", "line  break"}, {"end\n", "\"end \""},
      {"eof\x1A", "\"eof\x1A\""}, {"mid\"dle", "mid\"dle"}, {"", ""}};
  // clang-format on
  for (const auto& [value, stored] : cases) EXPECT_EQ(EncodeHistoryValue(value), stored) << value;
}

TEST(ComposeFailureReport, FollowsTheStringTableAndAddsAFullStopOnlyWhenMissing) {
  testing::Log log;
  testing::FakeProcess texts(log);
  const std::tuple<std::string, uintptr_t, std::string> cases[] = {
      {"'abc' is not a valid integer value", 0xABCD,
       "0000ABCD.\n'abc' is not a valid integer value."},
      {"done.", 0xDEADBEEF, "DEADBEEF.\ndone."}};
  for (const auto& [message, offset, tail] : cases) {
    const FailureReport report =
        ComposeFailureReport("EConvertError", message, "C:\\Apps\\tovik.exe", offset, texts);
    EXPECT_EQ(report.text, "Exception EConvertError in module tovik.exe at " + tail);
    EXPECT_EQ(report.caption, "Application Error");
  }
  // The string table's texts win, and nothing is cut however long it gets.
  texts.strings = {{kReportFormatId, "%s|%s|%p|%s|%s"},
                   {kReportCaptionId, "Caption"},
                   {kConvertErrorFormatId, "bad <%s>"}};
  const std::string longMessage(5000, 'm'), longName(300, 'n');
  const FailureReport report = ComposeFailureReport("E", longMessage, "C:\\" + longName, 16, texts);
  EXPECT_EQ(report.text, "E|" + longName + "|00000010|" + longMessage + "|.");
  EXPECT_EQ(report.caption, "Caption");
  EXPECT_EQ(EConvertError("x", 1).Message(texts), "bad <x>");
}

}  // namespace
}  // namespace tovik
