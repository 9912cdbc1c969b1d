// An INI file in memory: read as the platform's profile reader reads it, edited line by line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
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
  // or adds the section at the end. Every other line keeps its bytes. False when the file's text
  // stays as it was.
  bool Set(const std::string& section, const std::string& key, const std::string& value);
  std::string Bytes() const;

 private:
  enum class LineEnd : unsigned char { kNone, kLf, kCrLf, kCr };
  // A line as spans of the file's bytes and of its 8-bit text, so parsing copies no line.
  struct Line {
    size_t textBegin = 0, textLength = 0;  // in the 8-bit text, without the line end
    size_t rawBegin = 0, rawLength = 0;    // in the file's own bytes
    LineEnd end = LineEnd::kNone;
    bool changed = false;
    std::string changedText;  // the line's text once written
  };
  struct Section {
    std::vector<Line> lines;  // the header first, unless this is the part before any section
    std::unordered_map<std::string, size_t> keys;  // folded name -> line, first one wins
    size_t lastKeyLine = 0;                        // the header when there is no key
  };

  void AddLine(Line line);
  static Line NewLine(std::string text) {
    Line line;
    line.end = LineEnd::kCrLf;
    line.changed = true;
    line.changedText = std::move(text);
    return line;
  }
  std::string_view TextOf(const Line& line) const;
  void AppendLineEnd(std::string& out, LineEnd end) const;
  std::string Encode(const std::string& text) const;

  AnsiCodec& codec_;
  IniEncoding encoding_ = IniEncoding::kAnsi;
  std::string byteOrderMark_;
  std::string bytes_;    // the file as read
  std::string text_;     // its lines in the 8-bit code page, unless the file is already that
  std::string lf_, cr_;  // the line-end characters in the file's encoding
  std::vector<Section> sections_;  // [0] holds the lines before the first section
  std::unordered_map<std::string, size_t> sectionIndex_;  // folded name -> first section
};

}  // namespace tovik
