// Command text rules: splitting a command into program and parameters, expansion, quoting.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tovik {

struct SplitResult {
  std::string token;      // quotes removed
  std::string remainder;  // from the separator that ended the token, unchanged
};

// Expands %NAME% references; nullopt when the platform reports failure.
class EnvironmentExpander {
 public:
  virtual ~EnvironmentExpander() = default;
  virtual std::optional<std::string> ExpandEnvironment(const std::string& text) = 0;
};

SplitResult SplitCommand(std::string_view text);
std::string FirstArgument(std::string_view rawCommandLine);
std::string ExpandCommand(const std::string& text, EnvironmentExpander& expander);
std::string QuoteIfSpaced(const std::string& path);

}  // namespace tovik
