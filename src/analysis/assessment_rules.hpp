#pragma once
// The limits that turn measurements into a verdict: the strictness rows and the fixed constants.
#include <string>

namespace tw::analysis {

struct StrictnessPreset {
  double sharpnessMinimum;
  double clippingMaximum;   // highlight or shadow share
  double brightnessMaximum;
  double brightnessMinimum;
  double noiseMaximum;
  double faceFocusK;        // faceFocusScore = faceSharpness / (faceSharpness + K)
};

// "宽松" and "严格" have their own rows; every other word (the usual "标准" included) is standard.
const StrictnessPreset& PresetForStrictness(const std::string& strictness);

namespace rules {
inline constexpr int kAlgorithmVersion = 2;
inline constexpr int kThumbnailLongSide = 768;
inline constexpr unsigned kPictureGridSide = 192;
inline constexpr int kHighlightLevel = 250;  // at or above
inline constexpr int kShadowLevel = 5;       // at or below
inline constexpr double kMainFaceAreaShare = 0.25;
inline constexpr double kClosedEyeRatio = 0.16;
inline constexpr double kNearThresholdMean = 0.22;
inline constexpr double kPoseScaleRadians = 1.4;
inline constexpr double kCompositionRadius = 0.48;
inline constexpr double kSharpFaceScore = 0.6;
inline constexpr double kLowFaceQuality = 0.35;

inline constexpr double kNoFaceQuality = 0.65;
inline constexpr double kFacesWithoutQuality = 0.5;
inline constexpr double kNoFacePoseScore = 0.65;
inline constexpr double kNoFaceCompositionScore = 0.55;

inline constexpr double kReviewConfidence = 0.55;
inline constexpr double kIssueConfidence = 0.78;
inline constexpr double kCleanConfidence = 0.72;
}  // namespace rules

}  // namespace tw::analysis
