#include "analysis/face_shape.hpp"

#include <cmath>

namespace tw::analysis {

namespace {

// A head seen from above is roughly round: the jaw contour points at cheek height lie at about
// 70° either side of the nose, and the nose tip stands out by about 1.2 times their radius.
// With the nose tip at fraction r between the two contour points, tan(yaw) = (2r - 1) * G where
// G = sin 70° / (1.2 - cos 70°) ≈ 1.1. On the sample faces this agrees within about 0.1 rad with
// the same estimate from the outer eye corners (which sit nearer the nose) up to 0.45 rad.
constexpr double kYawGain = 1.1;

// Symmetric pairs of jaw contour points from the ear down to the jaw angle.
constexpr int kJawPairs[][2] = {{1, 15}, {2, 14}, {3, 13}};

}  // namespace

ShapePoint EyeCentre(const FaceShape& shape, int firstPoint) {
  ShapePoint centre;
  for (int i = 0; i < landmarks::kEyePointCount; ++i) {
    centre.x += shape[firstPoint + i].x / landmarks::kEyePointCount;
    centre.y += shape[firstPoint + i].y / landmarks::kEyePointCount;
  }
  return centre;
}

double RollFromEyes(const FaceShape& shape) {
  const ShapePoint left = EyeCentre(shape, landmarks::kFirstEyeFirst);
  const ShapePoint right = EyeCentre(shape, landmarks::kSecondEyeFirst);
  return std::atan2(right.y - left.y, right.x - left.x);
}

double YawFromNose(const FaceShape& shape) {
  double fractionSum = 0;
  int pairs = 0;
  for (const auto& pair : kJawPairs) {
    const double span = shape[pair[1]].x - shape[pair[0]].x;
    if (span <= 0) continue;
    fractionSum += (shape[landmarks::kNoseTip].x - shape[pair[0]].x) / span;
    ++pairs;
  }
  // A contour folded over itself means the head is turned too far to tell.
  if (pairs == 0) return std::atan(kYawGain * 2);
  const double fraction = fractionSum / pairs;
  return std::atan(kYawGain * (2 * fraction - 1));
}

double MouthOpening(const FaceShape& shape) {
  const ShapePoint& left = shape[landmarks::kMouthLeftCorner];
  const ShapePoint& right = shape[landmarks::kMouthRightCorner];
  const double width = std::hypot(right.x - left.x, right.y - left.y);
  if (width <= 0) return 0;
  // Inner lip pairs: 61-67, 62-66, 63-65.
  const double gap = ((shape[67].y - shape[61].y) + (shape[66].y - shape[62].y) +
                      (shape[65].y - shape[63].y)) / 3;
  return gap / width;
}

}  // namespace tw::analysis
