// An INI file in memory: read as the platform's profile reader reads it, edited line by line.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tovik {

// Converts between the system's 8-bit code page and UTF-16.
class AnsiCodec {
 public:
  virtual ~AnsiCodec() = default;
  virtual std::string WideToAnsi(const std::u16string& text) = 0;
  virtual std::u16string AnsiToWide(const std::string& text) = 0;
};

enum class IniEncoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };

class IniText {
 public:
  // Parses the file's bytes; a byte-order mark chooses the encoding, which writing keeps.
  IniText(const std::string& bytes, AnsiCodec& codec);

  // The value as the profile reader gives it, or nullopt when the key has no value line.
  std::optional<std::string> Find(const std::string& section, const std::string& key) const;
  // Replaces the key's value on its own line, or adds the key after its section's last key,
  // or adds the section at the end. Every other line keeps its bytes.
  void Set(const std::string& section, const std::string& key, const std::string& value);
  std::string Bytes() const;
  IniEncoding Encoding() const { return encoding_; }

 private:
  struct Line {
    std::string text;     // in the 8-bit code page, without the line end
    std::string raw;      // the file's own bytes of the line, without the line end
    std::string lineEnd;  // as in the file: "\r\n", "\n" or nothing on a last line
    bool changed = false;
  };
  struct Section {
    std::vector<Line> lines;  // the header first, unless this is the part before any section
    std::unordered_map<std::string, size_t> keys;  // folded name -> line, first one wins
    size_t lastKeyLine = 0;                        // the header when there is no key
  };

  void AddLine(Line line);
  std::string Encode(const std::string& text) const;

  AnsiCodec& codec_;
  IniEncoding encoding_ = IniEncoding::kAnsi;
  std::string byteOrderMark_;
  std::vector<Section> sections_;  // [0] holds the lines before the first section
  std::unordered_map<std::string, size_t> sectionIndex_;  // folded name -> first section
};

}  // namespace tovik
