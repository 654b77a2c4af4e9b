#pragma once
// UTF-8 text helpers of the AI client. White space is taken as a pasted text may carry it:
// ASCII blanks and line breaks, but also the full-width and no-break spaces that Chinese input
// methods and web pages produce. Lengths count characters (code points), never bytes, so a cut
// never splits a character.
#include <string>
#include <string_view>

namespace tw::ai {

// True when the text holds any white-space or line-break character (UTF-8).
bool ContainsUnicodeSpace(std::string_view text);
// The text without white space and line breaks at both ends (UTF-8).
std::string TrimUnicodeSpace(std::string_view text);
// The number of characters (code points) of UTF-8 text; invalid bytes count one each.
size_t CharacterCount(std::string_view text);
// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUTF8(std::string_view bytes);
// The first `count` characters, or the last `count` characters, of UTF-8 text.
std::string FirstCharacters(std::string_view text, size_t count);
std::string LastCharacters(std::string_view text, size_t count);

}  // namespace tw::ai
