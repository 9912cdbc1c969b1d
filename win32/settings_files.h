// The Win32 side of the settings store: whole-file reads, atomic replaces, the code page.
#pragma once

#include <functional>

#include "core/settings_store.h"

namespace tovik::win32 {

class Win32AnsiCodec : public AnsiCodec {
 public:
  std::string WideToAnsi(const std::u16string& text) override;
  std::u16string AnsiToWide(const std::string& text) override;
};

class Win32SettingsFiles : public SettingsFiles {
 public:
  // Stages of a replace at which a test may stop the process.
  enum class Stage { kTemporaryWritten, kRewrittenBeforeCut };
  std::function<void(Stage)> pauseForTest;

  FileRead ReadWhole(const std::string& path) override;
  void ReplaceWhole(const std::string& path, const std::string& bytes) override;
  static std::string TemporaryPathFor(const std::string& path) { return path + ".tmp"; }

 private:
  bool RewriteInPlace(const std::string& path, const std::string& bytes);
  void Pause(Stage stage) {
    if (pauseForTest) pauseForTest(stage);
  }
};

}  // namespace tovik::win32
