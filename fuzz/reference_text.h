// A reference model of the text value's operations, written on std::string from their rules
// alone, for the fuzz targets to hold the real ones against. It shares no code with src/text.
//
// The rules: under a double-byte code page a lead byte and the byte after it form one character
// (a lead byte in the last place stands alone); a find matches only where a character begins;
// removing every occurrence goes once from left to right without overlap and goes on right after
// each removed occurrence, so text joined by a removal is not searched again; a negative start
// or count of a deletion counts as 0 and a range past the end stops there; upper-casing follows
// the simulated machine's case tables, and a double-byte character whose case mapping fails
// leaves it and the rest of the text as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace reference {

constexpr std::size_t kNotFound = std::string::npos;

struct CodePageRules {
  unsigned number = 1252;               // 1252 or 932
  bool doubleByteMappingFails = false;  // the machine's case mapping refuses double-byte text
};

inline bool IsLeadByte(const CodePageRules& rules, unsigned char byte) {
  if (rules.number != 932) return false;
  return (0x81 <= byte && byte <= 0x9F) || (0xE0 <= byte && byte <= 0xFC);
}

// The length of the character that begins at `at`.
inline std::size_t CharacterAt(const CodePageRules& rules, const std::string& text,
                               std::size_t at) {
  const bool paired =
      IsLeadByte(rules, static_cast<unsigned char>(text[at])) && at + 1 < text.size();
  return paired ? 2 : 1;
}

inline bool OccursAt(const std::string& text, std::size_t at, const std::string& pattern) {
  return text.size() - at >= pattern.size() && text.compare(at, pattern.size(), pattern) == 0;
}

inline std::size_t Find(const CodePageRules& rules, const std::string& text,
                        const std::string& pattern) {
  if (pattern.empty()) return 0;
  std::size_t at = 0;
  while (at < text.size()) {
    if (OccursAt(text, at, pattern)) return at;
    at += CharacterAt(rules, text, at);
  }
  return kNotFound;
}

inline std::string RemoveAll(const CodePageRules& rules, const std::string& text,
                             const std::string& pattern) {
  if (pattern.empty()) return text;
  std::string kept;
  std::size_t at = 0;
  while (at < text.size()) {
    if (OccursAt(text, at, pattern)) {
      at += pattern.size();
    } else {
      const std::size_t length = CharacterAt(rules, text, at);
      kept.append(text, at, length);
      at += length;
    }
  }
  return kept;
}

inline std::string Delete(const std::string& text, std::int64_t start, std::int64_t count) {
  if (start < 0) start = 0;
  if (count < 0) count = 0;
  if (static_cast<std::uint64_t>(start) >= text.size()) return text;
  std::string rest = text;
  rest.erase(static_cast<std::size_t>(start), static_cast<std::size_t>(count));
  return rest;
}

// Code page 1252's case pairs: ASCII, the accented letters from 0xE0 (0xF7 is the division sign)
// and four letters placed elsewhere. The micro sign and the sharp s have no capital in it.
inline unsigned char Upper1252(unsigned char byte) {
  if ('a' <= byte && byte <= 'z') return static_cast<unsigned char>(byte - 'a' + 'A');
  if (0xE0 <= byte && byte <= 0xFE && byte != 0xF7) return static_cast<unsigned char>(byte - 0x20);
  switch (byte) {
    case 0x9A:
      return 0x8A;  // s caron
    case 0x9C:
      return 0x8C;  // oe
    case 0x9E:
      return 0x8E;  // z caron
    case 0xFF:
      return 0x9F;  // y diaeresis
    default:
      return byte;
  }
}

// Code page 932's double-byte letters with capitals: full-width Latin, Greek and Cyrillic.
inline unsigned Upper932(unsigned code) {
  struct Run {
    unsigned lowerFirst, lowerLast, upperFirst;
  };
  static constexpr Run kRuns[] = {
      {0x8281, 0x829A, 0x8260},
      {0x83BF, 0x83D6, 0x839F},
      {0x8470, 0x847E, 0x8440},
      {0x8480, 0x8491, 0x844F},
  };
  for (const Run& run : kRuns) {
    if (run.lowerFirst <= code && code <= run.lowerLast)
      return code - run.lowerFirst + run.upperFirst;
  }
  return code;
}

inline std::string MakeUpper(const CodePageRules& rules, const std::string& text) {
  std::string upper = text;
  std::size_t at = 0;
  while (at < upper.size()) {
    const auto byte = static_cast<unsigned char>(upper[at]);
    if (CharacterAt(rules, upper, at) == 2) {
      if (rules.doubleByteMappingFails) break;
      const unsigned code =
          Upper932((unsigned{byte} << 8) | static_cast<unsigned char>(upper[at + 1]));
      upper[at] = static_cast<char>(code >> 8);
      upper[at + 1] = static_cast<char>(code & 0xFF);
      at += 2;
      continue;
    }
    if (rules.number == 1252) {
      upper[at] = static_cast<char>(Upper1252(byte));
    } else if ('a' <= byte && byte <= 'z') {
      upper[at] = static_cast<char>(byte - 'a' + 'A');
    }
    ++at;
  }
  return upper;
}

// The text a value made from these bytes holds: those before the first zero byte.
inline std::string BeforeZero(const std::string& bytes) {
  return bytes.substr(0, bytes.find('\0'));
}

// The report parser's model name and serial number, by the report format's rules.
struct Report {
  std::string model;
  std::string serial;
};

inline Report ParseReport(const CodePageRules& rules, const std::string& text) {
  static const std::string kOpening = "<Model_Info><Model>";
  static const std::string kSeparator = "</Model><Serial_Num>";
  static const std::string kClosing = "</Serial_Num>";
  Report report;
  const std::string unmarked = RemoveAll(rules, text, kOpening);
  const std::size_t separator = Find(rules, unmarked, kSeparator);
  if (separator != kNotFound) report.model = unmarked.substr(0, separator);
  const std::string rest = RemoveAll(rules, text, kOpening + report.model + kSeparator);
  const std::size_t closing = Find(rules, rest, kClosing);
  if (closing != kNotFound && closing > 0) report.serial = rest.substr(0, closing);
  return report;
}

}  // namespace reference
