#include "analysis/eye_outline.hpp"

#include "analysis/assessment_rules.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace tw::analysis {
namespace {

constexpr int kSide = 260;
constexpr double kSkin = 170;

struct Chip {
  std::vector<std::uint8_t> pixels;
  GreyView view() const { return {pixels.data(), kSide, kSide, kSide}; }
};

Chip Draw(const std::function<double(double, double)>& greyAt) {
  Chip chip;
  chip.pixels.resize(kSide * kSide);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) chip.pixels[y * kSide + x] = std::uint8_t(std::clamp(greyAt(x, y), 0.0, 255.0));
  return chip;
}

// An open eye 60 px wide between (100, 130) and (160, 130): white sclera in a lens-shaped
// opening 20 px high, a dark iris in its middle, thin lid lines.
Chip OpenEye() {
  return Draw([](double x, double y) {
    const double u = (x - 130) / 30;  // -1 .. 1 across the eye
    if (std::fabs(u) > 1) return kSkin;
    const double halfOpening = 10 * (1 - u * u);
    const double dy = std::fabs(y - 130);
    if (std::fabs(dy - halfOpening) < 1.5) return 60.0;  // lid line
    if (dy > halfOpening) return kSkin;
    return std::hypot(x - 130, y - 130) < 10 ? 40.0 : 225.0;
  });
}

// A shut eye: only a 4 px dark lash line along y = 130.
Chip ShutEye() {
  return Draw([](double x, double y) {
    const double u = (x - 130) / 30;
    if (std::fabs(u) > 1) return kSkin;
    return std::fabs(y - 130) < 2 ? 45.0 : kSkin;
  });
}

// Six landmark points with the given height over width.
EyePoints Landmarks(double aspect, double centreX = 130, double centreY = 130) {
  const double half = 30 * aspect;
  return {ShapePoint{centreX - 30, centreY}, {centreX - 10, centreY - half}, {centreX + 10, centreY - half},
          {centreX + 30, centreY},           {centreX + 10, centreY + half}, {centreX - 10, centreY + half}};
}

double Aspect(const EyePoints& points) {
  double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
  for (const auto& p : points) {
    minX = std::min(minX, p.x), maxX = std::max(maxX, p.x), minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
  }
  return (maxY - minY) / (maxX - minX);
}

TEST(EyeOutline, AnOpenEyeKeepsItsLandmarksAndAShutOneSeenNearlyShutIsDrawnShut) {
  const Chip chip = OpenEye();
  EyeEvidence evidence;
  const auto outline = RefineEyeOutline(chip.view(), Landmarks(1.0 / 3), EyeDoubt::None, &evidence);
  ASSERT_TRUE(outline);
  EXPECT_NEAR(Aspect(*outline), 1.0 / 3, 1e-9);
  EXPECT_GE(evidence.openingContrast, 0.25);
  EXPECT_EQ(evidence.closing, 1.0);
  EXPECT_NEAR(evidence.reportedAspect, 1.0 / 3, 1e-9);

  // A shut eye the landmarks see nearly shut is drawn shut.
  const EyePoints landmarks = Landmarks(0.19);
  const auto shut = RefineEyeOutline(ShutEye().view(), landmarks, EyeDoubt::None, &evidence);
  ASSERT_TRUE(shut);
  EXPECT_LT(evidence.openingContrast, 0.1);
  EXPECT_LT(Aspect(*shut), rules::kClosedEyeRatio);
  // Still the eye's outline: the points keep their places across the eye, the lids move towards
  // the lid line.
  for (int i = 0; i < 6; ++i) EXPECT_EQ((*shut)[i].x, landmarks[i].x);
  EXPECT_EQ((*shut)[3].y, landmarks[3].y);
  EXPECT_GT((*shut)[1].y, landmarks[1].y);
  EXPECT_LT((*shut)[4].y, landmarks[4].y);
}

TEST(EyeOutline, ThePictureAloneNeverShutsAnEyeTheLandmarksSeeOpenAndLaughingEyesStayInTheReviewBand) {
  const auto seenOpen = RefineEyeOutline(ShutEye().view(), Landmarks(0.30), EyeDoubt::None);
  ASSERT_TRUE(seenOpen);
  EXPECT_GT(Aspect(*seenOpen), rules::kClosedEyeRatio);
  EXPECT_LT(Aspect(*seenOpen), 0.30);
  const auto open = RefineEyeOutline(OpenEye().view(), Landmarks(1.0 / 3), EyeDoubt::SqueezedByLaugh);
  ASSERT_TRUE(open);
  EXPECT_NEAR(Aspect(*open), 0.2, 1e-9);
  const auto shut = RefineEyeOutline(ShutEye().view(), Landmarks(0.19), EyeDoubt::SqueezedByLaugh);
  ASSERT_TRUE(shut);
  EXPECT_GT(Aspect(*shut), rules::kClosedEyeRatio);
  EXPECT_LE(Aspect(*shut), 0.2);
}

TEST(EyeOutline, UnreadableEyesGiveNoOutline) {
  const Chip flat = Draw([](double, double) { return kSkin; });
  EyeEvidence evidence;
  EXPECT_FALSE(RefineEyeOutline(flat.view(), Landmarks(0.3), EyeDoubt::None, &evidence));
  EXPECT_LT(evidence.lidContrast, 20);
  // Too small to read, or reaching off the crop.
  EyePoints tiny = Landmarks(0.3);
  for (auto& p : tiny) p.x = 130 + (p.x - 130) / 10;
  EXPECT_FALSE(RefineEyeOutline(OpenEye().view(), tiny, EyeDoubt::None));
  EXPECT_FALSE(RefineEyeOutline(OpenEye().view(), Landmarks(0.3, 20, 130), EyeDoubt::None));
  EXPECT_FALSE(RefineEyeOutline(OpenEye().view(), Landmarks(0.3, 130, 250), EyeDoubt::None));
  EXPECT_FALSE(RefineEyeOutline(GreyView{}, Landmarks(0.3), EyeDoubt::None));
}

}  // namespace
}  // namespace tw::analysis
