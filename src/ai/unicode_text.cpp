#include "ai/unicode_text.hpp"

#include <cstdint>
#include <vector>

namespace tw::ai {
namespace {

// One decoded character: its code point and its byte length (invalid bytes decode as one byte
// with code point 0xFFFD, so they are never taken for space).
struct Character {
  char32_t codePoint;
  size_t length;
};

Character DecodeAt(std::string_view text, size_t at) {
  auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  uint8_t lead = byte(at);
  size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (length == 0 || at + length > text.size()) return {0xFFFD, 1};
  if (length == 1) return {lead, 1};
  char32_t value = lead & (0xFF >> (length + 1));
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return {0xFFFD, 1};
    value = (value << 6) | (byte(at + i) & 0x3F);
  }
  return {value, length};
}

// Unicode White_Space: the blanks, line and paragraph separators and the control characters
// for tab, line feed, vertical tab, form feed, carriage return and next line.
bool IsSpace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

std::vector<size_t> CharacterStarts(std::string_view text) {
  std::vector<size_t> starts;
  for (size_t at = 0; at < text.size(); at += DecodeAt(text, at).length) starts.push_back(at);
  return starts;
}

}  // namespace

bool ContainsUnicodeSpace(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    Character c = DecodeAt(text, at);
    if (IsSpace(c.codePoint)) return true;
    at += c.length;
  }
  return false;
}

std::string TrimUnicodeSpace(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size()) {
    Character c = DecodeAt(text, begin);
    if (!IsSpace(c.codePoint)) break;
    begin += c.length;
  }
  size_t end = begin;
  for (size_t at = begin; at < text.size();) {
    Character c = DecodeAt(text, at);
    at += c.length;
    if (!IsSpace(c.codePoint)) end = at;
  }
  return std::string(text.substr(begin, end - begin));
}

bool IsValidUTF8(std::string_view bytes) {
  auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  for (size_t at = 0; at < bytes.size();) {
    uint8_t lead = byte(at);
    size_t length;
    char32_t minimum;
    if (lead < 0x80) {
      ++at;
      continue;
    } else if ((lead >> 5) == 0x6) {
      length = 2, minimum = 0x80;
    } else if ((lead >> 4) == 0xE) {
      length = 3, minimum = 0x800;
    } else if ((lead >> 3) == 0x1E) {
      length = 4, minimum = 0x10000;
    } else {
      return false;
    }
    if (at + length > bytes.size()) return false;
    char32_t value = lead & (0xFF >> (length + 1));
    for (size_t i = 1; i < length; ++i) {
      if ((byte(at + i) & 0xC0) != 0x80) return false;
      value = (value << 6) | (byte(at + i) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    at += length;
  }
  return true;
}

size_t CharacterCount(std::string_view text) { return CharacterStarts(text).size(); }

std::string FirstCharacters(std::string_view text, size_t count) {
  auto starts = CharacterStarts(text);
  if (count >= starts.size()) return std::string(text);
  return std::string(text.substr(0, starts[count]));
}

std::string LastCharacters(std::string_view text, size_t count) {
  auto starts = CharacterStarts(text);
  if (count >= starts.size()) return std::string(text);
  return std::string(text.substr(starts[starts.size() - count]));
}

}  // namespace tw::ai
