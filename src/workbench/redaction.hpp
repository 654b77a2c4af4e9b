#pragma once
// Redaction of free text before it goes into a report a user may send to anyone. Any thread.
#include "base/json.hpp"

#include <string>

namespace tw::workbench {

// The text after five rules, applied in this order, each replacing every match in the whole text:
// a bearer credential, a word beginning "sk-", the value after a key, authorization or token label,
// a local path (macOS and Linux home folders, mounted volumes, drive letters) to the end of its
// line, and the user and password of an address. A value that is not a string counts as "".
// Bytes that are not UTF-8 become U+FFFD first.
std::string TWRedact(const Json& value);

// The text with every occurrence of `secret` (when not empty) replaced by "[密钥已隐藏]", then
// TWRedact: a stored key is hidden whatever its form.
std::string RedactWithSecret(const std::string& text, const std::string& secret);

}  // namespace tw::workbench
