// Vision requests: one chat completion holding a prompt and 1 to 3 JPEG images, answered by a
// JSON object that the model writes somewhere in its free text.
#include "ai/base64.hpp"
#include "ai/grsai_client.hpp"
#include "ai/texts.hpp"
#include "base/queues.hpp"

#include <fmt/format.h>

namespace tw::ai {
namespace {

constexpr char kChatCompletionsPath[] = "/v1/chat/completions";
constexpr double kTemperature = 0.05;
constexpr int kMaxTokens = 550;
constexpr size_t kMaxImages = 3;

// The model's text: the first choice's message content, either a string or the first part
// that has a string `text`.
std::string AnswerText(const Json& body) {
  Json choices = ArrayField(body, "choices");
  Json first = !choices.empty() && choices[0].is_object() ? choices[0] : Json::object();
  Json content = FieldOr(ObjectField(first, "message"), "content", nullptr);
  if (content.is_array()) {
    Json text = nullptr;
    for (const Json& part : content) {
      if (part.is_object() && part.contains("text") && part["text"].is_string()) {
        text = part["text"];
        break;
      }
    }
    content = text;
  }
  return content.is_string() ? content.get<std::string>() : "";
}

}  // namespace

std::optional<Json> TWGRSAIClient::analysisDictionaryFromText(std::string_view text) {
  if (text.empty()) return std::nullopt;
  size_t open = text.find('{');
  size_t close = text.rfind('}');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;
  auto parsed = ParseJSON(text.substr(open, close - open + 1));
  if (!parsed || !parsed->is_object() || NestedDeeperThan(*parsed, kMaxJsonNesting)) return std::nullopt;
  return parsed;
}

void TWGRSAIClient::analyzePhotoData(const std::string& jpegImage, const std::string& model,
                                     const std::string& prompt, ResultCompletion completion) {
  analyzePhotosData({jpegImage}, model, prompt, std::move(completion));
}

void TWGRSAIClient::analyzePhotosData(const std::vector<std::string>& jpegImages, const std::string& model,
                                      const std::string& prompt, ResultCompletion completion) {
  if (!configured()) {
    completion(std::nullopt, errorWithMessage(texts::kVisionNotConfigured, codes::kVisionNotConfigured));
    return;
  }
  if (jpegImages.empty() || jpegImages.size() > kMaxImages) {
    completion(std::nullopt, errorWithMessage(texts::kVisionImageCount, codes::kVisionBadImages));
    return;
  }
  Json content = Json::array({{{"type", "text"}, {"text", prompt}}});
  for (size_t i = 0; i < jpegImages.size(); ++i) {
    if (jpegImages[i].empty()) {
      completion(std::nullopt, errorWithMessage(texts::kVisionImageMissing, codes::kVisionBadImages));
      return;
    }
    content.push_back({{"type", "text"}, {"text", fmt::format(texts::kVisionImageLabel, i + 1)}});
    content.push_back({{"type", "image_url"},
                       {"image_url", {{"url", "data:image/jpeg;base64," + Base64Encode(jpegImages[i])}}}});
  }
  std::string token = StartNewToken();
  Json body = {{"model", model.empty() ? std::string(kDefaultVisionModel) : model},
               {"temperature", kTemperature},
               {"max_tokens", kMaxTokens},
               {"messages", Json::array({{{"role", "user"}, {"content", std::move(content)}}})}};
  HttpRequest request = requestWithPath(kChatCompletionsPath, "POST");
  request.body = JSONString(body);
  // A cancel or a newer request on the main queue may come after the session's thread has let the
  // answer through, so the answer is checked once more where it is delivered.
  auto deliver = [self = shared_from_this(), token, completion = std::move(completion)](
                     std::optional<Json> result, std::optional<Error> error) mutable {
    queues::Main([self, token, completion = std::move(completion), result = std::move(result),
                  error = std::move(error)] {
      if (self->IsActive(token)) completion(result, error);
    });
  };
  // On the session's thread.
  session_->Send(std::move(request), [self = shared_from_this(), token, deliver = std::move(deliver)](
                                         HttpResponse response) mutable {
    if (!self->IsActive(token)) return;
    std::optional<Json> parsed = JSONDictionaryFromData(response.body);
    if (response.error || response.status < 200 || response.status >= 300) {
      std::string fallback = response.error ? response.error->description
                                            : fmt::format(texts::kVisionHTTPFailed, response.status);
      deliver(std::nullopt, self->ServiceError(messageFromResponse(parsed, fallback), response.status));
      return;
    }
    std::optional<Json> result = analysisDictionaryFromText(AnswerText(parsed.value_or(Json::object())));
    if (!result) {
      deliver(std::nullopt, errorWithMessage(texts::kVisionNoResult, codes::kVisionNoResult));
      return;
    }
    (*result)["usage"] = ObjectField(parsed.value_or(Json::object()), "usage");
    deliver(std::move(result), std::nullopt);
  });
}

}  // namespace tw::ai
