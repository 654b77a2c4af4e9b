#include "analysis/face_scores.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace tw::analysis {
namespace {

TEST(DetectionConfidence, LogisticOverTheHogScore) {
  EXPECT_NEAR(DetectionConfidence(-0.2), 0.5, 1e-6);
  EXPECT_GT(DetectionConfidence(0.5), 0.98);
  EXPECT_LT(DetectionConfidence(-0.5), 0.2);
  float previous = 0;
  for (double score = -2; score <= 3; score += 0.25) {
    const float confidence = DetectionConfidence(score);
    EXPECT_GE(confidence, previous);
    EXPECT_LE(confidence, 1.0f);
    previous = confidence;
  }
}

TEST(SkinShare, CountsSkinColouredPixels) {
  const std::vector<std::uint8_t> pixels = {
      224, 172, 140,  // light skin
      141, 85, 36,    // dark skin
      128, 128, 128,  // grey
      40, 60, 200,    // blue
  };
  EXPECT_DOUBLE_EQ(SkinShare(pixels.data(), 4), 0.5);
  EXPECT_EQ(SkinShare(pixels.data(), 0), 0);
}

TEST(CaptureQuality, FocusGatesTheScore) {
  CaptureInputs sharp;
  sharp.sharpness = 400;
  sharp.sidePixels = 120;
  sharp.meanGrey = 0.5;
  const double good = CaptureQuality(sharp);
  EXPECT_GT(good, 0.6);
  EXPECT_LE(good, 1.0);

  CaptureInputs blurred = sharp;
  blurred.sharpness = 10;
  EXPECT_LT(CaptureQuality(blurred), 0.35);
  blurred.sharpness = 0;
  EXPECT_EQ(CaptureQuality(blurred), 0);

  // Smaller, turned, badly exposed or doubtful faces score lower.
  for (auto change : std::vector<void (*)(CaptureInputs&)>{
           [](CaptureInputs& in) { in.sidePixels = 30; }, [](CaptureInputs& in) { in.yaw = 0.6; },
           [](CaptureInputs& in) { in.meanGrey = 0.05; }, [](CaptureInputs& in) { in.clippedShare = 0.5; },
           [](CaptureInputs& in) { in.detectionConfidence = 0.2f; }}) {
    CaptureInputs worse = sharp;
    change(worse);
    EXPECT_LT(CaptureQuality(worse), good);
    EXPECT_GE(CaptureQuality(worse), 0);
  }
}

}  // namespace
}  // namespace tw::analysis
