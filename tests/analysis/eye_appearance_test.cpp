// The appearance of real eyes, cut from the sample photos by the detector (small faces from the
// larger decode, as analyzeURL does), and how it combines with the landmark outline.
#include "analysis/assessment_rules.hpp"
#include "analysis/dlib_face_detector.hpp"
#include "library/imaging/decoding.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tw::analysis {
namespace {

const std::string kPhotos = std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/";

struct SampleEye {
  const char* photo;
  double centreX;  // the face's centre in picture fractions, top-left origin
  double centreY;
  const char* what;
  bool open;
};

TEST(EyeAppearance, SampleEyesLookAsAPersonSeesThem) {
  const SampleEye samples[] = {
      {"face-open-portrait-astronaut.png", 0.43, 0.24, "open", true},
      {"face-open-portrait-hopper.jpg", 0.53, 0.39, "open behind glasses", true},
      {"face-group2-girl-closed-laughing.jpg", 0.47, 0.52, "narrow open, squinting", true},
      {"face-group3-open.jpg", 0.53, 0.67, "open, small face", true},
      {"face-group3-eyes-downcast-iso6400.jpg", 0.81, 0.22, "shut, looking down", false},
  };
  DlibFaceDetector detector;
  for (const SampleEye& sample : samples) {
    const std::string path = kPhotos + sample.photo;
    const imaging::MaybeImage thumbnail = imaging::CreateThumbnail(path, rules::kThumbnailLongSide);
    ASSERT_TRUE(thumbnail) << sample.photo;
    const LargerDecode larger = [&path](int longSide) { return imaging::CreateThumbnail(path, longSide); };
    const FaceDetection detection = detector.Detect(*thumbnail, GreyBand(*thumbnail), larger);
    const FaceDiagnostics* numbers = nullptr;
    const DetectedFace* face = nullptr;
    for (std::size_t i = 0; i < detection.faces.size(); ++i) {
      const FaceBox& box = detection.faces[i].box;
      if (sample.centreX >= box.x && sample.centreX <= box.x + box.width && sample.centreY >= 1 - box.y - box.height &&
          sample.centreY <= 1 - box.y) {
        face = &detection.faces[i];
        numbers = &detector.LastDiagnostics()[i];
      }
    }
    ASSERT_TRUE(face && numbers) << sample.photo << ": " << sample.what;
    for (const EyeEvidence& eye : {numbers->pictureLeftEye, numbers->pictureRightEye}) {
      ASSERT_GE(eye.reportedAspect, 0) << sample.photo << ": " << sample.what;
      if (sample.open) {
        EXPECT_EQ(eye.openness, 1.0) << sample.photo << ": " << sample.what;
        EXPECT_GE(eye.reportedAspect, rules::kClosedEyeRatio) << sample.photo << ": " << sample.what;
      } else {
        EXPECT_LT(eye.openness, 0.75) << sample.photo << ": " << sample.what;
        EXPECT_LT(eye.reportedAspect, rules::kClosedEyeRatio) << sample.photo << ": " << sample.what;
      }
    }
  }
}

}  // namespace
}  // namespace tw::analysis
