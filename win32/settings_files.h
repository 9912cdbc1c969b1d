// The Win32 side of the settings store: whole-file reads, and saves that leave the old text or
// the new one whole, or the next start finishes them.
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
  // The temporary of a rewrite in place of `file`, from `old` to `fresh`.
  static std::string JournalOf(const BY_HANDLE_FILE_INFORMATION& file, const std::string& old,
                               const std::string& fresh);

 private:
  // kNotCreated: no temporary was made, and the folder is not known to refuse a new file.
  enum class Written { kWhole, kNoNewFile, kNotCreated, kFailed };
  // kOther: what was put in place is not this save's text (another program wrote the temporary).
  enum class Put { kDone, kGaveUp, kOther };
  FileRead ReadFrom(const std::string& path, Patience& patience);
  FileRead Settle(const std::string& path, bool wantText, Patience& patience, bool& settled);
  // Moves the temporary's text into place, waiting a moment for a program that holds either.
  bool MoveIn(const std::string& temporary, const std::string& path, DWORD flags,
              Patience& patience);
  bool HeldOrGoing(const std::string& path);
  bool FolderOpens(const std::string& file, Patience& patience);
  std::optional<std::string> FileOf(const std::string& named);
  std::optional<BY_HANDLE_FILE_INFORMATION> InformationOf(const std::string& path,
                                                          Patience& patience);
  bool OpenToRewrite(const std::string& path, std::optional<Handle>& file, std::string& old,
                     Patience& patience);
  Put PutInPlace(const std::string& path, const std::string& bytes, Patience& patience);
  Put RewriteInPlace(const std::string& path, const std::string& bytes, DWORD attributes,
                     bool journaled, Patience& patience);
  Written WriteTemporary(const std::string& temporary, const std::string& bytes, DWORD attributes,
                         Patience& patience, std::optional<Handle>* kept = nullptr);

  const FileCalls& calls_;
};

}  // namespace tovik::win32
