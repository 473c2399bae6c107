#include "platform/ProfileParser.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/TextCompare.h"

namespace pw::platform {
namespace {

// One line of the file: [begin, end) is its text, next the start of the following line.
struct Line {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t next = 0;
};

enum class LineKind { Blank, Comment, Section, Entry, Other };

template <typename Char>
struct ParsedLine {
  LineKind kind = LineKind::Blank;
  std::basic_string_view<Char> name;   // section name or key
  std::basic_string_view<Char> value;  // entries only
  std::size_t valueStart = 0;          // entries: offset of the text after '=' within the line
};

template <typename Char>
bool IsBlank(Char c) {
  return c == Char(' ') || c == Char('\t') || c == Char('\v');
}

template <typename Char>
std::basic_string_view<Char> TrimBlanks(std::basic_string_view<Char> text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// CRLF, CR alone and LF alone all end a line.
template <typename Char>
std::vector<Line> SplitLines(std::basic_string_view<Char> text) {
  std::vector<Line> lines;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    Line line;
    line.begin = i;
    while (i < n && text[i] != Char('\r') && text[i] != Char('\n')) ++i;
    line.end = i;
    if (i < n) {
      if (text[i] == Char('\r') && i + 1 < n && text[i + 1] == Char('\n')) {
        i += 2;
      } else {
        ++i;
      }
    }
    line.next = i;
    lines.push_back(line);
  }
  return lines;
}

template <typename Char>
ParsedLine<Char> ParseLine(std::basic_string_view<Char> line) {
  ParsedLine<Char> parsed;
  std::size_t start = 0;
  while (start < line.size() && IsBlank(line[start])) ++start;
  const std::basic_string_view<Char> text = line.substr(start);
  if (TrimBlanks(text).empty()) return parsed;
  if (text.front() == Char(';')) {
    parsed.kind = LineKind::Comment;
    return parsed;
  }
  if (text.front() == Char('[')) {
    // The name ends at the first ']' or, when there is none, at the line's end.
    std::basic_string_view<Char> inner = text.substr(1);
    const std::size_t close = inner.find(Char(']'));
    if (close != inner.npos) inner = inner.substr(0, close);
    parsed.kind = LineKind::Section;
    parsed.name = TrimBlanks(inner);
    return parsed;
  }
  const std::size_t equals = text.find(Char('='));
  if (equals == text.npos) {
    parsed.kind = LineKind::Other;
    parsed.name = TrimBlanks(text);
    return parsed;
  }
  parsed.kind = LineKind::Entry;
  parsed.name = TrimBlanks(text.substr(0, equals));
  parsed.value = TrimBlanks(text.substr(equals + 1));
  parsed.valueStart = start + equals + 1;
  return parsed;
}

// Names compare without regard to case: ANSI names by the system's rules; in a
// Unicode file, where the stored name is UTF-16, ASCII letters only.
template <typename Char>
bool NameEquals(std::basic_string_view<Char> stored, std::string_view wanted) {
  if constexpr (sizeof(Char) == 1) {
    return platform::SameTextIgnoringCase(stored, wanted);
  }
  if (stored.size() != wanted.size()) return false;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    auto a = static_cast<std::uint32_t>(stored[i]);
    if constexpr (sizeof(Char) == 1) a &= 0xFF;
    std::uint32_t b = static_cast<unsigned char>(wanted[i]);
    if (a >= 'a' && a <= 'z') a -= 32;
    if (b >= 'a' && b <= 'z') b -= 32;
    if (a != b) return false;
  }
  return true;
}

template <typename Char>
std::basic_string_view<Char> StripOuterQuotes(std::basic_string_view<Char> value) {
  if (value.size() >= 2 && (value.front() == Char('"') || value.front() == Char('\'')) &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

template <typename Char>
std::string Narrow(std::basic_string_view<Char> text) {
  std::string result;
  result.reserve(text.size());
  for (Char c : text) {
    const auto unit = static_cast<std::uint32_t>(c) & (sizeof(Char) == 1 ? 0xFFu : 0xFFFFu);
    result.push_back(unit <= 0xFF ? static_cast<char>(unit) : '?');
  }
  return result;
}

template <typename Char>
std::basic_string<Char> Widen(std::string_view text) {
  std::basic_string<Char> result;
  result.reserve(text.size());
  for (char c : text) result.push_back(static_cast<Char>(static_cast<unsigned char>(c)));
  return result;
}

// The file's text as code units: bytes for ANSI files, UTF-16 units after a
// UTF-16LE mark (an odd last byte is kept aside and written back unchanged).
struct DecodedFile {
  bool unicode = false;
  std::string ansi;
  std::u16string wide;
  std::string oddTail;
};

DecodedFile Decode(std::string_view bytes) {
  DecodedFile file;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
    file.unicode = true;
    const std::string_view body = bytes.substr(2);
    file.wide.reserve(body.size() / 2);
    for (std::size_t i = 0; i + 1 < body.size(); i += 2) {
      file.wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(body[i]) |
                                                (static_cast<unsigned char>(body[i + 1]) << 8)));
    }
    if (body.size() % 2 != 0) file.oddTail = std::string(body.substr(body.size() - 1));
  } else {
    file.ansi = std::string(bytes);
  }
  return file;
}

std::string Encode(const DecodedFile& file) {
  if (!file.unicode) return file.ansi;
  std::string bytes("\xFF\xFE", 2);
  bytes.reserve(2 + file.wide.size() * 2 + file.oddTail.size());
  for (char16_t unit : file.wide) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  bytes += file.oddTail;
  return bytes;
}

template <typename Char>
std::optional<std::string> Find(std::basic_string_view<Char> text, std::string_view section, std::string_view key) {
  bool inSection = false;
  bool sectionSeen = false;
  for (const Line& line : SplitLines(text)) {
    const ParsedLine<Char> parsed = ParseLine(text.substr(line.begin, line.end - line.begin));
    if (parsed.kind == LineKind::Section) {
      // Only the first copy of a section counts.
      if (sectionSeen) return std::nullopt;
      inSection = NameEquals(parsed.name, section);
      sectionSeen = inSection;
      continue;
    }
    if (inSection && parsed.kind == LineKind::Entry && NameEquals(parsed.name, key)) {
      return Narrow(StripOuterQuotes(parsed.value));
    }
  }
  return std::nullopt;
}

template <typename Char>
bool Update(std::basic_string<Char>& text, std::string_view section, std::string_view key,
            std::optional<std::string_view> value) {
  const std::basic_string_view<Char> view(text);
  const std::vector<Line> lines = SplitLines(view);
  const std::basic_string<Char> lineBreak = Widen<Char>("\r\n");

  std::size_t sectionLine = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const ParsedLine<Char> parsed = ParseLine(view.substr(lines[i].begin, lines[i].end - lines[i].begin));
    if (parsed.kind == LineKind::Section && NameEquals(parsed.name, section)) {
      sectionLine = i;
      break;
    }
  }

  if (sectionLine == lines.size()) {
    if (!value) return false;
    // A new section goes at the end of the file, with no blank line before it.
    std::basic_string<Char> addition;
    if (!text.empty() && text.back() != Char('\r') && text.back() != Char('\n')) addition += lineBreak;
    addition += Widen<Char>("[");
    addition += Widen<Char>(section);
    addition += Widen<Char>("]");
    addition += lineBreak;
    addition += Widen<Char>(key);
    addition += Widen<Char>("=");
    addition += Widen<Char>(*value);
    addition += lineBreak;
    text += addition;
    return true;
  }

  std::size_t keyLine = lines.size();
  std::size_t lastKeyLine = sectionLine;
  std::size_t keyValueStart = 0;
  for (std::size_t i = sectionLine + 1; i < lines.size(); ++i) {
    const ParsedLine<Char> parsed = ParseLine(view.substr(lines[i].begin, lines[i].end - lines[i].begin));
    if (parsed.kind == LineKind::Section) break;
    if (parsed.kind == LineKind::Entry || parsed.kind == LineKind::Other) lastKeyLine = i;
    if (parsed.kind == LineKind::Entry && NameEquals(parsed.name, key)) {
      keyLine = i;
      keyValueStart = parsed.valueStart;
      break;
    }
  }

  if (keyLine != lines.size()) {
    const Line& line = lines[keyLine];
    if (value) {
      // The key keeps its line, its spelling and everything up to the '='.
      const std::size_t from = line.begin + keyValueStart;
      text.replace(from, line.end - from, Widen<Char>(*value));
    } else {
      text.erase(line.begin, line.next - line.begin);
    }
    return true;
  }
  if (!value) return false;

  // A new key goes right after the section's last key (or its header).
  const Line& anchor = lines[lastKeyLine];
  std::basic_string<Char> addition;
  if (anchor.next == anchor.end) addition += lineBreak;  // the anchor line ends the file unterminated
  addition += Widen<Char>(key);
  addition += Widen<Char>("=");
  addition += Widen<Char>(*value);
  addition += lineBreak;
  text.insert(anchor.next, addition);
  return true;
}

}  // namespace

std::optional<std::string> FindProfileValue(std::string_view fileBytes, std::string_view section,
                                            std::string_view key) {
  const DecodedFile file = Decode(fileBytes);
  section = TrimSpaces(section);
  key = TrimSpaces(key);
  if (file.unicode) return Find(std::u16string_view(file.wide), section, key);
  return Find(std::string_view(file.ansi), section, key);
}

std::optional<std::string> UpdateProfileBytes(std::string_view fileBytes, std::string_view section,
                                              std::string_view key, std::optional<std::string_view> value) {
  DecodedFile file = Decode(fileBytes);
  section = TrimSpaces(section);
  key = TrimSpaces(key);
  const bool changed = file.unicode ? Update(file.wide, section, key, value) : Update(file.ansi, section, key, value);
  if (!changed) return std::nullopt;
  return Encode(file);
}

std::string_view ProfileKeyAsRead(std::string_view key) { return TrimBlanks(key.substr(0, key.find('='))); }

bool SameProfileName(std::string_view a, std::string_view b) { return NameEquals(a, b); }

}  // namespace pw::platform
