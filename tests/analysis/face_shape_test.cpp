#include "analysis/face_shape.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace tw::analysis {
namespace {

// A symmetric upright face around x = 100: jaw sides at 55 and 145, eyes at y 80, mouth at y 150.
FaceShape FrontalShape(double noseX = 100, double lipGap = 0) {
  FaceShape shape{};
  for (int i = 0; i <= 16; ++i) shape[i] = {i < 8 ? 55.0 : i > 8 ? 145.0 : 100.0, 80.0 + 8 * (8 - std::abs(i - 8))};
  shape[landmarks::kNoseTip] = {noseX, 120};
  const double eyeXs[] = {-12, -6, 6, 12, 6, -6};
  const double eyeYs[] = {0, -3, -3, 0, 3, 3};
  for (int i = 0; i < 6; ++i) {
    shape[landmarks::kFirstEyeFirst + i] = {75 + eyeXs[i], 80 + eyeYs[i]};
    shape[landmarks::kSecondEyeFirst + i] = {125 + eyeXs[i], 80 + eyeYs[i]};
  }
  shape[landmarks::kMouthLeftCorner] = {80, 150};
  shape[landmarks::kMouthRightCorner] = {120, 150};
  for (int i : {61, 62, 63}) shape[i] = {90 + 10.0 * (i - 61), 150 - lipGap / 2};
  for (int i : {67, 66, 65}) shape[i] = {90 + 10.0 * (67 - i), 150 + lipGap / 2};
  return shape;
}

FaceShape Rotated(const FaceShape& shape, double angle) {
  FaceShape turned = shape;
  for (ShapePoint& p : turned) {
    const double x = p.x - 100, y = p.y - 100;
    p = {100 + x * std::cos(angle) - y * std::sin(angle), 100 + x * std::sin(angle) + y * std::cos(angle)};
  }
  return turned;
}

TEST(FaceShape, YawFollowsTheNoseBetweenTheJawSidesAndRollIsTheEyeLineAngle) {
  EXPECT_NEAR(YawFromNose(FrontalShape()), 0, 1e-12);
  EXPECT_NEAR(RollFromEyes(FrontalShape()), 0, 1e-12);
  // Nose 70 % of the way to the right side of the jaw: atan(1.1 × 0.4).
  const double right = YawFromNose(FrontalShape(100 + 0.2 * 90));
  EXPECT_NEAR(right, std::atan(1.1 * 0.4), 1e-9);
  EXPECT_NEAR(YawFromNose(FrontalShape(100 - 0.2 * 90)), -right, 1e-9);
  // Past the eye-check limit well before the nose reaches the contour, and a folded jaw contour
  // counts as turned away.
  EXPECT_GT(YawFromNose(FrontalShape(100 + 0.25 * 90)), 0.45);
  FaceShape folded = FrontalShape();
  for (int i = 0; i <= 16; ++i) folded[i].x = 100;
  EXPECT_GT(std::fabs(YawFromNose(folded)), 0.45);
  // Turned clockwise in the picture (y down): the eye line descends to the right.
  EXPECT_NEAR(RollFromEyes(Rotated(FrontalShape(), 0.3)), 0.3, 1e-9);
  EXPECT_NEAR(RollFromEyes(Rotated(FrontalShape(), -0.2)), -0.2, 1e-9);
}

TEST(FaceShape, MouthOpeningIsLipGapOverMouthWidth) {
  EXPECT_NEAR(MouthOpening(FrontalShape(100, 0)), 0, 1e-12);
  EXPECT_NEAR(MouthOpening(FrontalShape(100, 12)), 0.3, 1e-12);
  FaceShape collapsed = FrontalShape();
  collapsed[landmarks::kMouthRightCorner] = collapsed[landmarks::kMouthLeftCorner];
  EXPECT_EQ(MouthOpening(collapsed), 0);
}

}  // namespace
}  // namespace tw::analysis
