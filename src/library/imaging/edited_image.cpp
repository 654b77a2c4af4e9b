#include "library/imaging/decoding.hpp"

#include <algorithm>
#include <cmath>

namespace tw::imaging {

namespace {

// The page computes crops in floating point; a sum may overshoot 1 by a rounding error.
constexpr double kCropTolerance = 1e-6;

vips::VImage Rotated(const DecodedImage& image, long turns) {
  switch (((turns % 4) + 4) % 4) {
    case 1: return image.rot(VIPS_ANGLE_D90);
    case 2: return image.rot(VIPS_ANGLE_D180);
    case 3: return image.rot(VIPS_ANGLE_D270);
    default: return image;
  }
}

}  // namespace

MaybeImage CreateEditedImage(const DecodedImage& image, long turns, double x, double y, double w, double h) {
  if (image.get_image() == nullptr) return std::nullopt;
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(w) || !std::isfinite(h)) return std::nullopt;
  if (x < 0 || y < 0 || w <= 0 || h <= 0) return std::nullopt;
  if (x + w > 1.0 + kCropTolerance || y + h > 1.0 + kCropTolerance) return std::nullopt;
  try {
    EnsureVipsStarted();
    vips::VImage rotated = Rotated(image, turns).copy_memory();
    const long width = rotated.width();
    const long height = rotated.height();
    const long left = static_cast<long>(std::floor(x * width));
    const long top = static_cast<long>(std::floor(y * height));
    const long cropWidth = std::min(width - left, std::max(1L, std::lround(w * width)));
    const long cropHeight = std::min(height - top, std::max(1L, std::lround(h * height)));
    // x or y within the tolerance past the edge leaves no pixel to cut.
    if (cropWidth <= 0 || cropHeight <= 0) return std::nullopt;
    return rotated
        .extract_area(static_cast<int>(left), static_cast<int>(top), static_cast<int>(cropWidth),
                      static_cast<int>(cropHeight))
        .copy_memory();
  } catch (...) {
  }
  return std::nullopt;
}

}  // namespace tw::imaging
