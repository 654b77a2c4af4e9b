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

using namespace texts;
using testing::FaceAt;
using testing::Found;
using testing::GreyPicture;
using testing::ScriptedFaceDetector;
using testing::UniformPicture;

const Json kAllChecks = {{"enabled", {kOverallBlur, kFaceOutOfFocus, kClosedEyes, kOverexposed, kUnderexposed, kTooNoisy}}};

Json Enabled(std::initializer_list<std::string_view> checks) {
  Json names = Json::array();
  for (std::string_view check : checks) names.push_back(check);
  return {{"enabled", names}};
}
Json List(std::initializer_list<std::string_view> texts) { return Enabled(texts)["enabled"]; }

Json Assess(const imaging::DecodedImage& picture, FaceDetection faces, const Json& settings = kAllChecks,
            const std::string& strictness = "标准") {
  ScriptedFaceDetector detector(std::move(faces));
  return AssessPhoto(picture, settings, strictness, detector);
}

// The record's values under the keys of `expected`.
Json Only(const Json& record, const Json& expected) {
  Json picked = Json::object();
  for (const auto& [key, value] : expected.items()) picked[key] = record.value(key, Json("<missing>"));
  return picked;
}

// A face box of `side` px centred at (cx, cy) (fractions, lower-left origin) on a 400 × 300 picture.
FaceBox BoxOnMid(double side, double cx = 0.5, double cy = 0.5) {
  return {cx - side / 800, cy - side / 600, side / 400, side / 300};
}
DetectedFace Posed(DetectedFace face, std::optional<double> yaw, std::optional<double> roll = 0.0) {
  face.yaw = yaw;
  face.roll = roll;
  return face;
}

TEST(Assessment, APhotoWithoutFacesGivesTheTwentyOneKeysWithTheFaceDefaults) {
  const auto mid = UniformPicture(400, 300, 128);
  ScriptedFaceDetector detector(Found({}));
  const Json result = AssessPhoto(mid, kAllChecks, "标准", detector);
  EXPECT_EQ(detector.calls, 1) << "the detector is asked once per photo";
  // A flat picture is blurred by its sharpness alone when no face is there to say otherwise.
  EXPECT_TRUE(result["needsReview"].is_number_integer());
  EXPECT_EQ(result, (Json{{"algorithmVersion", 2}, {"issues", List({kOverallBlur})}, {"brightness", result["brightness"]},
                          {"highlight", 0.0}, {"shadow", 0.0}, {"sharpness", 0.0}, {"noise", result["noise"]},
                          {"faces", 0}, {"mainFaces", 0}, {"eyesChecked", 0}, {"closedEyes", 0},
                          {"faceSharpness", -1.0}, {"faceFocusScore", -1.0}, {"reviewReasons", Json::array()},
                          {"needsReview", 0}, {"faceQuality", 0.65}, {"poseScore", 0.65}, {"compositionScore", 0.55},
                          {"confidence", 0.78}, {"reason", kOverallBlur}, {"hash", DHash(mid)}}));
  // A small face measured on a larger decode changes what is measured, never the record's keys.
  DetectedFace closer = FaceAt(BoxOnMid(30), 0.3, 0.3);
  closer.eyeScale = 2;
  const Json closerResult = Assess(mid, Found({closer}, {0.8}));
  EXPECT_EQ(closerResult["eyesChecked"], 1);
  EXPECT_EQ(closerResult.size(), result.size());
  for (const auto& [key, value] : result.items()) EXPECT_TRUE(closerResult.contains(key)) << key;

  // Top quarter white (≥ 250), bottom quarter black (≤ 5), middle grey: the grey grid's measures.
  const auto bands = GreyPicture(192, 192, [](int, int y) { return std::uint8_t(y < 48 ? 255 : y >= 144 ? 0 : 102); });
  const Json measured = Assess(bands, Found({}), Json::object());
  EXPECT_NEAR(measured["highlight"].get<double>(), 0.25, 1e-9);
  EXPECT_NEAR(measured["shadow"].get<double>(), 0.25, 1e-9);
  EXPECT_NEAR(measured["brightness"].get<double>(), (0.25 * 255 + 0.5 * 102) / 255, 0.005);
  const GreyGrid grid = GrayPixels(bands, 192);
  EXPECT_DOUBLE_EQ(measured["sharpness"].get<double>(), LaplacianVariance(grid, 192, 192));
  EXPECT_DOUBLE_EQ(measured["noise"].get<double>(), NoiseEstimate(grid, 192, 192));
}

TEST(Assessment, SharpnessExactlyAtTheMinimumIsNotBlurred) {
  // A 192 × 192 grey picture is its own grid. Thirty impulses of 95 on black, well apart, make
  // the Laplacian sum 0 and its square sum 30 × 20 × 95² = 150 × 190²: a variance of exactly 150.
  imaging::EnsureVipsStarted();
  std::vector<std::uint8_t> pixels(192 * 192, 0);
  for (int i = 0; i < 30; ++i) pixels[(10 + 5 * i) * 192 + 10 + 5 * i] = 95;
  const auto picture = vips::VImage::new_from_memory(pixels.data(), pixels.size(), 192, 192, 1, VIPS_FORMAT_UCHAR)
                           .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_B_W))
                           .copy_memory();
  ASSERT_EQ(Assess(picture, Found({}))["sharpness"], 150.0);
  for (auto [strictness, issues] : {std::pair{"标准", Json::array()}, {"宽松", Json::array()}, {"严格", List({kOverallBlur})}}) {
    EXPECT_EQ(Assess(picture, Found({}), Enabled({kOverallBlur}), strictness)["issues"], issues) << strictness;
  }
}

TEST(Assessment, RulesOfIssuesReviewReasonsScoresAndConfidence) {
  const auto mid = UniformPicture(400, 300, 128);
  // Mid grey and soft everywhere except a 144 px face of fine stripes; the whole-picture grid
  // averages the stripes away, the face grid keeps them.
  const auto soft = GreyPicture(768, 512, [](int x, int y) {
    return std::uint8_t(x >= 312 && x < 456 && y >= 184 && y < 328 ? ((x / 2) % 2 ? 200 : 56) : 128);
  });
  const FaceBox sharpBox{312.0 / 768, 1 - 328.0 / 512, 144.0 / 768, 144.0 / 512};
  const auto clean = GreyPicture(400, 300, [](int x, int y) { return std::uint8_t(60 + ((x / 3 + y / 3) % 2) * 120); });
  const auto bright = UniformPicture(64, 64, 217), dark = UniformPicture(64, 64, 41);
  const auto face = [](double left, double right, float confidence = 0.9f) {
    return FaceAt(BoxOnMid(120), left, right, confidence);
  };
  DetectedFace noEye = face(0.3, 0.3), fiveEyePoints = face(0.3, 0.3);
  noEye.leftEye.reset();
  fiveEyePoints.rightEye->pop_back();
  FaceDetection failed;  // whatever a failed pass left behind
  failed.faces = {face(0.15, 0.15)};
  const Json closedOnly = Enabled({kClosedEyes}), focusOnly = Enabled({kFaceOutOfFocus}), blurOnly = Enabled({kOverallBlur});
  const Json exposure = Enabled({kOverexposed, kUnderexposed}), none = Enabled({});
  struct Case {
    const char* name;
    const imaging::DecodedImage& picture;
    FaceDetection faces;
    Json settings;
    const char* strictness;
    Json expected;
  };
  const Case cases[] = {
      {"a sharp face keeps a soft picture clear", soft, Found({FaceAt(sharpBox, 0.3, 0.3)}, {0.8}), kAllChecks, "标准",
       {{"issues", Json::array()}}},
      {"without the face it is blurred", soft, Found({}), kAllChecks, "标准", {{"issues", List({kOverallBlur})}}},
      {"a flat face of low quality is out of focus", mid, Found({face(0.3, 0.3)}, {0.2, std::nullopt}), focusOnly, "标准",
       {{"faceSharpness", 0.0}, {"faceFocusScore", 0.0}, {"faceQuality", 0.2}, {"issues", List({kFaceOutOfFocus})},
        {"reviewReasons", Json::array()}}},
      {"of good quality it is reviewed", mid, Found({face(0.3, 0.3)}, {0.6}), focusOnly, "标准",
       {{"issues", Json::array()}, {"reviewReasons", List({kFaceDetailLow})}}},
      {"without a quality value it counts 0.5", mid, Found({face(0.3, 0.3)}, {std::nullopt}), focusOnly, "标准",
       {{"faceQuality", 0.5}, {"reviewReasons", List({kFaceDetailLow})}}},
      {"shut eyes", mid, Found({face(0.15, 0.15)}, {0.8}), kAllChecks, "标准",
       {{"eyesChecked", 1}, {"closedEyes", 1}, {"issues", List({kOverallBlur, kClosedEyes})}}},
      {"one eye near the threshold", mid, Found({face(0.15, 0.30)}, {0.8}), closedOnly, "标准",
       {{"eyesChecked", 1}, {"closedEyes", 0}, {"reviewReasons", List({kEyesNearThreshold})}}},
      {"both eyes near the threshold", mid, Found({face(0.18, 0.20)}, {0.8}), closedOnly, "标准",
       {{"closedEyes", 0}, {"reviewReasons", List({kEyesNearThreshold})}}},
      {"open eyes", mid, Found({face(0.25, 0.25)}, {0.8}), closedOnly, "标准", {{"reviewReasons", Json::array()}}},
      {"shut eyes with the check off are counted only", mid, Found({face(0.15, 0.15)}, {0.8}), blurOnly, "标准",
       {{"closedEyes", 1}, {"issues", List({kOverallBlur})}, {"reviewReasons", Json::array()}}},
      {"near eyes with the check off", mid, Found({face(0.15, 0.30)}, {0.8}), blurOnly, "标准",
       {{"reviewReasons", Json::array()}}},
      {"three turned faces give the reason once", mid,
       Found({Posed(FaceAt(BoxOnMid(80, 0.2), 0.3, 0.3), 0.8), Posed(FaceAt(BoxOnMid(80, 0.5), 0.3, 0.3), 0.8),
              Posed(FaceAt(BoxOnMid(80, 0.8), 0.3, 0.3), 0.8)},
             {0.8}),
       closedOnly, "标准",
       {{"mainFaces", 3}, {"eyesChecked", 0}, {"reviewReasons", List({kEyesNotVisible})}, {"needsReview", 1}}},
      {"an eye without points", mid, Found({noEye}), closedOnly, "标准", {{"reviewReasons", List({kEyesNotVisible})}}},
      {"an eye of five points", mid, Found({fiveEyePoints}), closedOnly, "标准", {{"eyesChecked", 0}}},
      {"a tilted head", mid, Found({Posed(face(0.15, 0.15), 0.0, -0.5)}), closedOnly, "标准",
       {{"closedEyes", 0}, {"reviewReasons", List({kEyesNotVisible})}}},
      {"missing angles count as 0", mid, Found({Posed(face(0.15, 0.15), std::nullopt, std::nullopt)}), closedOnly, "标准",
       {{"closedEyes", 1}, {"poseScore", 1.0}}},
      {"at a quarter of the largest area a face is a main face", mid,
       Found({FaceAt(FaceBox{0.1, 0.1, 0.25, 0.25}, 0.3, 0.3), FaceAt(FaceBox{0.4, 0.4, 0.5, 0.5}, 0.3, 0.3)}), kAllChecks,
       "标准", {{"mainFaces", 2}}},
      {"a 40 px face is too small for eyes and focus", mid, Found({FaceAt(BoxOnMid(40), 0.3, 0.3)}, {0.8}), kAllChecks, "标准",
       {{"faceSharpness", -1.0}, {"faceFocusScore", -1.0}, {"reviewReasons", List({kEyesNotVisible, kFaceTooSmallForFocus})}}},
      {"the lowest face sharpness is kept", soft,
       Found({FaceAt(sharpBox, 0.3, 0.3), FaceAt({0.02, 0.6, sharpBox.width, sharpBox.height}, 0.3, 0.3)}), kAllChecks,
       "标准", {{"faceSharpness", 0.0}}},
      {"reasons once, in order of first occurrence", mid,
       Found({FaceAt(BoxOnMid(60, 0.2), 0.15, 0.30), Posed(FaceAt(BoxOnMid(60, 0.5), 0.3, 0.3), 1.0),
              FaceAt(BoxOnMid(60, 0.8), 0.18, 0.20)},
             {0.8}),
       closedOnly, "标准",
       {{"reviewReasons", List({kEyesNearThreshold, kEyesNotVisible})}, {"needsReview", 1}, {"confidence", 0.55}}},
      {"a clean photo takes its best face's confidence", clean, Found({face(0.3, 0.3, 0.9f)}, {0.8}), none, "标准",
       {{"issues", Json::array()}, {"reviewReasons", Json::array()}, {"confidence", double(0.9f)}}},
      {"a weaker face does not lower the floor", clean, Found({face(0.3, 0.3, 0.5f)}), none, "标准", {{"confidence", 0.72}}},
      {"a clean photo without faces", clean, Found({}), none, "标准", {{"confidence", 0.72}}},
      {"an issue and no face", mid, Found({}), blurOnly, "标准", {{"confidence", 0.78}, {"needsReview", 0}}},
      {"any review reason, even with issues and a confident face", mid, Found({face(0.15, 0.30, 0.99f)}, {0.8}), kAllChecks,
       "标准", {{"issues", List({kOverallBlur})}, {"confidence", 0.55}, {"needsReview", 1}}},
      {"0.85 bright at standard", bright, Found({}), exposure, "标准", {{"issues", List({kOverexposed})}}},
      {"an unknown strictness is standard", bright, Found({}), exposure, "随便", {{"issues", List({kOverexposed})}}},
      {"0.85 bright when lenient", bright, Found({}), exposure, "宽松", {{"issues", Json::array()}}},
      {"0.16 dark when strict", dark, Found({}), exposure, "严格", {{"issues", List({kUnderexposed})}}},
      {"0.16 dark when lenient", dark, Found({}), exposure, "宽松", {{"issues", Json::array()}}},
      {"a failed detection with the eye check on", mid, failed, closedOnly, "标准",
       {{"faces", 0}, {"closedEyes", 0}, {"faceQuality", 0.65}, {"reviewReasons", List({kFaceDetectionIncomplete})}}},
      {"a failed detection with the focus check on", mid, failed, focusOnly, "标准",
       {{"reviewReasons", List({kFaceDetectionIncomplete})}}},
      {"a failed detection without face checks", mid, failed, Enabled({kOverallBlur, kOverexposed}), "标准",
       {{"reviewReasons", Json::array()}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Only(Assess(c.picture, c.faces, c.settings, c.strictness), c.expected), c.expected);
  }

  // All faces score, main or not: pose (1 + (1 - 0.7 / 1.4)) / 2; composition with the large face
  // on the centre anchor (1) and the small one 0.1886 from (1/3, 2/3).
  const Json scored = Assess(mid, Found({FaceAt(BoxOnMid(150), 0.3, 0.3), Posed(FaceAt(BoxOnMid(74, 0.2, 0.8), 0.1, 0.1), 0.7)},
                                        {0.8, 0.6}));
  EXPECT_EQ(Only(scored, {{"faces", 2}, {"mainFaces", 1}, {"eyesChecked", 1}, {"closedEyes", 0}}),
            (Json{{"faces", 2}, {"mainFaces", 1}, {"eyesChecked", 1}, {"closedEyes", 0}}));
  EXPECT_DOUBLE_EQ(scored["faceQuality"].get<double>(), 0.7);
  EXPECT_DOUBLE_EQ(scored["poseScore"].get<double>(), 0.75);
  EXPECT_NEAR(scored["compositionScore"].get<double>(), (2 - std::hypot(0.2 - 1.0 / 3, 0.8 - 2.0 / 3) / 0.48) / 2, 1e-9);
  // The strictness row's K decides what is "below": 150 when strict.
  const double measured = FaceRegionSharpness(soft, sharpBox);
  EXPECT_NEAR(Assess(soft, Found({FaceAt(sharpBox, 0.3, 0.3)}, {0.2}), focusOnly, "严格")["faceFocusScore"].get<double>(),
              measured / (measured + 150), 1e-12);
  EXPECT_EQ(PresetForStrictness("宽松").sharpnessMinimum, 90);
  EXPECT_EQ(PresetForStrictness("严格").noiseMaximum, 16);
  EXPECT_EQ(&PresetForStrictness(""), &PresetForStrictness("标准"));
}

TEST(Assessment, IssuesComeInRuleOrderAndJoinIntoTheReason) {
  // Dark and speckled: underexposure and noise, in rule order.
  const auto picture = GreyPicture(192, 192, [](int x, int y) { return std::uint8_t((x * 7 + y * 13) % 5 == 0 ? 90 : 2); });
  const Json result = Assess(picture, Found({}));
  EXPECT_EQ(result["issues"], List({kUnderexposed, kTooNoisy}));
  EXPECT_EQ(result["reason"], std::string(kUnderexposed) + "、" + std::string(kTooNoisy));
}

TEST(Assessment, NothingEnabledMeansNoIssuesAndNoReasonsButTheMeasuresAreMade) {
  const FaceDetection faces = Found({FaceAt(BoxOnMid(120), 0.15, 0.15)}, {0.1});
  const Json expected = {{"issues", Json::array()}, {"reviewReasons", Json::array()}, {"reason", kNoIssueReason},
                         {"confidence", double(0.9f)}, {"closedEyes", 1}};
  for (const Json& settings : {Json::object(), Json(nullptr), Json{{"enabled", nullptr}}, Json{{"enabled", "闭眼"}},
                               Json{{"enabled", {1, true, nullptr}}}, Json{{"enabled", Json::array()}}}) {
    EXPECT_EQ(Only(Assess(UniformPicture(400, 300, 3), faces, settings), expected), expected) << settings.dump();
  }
}

TEST(Assessment, APictureThatCannotBeSampledOrAFileThatMayNotBeReadGivesTheErrorRecord) {
  ScriptedFaceDetector detector(Found({FaceAt(BoxOnMid(120), 0.3, 0.3)}));
  EXPECT_EQ(AssessPhoto(imaging::DecodedImage(), kAllChecks, "标准", detector), Json({{"error", "无法解码照片预览"}}));
  EXPECT_EQ(detector.calls, 0);

  char folder[] = "/tmp/tidewick-analysis-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string photo = std::string(folder) + "/IMG_1.jpg";
  std::filesystem::copy_file(std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/orientation-1.jpg", photo);
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
