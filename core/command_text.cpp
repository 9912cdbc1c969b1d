// Command text rules: the token rule shared by commands and the process command line.
#include "core/command_text.h"

namespace tovik {
namespace {

// Bytes 0x01..0x20 separate; 0x80..0xFF are ordinary token characters.
bool IsSeparator(char c) { return static_cast<unsigned char>(c) <= 0x20; }

}  // namespace

SplitResult SplitCommand(std::string_view text) {
  size_t pos = 0;
  const size_t end = text.size();
  for (;;) {
    while (pos < end && IsSeparator(text[pos])) ++pos;
    // An empty quoted pair before the token is skipped like a separator.
    if (pos + 1 < end && text[pos] == '"' && text[pos + 1] == '"') {
      pos += 2;
      continue;
    }
    break;
  }
  SplitResult result;
  while (pos < end && !IsSeparator(text[pos])) {
    if (text[pos] == '"') {
      const size_t close = text.find('"', pos + 1);
      const size_t stop = close == std::string_view::npos ? end : close;
      result.token.append(text.substr(pos + 1, stop - pos - 1));
      pos = stop == end ? end : stop + 1;
    } else {
      result.token.push_back(text[pos++]);
    }
  }
  result.remainder.assign(text.substr(pos));
  return result;
}

std::string FirstArgument(std::string_view rawCommandLine) {
  // The first token is the program's own name; the argument is the token after it.
  const SplitResult program = SplitCommand(rawCommandLine);
  return SplitCommand(program.remainder).token;
}

std::string ExpandCommand(const std::string& text, EnvironmentExpander& expander) {
  const std::optional<std::string> expanded = expander.ExpandEnvironment(text);
  if (!expanded) return std::string();
  // The whole line is wrapped, not just its first token: the shell then sees one file name.
  if (expanded->find(' ') != std::string::npos) return '"' + *expanded + '"';
  return *expanded;
}

std::string QuoteIfSpaced(const std::string& path) {
  if (path.find(' ') == std::string::npos) return path;
  return '"' + path + '"';
}

}  // namespace tovik
