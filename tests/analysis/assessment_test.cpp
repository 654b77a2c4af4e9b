#include "analysis/assessment.hpp"

#include "analysis/analysis_texts.hpp"
#include "analysis/assessment_rules.hpp"
#include "scripted_face_detector.hpp"
#include "synthetic_images.hpp"

#include <gtest/gtest.h>
#include <sys/fsuid.h>

#include <filesystem>

namespace tw::analysis {
namespace {

using testing::EyeWithAspect;
using testing::FaceAt;
using testing::Found;
using testing::GreyPicture;
using testing::ScriptedFaceDetector;
using testing::UniformPicture;

const Json kAllChecks = {{"enabled",
                          {texts::kOverallBlur, texts::kFaceOutOfFocus, texts::kClosedEyes,
                           texts::kOverexposed, texts::kUnderexposed, texts::kTooNoisy}}};

Json Enabled(std::initializer_list<std::string_view> checks) {
  Json names = Json::array();
  for (std::string_view check : checks) names.push_back(check);
  return {{"enabled", names}};
}

Json Assess(const imaging::DecodedImage& picture, FaceDetection faces, const Json& settings = kAllChecks,
            const std::string& strictness = "标准") {
  ScriptedFaceDetector detector(std::move(faces));
  return AssessPhoto(picture, settings, strictness, detector);
}

std::vector<std::string> Strings(const Json& list) { return list.get<std::vector<std::string>>(); }

// 768 × 512, mid grey and soft everywhere except a 144 px face of fine stripes; the whole-picture
// grid averages the stripes away, the face grid keeps them.
imaging::DecodedImage SoftPictureWithSharpFace() {
  return GreyPicture(768, 512, [](int x, int y) {
    const bool inFace = x >= 312 && x < 456 && y >= 184 && y < 328;
    return inFace ? std::uint8_t((x / 2) % 2 ? 200 : 56) : std::uint8_t(128);
  });
}
const FaceBox kSharpFaceBox{312.0 / 768, 1 - 328.0 / 512, 144.0 / 768, 144.0 / 512};

// A face box of `side` px centred at (cx, cy) (fractions, lower-left origin) on a 400 × 300 picture.
FaceBox BoxOnMid(double side, double cx = 0.5, double cy = 0.5) {
  return {cx - side / 800, cy - side / 600, side / 400, side / 300};
}
const imaging::DecodedImage& Mid() {
  static const imaging::DecodedImage picture = UniformPicture(400, 300, 128);
  return picture;
}

TEST(Assessment, APhotoWithoutFacesGivesTheTwentyOneKeysWithTheFaceDefaults) {
  ScriptedFaceDetector detector(Found({}));
  const Json result = AssessPhoto(Mid(), kAllChecks, "标准", detector);
  EXPECT_EQ(detector.calls, 1) << "the detector is asked once per photo";
  // A flat picture is blurred by its sharpness alone when no face is there to say otherwise.
  const Json blur = Json::array({texts::kOverallBlur});
  EXPECT_TRUE(result["needsReview"].is_number_integer());
  EXPECT_EQ(result, (Json{{"algorithmVersion", 2}, {"issues", blur}, {"brightness", result["brightness"]},
                          {"highlight", 0.0}, {"shadow", 0.0}, {"sharpness", 0.0}, {"noise", result["noise"]},
                          {"faces", 0}, {"mainFaces", 0}, {"eyesChecked", 0}, {"closedEyes", 0},
                          {"faceSharpness", -1.0}, {"faceFocusScore", -1.0}, {"reviewReasons", Json::array()},
                          {"needsReview", 0}, {"faceQuality", 0.65}, {"poseScore", 0.65}, {"compositionScore", 0.55},
                          {"confidence", 0.78}, {"reason", texts::kOverallBlur}, {"hash", DHash(Mid())}}));
  // A small face measured on a larger decode changes what is measured, never the record's keys.
  DetectedFace closer = FaceAt(BoxOnMid(30), 0.3, 0.3);
  closer.eyeScale = 2;
  const Json closerResult = Assess(Mid(), Found({closer}, {0.8}));
  EXPECT_EQ(closerResult["eyesChecked"], 1);
  EXPECT_EQ(closerResult.size(), result.size());
  for (const auto& [key, value] : result.items()) EXPECT_TRUE(closerResult.contains(key)) << key;
}

TEST(Assessment, WholePictureMeasuresFollowTheGreyGrid) {
  // Top quarter white (≥ 250), bottom quarter black (≤ 5), middle grey.
  const auto picture = GreyPicture(192, 192, [](int, int y) {
    return y < 48 ? std::uint8_t(255) : y >= 144 ? std::uint8_t(0) : std::uint8_t(102);
  });
  const Json result = Assess(picture, Found({}), Json::object());
  EXPECT_NEAR(result["highlight"].get<double>(), 0.25, 1e-9);
  EXPECT_NEAR(result["shadow"].get<double>(), 0.25, 1e-9);
  EXPECT_NEAR(result["brightness"].get<double>(), (0.25 * 255 + 0.5 * 102) / 255, 0.005);
  const GreyGrid grid = GrayPixels(picture, 192);
  EXPECT_DOUBLE_EQ(result["sharpness"].get<double>(), LaplacianVariance(grid, 192, 192));
  EXPECT_DOUBLE_EQ(result["noise"].get<double>(), NoiseEstimate(grid, 192, 192));
}

TEST(Assessment, SharpnessExactlyAtTheMinimumIsNotBlurred) {
  // A 192 × 192 grey picture is its own grid. Thirty impulses of 95 on black, well apart, make
  // the Laplacian sum 0 and its square sum 30 × 20 × 95² = 150 × 190²: a variance of exactly 150.
  const auto picture = [] {
    imaging::EnsureVipsStarted();
    std::vector<std::uint8_t> grid(192 * 192, 0);
    for (int i = 0; i < 30; ++i) grid[(10 + 5 * i) * 192 + 10 + 5 * i] = 95;
    return vips::VImage::new_from_memory(grid.data(), grid.size(), 192, 192, 1, VIPS_FORMAT_UCHAR)
        .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_B_W))
        .copy_memory();
  }();
  const Json atLimit = Assess(picture, Found({}), Enabled({texts::kOverallBlur}));
  ASSERT_EQ(atLimit["sharpness"], 150.0);
  EXPECT_TRUE(atLimit["issues"].empty());
  const Json strict = Assess(picture, Found({}), Enabled({texts::kOverallBlur}), "严格");
  EXPECT_EQ(Strings(strict["issues"]), std::vector<std::string>{std::string(texts::kOverallBlur)});
  const Json lenient = Assess(picture, Found({}), Enabled({texts::kOverallBlur}), "宽松");
  EXPECT_TRUE(lenient["issues"].empty());
}

TEST(Assessment, SharpFaceSuppressesOverallBlur) {
  const auto picture = SoftPictureWithSharpFace();
  ASSERT_GE(FaceRegionSharpness(picture, kSharpFaceBox), 1.5 * 90);
  const Json withFace = Assess(picture, Found({FaceAt(kSharpFaceBox, 0.3, 0.3)}, {0.8}));
  ASSERT_LT(withFace["sharpness"].get<double>(), 150);
  EXPECT_GE(withFace["faceFocusScore"].get<double>(), 0.6);
  EXPECT_TRUE(withFace["issues"].empty()) << withFace.dump();
  // Without the face the same picture is blurred.
  const Json withoutFace = Assess(picture, Found({}));
  EXPECT_EQ(Strings(withoutFace["issues"]), std::vector<std::string>{std::string(texts::kOverallBlur)});
}

TEST(Assessment, FaceFocusIsAnIssueOnlyWhenTheQualityAgrees) {
  // A flat face: sharpness 0, below K.
  const FaceDetection lowQuality = Found({FaceAt(BoxOnMid(120), 0.3, 0.3)}, {0.2, std::nullopt});
  const Json issue = Assess(Mid(), lowQuality, Enabled({texts::kFaceOutOfFocus}));
  EXPECT_EQ(issue["faceSharpness"], 0.0);
  EXPECT_EQ(issue["faceFocusScore"], 0.0);
  EXPECT_EQ(issue["faceQuality"], 0.2);
  EXPECT_EQ(Strings(issue["issues"]), std::vector<std::string>{std::string(texts::kFaceOutOfFocus)});
  EXPECT_TRUE(issue["reviewReasons"].empty());

  const FaceDetection goodQuality = Found({FaceAt(BoxOnMid(120), 0.3, 0.3)}, {0.6});
  const Json review = Assess(Mid(), goodQuality, Enabled({texts::kFaceOutOfFocus}));
  EXPECT_TRUE(review["issues"].empty());
  EXPECT_EQ(Strings(review["reviewReasons"]), std::vector<std::string>{std::string(texts::kFaceDetailLow)});

  // Faces without any quality value count as 0.5: not confirmed, so a review.
  const Json noValue = Assess(Mid(), Found({FaceAt(BoxOnMid(120), 0.3, 0.3)}, {std::nullopt}),
                              Enabled({texts::kFaceOutOfFocus}));
  EXPECT_EQ(noValue["faceQuality"], 0.5);
  EXPECT_EQ(Strings(noValue["reviewReasons"]), std::vector<std::string>{std::string(texts::kFaceDetailLow)});

  // The strictness row's K decides what is "below": K = 60 lenient, 150 strict.
  const auto picture = SoftPictureWithSharpFace();
  const double measured = FaceRegionSharpness(picture, kSharpFaceBox);
  const Json strict = Assess(picture, Found({FaceAt(kSharpFaceBox, 0.3, 0.3)}, {0.2}),
                             Enabled({texts::kFaceOutOfFocus}), "严格");
  EXPECT_NEAR(strict["faceFocusScore"].get<double>(), measured / (measured + 150), 1e-12);
}

TEST(Assessment, EyeRules) {
  const auto eyes = [](double left, double right, const Json& settings = kAllChecks) {
    return Assess(Mid(), Found({FaceAt(BoxOnMid(120), left, right)}, {0.8}), settings);
  };
  const Json closed = eyes(0.15, 0.15);
  EXPECT_EQ(closed["eyesChecked"], 1);
  EXPECT_EQ(closed["closedEyes"], 1);
  EXPECT_TRUE(closed["issues"].get<std::vector<std::string>>() ==
              (std::vector<std::string>{std::string(texts::kOverallBlur), std::string(texts::kClosedEyes)}))
      << closed["issues"].dump();

  for (auto [left, right] : {std::pair{0.15, 0.30}, std::pair{0.18, 0.20}}) {
    const Json near = eyes(left, right);
    EXPECT_EQ(near["closedEyes"], 0);
    EXPECT_EQ(near["eyesChecked"], 1);
    const auto reasons = Strings(near["reviewReasons"]);
    EXPECT_NE(std::find(reasons.begin(), reasons.end(), texts::kEyesNearThreshold), reasons.end()) << left;
  }
  const Json open = eyes(0.25, 0.25);
  const auto reasons = Strings(open["reviewReasons"]);
  EXPECT_EQ(std::find(reasons.begin(), reasons.end(), texts::kEyesNearThreshold), reasons.end());

  // With the check off, closed eyes are still counted but neither an issue nor a reason.
  const Json off = eyes(0.15, 0.15, Enabled({texts::kOverallBlur}));
  EXPECT_EQ(off["closedEyes"], 1);
  EXPECT_EQ(Strings(off["issues"]), std::vector<std::string>{std::string(texts::kOverallBlur)});
  EXPECT_TRUE(off["reviewReasons"].empty());
  const Json nearOff = eyes(0.15, 0.30, Enabled({texts::kOverallBlur}));
  EXPECT_TRUE(nearOff["reviewReasons"].empty());
}

TEST(Assessment, FacesTheEyeCheckCannotReadAreSentToReviewOnce) {
  // Three main faces, all turned away: the reason appears once.
  std::vector<DetectedFace> turned;
  for (double cx : {0.2, 0.5, 0.8}) {
    DetectedFace face = FaceAt(BoxOnMid(80, cx), 0.3, 0.3);
    face.yaw = 0.8;
    turned.push_back(face);
  }
  const Json result = Assess(Mid(), Found(turned, {0.8}), Enabled({texts::kClosedEyes}));
  EXPECT_EQ(result["mainFaces"], 3);
  EXPECT_EQ(result["eyesChecked"], 0);
  EXPECT_EQ(Strings(result["reviewReasons"]), std::vector<std::string>{std::string(texts::kEyesNotVisible)});
  EXPECT_EQ(result["needsReview"], 1);

  // An eye without a measurement counts the same, and so does a tilted head.
  DetectedFace noEye = FaceAt(BoxOnMid(120), 0.3, 0.3);
  noEye.leftEye.reset();
  const Json missing = Assess(Mid(), Found({noEye}), Enabled({texts::kClosedEyes}));
  EXPECT_EQ(Strings(missing["reviewReasons"]), std::vector<std::string>{std::string(texts::kEyesNotVisible)});
  DetectedFace fiveEyePoints = FaceAt(BoxOnMid(120), 0.3, 0.3);
  fiveEyePoints.rightEye->pop_back();
  EXPECT_EQ(Assess(Mid(), Found({fiveEyePoints}), Enabled({texts::kClosedEyes}))["eyesChecked"], 0);
  DetectedFace tilted = FaceAt(BoxOnMid(120), 0.15, 0.15);
  tilted.roll = -0.5;
  const Json tiltedResult = Assess(Mid(), Found({tilted}), Enabled({texts::kClosedEyes}));
  EXPECT_EQ(tiltedResult["closedEyes"], 0);
  EXPECT_EQ(Strings(tiltedResult["reviewReasons"]), std::vector<std::string>{std::string(texts::kEyesNotVisible)});
  // Missing angles count as 0.
  DetectedFace noAngles = FaceAt(BoxOnMid(120), 0.15, 0.15);
  noAngles.yaw.reset();
  noAngles.roll.reset();
  const Json noAnglesResult = Assess(Mid(), Found({noAngles}), Enabled({texts::kClosedEyes}));
  EXPECT_EQ(noAnglesResult["closedEyes"], 1);
  EXPECT_EQ(noAnglesResult["poseScore"], 1.0);
}

TEST(Assessment, OnlyMainFacesAreCheckedButAllFacesScore) {
  // The large face has open eyes; a small one (area under a quarter) has shut eyes and is not checked.
  DetectedFace large = FaceAt(BoxOnMid(150, 0.5, 0.5), 0.3, 0.3);
  DetectedFace small = FaceAt(BoxOnMid(74, 0.2, 0.8), 0.1, 0.1);
  small.yaw = 0.7;
  const Json result = Assess(Mid(), Found({large, small}, {0.8, 0.6}));
  EXPECT_EQ(result["faces"], 2);
  EXPECT_EQ(result["mainFaces"], 1);
  EXPECT_EQ(result["eyesChecked"], 1);
  EXPECT_EQ(result["closedEyes"], 0);
  EXPECT_DOUBLE_EQ(result["faceQuality"].get<double>(), 0.7);
  // Pose: (1 + (1 - 0.7 / 1.4)) / 2. Composition: the large face sits on the centre anchor (1),
  // the small one at (0.2, 0.8), 0.1886 from (1/3, 2/3).
  EXPECT_DOUBLE_EQ(result["poseScore"].get<double>(), 0.75);
  const double smallTerm = 1 - std::hypot(0.2 - 1.0 / 3, 0.8 - 2.0 / 3) / 0.48;
  EXPECT_NEAR(result["compositionScore"].get<double>(), (1 + smallTerm) / 2, 1e-9);

  // At exactly a quarter of the largest area a face is a main face.
  const DetectedFace quarter = FaceAt(FaceBox{0.1, 0.1, 0.25, 0.25}, 0.3, 0.3);
  const DetectedFace whole = FaceAt(FaceBox{0.4, 0.4, 0.5, 0.5}, 0.3, 0.3);
  EXPECT_EQ(Assess(Mid(), Found({quarter, whole}))["mainFaces"], 2);
}

TEST(Assessment, SmallFacesAreNotMeasuredForFocus) {
  // 40 × 40 px: too small for both the eye check and the focus measure.
  const Json result = Assess(Mid(), Found({FaceAt(BoxOnMid(40), 0.3, 0.3)}, {0.8}));
  EXPECT_EQ(result["faceSharpness"], -1.0);
  EXPECT_EQ(result["faceFocusScore"], -1.0);
  EXPECT_EQ(Strings(result["reviewReasons"]),
            (std::vector<std::string>{std::string(texts::kEyesNotVisible), std::string(texts::kFaceTooSmallForFocus)}));
  // The lowest face sharpness over the main faces is kept.
  const auto picture = SoftPictureWithSharpFace();
  const FaceBox flatBox{0.02, 0.6, kSharpFaceBox.width, kSharpFaceBox.height};
  const Json two = Assess(picture, Found({FaceAt(kSharpFaceBox, 0.3, 0.3), FaceAt(flatBox, 0.3, 0.3)}));
  EXPECT_EQ(two["faceSharpness"], 0.0);
}

TEST(Assessment, ReviewReasonsAreListedOnceInOrderOfFirstOccurrence) {
  // Face 1: near threshold. Face 2: too small to see. Face 3: near threshold again.
  const DetectedFace near1 = FaceAt(BoxOnMid(60, 0.2), 0.15, 0.30);
  DetectedFace turned = FaceAt(BoxOnMid(60, 0.5), 0.3, 0.3);
  turned.yaw = 1.0;
  const DetectedFace near2 = FaceAt(BoxOnMid(60, 0.8), 0.18, 0.20);
  const Json result = Assess(Mid(), Found({near1, turned, near2}, {0.8}), Enabled({texts::kClosedEyes}));
  EXPECT_EQ(Strings(result["reviewReasons"]),
            (std::vector<std::string>{std::string(texts::kEyesNearThreshold), std::string(texts::kEyesNotVisible)}));
  EXPECT_EQ(result["needsReview"], 1);
  EXPECT_EQ(result["confidence"], 0.55);
}

TEST(Assessment, ConfidenceRule) {
  // A clean photo: the best face confidence (kept in single precision) when above 0.72.
  const auto clean = GreyPicture(400, 300, [](int x, int y) { return std::uint8_t(60 + ((x / 3 + y / 3) % 2) * 120); });
  const Json cleanResult = Assess(clean, Found({FaceAt(BoxOnMid(120), 0.3, 0.3, 0.9f)}, {0.8}), Enabled({}));
  EXPECT_TRUE(cleanResult["issues"].empty());
  EXPECT_TRUE(cleanResult["reviewReasons"].empty());
  EXPECT_EQ(cleanResult["confidence"], double(0.9f));
  // A weaker face does not lower the floor.
  EXPECT_EQ(Assess(clean, Found({FaceAt(BoxOnMid(120), 0.3, 0.3, 0.5f)}), Enabled({}))["confidence"], 0.72);
  EXPECT_EQ(Assess(clean, Found({}), Enabled({}))["confidence"], 0.72);
  // An issue and no face: 0.78.
  const Json issue = Assess(Mid(), Found({}), Enabled({texts::kOverallBlur}));
  EXPECT_EQ(issue["confidence"], 0.78);
  EXPECT_EQ(issue["needsReview"], 0);
  // Any review reason: 0.55, even with issues and a confident face.
  const Json reviewed = Assess(Mid(), Found({FaceAt(BoxOnMid(120), 0.15, 0.30, 0.99f)}, {0.8}));
  EXPECT_FALSE(reviewed["issues"].empty());
  EXPECT_EQ(reviewed["confidence"], 0.55);
  EXPECT_EQ(reviewed["needsReview"], 1);
}

TEST(Assessment, StrictnessRows) {
  EXPECT_EQ(PresetForStrictness("宽松").sharpnessMinimum, 90);
  EXPECT_EQ(PresetForStrictness("严格").noiseMaximum, 16);
  // Any other text is the standard row.
  for (const char* standard : {"", "随便", "strict"}) {
    EXPECT_EQ(&PresetForStrictness(standard), &PresetForStrictness("标准")) << standard;
  }
  // Brightness 0.85: over at standard and strict, fine when lenient; 0.16: under except lenient.
  const auto bright = UniformPicture(64, 64, 217);
  const auto dark = UniformPicture(64, 64, 41);
  const Json exposure = Enabled({texts::kOverexposed, texts::kUnderexposed});
  EXPECT_EQ(Strings(Assess(bright, Found({}), exposure, "标准")["issues"]),
            std::vector<std::string>{std::string(texts::kOverexposed)});
  EXPECT_EQ(Strings(Assess(bright, Found({}), exposure, "")["issues"]),
            std::vector<std::string>{std::string(texts::kOverexposed)});
  EXPECT_TRUE(Assess(bright, Found({}), exposure, "宽松")["issues"].empty());
  EXPECT_EQ(Strings(Assess(dark, Found({}), exposure, "严格")["issues"]),
            std::vector<std::string>{std::string(texts::kUnderexposed)});
  EXPECT_TRUE(Assess(dark, Found({}), exposure, "宽松")["issues"].empty());
}

TEST(Assessment, IssuesComeInRuleOrderAndJoinIntoTheReason) {
  // Dark and speckled: underexposure and noise, in rule order.
  const auto picture = GreyPicture(192, 192, [](int x, int y) { return std::uint8_t((x * 7 + y * 13) % 5 == 0 ? 90 : 2); });
  const Json result = Assess(picture, Found({}));
  const auto issues = Strings(result["issues"]);
  ASSERT_GE(issues.size(), 2u) << result.dump();
  std::string joined;
  for (const auto& issue : issues) joined += (joined.empty() ? "" : "、") + issue;
  EXPECT_EQ(result["reason"], joined);
  const std::vector<std::string_view> order = {texts::kOverallBlur, texts::kFaceOutOfFocus, texts::kClosedEyes,
                                               texts::kOverexposed, texts::kUnderexposed, texts::kTooNoisy};
  std::size_t last = 0;
  for (const auto& issue : issues) {
    const auto at = std::size_t(std::find(order.begin(), order.end(), issue) - order.begin());
    EXPECT_GE(at, last);
    last = at;
  }
}

TEST(Assessment, NothingEnabledMeansNoIssuesAndNoReasons) {
  const FaceDetection faces = Found({FaceAt(BoxOnMid(120), 0.15, 0.15)}, {0.1});
  for (const Json& settings : {Json::object(), Json(nullptr), Json{{"enabled", nullptr}}, Json{{"enabled", "闭眼"}},
                               Json{{"enabled", {1, true, nullptr}}}, Json{{"enabled", Json::array()}}}) {
    const Json result = Assess(UniformPicture(400, 300, 3), faces, settings);
    EXPECT_TRUE(result["issues"].empty()) << settings.dump();
    EXPECT_TRUE(result["reviewReasons"].empty()) << settings.dump();
    EXPECT_EQ(result["reason"], texts::kNoIssueReason);
    EXPECT_GE(result["confidence"].get<double>(), 0.72);
    // Measurements are made all the same.
    EXPECT_EQ(result["closedEyes"], 1);
  }
}

TEST(Assessment, FailedDetectionAsksForReviewWhenFaceChecksAreOn) {
  FaceDetection failed;
  failed.succeeded = false;
  failed.faces = {FaceAt(BoxOnMid(120), 0.15, 0.15)};  // whatever a failed pass left behind
  const Json result = Assess(Mid(), failed, Enabled({texts::kClosedEyes}));
  EXPECT_EQ(result["faces"], 0);
  EXPECT_EQ(result["closedEyes"], 0);
  EXPECT_EQ(result["faceQuality"], 0.65);
  EXPECT_EQ(Strings(result["reviewReasons"]), std::vector<std::string>{std::string(texts::kFaceDetectionIncomplete)});
  EXPECT_EQ(Strings(Assess(Mid(), failed, Enabled({texts::kFaceOutOfFocus}))["reviewReasons"]),
            std::vector<std::string>{std::string(texts::kFaceDetectionIncomplete)});
  EXPECT_TRUE(Assess(Mid(), failed, Enabled({texts::kOverallBlur, texts::kOverexposed}))["reviewReasons"].empty());
}

TEST(Assessment, PictureThatCannotBeSampledGivesTheErrorRecord) {
  ScriptedFaceDetector detector(Found({FaceAt(BoxOnMid(120), 0.3, 0.3)}));
  EXPECT_EQ(AssessPhoto(imaging::DecodedImage(), kAllChecks, "标准", detector), Json({{"error", "无法解码照片预览"}}));
  EXPECT_EQ(detector.calls, 0);
}

TEST(Assessment, APhotoFileThatMayNotBeReadSaysSo) {
  char folder[] = "/tmp/tidewick-analysis-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string photo = std::string(folder) + "/IMG_1.jpg";
  std::filesystem::copy_file(std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/orientation-1.jpg", photo);
  ScriptedFaceDetector detector(Found({}));
  // Root reads everything; the photo is analysed as another user on this thread.
  int previous = setfsuid(65534);
  Json denied = analyzeURL(photo, kAllChecks, "标准", detector);
  setfsuid(previous);
  std::filesystem::remove_all(folder);
  EXPECT_EQ(denied, Json({{"error", "照片文件没有读取权限"}}));
  EXPECT_EQ(analyzeURL(photo, kAllChecks, "标准", detector), Json({{"error", "无法解码照片预览"}})) << "gone";
}

}  // namespace
}  // namespace tw::analysis
