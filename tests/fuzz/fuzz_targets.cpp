// libFuzzer harnesses for the core routines that parse outside input, with properties checked:
// the command text, the integers, expansion, and any file's bytes with an entry written into them.
// Built once per target: TOVIK_FUZZ_TARGET selects which one this binary is.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/command_text.h"
#include "core/ini_text.h"
#include "core/settings_file.h"
#include "tests/core/fakes.h"

namespace {

using namespace tovik;

void Check(bool property) {
  if (!property) std::abort();
}

using testing::Latin1Codec;

// Splits the input at its first NUL-NUL pair into two texts.
std::pair<std::string, std::string> TwoParts(const std::string& input) {
  const size_t cut = input.find(std::string("\0\0", 2));
  if (cut == std::string::npos) return {input, ""};
  return {input.substr(0, cut), input.substr(cut + 2)};
}

void FuzzCommandText(const std::string& input) {
  const SplitResult split = SplitCommand(input);
  // The remainder is the input's own tail, and the token is made of what came before it.
  Check(split.remainder.size() <= input.size());
  Check(input.compare(input.size() - split.remainder.size(), std::string::npos, split.remainder) ==
        0);
  Check(split.token.size() <= input.size() - split.remainder.size());
  Check(split.token.find('"') == std::string::npos);
  const std::string argument = FirstArgument(input);
  Check(argument.size() <= input.size());
  const std::string quoted = QuoteIfSpaced(input);
  Check(quoted == input || quoted == '"' + input + '"');
}

void FuzzSettingInt(const std::string& input) {
  try {
    const int32_t value = ParseSettingInt(input);
    Check(ParseSettingInt(FormatSettingInt(value)) == value);
  } catch (const EConvertError& failure) {
    Check(failure.Text() == input);
  }
  if (input.size() >= 4) {
    int32_t value;
    std::memcpy(&value, input.data(), 4);
    Check(ParseSettingInt(FormatSettingInt(value)) == value);
  }
}

void FuzzExpandCommand(const std::string& input) {
  testing::FakeEnvironment environment;
  environment.variables = {{"A", "a b"}, {"E", ""}, {"Q", "\"q\""}};
  environment.fails = !input.empty() && input[0] == '!';
  const std::string expanded = ExpandCommand(input, environment);
  if (environment.fails) Check(expanded.empty());
  if (expanded.find(' ') != std::string::npos) {
    Check(expanded.front() == '"' && expanded.back() == '"');
  }
}

// A history entry written into any file reads back as it was (line breaks become spaces).
void FuzzIniRoundTrip(const std::string& input) {
  auto [file, entry] = TwoParts(input);
  entry = entry.substr(0, entry.find('\0'));  // the field's text cannot hold a NUL
  Latin1Codec codec;
  IniText text(file, codec);
  text.Set("MRU", "MRU0", EncodeHistoryValue(entry));
  std::string expected = entry;
  for (char& c : expected) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  IniText reread(text.Bytes(), codec);
  Check(reread.Find("MRU", "MRU0") == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  TOVIK_FUZZ_TARGET(input);
  return 0;
}
