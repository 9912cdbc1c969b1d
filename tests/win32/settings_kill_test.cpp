// A save killed at its worst moment, and settings files that cannot be written.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/win32/test_support.h"
#include "win32/settings_files.h"

namespace tovik {
namespace {

using namespace tovik::testing;
using Stage = win32::Win32SettingsFiles::Stage;

constexpr char kOld[] =
    "[Main]\r\nTop=1\r\nLeft=1\r\n; a long comment that makes the old text longer\r\n";
constexpr char kNew[] =
    "[Main]\r\nTop=2\r\nLeft=2\r\n; a long comment that makes the old text longer\r\n";

// The child's part: save kNew over the file and stop at `stage`, never to finish.
int SaveAndHang(const std::string& path, Stage stage, const std::string& marker) {
  win32::Win32SettingsFiles files;
  files.pauseForTest = [&](Stage reached) {
    if (reached != stage) return;
    WriteBytes(marker, "");
    Sleep(INFINITE);
  };
  files.ReplaceWhole(path, kNew);
  return 0;
}

// Runs this program as the saving child, kills it once it has paused, and waits for the end.
void KillSaveAt(const std::string& path, Stage stage) {
  const std::string marker = ScratchFolder("kill") + "paused";
  DeleteFileA(marker.c_str());
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string commandLine = "\"" + std::string(self) + "\" --save-and-hang \"" + path + "\" " +
                            std::to_string(static_cast<int>(stage)) + " \"" + marker + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &child));
  for (int i = 0; i < 400 && !FileExists(marker); ++i) Sleep(25);
  EXPECT_TRUE(FileExists(marker)) << "the save never reached its pause";
  TerminateProcess(child.hProcess, 9);
  WaitForSingleObject(child.hProcess, INFINITE);
  CloseHandle(child.hProcess);
  CloseHandle(child.hThread);
  DeleteFileA(marker.c_str());
}

TEST(KilledSave, BeforeTheReplaceLeavesTheOldFileAndTheNextSaveCleansUp) {
  const std::string path = ScratchFolder("kill") + "tovik.ini";
  WriteBytes(path, kOld);
  KillSaveAt(path, Stage::kTemporaryWritten);
  EXPECT_EQ(ReadBytes(path), kOld);
  win32::Win32SettingsFiles files;
  files.ReplaceWhole(path, kNew);
  EXPECT_EQ(ReadBytes(path), kNew);
  EXPECT_FALSE(FileExists(win32::Win32SettingsFiles::TemporaryPathFor(path)));
}

// Root ignores permission bits and Wine then the read-only attribute, so the test run makes
// read-only places with bind mounts.
std::string PreparedPlace(const char* variable) {
  const char* place = getenv(variable);
  return place ? place : "";
}

TEST(ReadOnlySettings, AFileThatCannotBeWrittenLosesNothing) {
  const std::string path = PreparedPlace("TOVIK_READONLY_FILE");
  if (path.empty()) GTEST_SKIP() << "no read-only file was prepared";
  const std::string before = ReadBytes(path);
  ASSERT_EQ(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  win32::Win32SettingsFiles files;
  files.ReplaceWhole(path, kNew);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_FALSE(FileExists(win32::Win32SettingsFiles::TemporaryPathFor(path)));
}

TEST(ReadOnlySettings, AWritableFileInAReadOnlyFolderIsRewrittenInPlace) {
  const std::string path = PreparedPlace("TOVIK_READONLY_FOLDER_FILE");
  if (path.empty()) GTEST_SKIP() << "no read-only folder was prepared";
  WriteBytes(path, kOld);
  win32::Win32SettingsFiles files;
  files.ReplaceWhole(path, kNew);
  EXPECT_EQ(ReadBytes(path), kNew);
  EXPECT_FALSE(FileExists(win32::Win32SettingsFiles::TemporaryPathFor(path)));
  WriteBytes(path, kOld);
  KillSaveAt(path, Stage::kRewrittenBeforeCut);
  // Killed inside the rewrite: the new text is whole, only the old tail may follow it.
  EXPECT_EQ(ReadBytes(path).substr(0, strlen(kNew)), kNew);
}

}  // namespace
}  // namespace tovik

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--save-and-hang") {
    return tovik::SaveAndHang(argv[2], static_cast<tovik::Stage>(atoi(argv[3])), argv[4]);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
