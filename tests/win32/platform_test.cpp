// The Win32 side of the core's process, environment and shell interfaces, for real.
#include "win32/platform.h"

#include <gtest/gtest.h>

#include "tests/core/fakes.h"
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

TEST(Win32Shell, OpensTheProgramWithTheRemainderAsParameters) {
  const std::string recorder = ProgramFolder() + "recorder.exe";
  const std::string log = ProgramFolder() + "recorder.log";
  DeleteFileA(log.c_str());
  win32::Win32Shell shell;
  const SplitResult split = SplitCommand("\"" + recorder + "\" hello  world");
  EXPECT_GT(shell.ShellOpen(split.token, split.remainder), 32);
  for (int i = 0; i < 200 && ReadBytes(log).empty(); ++i) Sleep(25);
  EXPECT_EQ(ReadBytes(log), "\"" + recorder + "\"  hello  world\n");
  EXPECT_LE(shell.ShellOpen(ProgramFolder() + "no-such-program.exe", ""), 32);
}

TEST(Win32Process, GivesTheWholeModulePathAndTheCommandLine) {
  win32::Win32Process process;
  EXPECT_EQ(process.ModulePath(), ProgramFolder() + "platform_test.exe");
  EXPECT_EQ(process.CommandLine(), GetCommandLineA());
  EXPECT_EQ(
      process.ModuleOffset(reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)) + 0x1234),
      0x1234u);
  EXPECT_EQ(process.LoadText(65438), "");  // the test program carries no string table
}

}  // namespace
}  // namespace tovik
