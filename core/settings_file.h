// Settings file: its location, keys, defaults, the strict integer syntax and the failure report.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

#include "core/compiler.h"

namespace tovik {

inline constexpr char kMainSection[] = "Main";
inline constexpr char kHistorySection[] = "MRU";
inline constexpr char kTopKey[] = "Top";
inline constexpr char kLeftKey[] = "Left";
inline constexpr char kDoCloseKey[] = "DoClose";
inline constexpr char kDoMinimizeKey[] = "DoMinimize";
inline constexpr char kCountKey[] = "Count";
inline constexpr char kPositionDefault[] = "100";
inline constexpr char kOptionDefault[] = "0";
inline constexpr char kCountDefault[] = "0";
inline constexpr char kHistoryEntryDefault[] = "0";

// String table entries of the failure report.
inline constexpr unsigned kReportFormatId = 65438;
inline constexpr unsigned kReportCaptionId = 65439;
inline constexpr unsigned kConvertErrorFormatId = 65408;
inline constexpr unsigned kReportBoxType = 0x2010;  // MB_TASKMODAL | MB_ICONERROR
inline constexpr int kFailureExitStatus = 1;

// The settings file as the program uses it: one value per section and key.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual std::string ReadSettingText(const std::string& path, const char* section,
                                      const std::string& key, const char* defaultText) = 0;
  virtual void WriteSettingText(const std::string& path, const char* section,
                                const std::string& key, const std::string& value) = 0;
  // Called once after the last write of a save; a store that buffers writes stores them now.
  virtual void CommitSettings(const std::string& /*path*/) {}
};

// Loads a text of the program's string table; empty when there is none.
class TextSource {
 public:
  virtual ~TextSource() = default;
  virtual std::string LoadText(unsigned id) = 0;
};

// Base of the program's own failures; `Address` is the code address where it was raised. Not a
// std::runtime_error: the library's string inside it would double the exe's string code.
class Exception : public std::exception {
 public:
  Exception(std::string message, std::uintptr_t address)
      : message_(std::move(message)), address_(address) {}
  const char* what() const noexcept override { return message_.c_str(); }
  virtual const char* ClassName() const { return "Exception"; }
  virtual std::string Message(TextSource&) const { return what(); }
  std::uintptr_t Address() const { return address_; }

 private:
  std::string message_;
  std::uintptr_t address_;
};

// A settings value that is not an integer in the strict syntax.
class EConvertError : public Exception {
 public:
  EConvertError(std::string text, std::uintptr_t address);
  const char* ClassName() const override { return "EConvertError"; }
  std::string Message(TextSource& texts) const override;
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// Raises an Exception whose address is the caller's.
[[noreturn]] TOVIK_NOINLINE void RaiseException(const std::string& message);

std::string SettingsPathFor(std::string_view executablePath);
int32_t ParseSettingInt(const std::string& text);
std::string FormatSettingInt(int32_t value);
std::string HistoryKey(size_t position);

// A history value in the form that the profile reader gives back unchanged.
std::string EncodeHistoryValue(std::string value);

// Substitutes each %s, %p or %d of `format` with the next argument; %% is a percent sign.
std::string FillFormat(std::string_view format, std::initializer_list<std::string_view> args);
std::string FormatCodeAddress(std::uintptr_t offset);

struct FailureReport {
  std::string text;
  std::string caption;
};
// The report for a failure that reached the top level; a foreign failure has no message.
FailureReport ComposeFailureReport(std::string_view className, std::string_view message,
                                   std::string_view executablePath, std::uintptr_t codeOffset,
                                   TextSource& texts);

}  // namespace tovik
