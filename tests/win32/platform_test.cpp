// The Win32 side of the core's environment and shell interfaces, for real.
#include "win32/platform.h"

#include <gtest/gtest.h>

#include "tests/win32/test_support.h"

namespace tovik {
namespace {

using namespace tovik::testing;

TEST(Win32Environment, ExpandsWholeAndReportsSpacesForQuoting) {
  SetEnvironmentVariableA("TOVIK_SPACED", "C:\\Program Files");
  const std::string longValue(1000, 'e');
  SetEnvironmentVariableA("TOVIK_LONG", longValue.c_str());
  win32::Win32Environment environment;
  EXPECT_EQ(ExpandCommand("%TOVIK_SPACED%\\app.exe", environment),
            "\"C:\\Program Files\\app.exe\"");
  EXPECT_EQ(ExpandCommand("%TOVIK_LONG%\\x", environment), longValue + "\\x");
  EXPECT_EQ(ExpandCommand("%TOVIK_UNSET_VARIABLE%", environment), "%TOVIK_UNSET_VARIABLE%");
}

// The recorder logs how it was asked to show itself and the command line it received.
TEST(Win32Shell, OpensTheProgramWithTheRemainderAsParametersShownNormally) {
  const std::string recorder = ProgramFolder() + "recorder.exe";
  const std::string log = ProgramFolder() + "recorder.log";
  DeleteFileA(log.c_str());
  win32::Win32Shell shell;
  const SplitResult split = SplitCommand("\"" + recorder + "\" hello  world");
  EXPECT_GT(shell.ShellOpen(split.token, split.remainder), 32);
  for (int i = 0; i < 200 && ReadBytes(log).empty(); ++i) Sleep(25);
  EXPECT_EQ(ReadBytes(log), "1 \"" + recorder + "\"  hello  world\n");
  EXPECT_LE(shell.ShellOpen(ProgramFolder() + "no-such-program.exe", ""), 32);
}

}  // namespace
}  // namespace tovik
