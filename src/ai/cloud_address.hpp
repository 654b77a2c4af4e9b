#pragma once
// The one rule for the AI service's base address: a plain HTTPS address without credentials,
// query or fragment. Pasted addresses are often wrapped in angle brackets or arrive as a
// Markdown link; both wrappings are forgiven, anything else suspicious is refused, because the
// API key is sent to whatever address this accepts.
#include "base/json.hpp"

#include <optional>
#include <string>

namespace tw::ai {

// Any thread. The normalised address (no trailing "/"), or nullopt when refused. A value that
// is not a string is refused (strings convert to Json implicitly).
std::optional<std::string> TWCloudAddress(const Json& value);

}  // namespace tw::ai
