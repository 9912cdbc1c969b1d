// Settings file rules: path, strict integers, history values and the failure report text.
#include "core/settings_file.h"

#include "core/failure_texts.h"

namespace tovik {
namespace {

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigitValue(char c) {
  if (IsDecimalDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Kept out of line so the address it records lies in the parser, where the failure arose.
[[noreturn]] TOVIK_NOINLINE void RaiseConvertError(const std::string& text) {
  throw EConvertError(text, reinterpret_cast<std::uintptr_t>(TOVIK_RETURN_ADDRESS()));
}

std::string TextOrDefault(TextSource& texts, unsigned id, const char* fallback) {
  std::string text = texts.LoadText(id);
  return text.empty() ? std::string(fallback) : text;
}

// Bytes the profile reader strips from either end of a value; Ctrl+Z is an old end-of-file mark.
bool IsTrimmedByReader(char c) {
  return c == ' ' || c == '\t' || (c >= 0x0A && c <= 0x0D) || c == 0x1A;
}
bool IsQuote(char c) { return c == '"' || c == '\''; }

}  // namespace

void RaiseException(const std::string& message) {
  throw Exception(message, reinterpret_cast<std::uintptr_t>(TOVIK_RETURN_ADDRESS()));
}

EConvertError::EConvertError(std::string text, std::uintptr_t address)
    : Exception(FillFormat(TOVIK_CONVERT_ERROR_FORMAT, {text}), address), text_(std::move(text)) {}

std::string EConvertError::Message(TextSource& texts) const {
  return FillFormat(TextOrDefault(texts, kConvertErrorFormatId, TOVIK_CONVERT_ERROR_FORMAT),
                    {text_});
}

std::string SettingsPathFor(std::string_view executablePath) {
  // Only the last component may supply the extension; '/' is not a separator here.
  const size_t stop = executablePath.find_last_of(".:\\");
  if (stop != std::string_view::npos && executablePath[stop] == '.') {
    return std::string(executablePath.substr(0, stop)) + ".ini";
  }
  return std::string(executablePath) + ".ini";
}

int32_t ParseSettingInt(const std::string& text) {
  size_t pos = text.find_first_not_of(' ');
  if (pos == std::string::npos) RaiseConvertError(text);
  uint64_t value = 0;
  if (text[pos] == '$') {
    if (++pos == text.size()) RaiseConvertError(text);
    for (; pos < text.size(); ++pos) {
      const int digit = HexDigitValue(text[pos]);
      if (digit < 0) RaiseConvertError(text);
      value = value * 16 + static_cast<uint64_t>(digit);
      if (value > 0xFFFFFFFFu) RaiseConvertError(text);
    }
    return static_cast<int32_t>(static_cast<uint32_t>(value));
  }
  const bool negative = text[pos] == '-';
  if (negative || text[pos] == '+') ++pos;
  if (pos == text.size()) RaiseConvertError(text);
  // A minus sign reaches one further, so the lowest value written reads back.
  const uint64_t limit = negative ? 2147483648u : 2147483647u;
  for (; pos < text.size(); ++pos) {
    if (!IsDecimalDigit(text[pos])) RaiseConvertError(text);
    value = value * 10 + static_cast<uint64_t>(text[pos] - '0');
    if (value > limit) RaiseConvertError(text);
  }
  return negative ? static_cast<int32_t>(-static_cast<int64_t>(value))
                  : static_cast<int32_t>(value);
}

std::string FormatSettingInt(int32_t value) { return std::to_string(value); }

std::string HistoryKey(size_t position) { return kHistorySection + std::to_string(position); }

std::string EncodeHistoryValue(std::string value) {
  // A line break would end the file's line and corrupt the entries after it.
  for (char& c : value) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  if (value.empty()) return value;
  const char first = value.front();
  const char last = value.back();
  // The reader strips one pair of quotes and the white space around it: give it one to strip.
  if (IsQuote(first) || IsQuote(last) || IsTrimmedByReader(first) || IsTrimmedByReader(last)) {
    return '"' + value + '"';
  }
  return value;
}

std::string FillFormat(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string out;
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 == format.size()) {
      out.push_back(format[i]);
      continue;
    }
    const char directive = format[++i];
    if (directive == '%') {
      out.push_back('%');
    } else if (next != args.end()) {
      out.append(*next++);
    }
  }
  return out;
}

std::string FormatCodeAddress(std::uintptr_t offset) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, offset >>= 4) text[static_cast<size_t>(i)] = kDigits[offset & 0xF];
  return text;
}

FailureReport ComposeFailureReport(std::string_view className, std::string_view message,
                                   std::string_view executablePath, std::uintptr_t codeOffset,
                                   TextSource& texts) {
  const size_t slash = executablePath.find_last_of('\\');
  const std::string_view moduleName =
      slash == std::string_view::npos ? executablePath : executablePath.substr(slash + 1);
  const bool needsStop = !message.empty() && message.back() != '.';
  FailureReport report;
  report.text = FillFormat(
      TextOrDefault(texts, kReportFormatId, TOVIK_REPORT_FORMAT),
      {className, moduleName, FormatCodeAddress(codeOffset), message, needsStop ? "." : ""});
  report.caption = TextOrDefault(texts, kReportCaptionId, TOVIK_REPORT_CAPTION);
  return report;
}

}  // namespace tovik
