#include "base/text.hpp"

#include <cctype>
#include <limits>

namespace tw {

std::string ToLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string Trim(std::string_view text) {
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
  size_t begin = 0, end = text.size();
  while (begin < end && space(text[begin])) ++begin;
  while (end > begin && space(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

unsigned long long StableHash64(std::string_view text) {
  unsigned long long hash = 14695981039346656037ULL;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

}  // namespace tw

#include <glib.h>

namespace tw {
namespace {

// The character at `at`, folded to lower case; `at` moves past it. A byte that starts no UTF-8
// character stands for itself.
gunichar NextFoldedCharacter(std::string_view text, size_t& at) {
  gunichar c = g_utf8_get_char_validated(text.data() + at, static_cast<gssize>(text.size() - at));
  if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
    return static_cast<unsigned char>(text[at++]);
  }
  at = static_cast<size_t>(g_utf8_next_char(text.data() + at) - text.data());
  return g_unichar_tolower(c);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The digit run starting at `at`, without its leading zeros; `at` moves past it.
std::string_view DigitRun(std::string_view text, size_t& at) {
  size_t start = at;
  while (at < text.size() && IsDigit(text[at])) ++at;
  std::string_view run = text.substr(start, at - start);
  size_t zeros = 0;
  while (zeros + 1 < run.size() && run[zeros] == '0') ++zeros;
  return run.substr(zeros);
}

// Negative, zero or positive as a sorts before, with or after b, case and leading zeros aside.
int CompareNaturally(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      std::string_view x = DigitRun(a, i), y = DigitRun(b, j);
      if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
      if (int order = x.compare(y); order != 0) return order;
      continue;
    }
    gunichar x = NextFoldedCharacter(a, i), y = NextFoldedCharacter(b, j);
    if (x != y) return x < y ? -1 : 1;
  }
  return (i < a.size()) - (j < b.size());
}

}  // namespace

bool IsValidUTF8(std::string_view text) {
  return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}

bool FileNameOrderLess(std::string_view a, std::string_view b) {
  int order = CompareNaturally(a, b);
  return order != 0 ? order < 0 : a < b;
}

long long LeadingInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    int digit = text[i] - '0';
    if (value > (std::numeric_limits<long long>::max() - digit) / 10) {
      return negative ? std::numeric_limits<long long>::min() : std::numeric_limits<long long>::max();
    }
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

}  // namespace tw
