#pragma once
// Standard Base64 (RFC 4648 alphabet with "=" padding, no line breaks).
#include <string>
#include <string_view>

namespace tw::ai {

std::string Base64Encode(std::string_view bytes);
// Decodes leniently: characters outside the alphabet (line breaks, spaces, "=") are skipped, and
// a final group of a single character, which cannot carry a whole byte, is dropped.
std::string Base64DecodeIgnoringUnknown(std::string_view text);

}  // namespace tw::ai
