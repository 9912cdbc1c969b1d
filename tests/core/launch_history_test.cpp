// Launch history: load rules and delete-current.
#include "core/launch_history.h"

#include <gtest/gtest.h>

#include "core/launch.h"
#include "tests/core/fakes.h"

namespace tovik {
namespace {

using testing::FakePlatform;

struct LoadCase {
  const char* name;
  std::map<std::string, std::string> values;
  std::vector<std::string> loaded;
};

TEST(LoadHistory, FollowsCountAndTheDefaults) {
  // clang-format off
  const LoadCase cases[] = {
      {"no count", {}, {}},
      {"zero", {{"Main/Count", "0"}, {"MRU/MRU0", "a"}}, {}},
      {"negative", {{"Main/Count", "-3"}, {"MRU/MRU0", "a"}}, {}},
      {"missing keys read 0", {{"Main/Count", "3"}, {"MRU/MRU0", "a"}, {"MRU/MRU1", "b"}}, {"a", "b", "0"}},
      {"empty skipped", {{"Main/Count", "3"}, {"MRU/MRU0", "a"}, {"MRU/MRU1", ""}, {"MRU/MRU2", "c"}}, {"a", "c"}},
      {"beyond count ignored", {{"Main/Count", "1"}, {"MRU/MRU0", "a"}, {"MRU/MRU1", "b"}}, {"a"}},
      {"duplicates kept", {{"Main/Count", "2"}, {"MRU/MRU0", "a"}, {"MRU/MRU1", "A"}}, {"a", "A"}},
  };
  // clang-format on
  for (const LoadCase& c : cases) {
    FakePlatform fake;
    fake.settings.values = c.values;
    LoadHistory(fake.settings, "s.ini", fake.window.history);
    EXPECT_EQ(fake.window.history.entries, c.loaded) << c.name;
  }
}

TEST(LoadHistory, HugeCountReadsAtMost65536Positions) {
  FakePlatform fake;
  fake.settings.values = {{"Main/Count", "2147483647"}};
  LoadHistory(fake.settings, "s.ini", fake.window.history);
  EXPECT_EQ(fake.window.history.entries.size(), 65536u);
  EXPECT_EQ(fake.log.back(), "read MRU/MRU65535");
}

TEST(DeleteCurrentCommand, RemovesTheFirstMatchAndClearsTheFieldOrKeepsBoth) {
  const std::tuple<const char*, std::vector<std::string>, const char*> cases[] = {
      {"CALC", {"a", "calc"}, ""}, {"b", {"a", "Calc", "calc"}, "b"}};
  for (const auto& [text, after, textAfter] : cases) {
    FakePlatform fake;
    fake.window.history.entries = {"a", "Calc", "calc"};
    fake.window.commandText = text;
    DeleteCurrentCommand(fake.window);
    EXPECT_EQ(fake.window.history.entries, after) << text;
    EXPECT_EQ(fake.window.commandText, textAfter) << text;
    EXPECT_EQ(fake.log.empty() ? "" : fake.log.back(), "focus") << text;
  }
}

}  // namespace
}  // namespace tovik
