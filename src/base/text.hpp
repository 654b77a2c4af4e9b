#pragma once
#include <string>
#include <string_view>

namespace tw {
std::string ToLower(std::string_view text);  // ASCII letters only
std::string Trim(std::string_view text);      // white space and line breaks at both ends
bool StartsWith(std::string_view text, std::string_view prefix);
bool EndsWith(std::string_view text, std::string_view suffix);
// A stable 64-bit FNV-1a hash: the same on every run and build (cache file names depend on it).
unsigned long long StableHash64(std::string_view text);
}  // namespace tw

namespace tw {
// Whether the bytes are well-formed UTF-8 (no NUL).
bool IsValidUTF8(std::string_view text);

// The integer a text begins with: optional white space and sign, then digits, saturating at the
// limits of long long; a text that does not begin so reads as 0.
long long LeadingInteger(std::string_view text);

// The order in which file paths are listed, the same in every locale and every shell: numbers
// inside names by value ("IMG_2" before "IMG_10"), letters without regard to case ("a.jpg" beside
// "A.JPG"), and paths that still tie by their bytes, so that no two different paths are equal.
bool FileNameOrderLess(std::string_view a, std::string_view b);
}  // namespace tw
