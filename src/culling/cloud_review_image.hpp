#pragma once
// The picture a vision model is shown of a photo. Worker thread (it decodes and renders).
#include <optional>
#include <string>

namespace tw::culling {

// The photo rendered by the shared renderer at most maxPixelSize on its long side, with lens
// correction as the photographer set it, then encoded as JPEG at `quality` (0…1) without any
// metadata. nullopt when the photo cannot be read or rendered.
std::optional<std::string> PreparedCloudReviewJPEG(const std::string& path, int maxPixelSize, double quality,
                                                   bool lensWanted);

}  // namespace tw::culling
