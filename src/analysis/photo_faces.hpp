#pragma once
// Face marks for the loupe: the faces the assessment found in a photo, with the verdicts it gave
// each, placed on the photo's upright full-resolution pixels.
#include "base/json.hpp"

#include <optional>

namespace tw::analysis {

// Worker thread (this thread's own face detector). The photoFaces answer for the action's body
// ("id", "path", optionally "strictness"): {"id", "width", "height", "faces": [{"box": {"x", "y",
// "width", "height"}, "leftEye": [x, y] or null, "rightEye", "eyes", "focus", "main", "triggers"}]}
// or {"id", "error"}. nullopt (no answer) when "id" is missing or empty.
std::optional<Json> PhotoFacesPayload(const Json& body);

}  // namespace tw::analysis
