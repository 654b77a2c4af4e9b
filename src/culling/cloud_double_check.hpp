#pragma once
// The independent second look at a doubtful cloud verdict: when it is wanted, and how the two
// verdicts become one. The model's records are not validated; only the values these rules decide
// on are read, each with its default (a decision that is not text is "待定", a number that is
// neither a number nor numeric text is 0). Pure; any thread.
#include "base/json.hpp"

namespace tw::culling {

// The options allow a second request ("doubleCheck" true) and the first verdict is an object
// that is undecided ("待定") or less than 0.88 confident.
bool shouldDoubleCheckCloudResult(const Json& first, const Json& options);

// The merged verdict of two answers about the same photo: agreement keeps the decision and
// averages, disagreement falls back to "待定" with the smaller confidence and the issues both saw.
// Exactly decision, rating, confidence, issues, reason, bestCandidate (1 or 0), doubleChecked,
// agreement and usage (the prompt and completion tokens of both requests, under whichever names
// the service used).
Json mergedCloudResult(const Json& first, const Json& second);

}  // namespace tw::culling
