#include "culling/cloud_double_check.hpp"

#include "base/text.hpp"
#include "culling/culling_texts.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>
#include <string>

namespace tw::culling {
namespace {

constexpr double kConfidentEnough = 0.88;
constexpr double kHighestAgreedConfidence = 0.99;
constexpr long long kDisputedRating = 3;
constexpr double kLowestRating = 1;
constexpr double kHighestRating = 5;
// Far beyond any real token count, and small enough that six of them add up inside 64 bits.
constexpr double kLargestTokenCount = 9007199254740992.0;

// A number, or a text that is one number as a whole (white space around it aside); 0 for
// anything else, a missing key and a value that is not finite.
double NumberValue(const Json& record, const char* key) {
  if (!record.is_object()) return 0;
  auto it = record.find(key);
  if (it == record.end()) return 0;
  double value = 0;
  if (it->is_number()) {
    value = it->get<double>();
  } else if (it->is_string()) {
    const std::string text = Trim(it->get_ref<const std::string&>());
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return 0;
  }
  return std::isfinite(value) ? value : 0;
}

std::string Decision(const Json& record) {
  auto it = record.find("decision");
  return it != record.end() && it->is_string() ? it->get<std::string>() : texts::kUndecided;
}

bool IsTrue(const Json& record, const char* key) {
  auto it = record.find(key);
  if (it == record.end()) return false;
  if (it->is_boolean()) return it->get<bool>();
  return it->is_number() && it->get<double>() != 0;
}

// The issues of both answers (agreed) or those both named (disputed), each once, in the order
// the first answer gave them, then the second.
Json MergedIssues(const Json& first, const Json& second, bool agreed) {
  const Json firstIssues = ArrayField(first, "issues");
  const Json secondIssues = ArrayField(second, "issues");
  std::set<std::string> inSecond;
  for (const Json& issue : secondIssues) inSecond.insert(JSONString(issue));
  std::set<std::string> taken;
  Json issues = Json::array();
  auto take = [&](const Json& issue) {
    if (taken.insert(JSONString(issue)).second) issues.push_back(issue);
  };
  for (const Json& issue : firstIssues) {
    if (agreed || inSecond.count(JSONString(issue))) take(issue);
  }
  if (agreed) {
    for (const Json& issue : secondIssues) take(issue);
  }
  return issues;
}

long long TokenCount(const Json& usage, const char* key) {
  const double count = std::trunc(NumberValue(usage, key));
  return static_cast<long long>(std::clamp(count, -kLargestTokenCount, kLargestTokenCount));
}

// One count of both requests: services name it differently, and every name present is added.
long long TokenSum(const Json& first, const Json& second, std::initializer_list<const char*> names) {
  long long sum = 0;
  for (const Json* result : {&first, &second}) {
    const Json usage = ObjectField(*result, "usage");
    for (const char* name : names) sum += TokenCount(usage, name);
  }
  return sum;
}

}  // namespace

bool shouldDoubleCheckCloudResult(const Json& first, const Json& options) {
  if (!BoolField(options, "doubleCheck", false) || !first.is_object()) return false;
  return Decision(first) == texts::kUndecided || NumberValue(first, "confidence") < kConfidentEnough;
}

Json mergedCloudResult(const Json& first, const Json& second) {
  const Json one = first.is_object() ? first : Json::object();
  const Json two = second.is_object() ? second : Json::object();
  const std::string decision = Decision(one);
  const bool agreed = decision == Decision(two);
  const double firstConfidence = NumberValue(one, "confidence");
  const double secondConfidence = NumberValue(two, "confidence");

  Json merged = Json::object();
  merged["decision"] = agreed ? decision : std::string(texts::kUndecided);
  merged["confidence"] = agreed ? std::min((firstConfidence + secondConfidence) / 2, kHighestAgreedConfidence)
                                : std::min(firstConfidence, secondConfidence);
  merged["issues"] = MergedIssues(one, two, agreed);
  if (agreed) {
    const double mean = (NumberValue(one, "rating") + NumberValue(two, "rating")) / 2;
    merged["rating"] = static_cast<long long>(std::clamp(std::round(mean), kLowestRating, kHighestRating));
    const std::string reason = StringField(one, "reason");
    merged["reason"] = fmt::format(texts::kAgreedReason, reason.empty() ? texts::kAgreedReasonFallback : reason);
  } else {
    merged["rating"] = kDisputedRating;
    merged["reason"] = texts::kDisputedReason;
  }
  merged["bestCandidate"] = agreed && IsTrue(one, "bestCandidate") && IsTrue(two, "bestCandidate") ? 1 : 0;
  merged["doubleChecked"] = true;
  merged["agreement"] = agreed;
  merged["usage"] = {
      {"prompt_tokens", TokenSum(one, two, {"prompt_tokens", "input_tokens", "inputTokenCount"})},
      {"completion_tokens", TokenSum(one, two, {"completion_tokens", "output_tokens", "outputTokenCount"})}};
  return merged;
}

}  // namespace tw::culling
