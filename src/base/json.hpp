#pragma once
// JSON values and the typed field access every message handler uses: input from the page is
// tested field by field, and a missing or mistyped field falls back to an empty value instead
// of failing the message.
#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace tw {

using Json = nlohmann::json;

// A string field; "" when the value is not an object, the key is missing or the value is not a string.
std::string StringField(const Json& object, std::string_view key);
// An array field; [] when missing or not an array.
Json ArrayField(const Json& object, std::string_view key);
// An object field; {} when missing or not an object.
Json ObjectField(const Json& object, std::string_view key);
// The raw field when the key is present (JSON null counts as present), otherwise `fallback`.
Json FieldOr(const Json& object, std::string_view key, Json fallback);
// A number field (integers and floating point alike); nullopt when missing or not a number.
std::optional<double> NumberField(const Json& object, std::string_view key);
// A boolean field; `fallback` when missing or not a boolean.
bool BoolField(const Json& object, std::string_view key, bool fallback);

// The compact JSON text of a value: no pretty printing, UTF-8 kept as is (invalid bytes are
// replaced rather than failing). "null" when the value cannot be written, or is nested deeper than
// twice kMaxJsonNesting.
std::string JSONString(const Json& value);

// How deeply arrays and objects may nest in anything from outside (page messages, stored
// projects). Writing JSON text recurses once per level, so a value nested tens of thousands deep
// would overflow the stack when it is echoed or stored; no real message comes near this bound.
inline constexpr size_t kMaxJsonNesting = 256;
// Whether arrays and objects nest deeper than `limit` (a scalar has depth 0). Walks the value
// without recursion, so it is safe on any parsed value.
bool NestedDeeperThan(const Json& value, size_t limit);

// Parses text; nullopt on any syntax error (never throws).
std::optional<Json> ParseJSON(std::string_view text);
// Parses text whose arrays and objects nest no deeper than `limit`; nullopt on a syntax error or
// deeper nesting. The nesting is measured before any value is built: a file of nothing but "["
// would otherwise become millions of nested arrays in memory first.
std::optional<Json> ParseJSONWithin(std::string_view text, size_t limit);

}  // namespace tw
