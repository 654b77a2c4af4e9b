#pragma once
// The prompts of the cloud review: what a vision model is asked about one photo (as a professional
// photo selector: keep, undecided or reject, with rating, confidence, issues and reason) and about
// a group of burst frames, with the photographer's weights and the local verdict as a cross-check.
// Pure text building; any thread.
#include "base/json.hpp"

#include <string>

namespace tw::culling {

// The label of a scene key ("auto", "portrait", "group", "event", "product"; anything else: auto's).
std::string SceneLabel(const Json& options);
// The label of a policy key ("conservative", "balanced", "strict"; anything else: conservative's).
std::string PolicyLabel(const Json& options);

// The six weights in their fixed order, each a number clamped to 0…115 (anything else: 0.0), with
// one decimal: "清晰度 2.0、睁眼状态 0.0、…。按相对权重判断…". `weights` may be any value.
std::string cullingWeightDescription(const Json& weights);

// The sentence quoting the photo's local issues and its local sharpness, brightness, noise and
// confidence ("未知" for a missing value) as a cross-check only.
std::string LocalCrossCheckSentence(const Json& photo);

// The whole prompt for one photo record (its "issues" and "result" are read) and the culling
// options ("scene", "policy", "weights").
std::string cloudReviewPromptForPhoto(const Json& photo, const Json& options);

// The prompt of the independent second look at the same photo.
std::string SecondPassPrompt(const std::string& firstPrompt);

// The prompt comparing `frames` (2 or 3) burst frames with the given weights.
std::string BurstComparisonPrompt(size_t frames, const Json& weights);

}  // namespace tw::culling
