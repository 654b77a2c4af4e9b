#include "analysis/assessment.hpp"

#include "analysis/analysis_texts.hpp"
#include "analysis/assessment_rules.hpp"
#include "analysis/grey_band.hpp"
#include "analysis/image_metrics.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>
#include <vector>

namespace tw::analysis {
namespace {

class EnabledChecks {
 public:
  explicit EnabledChecks(const Json& settings) {
    for (const Json& name : ArrayField(settings, "enabled")) {
      if (name.is_string()) names_.push_back(name.get<std::string>());
    }
  }
  bool operator()(std::string_view check) const {
    return std::find(names_.begin(), names_.end(), check) != names_.end();
  }

 private:
  std::vector<std::string> names_;
};

// Reasons in order of first occurrence, each once.
class ReviewReasons {
 public:
  void Add(std::string_view reason) {
    if (std::find(reasons_.begin(), reasons_.end(), reason) == reasons_.end()) {
      reasons_.emplace_back(reason);
    }
  }
  bool empty() const { return reasons_.empty(); }
  Json ToJson() const { return Json(reasons_); }

 private:
  std::vector<std::string> reasons_;
};

struct PictureMeasures {
  double brightness = 0;
  double highlight = 0;
  double shadow = 0;
  double sharpness = 0;
  double noise = 0;
};

// nullopt when the picture cannot be sampled at all: then nothing about it is known, and calling
// it dark and blurred (what an empty grid would measure) would be a verdict on a failure.
std::optional<PictureMeasures> MeasurePicture(const vips::VImage& thumbnail) {
  const unsigned side = rules::kPictureGridSide;
  const GreyGrid grid = GrayPixels(thumbnail, side);
  if (grid.empty()) return std::nullopt;
  double sum = 0;
  double highlights = 0;
  double shadows = 0;
  for (std::uint8_t sample : grid) {
    sum += sample;
    if (sample >= rules::kHighlightLevel) highlights += 1;
    if (sample <= rules::kShadowLevel) shadows += 1;
  }
  const double count = std::max<double>(double(grid.size()), 1.0);
  PictureMeasures measures;
  measures.brightness = sum / count / 255.0;
  measures.highlight = highlights / count;
  measures.shadow = shadows / count;
  measures.sharpness = LaplacianVariance(grid, side, side);
  measures.noise = NoiseEstimate(grid, side, side);
  return measures;
}

double CompositionTerm(const FaceBox& box) {
  static constexpr std::array<std::array<double, 2>, 5> kAnchors = {{
      {0.5, 0.5}, {1.0 / 3, 1.0 / 3}, {2.0 / 3, 1.0 / 3}, {1.0 / 3, 2.0 / 3}, {2.0 / 3, 2.0 / 3}}};
  const double centreX = box.x + box.width / 2;
  const double centreY = box.y + box.height / 2;
  double distance = 1;
  for (const auto& anchor : kAnchors) {
    distance = std::min(distance, std::hypot(centreX - anchor[0], centreY - anchor[1]));
  }
  return std::max(0.0, 1.0 - distance / rules::kCompositionRadius);
}

double PoseTerm(double yaw, double roll) {
  const double pose = (std::fabs(yaw) + std::fabs(roll)) / rules::kPoseScaleRadians;
  return std::max(0.0, 1.0 - std::min(1.0, pose));
}

std::string JoinIssues(const std::vector<std::string>& issues) {
  if (issues.empty()) return std::string(texts::kNoIssueReason);
  std::string joined;
  for (const std::string& issue : issues) {
    if (!joined.empty()) joined += texts::kIssueSeparator;
    joined += issue;
  }
  return joined;
}

}  // namespace

Json UndecodableRecord() { return Json{{"error", std::string(texts::kUndecodable)}}; }

EyeState CheckEyes(const DetectedFace& face, unsigned imageWidth, unsigned imageHeight) {
  const double left = EyeAspect(face.leftEye);
  const double right = EyeAspect(face.rightEye);
  const double scale = std::max(face.eyeScale, 1.0);
  if (!FaceCheckVisible(unsigned(std::lround(imageWidth * scale)), unsigned(std::lround(imageHeight * scale)),
                        face.box, face.yaw.value_or(0), face.roll.value_or(0)) ||
      left < 0 || right < 0) {
    return EyeState::NotVisible;
  }
  if (left < rules::kClosedEyeRatio && right < rules::kClosedEyeRatio) return EyeState::Closed;
  if (std::min(left, right) < rules::kClosedEyeRatio || (left + right) / 2 < rules::kNearThresholdMean) {
    return EyeState::NearThreshold;
  }
  return EyeState::Open;
}

PhotoAssessment AssessPhotoWithFaces(const imaging::DecodedImage& thumbnail, const Json& settings,
                                     const std::string& strictness, FaceDetector& faceDetector,
                                     const LargerDecode& larger) {
  PhotoAssessment assessment;
  const EnabledChecks enabled(settings);
  const bool eyeCheckOn = enabled(texts::kClosedEyes);
  const bool focusCheckOn = enabled(texts::kFaceOutOfFocus);
  // One grey conversion serves every measurement below and the face detector.
  const std::optional<vips::VImage> grey = GreyBandInMemory(thumbnail);
  const std::optional<PictureMeasures> measured =
      grey ? MeasurePicture(*grey) : std::optional<PictureMeasures>();
  if (!measured) {
    assessment.record = UndecodableRecord();
    return assessment;
  }
  const PictureMeasures& picture = *measured;
  const StrictnessPreset& preset = PresetForStrictness(strictness);

  const FaceDetection detection = faceDetector.Detect(thumbnail, *grey, larger);
  ReviewReasons reviewReasons;
  if (!detection.succeeded && (eyeCheckOn || focusCheckOn)) {
    reviewReasons.Add(texts::kFaceDetectionIncomplete);
  }
  // A failed detection contributes no faces, whatever it returned.
  static const std::vector<DetectedFace> kNoFaces;
  const std::vector<DetectedFace>& faces = detection.succeeded ? detection.faces : kNoFaces;

  double largestArea = 0;
  for (const DetectedFace& face : faces) {
    largestArea = std::max(largestArea, face.box.width * face.box.height);
  }

  assessment.pictureWidth = std::max(thumbnail.width(), 0);
  assessment.pictureHeight = std::max(thumbnail.height(), 0);
  const unsigned imageWidth = unsigned(assessment.pictureWidth);
  const unsigned imageHeight = unsigned(assessment.pictureHeight);
  float bestConfidence = 0;
  int mainFaces = 0;
  int eyesChecked = 0;
  int closedEyes = 0;
  int softFaces = 0;
  double faceSharpness = -1;
  double poseSum = 0;
  double compositionSum = 0;
  int poseCount = 0;
  assessment.facesDetected = detection.succeeded;
  for (const DetectedFace& face : faces) {
    FaceVerdict& verdict = assessment.faces.emplace_back();
    verdict.face = face;
    bestConfidence = std::max(bestConfidence, face.confidence);
    const double yaw = face.yaw.value_or(0);
    const double roll = face.roll.value_or(0);
    if (face.box.width * face.box.height >= rules::kMainFaceAreaShare * largestArea) {
      ++mainFaces;
      verdict.main = true;
      const EyeState eyes = CheckEyes(face, imageWidth, imageHeight);
      verdict.eyes = eyes;
      if (eyes == EyeState::NotVisible) {
        if (eyeCheckOn) reviewReasons.Add(texts::kEyesNotVisible);
      } else {
        ++eyesChecked;
        if (eyes == EyeState::Closed) ++closedEyes;
        if (eyes == EyeState::NearThreshold && eyeCheckOn) reviewReasons.Add(texts::kEyesNearThreshold);
      }

      const double sharpness = FaceRegionSharpness(*grey, face.box);
      if (sharpness < 0) {
        if (focusCheckOn) reviewReasons.Add(texts::kFaceTooSmallForFocus);
      } else {
        faceSharpness = faceSharpness < 0 ? sharpness : std::min(faceSharpness, sharpness);
        verdict.focus = sharpness < preset.faceFocusK ? FaceFocus::Soft : FaceFocus::Sharp;
        if (verdict.focus == FaceFocus::Soft) ++softFaces;
      }
    }
    poseSum += PoseTerm(yaw, roll);
    compositionSum += CompositionTerm(face.box);
    ++poseCount;
  }

  double qualitySum = 0;
  int qualityCount = 0;
  for (const std::optional<double>& quality : detection.captureQualities) {
    if (quality) {
      qualitySum += *quality;
      ++qualityCount;
    }
  }
  const double faceQuality = qualityCount > 0 ? qualitySum / qualityCount
                             : !faces.empty()  ? rules::kFacesWithoutQuality
                                               : rules::kNoFaceQuality;
  const double poseScore = poseCount > 0 ? poseSum / poseCount : rules::kNoFacePoseScore;
  const double compositionScore =
      poseCount > 0 ? compositionSum / poseCount : rules::kNoFaceCompositionScore;
  const double faceFocusScore =
      faceSharpness >= 0 ? faceSharpness / (faceSharpness + preset.faceFocusK) : -1;

  std::vector<std::string> issues;
  const auto addIssue = [&issues](std::string_view name) { issues.emplace_back(name); };
  if (enabled(texts::kOverallBlur) && picture.sharpness < preset.sharpnessMinimum &&
      faceFocusScore < rules::kSharpFaceScore) {
    addIssue(texts::kOverallBlur);
  }
  if (focusCheckOn && softFaces > 0) {
    if (faceQuality < rules::kLowFaceQuality) {
      addIssue(texts::kFaceOutOfFocus);
    } else {
      reviewReasons.Add(texts::kFaceDetailLow);
    }
  }
  if (eyeCheckOn && closedEyes > 0) addIssue(texts::kClosedEyes);
  if (enabled(texts::kOverexposed) && (picture.highlight > preset.clippingMaximum ||
                                       picture.brightness > preset.brightnessMaximum)) {
    addIssue(texts::kOverexposed);
  }
  if (enabled(texts::kUnderexposed) && (picture.shadow > preset.clippingMaximum ||
                                        picture.brightness < preset.brightnessMinimum)) {
    addIssue(texts::kUnderexposed);
  }
  if (enabled(texts::kTooNoisy) && picture.noise > preset.noiseMaximum) addIssue(texts::kTooNoisy);

  const double confidence =
      !reviewReasons.empty()
          ? rules::kReviewConfidence
          : std::max(issues.empty() ? rules::kCleanConfidence : rules::kIssueConfidence,
                     double(bestConfidence));

  Json result = Json::object();
  result["algorithmVersion"] = rules::kAlgorithmVersion;
  result["issues"] = issues;
  result["brightness"] = picture.brightness;
  result["highlight"] = picture.highlight;
  result["shadow"] = picture.shadow;
  result["sharpness"] = picture.sharpness;
  result["noise"] = picture.noise;
  result["faces"] = std::size_t(faces.size());
  result["mainFaces"] = mainFaces;
  result["eyesChecked"] = eyesChecked;
  result["closedEyes"] = closedEyes;
  result["faceSharpness"] = faceSharpness;
  result["faceFocusScore"] = faceFocusScore;
  result["reviewReasons"] = reviewReasons.ToJson();
  result["needsReview"] = reviewReasons.empty() ? 0 : 1;
  result["faceQuality"] = faceQuality;
  result["poseScore"] = poseScore;
  result["compositionScore"] = compositionScore;
  result["confidence"] = confidence;
  result["reason"] = JoinIssues(issues);
  result["hash"] = DHash(*grey);

  // The face issues are raised by every main face failing their rule: the faces the loupe marks.
  const auto raised = [&issues](std::string_view name) {
    return std::find(issues.begin(), issues.end(), name) != issues.end();
  };
  for (FaceVerdict& verdict : assessment.faces) {
    if (verdict.eyes == EyeState::Closed && raised(texts::kClosedEyes)) {
      verdict.triggers.emplace_back(texts::kClosedEyes);
    }
    if (verdict.focus == FaceFocus::Soft && raised(texts::kFaceOutOfFocus)) {
      verdict.triggers.emplace_back(texts::kFaceOutOfFocus);
    }
  }
  assessment.record = std::move(result);
  return assessment;
}

Json AssessPhoto(const imaging::DecodedImage& thumbnail, const Json& settings,
                 const std::string& strictness, FaceDetector& faceDetector, const LargerDecode& larger) {
  return AssessPhotoWithFaces(thumbnail, settings, strictness, faceDetector, larger).record;
}

}  // namespace tw::analysis
