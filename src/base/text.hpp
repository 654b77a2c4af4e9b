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
// Orders paths as a file manager does: numbers inside names compared by value ("IMG_2" before
// "IMG_10"), by GLib's file-name collation key.
std::string FileNameCollationKey(std::string_view path);
}  // namespace tw
