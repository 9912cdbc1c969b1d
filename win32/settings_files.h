// The Win32 side of the settings store: whole-file reads, atomic replaces, the code page.
#pragma once

#include <optional>

#include "core/settings_store.h"
#include "win32/file_calls.h"

namespace tovik::win32 {

class Patience;

class Win32AnsiCodec : public AnsiCodec {
 public:
  std::string WideToAnsi(const std::u16string& text) override;
  std::u16string AnsiToWide(const std::string& text) override;
};

class Win32SettingsFiles : public SettingsFiles {
 public:
  explicit Win32SettingsFiles(const FileCalls& calls = SystemFileCalls()) : calls_(calls) {}
  FileRead ReadWhole(const std::string& path) override;
  void ReplaceWhole(const std::string& path, const std::string& bytes) override;
  static std::string TemporaryPathFor(const std::string& path) { return path + ".tmp"; }

 private:
  // kNotCreated: no temporary was made, and the folder is not known to refuse a new file.
  enum class Written { kWhole, kNoNewFile, kNotCreated, kFailed };
  // kOther: what was put in place is not this save's text (another program wrote the temporary).
  enum class Put { kDone, kGaveUp, kOther };
  // kTorn: a write over the old text failed part-way and the old text could not be put back.
  enum class Rewritten { kDone, kUnchanged, kTorn };
  FileRead ReadFrom(const std::string& path, Patience& patience);
  // Moves the temporary's text into place, waiting a moment for a program that holds either.
  bool MoveIn(const std::string& temporary, const std::string& path, DWORD flags,
              Patience& patience);
  bool Holds(const std::string& path, const std::string& bytes, Patience& patience);
  bool HeldOrGoing(const std::string& path);
  std::optional<std::string> FileOf(const std::string& named);
  std::optional<DWORD> NamesOf(const std::string& path, Patience& patience);
  FileRead FinishRewrite(const std::string& path, FileRead read, Patience& patience);
  Put PutInPlace(const std::string& path, const std::string& bytes, Patience& patience);
  Written WriteTemporary(const std::string& temporary, const std::string& bytes, DWORD attributes,
                         Patience& patience);
  Rewritten RewriteInPlace(const std::string& path, const std::string& bytes, Patience& patience);

  const FileCalls& calls_;
};

}  // namespace tovik::win32
