#include "base/json.hpp"

#include <utility>
#include <vector>

namespace tw {
namespace {

// Reads the text without building anything, failing as soon as the nesting passes the limit.
class NestingCheck {
 public:
  explicit NestingCheck(size_t limit) : limit_(limit) {}
  bool null() { return true; }
  bool boolean(bool) { return true; }
  bool number_integer(Json::number_integer_t) { return true; }
  bool number_unsigned(Json::number_unsigned_t) { return true; }
  bool number_float(Json::number_float_t, const std::string&) { return true; }
  bool string(std::string&) { return true; }
  bool binary(Json::binary_t&) { return true; }
  bool key(std::string&) { return true; }
  bool start_object(size_t) { return ++depth_ <= limit_; }
  bool end_object() { return --depth_, true; }
  bool start_array(size_t) { return ++depth_ <= limit_; }
  bool end_array() { return --depth_, true; }
  bool parse_error(size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

 private:
  size_t limit_;
  size_t depth_ = 0;
};

const Json* Find(const Json& object, std::string_view key) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

}  // namespace

std::string StringField(const Json& object, std::string_view key) {
  const Json* value = Find(object, key);
  return value && value->is_string() ? value->get<std::string>() : std::string();
}

Json ArrayField(const Json& object, std::string_view key) {
  const Json* value = Find(object, key);
  return value && value->is_array() ? *value : Json::array();
}

Json ObjectField(const Json& object, std::string_view key) {
  const Json* value = Find(object, key);
  return value && value->is_object() ? *value : Json::object();
}

Json FieldOr(const Json& object, std::string_view key, Json fallback) {
  const Json* value = Find(object, key);
  return value ? *value : std::move(fallback);
}

std::optional<double> NumberField(const Json& object, std::string_view key) {
  const Json* value = Find(object, key);
  if (!value || !value->is_number()) return std::nullopt;
  return value->get<double>();
}

bool BoolField(const Json& object, std::string_view key, bool fallback) {
  const Json* value = Find(object, key);
  return value && value->is_boolean() ? value->get<bool>() : fallback;
}

std::string JSONString(const Json& value) {
  // Writing recurses once per level. What the program sends is outside data bounded at
  // kMaxJsonNesting plus a few levels of its own; anything deeper would only overflow the stack.
  if (NestedDeeperThan(value, 2 * kMaxJsonNesting)) return "null";
  try {
    std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    return text.empty() ? "null" : text;
  } catch (const std::exception&) {
    return "null";
  }
}

bool NestedDeeperThan(const Json& value, size_t limit) {
  std::vector<std::pair<const Json*, size_t>> pending{{&value, 0}};
  while (!pending.empty()) {
    auto [item, depth] = pending.back();
    pending.pop_back();
    if (!item->is_structured()) continue;
    if (depth + 1 > limit) return true;
    for (const Json& child : *item) pending.emplace_back(&child, depth + 1);
  }
  return false;
}

std::optional<Json> ParseJSON(std::string_view text) {
  Json value = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

std::optional<Json> ParseJSONWithin(std::string_view text, size_t limit) {
  NestingCheck check(limit);
  if (!Json::sax_parse(text, &check)) return std::nullopt;
  return ParseJSON(text);
}

}  // namespace tw
