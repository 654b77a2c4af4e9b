#include "culling/culling_prompts.hpp"

#include "culling/culling_texts.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace tw::culling {
namespace {

// The value as text the way a number shows itself: whole numbers without a fraction, others in
// their shortest exact form; a text as it stands.
std::string ValueText(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_float()) {
    double number = value.get<double>();
    if (std::isfinite(number) && std::trunc(number) == number && std::fabs(number) < 1e15) {
      return fmt::format("{:.0f}", number);
    }
    return fmt::format("{}", number);
  }
  if (value.is_boolean()) return value.get<bool>() ? "1" : "0";
  return value.dump();
}

std::string Label(const Json& options, const char* key, const std::string& fallbackKey,
                  std::initializer_list<std::pair<const char*, const char*>> labels) {
  const std::string chosen = StringField(options, key);
  const char* fallback = "";
  for (const auto& [name, label] : labels) {
    if (chosen == name) return label;
    if (fallbackKey == name) fallback = label;
  }
  return fallback;
}

}  // namespace

std::string SceneLabel(const Json& options) {
  return Label(options, "scene", "auto",
               {{"auto", "自动判断题材"}, {"portrait", "单人人像"}, {"group", "合照或多人"},
                {"event", "活动纪实"}, {"product", "商品或静物"}});
}

std::string PolicyLabel(const Json& options) {
  return Label(options, "policy", "conservative",
               {{"conservative", "保守，优先防止误淘汰"}, {"balanced", "均衡"}, {"strict", "严格，明显瑕疵可淘汰"}});
}

std::string cullingWeightDescription(const Json& weights) {
  static constexpr std::array<std::pair<const char*, const char*>, 6> kWeights = {{{"sharpness", "清晰度"},
                                                                                  {"eyes", "睁眼状态"},
                                                                                  {"exposure", "曝光"},
                                                                                  {"noise", "噪点"},
                                                                                  {"faceQuality", "人脸质量"},
                                                                                  {"composition", "构图与姿态"}}};
  constexpr double kHighestWeight = 115;
  std::string text;
  for (const auto& [key, label] : kWeights) {
    double value = NumberField(weights, key).value_or(0);
    // NaN cannot come from parsed JSON, but a value the clamp cannot order must not pass as one.
    value = std::isnan(value) ? 0 : std::clamp(value, 0.0, kHighestWeight);
    if (!text.empty()) text += texts::kIssueSeparator;
    text += fmt::format(texts::kWeightPiece, label, value);
  }
  return text + texts::kWeightClosing;
}

std::string LocalCrossCheckSentence(const Json& photo) {
  std::string issues;
  for (const Json& issue : ArrayField(photo, "issues")) {
    if (!issue.is_string()) continue;
    if (!issues.empty()) issues += texts::kIssueSeparator;
    issues += issue.get<std::string>();
  }
  const Json result = ObjectField(photo, "result");
  auto quoted = [&](const char* key) {
    auto it = result.find(key);
    return it == result.end() ? std::string(texts::kUnknownLocalValue) : ValueText(*it);
  };
  return fmt::format(texts::kLocalCrossCheck, issues, quoted("sharpness"), quoted("brightness"), quoted("noise"),
                     quoted("confidence"));
}

std::string cloudReviewPromptForPhoto(const Json& photo, const Json& options) {
  return fmt::format(texts::kPromptTemplate, SceneLabel(options), PolicyLabel(options), LocalCrossCheckSentence(photo),
                     cullingWeightDescription(FieldOr(options, "weights", Json::object())));
}

std::string SecondPassPrompt(const std::string& firstPrompt) {
  return firstPrompt + "\n" + texts::kSecondPassInstruction;
}

std::string BurstComparisonPrompt(size_t frames, const Json& weights) {
  return fmt::format(texts::kBurstPromptTemplate, frames, cullingWeightDescription(weights), frames);
}

}  // namespace tw::culling
