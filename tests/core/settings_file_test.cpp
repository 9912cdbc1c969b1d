// Settings file rules: path, strict integers, history value encoding, the failure report text.
#include "core/settings_file.h"

#include <gtest/gtest.h>

#include <climits>

#include "tests/core/fakes.h"

namespace tovik {
namespace {

TEST(SettingsPathFor, ReplacesOnlyTheLastComponentsExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\Tools\\run.exe", "C:\\Tools\\run.ini"},
      {"C:\\Tools\\run.v2.exe", "C:\\Tools\\run.v2.ini"},
      {"C:\\Tools\\run", "C:\\Tools\\run.ini"},
      {"C:\\my.tools\\run", "C:\\my.tools\\run.ini"},
      {"C:run", "C:run.ini"},
      {"C:\\a.b/run", "C:\\a.ini"},
      {"run", "run.ini"},
      {"", ".ini"},
  };
  for (const auto& [exe, ini] : cases) EXPECT_EQ(SettingsPathFor(exe), ini) << exe;
}

TEST(ParseSettingInt, AcceptsTheStrictForms) {
  const std::pair<const char*, int32_t> cases[] = {
      {" 42", 42},
      {"+7", 7},
      {"-7", -7},
      {"007", 7},
      {"$1F", 31},
      {"$1f", 31},
      {"$0000000001", 1},
      {"$FFFFFFFF", -1},
      {"$80000000", INT32_MIN},
      {"2147483647", INT32_MAX},
      {"-2147483647", -INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"0", 0},
      {"-0", 0},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(ParseSettingInt(text), value) << text;
}

TEST(ParseSettingInt, RejectsEverythingElseWithTheWholeTextInTheMessage) {
  const char* cases[] = {
      "",     "   ", "42 ", "- 5", "-$1F", "$", "$100000000", "2147483648",           "-2147483649",
      "0x10", "1.0", "1e3", "\t5", "+",    "-", "$G",         "99999999999999999999", "+-1",
      "5\n"};
  for (const char* text : cases) {
    try {
      ParseSettingInt(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const EConvertError& failure) {
      EXPECT_EQ(std::string(failure.what()),
                "'" + std::string(text) + "' is not a valid integer value");
      EXPECT_NE(failure.Address(), 0u);
    }
  }
}

TEST(ParseSettingInt, ReadsBackEveryValueFormatWrites) {
  const int32_t values[] = {INT32_MIN, INT32_MIN + 1, -100, -1, 0, 1, 100, INT32_MAX};
  for (int32_t value : values) {
    EXPECT_EQ(FormatSettingInt(value), std::to_string(value));
    EXPECT_EQ(ParseSettingInt(FormatSettingInt(value)), value);
  }
}

TEST(ParseSettingInt, LongValueIsReportedWhole) {
  const std::string text(3000, '9');
  try {
    ParseSettingInt(text);
    FAIL();
  } catch (const EConvertError& failure) {
    EXPECT_EQ(failure.Text(), text);
  }
}

TEST(EncodeHistoryValue, WrapsWhatTheReaderWouldStrip) {
  const std::pair<const char*, const char*> cases[] = {
      {"notepad C:\\a.txt", "notepad C:\\a.txt"},
      {"\"C:\\My Files\\a.txt\"", "\"\"C:\\My Files\\a.txt\"\""},
      {"'x'", "\"'x'\""},
      {"\"open", "\"\"open\""},
      {"a\"", "\"a\"\""},
      {" lead", "\" lead\""},
      {"trail\t", "\"trail\t\""},
      {"line\r\nbreak", "line  break"},
      {"end\n", "\"end \""},
      {"eof\x1A", "\"eof\x1A\""},
      {"mid\"dle", "mid\"dle"},
      {"", ""},
  };
  for (const auto& [value, stored] : cases) EXPECT_EQ(EncodeHistoryValue(value), stored) << value;
}

TEST(FillFormat, SubstitutesDirectivesInOrder) {
  EXPECT_EQ(FillFormat("%s-%p-%d %% %s", {"a", "b", "c"}), "a-b-c % ");
  EXPECT_EQ(FillFormat("end %", {}), "end %");
}

TEST(FormatCodeAddress, IsEightUpperCaseHexDigits) {
  EXPECT_EQ(FormatCodeAddress(0xABCD), "0000ABCD");
  EXPECT_EQ(FormatCodeAddress(0), "00000000");
  EXPECT_EQ(FormatCodeAddress(0xDEADBEEF), "DEADBEEF");
}

struct ReportCase {
  const char* message;
  const char* secondLine;
};

TEST(ComposeFailureReport, AddsAFullStopOnlyWhenTheMessageLacksOne) {
  const ReportCase cases[] = {
      {"'abc' is not a valid integer value", "'abc' is not a valid integer value."},
      {"done.", "done."},
      {"", ""}};
  testing::Log log;
  testing::FakeProcess texts(log);
  for (const ReportCase& c : cases) {
    const FailureReport report =
        ComposeFailureReport("EConvertError", c.message, "C:\\Apps\\tovik.exe", 0xABCD, texts);
    EXPECT_EQ(
        report.text,
        std::string("Exception EConvertError in module tovik.exe at 0000ABCD.\n") + c.secondLine);
    EXPECT_EQ(report.caption, "Application Error");
  }
}

TEST(ComposeFailureReport, UsesTheStringTableAndIsNeverCut) {
  testing::Log log;
  testing::FakeProcess texts(log);
  texts.strings = {{kReportFormatId, "%s|%s|%p|%s|%s"}, {kReportCaptionId, "Caption"}};
  const std::string longMessage(5000, 'm');
  const std::string longName(300, 'n');
  const FailureReport report =
      ComposeFailureReport("E", longMessage, "C:\\" + longName, 0x10, texts);
  EXPECT_EQ(report.text, "E|" + longName + "|00000010|" + longMessage + "|.");
  EXPECT_EQ(report.caption, "Caption");
}

TEST(EConvertError, MessageFollowsTheStringTableFormat) {
  testing::Log log;
  testing::FakeProcess texts(log);
  const EConvertError failure("x", 1);
  EXPECT_EQ(failure.Message(texts), "'x' is not a valid integer value");
  texts.strings[kConvertErrorFormatId] = "bad <%s>";
  EXPECT_EQ(failure.Message(texts), "bad <x>");
  EXPECT_STREQ(failure.ClassName(), "EConvertError");
}

}  // namespace
}  // namespace tovik
