#include "ai/media_type.hpp"

#include "base/text.hpp"

namespace tw::ai {

std::string ExtensionForMediaType(const std::string& mediaType) {
  std::string lower = ToLower(mediaType);
  if (lower.find("jpeg") != std::string::npos) return "jpg";
  if (lower.find("webp") != std::string::npos) return "webp";
  return "png";
}

}  // namespace tw::ai
