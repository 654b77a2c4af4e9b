// Faces too small in the thumbnail for the eye check, measured again on a larger decode.
#include "analysis/analysis_texts.hpp"
#include "analysis/assessment.hpp"
#include "analysis/assessment_rules.hpp"
#include "analysis/dlib_face_detector.hpp"
#include "library/imaging/decoding.hpp"
#include "library/imaging/thumbnail_keeping_loaded.hpp"
#include "scripted_face_detector.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace tw::analysis {
namespace {

const Json kEyeCheck = {{"enabled", {texts::kClosedEyes}}};

bool HasReason(const Json& result, std::string_view reason) {
  for (const Json& item : result["reviewReasons"])
    if (item == reason) return true;
  return false;
}

TEST(CloserLook, TheFortyEightPixelsAreCountedWhereTheEyesWereMeasured) {
  // A 30 px face on a 768 × 512 picture: too small, unless its eyes were measured at twice the size.
  const FaceBox box{0.5, 0.5, 30.0 / 768, 30.0 / 512};
  DetectedFace face = testing::FaceAt(box, 0.15, 0.15);
  EXPECT_EQ(CheckEyes(face, 768, 512), EyeState::NotVisible);
  face.eyeScale = 2;
  EXPECT_EQ(CheckEyes(face, 768, 512), EyeState::Closed);
  face.eyeScale = 1.5;  // 45 px
  EXPECT_EQ(CheckEyes(face, 768, 512), EyeState::NotVisible);
}

// The portrait (its face about 190 px) in a 3600 × 2400 frame: about 40 px in the thumbnail.
TEST(CloserLook, ASmallFaceInALargePhotoHasItsEyesChecked) {
  const std::string folder = std::filesystem::temp_directory_path() / ("tidewick-closer-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::string photo = folder + "/small-face.jpg";
  imaging::EnsureVipsStarted();
  const vips::VImage portrait =
      vips::VImage::new_from_file((std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/face-open-portrait-hopper.jpg").c_str());
  const vips::VImage frame = vips::VImage::black(3600, 2400, vips::VImage::option()->set("bands", 3))
                                 .linear(1, 110)
                                 .cast(VIPS_FORMAT_UCHAR)
                                 .insert(portrait, 1500, 900);
  frame.jpegsave(photo.c_str(), vips::VImage::option()->set("Q", 92));

  DlibFaceDetector detector;
  const imaging::MaybeImage thumbnail = imaging::CreateThumbnail(photo, rules::kThumbnailLongSide, imaging::Backdrop::Black);
  ASSERT_TRUE(thumbnail);
  const Json thumbnailOnly = AssessPhoto(*thumbnail, kEyeCheck, "标准", detector);
  const Json closer = analyzeURL(photo, kEyeCheck, "标准", detector);
  std::filesystem::remove_all(folder);

  ASSERT_EQ(thumbnailOnly["faces"], 1) << thumbnailOnly.dump();
  EXPECT_EQ(thumbnailOnly["eyesChecked"], 0);
  EXPECT_TRUE(HasReason(thumbnailOnly, texts::kEyesNotVisible));

  EXPECT_EQ(closer["faces"], 1);
  EXPECT_EQ(closer["mainFaces"], 1);
  EXPECT_EQ(closer["eyesChecked"], 1) << closer.dump();
  EXPECT_EQ(closer["closedEyes"], 0);
  EXPECT_FALSE(HasReason(closer, texts::kEyesNotVisible));
  EXPECT_EQ(closer.size(), thumbnailOnly.size());
}

// The larger picture of a JPEG is the one its thumbnail was shrunk from, upright like it, and the
// thumbnail is exactly the one decoded alone.
TEST(CloserLook, AJpegIsDecodedOnceForBothPictures) {
  const std::string photo =
      std::filesystem::temp_directory_path() / ("tidewick-closer-turned-" + std::to_string(getpid()) + ".jpg");
  imaging::EnsureVipsStarted();
  vips::VImage stored = vips::VImage::new_from_file((std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/coffee.png").c_str())
                            .resize(6)
                            .copy();
  stored.set("orientation", 6);
  stored.jpegsave(photo.c_str());  // 3600 × 2400 stored, upright 2400 × 3600
  const auto kept = imaging::CreateThumbnailKeepingLoaded(photo, rules::kThumbnailLongSide, imaging::Backdrop::Black);
  const imaging::MaybeImage alone = imaging::CreateThumbnail(photo, rules::kThumbnailLongSide, imaging::Backdrop::Black);
  std::filesystem::remove(photo);
  ASSERT_TRUE(kept && kept->loaded && alone);
  EXPECT_EQ(kept->loaded->width(), 1200);  // shrunk by 2 on load
  EXPECT_EQ(kept->loaded->height(), 1800);
  ASSERT_EQ(kept->thumbnail.width(), alone->width());
  ASSERT_EQ(kept->thumbnail.height(), alone->height());
  EXPECT_EQ((kept->thumbnail - *alone).abs().max(), 0);
  // Upright the same way: the loaded picture shrunk to the thumbnail's size looks like it.
  const vips::VImage loadedSmall = kept->loaded->resize(double(alone->width()) / kept->loaded->width());
  EXPECT_LT((loadedSmall.cast(VIPS_FORMAT_FLOAT) - alone->cast(VIPS_FORMAT_FLOAT)).abs().avg(), 4);

  EXPECT_FALSE(imaging::CreateThumbnailKeepingLoaded(std::string(TIDEWICK_TEST_DATA_DIR) + "/photos/orientation-6.jpg",
                                                     rules::kThumbnailLongSide, imaging::Backdrop::Black)
                   ->loaded);
}

}  // namespace
}  // namespace tw::analysis
