#include "analysis/face_scores.hpp"

#include <algorithm>
#include <cmath>

namespace tw::analysis {
namespace {

// Logistic through the sample detections: real faces at every score from 0.16 up and at -0.25 to
// -0.47 (weak but real), other things from -0.26 down; midpoint -0.2, 0.77 at score 0, 0.985 at 0.5.
constexpr double kConfidenceSlope = 6.0;
constexpr double kConfidenceMidpoint = -0.2;

constexpr double kSharpnessHalf = 100;
constexpr double kSizeNone = 28;
constexpr double kSizeFull = 160;
constexpr double kPoseSpan = 1.2;

}  // namespace

float DetectionConfidence(double hogScore) {
  return float(1.0 / (1.0 + std::exp(-kConfidenceSlope * (hogScore - kConfidenceMidpoint))));
}

double SkinShare(const std::uint8_t* rgb, std::size_t count) {
  if (count == 0) return 0;
  std::size_t skin = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const double r = rgb[3 * i], g = rgb[3 * i + 1], b = rgb[3 * i + 2];
    const double y = 0.299 * r + 0.587 * g + 0.114 * b;
    const double cr = (r - y) * 0.713 + 128;
    const double cb = (b - y) * 0.564 + 128;
    if (cb >= 77 && cb <= 127 && cr >= 133 && cr <= 173) ++skin;
  }
  return double(skin) / double(count);
}

double CaptureQuality(const CaptureInputs& in) {
  const double focus = in.sharpness > 0 ? std::sqrt(in.sharpness / (in.sharpness + kSharpnessHalf)) : 0;
  const double size = std::clamp((in.sidePixels - kSizeNone) / (kSizeFull - kSizeNone), 0.0, 1.0);
  const double pose = std::max(0.0, 1.0 - (std::fabs(in.yaw) + std::fabs(in.roll)) / kPoseSpan);
  const double exposure =
      std::clamp(1.0 - 2.0 * std::fabs(in.meanGrey - 0.5) - in.clippedShare, 0.0, 1.0);
  const double confidence = 0.6 + 0.4 * std::clamp(double(in.detectionConfidence), 0.0, 1.0);
  const double framing = 0.4 + 0.6 * (0.4 * size + 0.3 * pose + 0.3 * exposure);
  return std::clamp(confidence * focus * framing, 0.0, 1.0);
}

}  // namespace tw::analysis
