// The real face detector and the whole assessment on sample photos (what a person sees in them
// is in tests/data/labels.json).
#include "analysis/dlib_face_detector.hpp"

#include "analysis/analysis_texts.hpp"
#include "analysis/assessment.hpp"
#include "analysis/hog_model.hpp"
#include "analysis/landmark_model.hpp"
#include "library/imaging/decoding.hpp"
#include "synthetic_images.hpp"

#include <dlib/image_processing/frontal_face_detector.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace tw::analysis {
namespace {

const std::string kPhotos = std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/";

imaging::DecodedImage Thumbnail(const std::string& name) {
  const imaging::MaybeImage thumbnail = imaging::CreateThumbnail(kPhotos + name, 768);
  if (!thumbnail) throw std::runtime_error("cannot decode " + name);
  return *thumbnail;
}

const Json kEyeAndFocusChecks = {{"enabled", {texts::kClosedEyes, texts::kFaceOutOfFocus}}};

bool HasReason(const Json& result, std::string_view reason) {
  return std::find(result["reviewReasons"].begin(), result["reviewReasons"].end(), Json(reason)) != result["reviewReasons"].end();
}

TEST(DlibFaceDetector, TheLinkedInDetectorIsDlibsOwn) {
  const std::string dlibs = dlib::get_serialized_frontal_faces();
  EXPECT_EQ(SerialisedFrontalFaceDetector(), std::string_view(dlibs));
}

TEST(DlibFaceDetector, MissingOrBrokenModelMeansDetectionDidNotRun) {
  const auto picture = testing::UniformPicture(200, 200, 128);
  DlibFaceDetector missing("/nonexistent/tidewick/landmarks.dat");
  const FaceDetection detection = missing.Detect(picture);
  EXPECT_FALSE(detection.succeeded || !detection.faces.empty());
  const Json result = AssessPhoto(picture, kEyeAndFocusChecks, "标准", missing);
  EXPECT_EQ(std::pair(result["reviewReasons"], result["faces"]),
            std::pair(Json::array({texts::kFaceDetectionIncomplete}), Json(0)));

  const auto broken = std::filesystem::temp_directory_path() / "tidewick-broken-landmarks.dat";
  std::ofstream(broken) << "not a model";
  EXPECT_FALSE(DlibFaceDetector(broken.string()).Detect(picture).succeeded);
  std::filesystem::remove(broken);

  // The environment names the default model.
  ::setenv("TIDEWICK_FACE_LANDMARK_MODEL", "/nonexistent/tidewick/other.dat", 1);
  EXPECT_EQ(DefaultFaceLandmarkModelPath(), "/nonexistent/tidewick/other.dat");
  EXPECT_FALSE(DlibFaceDetector().Detect(picture).succeeded);
  ::unsetenv("TIDEWICK_FACE_LANDMARK_MODEL");
  EXPECT_EQ(DefaultFaceLandmarkModelPath(), "/usr/share/dlib/shape_predictor_68_face_landmarks.dat");
}

TEST(DlibFaceDetector, ReportsBoxPoseAndEyesInTheAgreedFrames) {
  const FaceDetection detection = ThreadFaceDetector().Detect(Thumbnail("face-open-portrait-hopper.jpg"));
  ASSERT_EQ(detection.faces.size(), 1u);
  const DetectedFace& face = detection.faces[0];
  // The face sits in the upper middle of the 512 × 600 portrait; y counts from the bottom.
  const double centreX = face.box.x + face.box.width / 2, centreY = face.box.y + face.box.height / 2;
  EXPECT_NEAR(centreX, 0.53, 0.08);
  EXPECT_NEAR(centreY, 0.61, 0.08);
  EXPECT_NEAR(face.box.width * 512, face.box.height * 600, 1.0);  // square in pixels
  EXPECT_GT(face.confidence, 0.9f);
  ASSERT_TRUE(face.yaw && face.roll);
  EXPECT_LT(std::fabs(*face.yaw), 0.3);
  EXPECT_LT(std::fabs(*face.roll), 0.2);
  ASSERT_TRUE(face.leftEye && face.rightEye);
  EXPECT_EQ(face.leftEye->size(), 6u);
  // The person's left eye is on the picture's right; both sit in the upper half of the box.
  double leftX = 0, rightX = 0;
  for (int i = 0; i < 6; ++i) {
    leftX += (*face.leftEye)[i].x / 6;
    rightX += (*face.rightEye)[i].x / 6;
    EXPECT_GT((*face.leftEye)[i].y, 0.5);
  }
  EXPECT_GT(leftX, rightX);
  EXPECT_GE(EyeAspect(face.leftEye), 0.22);
  EXPECT_GE(EyeAspect(face.rightEye), 0.22);
  ASSERT_EQ(detection.captureQualities.size(), 1u);
  EXPECT_GT(*detection.captureQualities[0], 0.6);
}

TEST(DlibFaceDetector, PoseFollowsTheHead) {
  const auto portrait = Thumbnail("face-open-portrait-astronaut.png");
  DlibFaceDetector detector;
  // The most confident face: turned pictures show the detector a badge or two as faint faces.
  const auto yawRoll = [&detector](const imaging::DecodedImage& picture) {
    const FaceDetection detection = detector.Detect(picture);
    EXPECT_FALSE(detection.faces.empty());
    if (detection.faces.empty()) return std::pair{0.0, 0.0};
    const DetectedFace* best = &detection.faces[0];
    for (const DetectedFace& face : detection.faces)
      if (face.confidence > best->confidence) best = &face;
    return std::pair{*best->yaw, *best->roll};
  };
  const auto [yaw, roll] = yawRoll(portrait);
  // Mirrored, the head turns the other way by the same amount.
  const auto [mirroredYaw, mirroredRoll] = yawRoll(portrait.flip(VIPS_DIRECTION_HORIZONTAL).copy_memory());
  EXPECT_NEAR(mirroredYaw, -yaw, 0.1);
  EXPECT_NEAR(mirroredRoll, -roll, 0.05);
  // Turned by 15° either way in the picture.
  const auto turned = [&portrait](double degrees) {
    return portrait.similarity(vips::VImage::option()->set("angle", degrees)).copy_memory();
  };
  const double clockwise = yawRoll(turned(15)).second, counter = yawRoll(turned(-15)).second;
  EXPECT_NEAR(std::fabs(clockwise - roll), 15 * M_PI / 180, 0.07);
  EXPECT_NEAR(std::fabs(counter - roll), 15 * M_PI / 180, 0.07);
  EXPECT_LT((clockwise - roll) * (counter - roll), 0);
}

TEST(Assessment, FindsTheFacesAPersonSeesAndDoesNotCallOpenEyesClosed) {
  const std::pair<const char*, int> photos[] = {
      {"face-open-portrait-hopper.jpg", 1}, {"face-open-portrait-astronaut.png", 1},  // badges are not faces
      {"face-group3-open.jpg", 3},          {"face-group3-open-iso1600.jpg", 3},
      {"flower.webp", 0}};
  for (const auto& [name, faces] : photos) {
    const Json result = AssessPhoto(Thumbnail(name), kEyeAndFocusChecks, "标准", ThreadFaceDetector());
    EXPECT_EQ(std::pair(result["faces"], result["closedEyes"]), std::pair(Json(faces), Json(0))) << name;
    for (const Json& issue : result["issues"]) EXPECT_NE(issue, texts::kClosedEyes) << name;
    EXPECT_GE(result["eyesChecked"].get<int>(), faces > 0 ? 1 : 0) << name;
    EXPECT_FALSE(HasReason(result, texts::kFaceDetectionIncomplete)) << name;
  }
}

TEST(Assessment, ShutEyesLookingDownAreCaught) {
  const Json result = AssessPhoto(Thumbnail("face-group3-eyes-downcast-iso6400.jpg"), kEyeAndFocusChecks, "标准",
                                  ThreadFaceDetector());
  EXPECT_GE(result["faces"].get<int>(), 2);
  EXPECT_TRUE(result["closedEyes"].get<int>() >= 1 || HasReason(result, texts::kEyesNearThreshold)) << result.dump();
}

TEST(AnalyzeURL, ConcurrentCallsAgreeWithOneAtATime) {
  const std::vector<std::string> paths = {kPhotos + "face-open-portrait-hopper.jpg", kPhotos + "face-group3-open.jpg"};
  std::vector<Json> alone;
  for (const auto& path : paths) alone.push_back(analyzeURL(path, kEyeAndFocusChecks, "标准"));
  ASSERT_EQ(alone[0]["faces"], 1);
  ASSERT_EQ(alone[0].size(), 21u);

  std::vector<Json> together(paths.size());
  std::vector<std::thread> workers;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    workers.emplace_back([&, i] { together[i] = analyzeURL(paths[i], kEyeAndFocusChecks, "标准"); });
  }
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(together, alone);
}

}  // namespace
}  // namespace tw::analysis
