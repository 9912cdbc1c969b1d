// INI text: the profile reader's rules for names, values and quotes, and line-preserving edits.
#include "core/ini_text.h"

#include <algorithm>
#include <string_view>

namespace tovik {
namespace {

// The reader's white space, Ctrl+Z (an old end-of-file mark) included.
bool IsIniSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x1A; }

std::string_view Trim(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsIniSpace(text[begin])) ++begin;
  while (end > begin && IsIniSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Names are matched without regard to letter case.
std::string Fold(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

enum class LineKind { kOther, kSection, kKey };

// Views into the line that was parsed.
struct ParsedLine {
  LineKind kind = LineKind::kOther;
  std::string_view name;
  std::optional<std::string_view> value;  // none for a key line without '='
};

ParsedLine Parse(std::string_view text) {
  ParsedLine parsed;
  const std::string_view line = Trim(text);
  if (line.empty() || line[0] == ';') return parsed;
  // A header's name runs to the last ']' of its line; without one the line is no header.
  const size_t close = line[0] == '[' ? line.rfind(']') : std::string_view::npos;
  if (close != std::string_view::npos) {
    parsed.kind = LineKind::kSection;
    parsed.name = Trim(line.substr(1, close - 1));
    return parsed;
  }
  parsed.kind = LineKind::kKey;
  const size_t equals = line.find('=');
  parsed.name = Trim(line.substr(0, equals));
  if (equals != std::string_view::npos) parsed.value = Trim(line.substr(equals + 1));
  return parsed;
}

// One pair of matching quotes around the whole value is removed; a NUL ends the value.
std::string ReaderValue(std::string_view value) {
  value = value.substr(0, value.find('\0'));
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    return std::string(value.substr(1, value.size() - 2));
  }
  return std::string(value);
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const int length = lead < 0x80       ? 1
                       : lead >> 5 == 6  ? 2
                       : lead >> 4 == 14 ? 3
                       : lead >> 3 == 30 ? 4
                                         : 0;
    char32_t c = length == 1   ? lead
                 : length == 2 ? lead & 0x1F
                 : length == 3 ? lead & 0x0F
                               : lead & 0x07;
    bool valid = length > 0 && i + static_cast<size_t>(length) <= text.size();
    for (int k = 1; valid && k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid) {
      out += u'\xFFFD';
      ++i;
      continue;
    }
    i += static_cast<size_t>(length);
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string Utf16FromBytes(const std::string& bytes, bool bigEndian) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i) {
    const unsigned char a = static_cast<unsigned char>(bytes[2 * i]);
    const unsigned char b = static_cast<unsigned char>(bytes[2 * i + 1]);
    out[i] = static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  }
  return out;
}

std::string BytesFromUtf16(const std::u16string& text, bool bigEndian) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    const char high = static_cast<char>(c >> 8), low = static_cast<char>(c & 0xFF);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
  }
  return out;
}

}  // namespace

IniText::IniText(const std::string& bytes, AnsiCodec& codec) : codec_(codec), bytes_(bytes) {
  size_t unit = 1;
  if (bytes_.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    encoding_ = IniEncoding::kUtf8;
    byteOrderMark_ = bytes_.substr(0, 3);
  } else if (bytes_.compare(0, 2, "\xFF\xFE") == 0 || bytes_.compare(0, 2, "\xFE\xFF") == 0) {
    encoding_ = bytes_[0] == '\xFF' ? IniEncoding::kUtf16Le : IniEncoding::kUtf16Be;
    byteOrderMark_ = bytes_.substr(0, 2);
    unit = 2;
  }
  lf_ = Encode("\n");
  cr_ = Encode("\r");
  sections_.emplace_back();
  size_t pos = byteOrderMark_.size();
  while (pos < bytes_.size()) {
    // A line ends at a line feed, a carriage return and line feed, or a lone carriage return, as
    // the reader ends it; each on a character boundary.
    size_t found = pos;
    if (unit == 1) {  // a plain scan: find_first_of tries each byte against each end character
      const auto isEnd = [](char c) { return c == '\r' || c == '\n'; };
      found = std::find_if(bytes_.begin() + static_cast<std::ptrdiff_t>(pos), bytes_.end(), isEnd) -
              bytes_.begin();
    }
    while (unit > 1 && found + unit <= bytes_.size() && bytes_.compare(found, unit, lf_) != 0 &&
           bytes_.compare(found, unit, cr_) != 0) {
      found += unit;
    }
    Line line;
    line.rawBegin = pos;
    line.rawLength = std::min(found, bytes_.size()) - pos;
    line.rawLength -= line.rawLength % unit;  // a stray odd byte at the very end
    if (found + unit > bytes_.size()) {
      pos = bytes_.size();
    } else if (bytes_.compare(found, unit, lf_) == 0) {
      line.end = LineEnd::kLf;
      pos = found + unit;
    } else if (bytes_.compare(found + unit, unit, lf_) == 0) {
      line.end = LineEnd::kCrLf;
      pos = found + 2 * unit;
    } else {
      line.end = LineEnd::kCr;
      pos = found + unit;
    }
    if (encoding_ == IniEncoding::kAnsi) {
      line.textBegin = line.rawBegin;
      line.textLength = line.rawLength;
    } else {
      const std::string raw = bytes_.substr(line.rawBegin, line.rawLength);
      const std::string text =
          codec_.WideToAnsi(encoding_ == IniEncoding::kUtf8
                                ? Utf8ToUtf16(raw)
                                : Utf16FromBytes(raw, encoding_ == IniEncoding::kUtf16Be));
      line.textBegin = text_.size();
      line.textLength = text.size();
      text_ += text;
    }
    AddLine(std::move(line));
  }
}

std::string_view IniText::TextOf(const Line& line) const {
  if (line.changed) return line.changedText;
  const std::string& source = encoding_ == IniEncoding::kAnsi ? bytes_ : text_;
  return std::string_view(source).substr(line.textBegin, line.textLength);
}

void IniText::AppendLineEnd(std::string& out, LineEnd end) const {
  if (end == LineEnd::kCr || end == LineEnd::kCrLf) out += cr_;
  if (end == LineEnd::kLf || end == LineEnd::kCrLf) out += lf_;
}

void IniText::AddLine(Line line) {
  const ParsedLine parsed = Parse(TextOf(line));
  std::string folded = Fold(parsed.name);
  if (parsed.kind == LineKind::kSection) {
    sectionIndex_.emplace(std::move(folded), sections_.size());  // the first one is seen
    sections_.emplace_back();
  }
  const bool isKey = parsed.kind == LineKind::kKey && sections_.size() > 1;
  Section& section = sections_.back();
  section.lines.push_back(std::move(line));
  if (isKey) {
    section.keys.emplace(std::move(folded), section.lines.size() - 1);
    section.lastKeyLine = section.lines.size() - 1;
  }
}

std::optional<std::string> IniText::Find(const std::string& sectionName,
                                         const std::string& key) const {
  const auto section = sectionIndex_.find(Fold(sectionName));
  if (section == sectionIndex_.end()) return std::nullopt;
  const Section& lines = sections_[section->second];
  const auto line = lines.keys.find(Fold(key));
  if (line == lines.keys.end()) return std::nullopt;
  const std::optional<std::string_view> value = Parse(TextOf(lines.lines[line->second])).value;
  if (!value) return std::nullopt;
  return ReaderValue(*value);
}

bool IniText::Set(const std::string& sectionName, const std::string& key,
                  const std::string& value) {
  const auto found = sectionIndex_.find(Fold(sectionName));
  if (found == sectionIndex_.end()) {
    // A new section goes at the end; the last line gets the line end it may lack.
    for (auto s = sections_.rbegin(); s != sections_.rend(); ++s) {
      if (s->lines.empty()) continue;
      if (s->lines.back().end == LineEnd::kNone) s->lines.back().end = LineEnd::kCrLf;
      break;
    }
    AddLine(NewLine("[" + sectionName + "]"));
    AddLine(NewLine(key + "=" + value));
    return true;
  }
  Section& section = sections_[found->second];
  const auto existing = section.keys.find(Fold(key));
  if (existing != section.keys.end()) {
    Line& line = section.lines[existing->second];
    std::string text = std::string(Parse(TextOf(line)).name) + "=" + value;  // name as in file
    // The same text keeps the line's own bytes.
    if (text == (line.changed ? std::string_view(line.changedText) : TextOf(line))) return false;
    line.changedText = std::move(text);
    line.changed = true;
    return true;
  }
  // A new key follows the section's last key; comments and blanks after it stay after it.
  const size_t at = section.lastKeyLine + 1;
  if (section.lines[at - 1].end == LineEnd::kNone) section.lines[at - 1].end = LineEnd::kCrLf;
  section.lines.insert(section.lines.begin() + static_cast<long>(at), NewLine(key + "=" + value));
  section.keys.emplace(Fold(key), at);
  section.lastKeyLine = at;
  return true;
}

std::string IniText::Encode(const std::string& text) const {
  switch (encoding_) {
    case IniEncoding::kAnsi:
      return text;
    case IniEncoding::kUtf8:
      return Utf16ToUtf8(codec_.AnsiToWide(text));
    case IniEncoding::kUtf16Le:
      return BytesFromUtf16(codec_.AnsiToWide(text), false);
    case IniEncoding::kUtf16Be:
      return BytesFromUtf16(codec_.AnsiToWide(text), true);
  }
  return text;
}

std::string IniText::Bytes() const {
  std::string out = byteOrderMark_;
  out.reserve(bytes_.size() + bytes_.size() / 4 + 64);
  for (const Section& section : sections_) {
    for (const Line& line : section.lines) {
      if (line.changed) {
        out += Encode(line.changedText);
      } else {
        out.append(bytes_, line.rawBegin, line.rawLength);
      }
      AppendLineEnd(out, line.end);
    }
  }
  return out;
}

}  // namespace tovik
