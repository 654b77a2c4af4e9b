// The measurements over numbers alone: sharpness and noise of a grey grid, eye openness and the
// face visibility test.
#include "analysis/image_metrics.hpp"

#include <algorithm>
#include <cmath>

namespace tw::analysis {

double LaplacianVariance(const GreyGrid& grid, unsigned width, unsigned height) {
  if (grid.size() < std::size_t(width) * height || width < 3 || height < 3) return 0;
  double count = 0;
  double sum = 0;
  double sumOfSquares = 0;
  for (std::size_t y = 1; y + 1 < height; ++y) {
    const std::uint8_t* above = grid.data() + (y - 1) * width;
    const std::uint8_t* row = above + width;
    const std::uint8_t* below = row + width;
    for (std::size_t x = 1; x + 1 < width; ++x) {
      const double laplacian = 4.0 * row[x] - row[x - 1] - row[x + 1] - above[x] - below[x];
      count += 1;
      sum += laplacian;
      sumOfSquares += laplacian * laplacian;
    }
  }
  const double mean = sum / std::max(count, 1.0);
  return sumOfSquares / std::max(count, 1.0) - mean * mean;
}

double NoiseEstimate(const GreyGrid& grid, unsigned width, unsigned height) {
  if (grid.size() < std::size_t(width) * height || width < 3 || height < 3) return 0;
  double count = 0;
  double deviations = 0;
  for (std::size_t y = 1; y + 1 < height; ++y) {
    const std::uint8_t* above = grid.data() + (y - 1) * width;
    const std::uint8_t* row = above + width;
    const std::uint8_t* below = row + width;
    for (std::size_t x = 1; x + 1 < width; ++x) {
      const double neighbours = (double(row[x - 1]) + row[x + 1] + above[x] + below[x]) / 4.0;
      deviations += std::fabs(row[x] - neighbours);
      count += 1;
    }
  }
  return deviations / std::max(count, 1.0);
}

double EyeAspect(const std::optional<EyeRegion>& eye) {
  if (!eye || eye->size() < 6) return -1;
  // Single precision, as the landmark points were measured; the result is widened at the end.
  float minX = 1, maxX = 0, minY = 1, maxY = 0;
  for (const LandmarkPoint& point : *eye) {
    minX = float(std::min(double(minX), point.x));
    maxX = float(std::max(double(maxX), point.x));
    minY = float(std::min(double(minY), point.y));
    maxY = float(std::max(double(maxY), point.y));
  }
  const float width = maxX - minX;
  const float height = maxY - minY;
  return double(height) / std::max(double(width), 0.0001);
}

bool FaceCheckVisible(unsigned imageWidth, unsigned imageHeight, const FaceBox& box, double yaw,
                      double roll) {
  return box.width * imageWidth >= kFaceMinimumPixels &&
         box.height * imageHeight >= kFaceMinimumPixels &&
         std::fabs(yaw) <= kFacePoseLimitRadians && std::fabs(roll) <= kFacePoseLimitRadians;
}

}  // namespace tw::analysis
