#include "culling/cloud_review_image.hpp"

#include "library/imaging/decoding.hpp"

namespace tw::culling {

std::optional<std::string> PreparedCloudReviewJPEG(const std::string& path, int maxPixelSize, double quality,
                                                   bool lensWanted) {
  imaging::MaybeImage image = imaging::CreateRenderedImage(path, maxPixelSize, lensWanted);
  if (!image) return std::nullopt;
  return imaging::EncodeJPEG(*image, quality);
}

}  // namespace tw::culling
