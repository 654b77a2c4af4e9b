#pragma once
#include <string>

namespace tw::ai {

// The file extension the service and the result files use for a media type: "jpg" for JPEG,
// "webp" for WebP, "png" for everything else. Media types compare without regard to case.
std::string ExtensionForMediaType(const std::string& mediaType);

}  // namespace tw::ai
