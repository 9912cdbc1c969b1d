// INI text: the profile reader's rules for names, values and quotes, and line-preserving edits.
#include "core/ini_text.h"

namespace tovik {
namespace {

// The reader's white space, Ctrl+Z (an old end-of-file mark) included.
bool IsIniSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x1A; }

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsIniSpace(text[begin])) ++begin;
  while (end > begin && IsIniSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Names are matched without regard to letter case.
std::string Fold(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

enum class LineKind { kOther, kSection, kKey };

struct ParsedLine {
  LineKind kind = LineKind::kOther;
  std::string name;
  std::optional<std::string> value;  // none for a key line without '='
};

ParsedLine Parse(const std::string& text) {
  ParsedLine parsed;
  const std::string line = Trim(text);
  if (line.empty() || line[0] == ';') return parsed;
  if (line[0] == '[') {
    const size_t close = line.find(']');
    parsed.kind = LineKind::kSection;
    parsed.name = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return parsed;
  }
  parsed.kind = LineKind::kKey;
  const size_t equals = line.find('=');
  parsed.name = Trim(line.substr(0, equals));
  if (equals != std::string::npos) parsed.value = Trim(line.substr(equals + 1));
  return parsed;
}

// One pair of matching quotes around the whole value is removed; a NUL ends the value.
std::string ReaderValue(std::string value) {
  value = value.substr(0, value.find('\0'));
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    return value.substr(1, value.size() - 2);
  }
  return value;
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

IniText::IniText(const std::string& bytes, AnsiCodec& codec) : codec_(codec) {
  size_t unit = 1;
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    encoding_ = IniEncoding::kUtf8;
    byteOrderMark_ = bytes.substr(0, 3);
  } else if (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0) {
    encoding_ = bytes[0] == '\xFF' ? IniEncoding::kUtf16Le : IniEncoding::kUtf16Be;
    byteOrderMark_ = bytes.substr(0, 2);
    unit = 2;
  }
  sections_.emplace_back();
  const std::string newline = Encode("\n");
  const std::string carriageReturn = Encode("\r");
  size_t pos = byteOrderMark_.size();
  while (pos < bytes.size()) {
    // A line ends at a line feed on a character boundary.
    size_t end = bytes.find(newline, pos);
    while (end != std::string::npos && (end - pos) % unit != 0) end = bytes.find(newline, end + 1);
    Line line;
    line.raw = bytes.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (unit == 2 && line.raw.size() % 2) line.raw.pop_back();  // a stray odd byte at the end
    pos = end == std::string::npos ? bytes.size() : end + newline.size();
    if (end != std::string::npos) line.lineEnd = newline;
    if (line.raw.size() >= carriageReturn.size() &&
        line.raw.compare(line.raw.size() - carriageReturn.size(), carriageReturn.size(),
                         carriageReturn) == 0) {
      line.raw.resize(line.raw.size() - carriageReturn.size());
      line.lineEnd = carriageReturn + line.lineEnd;
    }
    switch (encoding_) {
      case IniEncoding::kAnsi:
        line.text = line.raw;
        break;
      case IniEncoding::kUtf8:
        line.text = codec_.WideToAnsi(Utf8ToUtf16(line.raw));
        break;
      case IniEncoding::kUtf16Le:
        line.text = codec_.WideToAnsi(Utf16FromBytes(line.raw, false));
        break;
      case IniEncoding::kUtf16Be:
        line.text = codec_.WideToAnsi(Utf16FromBytes(line.raw, true));
        break;
    }
    AddLine(std::move(line));
  }
}

void IniText::AddLine(Line line) {
  const ParsedLine parsed = Parse(line.text);
  if (parsed.kind == LineKind::kSection) {
    sectionIndex_.emplace(Fold(parsed.name), sections_.size());  // the first one is seen
    sections_.emplace_back();
  }
  Section& section = sections_.back();
  section.lines.push_back(std::move(line));
  if (parsed.kind == LineKind::kKey && sections_.size() > 1) {
    section.keys.emplace(Fold(parsed.name), section.lines.size() - 1);
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
  const std::optional<std::string> value = Parse(lines.lines[line->second].text).value;
  if (!value) return std::nullopt;
  return ReaderValue(*value);
}

void IniText::Set(const std::string& sectionName, const std::string& key,
                  const std::string& value) {
  const std::string crlf = Encode("\r\n");
  const auto found = sectionIndex_.find(Fold(sectionName));
  if (found == sectionIndex_.end()) {
    // A new section goes at the end; the last line gets the line end it may lack.
    for (auto s = sections_.rbegin(); s != sections_.rend(); ++s) {
      if (s->lines.empty()) continue;
      if (s->lines.back().lineEnd.empty()) s->lines.back().lineEnd = crlf;
      break;
    }
    AddLine(Line{"[" + sectionName + "]", "", crlf, true});
    AddLine(Line{key + "=" + value, "", crlf, true});
    return;
  }
  Section& section = sections_[found->second];
  const auto existing = section.keys.find(Fold(key));
  if (existing != section.keys.end()) {
    Line& line = section.lines[existing->second];
    line.text = Parse(line.text).name + "=" + value;  // the name as the file spells it
    line.changed = true;
    return;
  }
  // A new key follows the section's last key; comments and blanks after it stay after it.
  const size_t at = section.lastKeyLine + 1;
  if (section.lines[at - 1].lineEnd.empty()) section.lines[at - 1].lineEnd = crlf;
  section.lines.insert(section.lines.begin() + static_cast<long>(at),
                       Line{key + "=" + value, "", crlf, true});
  section.keys.emplace(Fold(key), at);
  section.lastKeyLine = at;
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
  for (const Section& section : sections_) {
    for (const Line& line : section.lines) {
      out += line.changed ? Encode(line.text) : line.raw;
      out += line.lineEnd;
    }
  }
  return out;
}

}  // namespace tovik
