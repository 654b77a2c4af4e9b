// Small readers of the service's answers shared by the vision requests and the generation.
#include "ai/grsai_client.hpp"
#include "ai/texts.hpp"
#include "ai/unicode_text.hpp"
#include "base/text.hpp"

namespace tw::ai {

Error TWGRSAIClient::errorWithMessage(std::string message, long code) {
  if (message.empty()) message = texts::kUnknownError;
  return Error{kGRSAIErrorDomain, code, std::move(message)};
}

std::string TWGRSAIClient::messageFromResponse(const std::optional<Json>& response, const std::string& fallback) {
  if (!response || !response->is_object()) return fallback;
  for (const char* key : {"message", "msg", "error", "failure_reason"}) {
    auto found = response->find(key);
    if (found == response->end()) continue;
    if (found->is_string()) {
      if (!found->get_ref<const std::string&>().empty()) return found->get<std::string>();
      continue;
    }
    if (!found->is_object()) continue;
    for (const char* inner : {"message", "msg", "detail"}) {
      auto text = found->find(inner);
      if (text == found->end()) continue;
      // The first of the three that is present decides, whatever it holds.
      if (text->is_string() && !text->get_ref<const std::string&>().empty()) return text->get<std::string>();
      break;
    }
  }
  return fallback;
}

std::optional<Json> TWGRSAIClient::JSONDictionaryFromData(std::string_view bytes) {
  if (bytes.empty()) return std::nullopt;
  auto parsed = ParseJSON(bytes);
  // Parsing is iterative, but copying a value recurses once per level: a body nested thousands
  // deep would overflow the stack wherever it is passed on.
  if (!parsed || !parsed->is_object() || NestedDeeperThan(*parsed, kMaxJsonNesting)) return std::nullopt;
  return parsed;
}

Json TWGRSAIClient::effectivePayload(const Json& response) {
  if (!response.is_object()) return response;
  if (auto data = response.find("data"); data != response.end() && data->is_object()) return *data;
  if (auto result = response.find("result"); result != response.end() && result->is_object()) return *result;
  return response;
}

std::string TWGRSAIClient::statusFromResponse(const Json& response) {
  Json payload = effectivePayload(response);
  if (auto status = payload.find("status"); payload.is_object() && status != payload.end() && status->is_string()) {
    return ToLower(status->get<std::string>());
  }
  if (response.is_object()) {
    if (auto status = response.find("status"); status != response.end() && status->is_string()) {
      return ToLower(status->get<std::string>());
    }
  }
  return "";
}

std::string TWGRSAIClient::responseText(std::string_view bytes, size_t limit) {
  if (bytes.empty() || !IsValidUTF8(bytes)) return "";
  return FirstCharacters(bytes, limit);
}

}  // namespace tw::ai
